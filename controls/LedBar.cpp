#include "controls/LedBar.h"

#include <QEvent>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kMaxCells = 32;  // the states live in one 32-bit word

// The bump edge around a cell: raised outer ring, sunken inner ring, soft shades.
const QColor kEdgeLight(255, 255, 255);
const QColor kEdgeDarkShadow(64, 64, 64);
const QColor kEdgeShadow(128, 128, 128);
const QColor kEdgeSoftLight(223, 223, 223);

void DrawFrame(QPainter& painter, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    if (r.width() <= 0 || r.height() <= 0) return;
    painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}
}  // namespace

CLedBar::CLedBar(QWidget* pParent) : QWidget(pParent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

CLedBar::~CLedBar() = default;

QSize CLedBar::sizeHint() const {
    return QSize(14, 180);
}

void CLedBar::SetLedCount(int k) {
    if (k <= 0 || k + 1 > kMaxCells) return;
    m_nCells.store(k + 1, std::memory_order_release);
    m_nOnBits.store(0);
    Layout();
    update();
}

void CLedBar::SetLed(int nIndex, bool bOn) {
    if (nIndex < 0 || nIndex >= m_nCells.load(std::memory_order_acquire)) return;
    const uint32_t nBit = 1u << nIndex;
    const uint32_t nOld = bOn ? m_nOnBits.fetch_or(nBit) : m_nOnBits.fetch_and(~nBit);
    if (((nOld & nBit) != 0) == bOn) return;  // already in that state: nothing to repaint
    // Collect changed cells; only the first change since the last repaint posts a request.
    if (m_nDirtyBits.fetch_or(nBit) == 0)
        QMetaObject::invokeMethod(this, [this] { OnCellsChanged(); }, Qt::QueuedConnection);
}

void CLedBar::OnCellsChanged() {
    const uint32_t nDirty = m_nDirtyBits.exchange(0);
    if (m_pCells.empty()) Layout();
    for (int j = 0; j < static_cast<int>(m_pCells.size()); ++j)
        if (nDirty & (1u << j)) update(m_pCells[j].rect);
}

LedCell CLedBar::GetCell(int j) {
    if (m_pCells.empty()) Layout();
    if (j < 0 || j >= static_cast<int>(m_pCells.size())) return LedCell();
    LedCell cell = m_pCells[j];
    cell.on = (m_nOnBits.load() >> j) & 1u;
    return cell;
}

void CLedBar::Layout() {
    const int n = m_nCells.load(std::memory_order_acquire);
    m_pCells.assign(n, LedCell());
    const QRect client = rect();
    const int w = client.width();
    const int h = client.height();
    const bool bVertical = h > w;
    m_nImageDx = bVertical ? w : 0;
    m_nImageDy = bVertical ? 0 : h;
    const int c = (2 * std::max(w, h)) / (2 * n + 1);

    for (int j = 0; j < n; ++j) {
        LedCell& cell = m_pCells[j];
        const bool bClip = j == n - 1;
        if (bVertical) {
            // Stacked upward from the bottom; the clip cell at the very top.
            const int nBottom = bClip ? client.top() + c : client.top() + h - j * c;
            cell.rect = QRect(client.left(), nBottom - c, w, c);
        } else {
            // Left to right; the clip cell at the far right.
            const int nLeft = bClip ? client.left() + w - c : client.left() + j * c;
            cell.rect = QRect(nLeft, client.top(), c, h);
        }
        if (bClip) {
            cell.offColour = qRgb(128, 0, 0);
            cell.onColour = qRgb(255, 0, 0);
        } else if (j >= n - 11) {
            cell.offColour = qRgb(128, 128, 0);
            cell.onColour = qRgb(255, 255, 0);
        } else {
            cell.offColour = qRgb(0, 102, 0);
            cell.onColour = qRgb(0, 255, 0);
        }
    }
    PreRender();
}

void CLedBar::PreRender() {
    m_pImage = QPixmap();
    const QSize size(width() + m_nImageDx, height() + m_nImageDy);
    if (size.isEmpty() || m_pCells.empty()) return;
    const qreal dpr = devicePixelRatioF();
    QPixmap image(size * dpr);
    if (image.isNull()) return;  // the bar draws its cells directly then
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (!painter.isActive()) return;
    const QPoint lit(m_nImageDx, m_nImageDy);
    for (const LedCell& cell : m_pCells) {
        DrawLed(painter, cell, cell.rect, false);
        DrawLed(painter, cell, cell.rect.translated(lit), true);
    }
    painter.end();
    m_pImage = image;
}

void CLedBar::DrawLed(QPainter& painter, const LedCell& cell, const QRect& r, bool bLit) const {
    // Bump edge: raised outer ring, sunken inner ring.
    DrawFrame(painter, r, kEdgeLight, kEdgeDarkShadow);
    DrawFrame(painter, r.adjusted(1, 1, -1, -1), kEdgeShadow, kEdgeSoftLight);
    const QRect inner = r.adjusted(2, 2, -2, -2);
    if (inner.width() <= 0 || inner.height() <= 0) return;
    const QColor fill = QColor::fromRgb(bLit ? cell.onColour : cell.offColour);
    painter.fillRect(inner, fill);
    // A small highlight in the top-left corner of the lens.
    const QColor glint = bLit ? QColor(Qt::white) : QColor::fromRgb(cell.onColour);
    const QPoint points[] = {inner.topLeft(), inner.topLeft() + QPoint(1, 0),
                             inner.topLeft() + QPoint(2, 0), inner.topLeft() + QPoint(0, 1)};
    for (const QPoint& pt : points)
        if (inner.contains(pt)) painter.fillRect(QRect(pt, QSize(1, 1)), glint);
}

void CLedBar::paintEvent(QPaintEvent* pEvent) {
    if (m_pCells.empty()) Layout();
    QPainter painter(this);
    const uint32_t nOn = m_nOnBits.load();
    const QPoint lit(m_nImageDx, m_nImageDy);
    const qreal dpr = m_pImage.devicePixelRatio();
    for (int j = 0; j < static_cast<int>(m_pCells.size()); ++j) {
        const LedCell& cell = m_pCells[j];
        if (!pEvent->rect().intersects(cell.rect)) continue;
        const bool bOn = (nOn >> j) & 1u;
        if (!m_pImage.isNull()) {
            const QRect src = bOn ? cell.rect.translated(lit) : cell.rect;
            // The source is in the image's device pixels.
            painter.drawPixmap(QRectF(cell.rect), m_pImage,
                               QRectF(src.x() * dpr, src.y() * dpr, src.width() * dpr,
                                      src.height() * dpr));
        } else {
            DrawLed(painter, cell, cell.rect, bOn);
        }
    }
}

void CLedBar::resizeEvent(QResizeEvent* pEvent) {
    QWidget::resizeEvent(pEvent);
    // New size: new cells and image; the states stay (they live apart from the layout).
    if (!m_pCells.empty()) Layout();
}

void CLedBar::changeEvent(QEvent* pEvent) {
    QWidget::changeEvent(pEvent);
    if (pEvent->type() == QEvent::PaletteChange || pEvent->type() == QEvent::StyleChange) {
        if (!m_pCells.empty()) {
            PreRender();
            update();
        }
    }
}

#include "app/WaveView.h"

#include "app/Appearance.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kReach = 5;  // pixels either side of a marker that pick it

// "m:ss" of a number of frames.
QString Duration(int64_t nFrames, int nRate)
{
    const int64_t nSeconds = nRate > 0 ? (nFrames + nRate / 2) / nRate : 0;
    return QString("%1:%2").arg(nSeconds / 60).arg(nSeconds % 60, 2, 10, QChar('0'));
}

}  // namespace

CWaveView::CWaveView(QWidget* pParent)
    : QWidget(pParent), m_fGapDb(std::numeric_limits<double>::quiet_NaN())
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CWaveView::SetPeakSource(PeakSource source)
{
    m_source = std::move(source);
    RefreshPeaks();
}

void CWaveView::SetSongs(const std::vector<Song>& songs, int nRate)
{
    m_songs = songs;
    m_nRate = nRate > 0 ? nRate : 44100;
    m_nTotal = songs.empty() ? 0 : songs.back().nStart + songs.back().nFrames;
    if (m_nPicked >= static_cast<int>(m_songs.size())) m_nPicked = 0;
    m_bMoving = false;
    m_nCursor = std::min(m_nCursor, m_nTotal);
    SetRange(m_nFirst, m_nLast > m_nFirst ? m_nLast : m_nTotal);
}

void CWaveView::SetRange(int64_t nFirst, int64_t nLast)
{
    const int64_t nSpan = std::max<int64_t>(1, std::min(nLast - nFirst, m_nTotal));
    nFirst = std::max<int64_t>(0, std::min(nFirst, m_nTotal - nSpan));
    m_nFirst = nFirst;
    m_nLast = nFirst + nSpan;
    RefreshPeaks();
}

void CWaveView::RefreshPeaks()
{
    const int nColumns = std::max(1, width());
    m_min.assign(nColumns, 0.0f);
    m_max.assign(nColumns, 0.0f);
    if (m_source && m_nTotal > 0) m_source(m_nFirst, m_nLast, nColumns, m_min, m_max);
    if (static_cast<int>(m_min.size()) != nColumns) m_min.resize(nColumns, 0.0f);
    if (static_cast<int>(m_max.size()) != nColumns) m_max.resize(nColumns, 0.0f);
    update();
}

void CWaveView::SetGapLevel(double fDb)
{
    m_fGapDb = fDb;
    update();
}

void CWaveView::SetRepairs(std::vector<std::pair<int64_t, int64_t>> spans)
{
    m_repairs = std::move(spans);
    update();
}

void CWaveView::SetCursorFrame(int64_t nFrame)
{
    m_nCursor = std::max<int64_t>(0, std::min(nFrame, m_nTotal));
    update();
}

void CWaveView::SetPlayHead(int64_t nFrame)
{
    if (nFrame == m_nPlayHead) return;
    m_nPlayHead = nFrame;
    update();
}

void CWaveView::SetPickedCut(int nCut)
{
    m_nPicked = (nCut > 0 && nCut < static_cast<int>(m_songs.size())) ? nCut : 0;
    m_bMoving = false;
    update();
}

int64_t CWaveView::GetCutFrame(int nCut) const
{
    if (nCut <= 0 || nCut >= static_cast<int>(m_songs.size())) return -1;
    if (m_bMoving && nCut == m_nPicked) return m_nMoveFrame;
    return m_songs[nCut].nStart;
}

double CWaveView::FrameToX(int64_t nFrame) const
{
    const double fSpan = static_cast<double>(std::max<int64_t>(1, m_nLast - m_nFirst));
    return (static_cast<double>(nFrame - m_nFirst) / fSpan) * width();
}

int64_t CWaveView::XToFrame(double x) const
{
    const double fSpan = static_cast<double>(std::max<int64_t>(1, m_nLast - m_nFirst));
    const int64_t nFrame = m_nFirst + static_cast<int64_t>(std::llround(x / std::max(1, width()) * fSpan));
    return std::max<int64_t>(0, std::min(nFrame, m_nTotal));
}

void CWaveView::SetSideEnds(const std::vector<int>& ends)
{
    m_sideEnds = ends;
    std::sort(m_sideEnds.begin(), m_sideEnds.end());
    update();
}

bool CWaveView::IsSideEnd(int nCut) const
{
    return std::binary_search(m_sideEnds.begin(), m_sideEnds.end(), nCut);
}

int CWaveView::CutAt(double x) const
{
    int nBest = 0;
    double fBest = kReach + 0.5;
    for (int k = 1; k < static_cast<int>(m_songs.size()); ++k) {
        if (IsSideEnd(k)) continue;
        const double d = std::abs(FrameToX(GetCutFrame(k)) - x);
        if (d < fBest) {
            fBest = d;
            nBest = k;
        }
    }
    return nBest;
}

// A cut stays at least one frame inside both songs it separates.
int64_t CWaveView::ClampCut(int nCut, int64_t nFrame) const
{
    const int64_t nLow = m_songs[nCut - 1].nStart + 1;
    const int64_t nHigh = m_songs[nCut].nStart + m_songs[nCut].nFrames - 1;
    return std::max(nLow, std::min(nFrame, nHigh));
}

double CWaveView::Height(float fSample) const
{
    const double v = std::max(-1.0f, std::min(1.0f, fSample));
    if (!m_bDecibels) return v;
    const double m = std::abs(v);
    if (m <= 0.0) return 0.0;
    const double h = std::max(0.0, 1.0 + 20.0 * std::log10(m) / kDbRange);
    return v < 0 ? -h : h;
}

void CWaveView::resizeEvent(QResizeEvent*)
{
    RefreshPeaks();
}

void CWaveView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor ground = CAppearance::ToQColor(CAppearance::kBlack);
    const QColor wave = CAppearance::ToQColor(CAppearance::kComboText);
    const QColor cut = CAppearance::ToQColor(CAppearance::kStatusText);
    const QColor text = CAppearance::ToQColor(CAppearance::kWhitePlain);
    painter.fillRect(rect(), ground);
    const int h = height();
    const double mid = h / 2.0;
    const double half = h / 2.0 - 1.0;

    // Alternate songs get a slightly lighter ground, so each song reads as one block.
    for (size_t i = 1; i < m_songs.size(); i += 2) {
        const double x0 = FrameToX(i > 0 ? GetCutFrame(static_cast<int>(i)) : 0);
        const double x1 = i + 1 < m_songs.size() ? FrameToX(GetCutFrame(static_cast<int>(i + 1))) : width();
        painter.fillRect(QRectF(x0, 0, x1 - x0, h), QColor(24, 16, 32));
    }

    // The Gap Level: samples between the two lines count as silence.
    if (!std::isnan(m_fGapDb)) {
        const double dy = std::max(1.0, Height(static_cast<float>(std::pow(10.0, m_fGapDb / 20.0))) * half);
        painter.fillRect(QRectF(0, mid - dy, width(), 2 * dy), QColor(60, 60, 20));
        painter.setPen(QPen(QColor(230, 210, 60), 1, Qt::DashLine));
        painter.drawLine(QPointF(0, mid - dy), QPointF(width(), mid - dy));
        painter.drawLine(QPointF(0, mid + dy), QPointF(width(), mid + dy));
    }

    painter.setPen(wave);
    for (int x = 0; x < static_cast<int>(m_min.size()); ++x) {
        const double y0 = mid - Height(m_max[x]) * half;
        const double y1 = mid - Height(m_min[x]) * half;
        painter.drawLine(QPointF(x + 0.5, y0), QPointF(x + 0.5, std::max(y1, y0 + 1)));
    }

    // What click repair would restore: shaded over the waveform, with a mark at the
    // bottom that a click of one sample shows as well.
    for (const auto& span : m_repairs) {
        const double x0 = FrameToX(span.first), x1 = std::max(x0 + 1.0, FrameToX(span.second));
        if (x1 < 0 || x0 > width()) continue;
        painter.fillRect(QRectF(x0, 0, x1 - x0, h), QColor(255, 120, 40, 110));
        QPolygonF mark;
        const double xm = (x0 + x1) / 2;
        mark << QPointF(xm - 4, h) << QPointF(xm + 4, h) << QPointF(xm, h - 7);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 120, 40));
        painter.drawPolygon(mark);
        painter.setBrush(Qt::NoBrush);
    }

    if (!std::isnan(m_fGapDb)) {
        const double dy = std::max(1.0, Height(static_cast<float>(std::pow(10.0, m_fGapDb / 20.0))) * half);
        painter.setPen(QColor(230, 210, 60));
        painter.drawText(QPointF(4, mid + dy + QFontMetrics(font()).ascent() + 2),
                         QString("Gap Level %1 dB").arg(m_fGapDb, 0, 'f', 1));
    }

    // Cuts, with the picked one thicker; where a side ends, a double white line and the
    // next side's letter at the foot.
    int nSide = 0;
    for (int k = 1; k < static_cast<int>(m_songs.size()); ++k) {
        const double x = FrameToX(GetCutFrame(k));
        if (IsSideEnd(k)) {
            ++nSide;
            if (x < -4 || x > width() + 4) continue;
            painter.setPen(QPen(text, 1));
            painter.drawLine(QPointF(x - 1.5, 0), QPointF(x - 1.5, h));
            painter.drawLine(QPointF(x + 1.5, 0), QPointF(x + 1.5, h));
            const QString name = nSide < 26 ? QString("Side %1").arg(QChar('A' + nSide)) : QString("Side %1").arg(nSide + 1);
            painter.drawText(QPointF(x + 5, h - 4), name);
            continue;
        }
        if (x < -2 || x > width() + 2) continue;
        painter.setPen(QPen(cut, k == m_nPicked ? 3 : 1));
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
        QPolygonF flag;
        flag << QPointF(x - 5, 0) << QPointF(x + 5, 0) << QPointF(x, 7);
        painter.setBrush(cut);
        painter.drawPolygon(flag);
        painter.setBrush(Qt::NoBrush);
    }

    // Each song's number, title and length at the top of its block.
    if (m_bShowLabels) {
        painter.setPen(text);
        const QFontMetrics fm(font());
        for (size_t i = 0; i < m_songs.size(); ++i) {
            const double x0 = std::max(0.0, FrameToX(i == 0 ? 0 : GetCutFrame(static_cast<int>(i))));
            const double x1 = std::min<double>(width(), i + 1 < m_songs.size()
                                                            ? FrameToX(GetCutFrame(static_cast<int>(i + 1)))
                                                            : width());
            if (x1 - x0 < 12) continue;
            const QString title = m_songs[i].title.isEmpty() ? QString() : QString(" ") + m_songs[i].title;
            const QString label = QString("%1%2 (%3)").arg(i + 1).arg(title).arg(Duration(m_songs[i].nFrames, m_nRate));
            const QRectF box(x0 + 8, 2, x1 - x0 - 12, fm.height() + 2);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, fm.elidedText(label, Qt::ElideRight, int(box.width())));
        }
    }

    // Cursor and play head.
    const double xc = FrameToX(m_nCursor);
    painter.setPen(QPen(text, 1, Qt::DotLine));
    painter.drawLine(QPointF(xc, 0), QPointF(xc, h));
    if (m_nPlayHead >= 0) {
        const double xp = FrameToX(m_nPlayHead);
        painter.setPen(QPen(QColor(255, 170, 0), 2));
        painter.drawLine(QPointF(xp, 0), QPointF(xp, h));
    }
    if (hasFocus()) {
        painter.setPen(QPen(QColor(120, 120, 160), 1));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CWaveView::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() != Qt::LeftButton) return;
    const int nCut = CutAt(pEvent->position().x());
    if (nCut > 0) {
        m_nPicked = nCut;
        if (m_bEditable) {
            m_bMoving = true;
            m_nMoveFrame = m_songs[nCut].nStart;
        }
        update();
        emit cutPicked(nCut);
        return;
    }
    // The end of a side is no cut: a click on it only asks to look there.
    for (int k : m_sideEnds) {
        if (k < static_cast<int>(m_songs.size()) &&
            std::abs(FrameToX(m_songs[static_cast<size_t>(k)].nStart) - pEvent->position().x()) <= kReach) {
            emit sideEndClicked(k);
            return;
        }
    }
    SetCursorFrame(XToFrame(pEvent->position().x()));
    emit cursorMoved(m_nCursor);
}

void CWaveView::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!m_bMoving || !(pEvent->buttons() & Qt::LeftButton)) return;
    m_nMoveFrame = ClampCut(m_nPicked, XToFrame(pEvent->position().x()));
    update();
}

void CWaveView::mouseReleaseEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton && m_bMoving) EndMove();
}

void CWaveView::keyPressEvent(QKeyEvent* pEvent)
{
    const int nKey = pEvent->key();
    if (!m_bEditable || m_nPicked <= 0 || (nKey != Qt::Key_Left && nKey != Qt::Key_Right)) {
        QWidget::keyPressEvent(pEvent);
        return;
    }
    int64_t nStep = m_nRate / 100;  // 10 ms
    if (pEvent->modifiers() & Qt::ShiftModifier) nStep = 1;
    if (pEvent->modifiers() & Qt::ControlModifier) nStep = m_nRate / 10;
    if (!m_bMoving) {
        m_bMoving = true;
        m_nMoveFrame = m_songs[m_nPicked].nStart;
    }
    m_nMoveFrame = ClampCut(m_nPicked, m_nMoveFrame + (nKey == Qt::Key_Left ? -nStep : nStep));
    // Keep the marker in sight.
    const int64_t nSpan = m_nLast - m_nFirst;
    if (m_nMoveFrame < m_nFirst || m_nMoveFrame >= m_nLast) SetRange(m_nMoveFrame - nSpan / 2, m_nMoveFrame + nSpan / 2);
    update();
}

void CWaveView::keyReleaseEvent(QKeyEvent* pEvent)
{
    const int nKey = pEvent->key();
    if (m_bMoving && !pEvent->isAutoRepeat() && (nKey == Qt::Key_Left || nKey == Qt::Key_Right)) {
        EndMove();
        return;
    }
    QWidget::keyReleaseEvent(pEvent);
}

void CWaveView::EndMove()
{
    m_bMoving = false;
    const int64_t nFrame = m_nMoveFrame;
    update();
    if (nFrame != m_songs[m_nPicked].nStart) emit cutMoved(m_nPicked, nFrame);
}

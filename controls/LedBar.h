#pragma once
// One bar of LEDs of the level meter.

#include "controls/LevelMeter.h"

#include <QPixmap>
#include <QRect>
#include <QRgb>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <vector>

// One LED cell: its state, its two fills and its place in the bar.
struct LedCell {
    int on = 0;          // 0 dark, 1 lit
    QRgb offColour = 0;  // fill when dark
    QRgb onColour = 0;   // fill when lit
    QRect rect;          // in the bar's client coordinates
};

/**
 * A vertical (taller than wide) or horizontal bar of LED cells: level LEDs from the
 * bottom (or left) up, and a red clip LED at the far end, set apart by about half
 * a cell. It lays its cells out from its own size and paints by copying each cell
 * from a pre-rendered image that holds every cell once dark and once lit.
 *
 * Window thread: construction, SetLedCount (before the meter runs), painting.
 * SetLed may be called from any thread (the meter thread): it stores the state in
 * one atomic word and asks the window thread to repaint only the cells that changed.
 */
class CLedBar : public QWidget, public ILedSink {
    Q_OBJECT

public:
    explicit CLedBar(QWidget* pParent = nullptr);
    ~CLedBar() override;

    // k level LEDs plus the clip LED; all dark. k from 1 to 31; other values are ignored.
    void SetLedCount(int k);
    // Switches cell nIndex (0 = lowest, GetCellCount() - 1 = clip); out of range is ignored.
    void SetLed(int nIndex, bool bOn) override;

    int GetCellCount() const { return m_nCells.load(std::memory_order_acquire); }
    // Cell j as laid out now (window thread); lays the cells out first if needed.
    LedCell GetCell(int j);
    bool IsVertical() const { return height() > width(); }
    // Where the lit images sit in the pre-rendered image, relative to the dark ones.
    QPoint GetImageOffset() const { return QPoint(m_nImageDx, m_nImageDy); }
    bool HasImage() const { return !m_pImage.isNull(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void Layout();
    void PreRender();
    void DrawLed(class QPainter& painter, const LedCell& cell, const QRect& rect, bool bLit) const;
    void OnCellsChanged();

    std::atomic<int> m_nCells{10};         // cells, clip LED included
    std::vector<LedCell> m_pCells;         // layout and colours; empty until first needed
    QPixmap m_pImage;                      // dark cells at their rects, lit ones moved by the offset
    int m_nImageDx = 0;                    // lit images to the right (vertical bar)
    int m_nImageDy = 0;                    // lit images below (horizontal bar)
    std::atomic<uint32_t> m_nOnBits{0};    // bit j set: cell j lit (written by the meter thread)
    std::atomic<uint32_t> m_nDirtyBits{0}; // cells changed since the last repaint request
};

// The LED bar: layout from its size, colours by cell, painting, and repainting
// only the cells the meter thread changed.

#include "controls/LedBar.h"
#include "resources/DialogBuilder.h"
#include "resources/DialogTemplate.h"
#include "resources/ResourceIds.h"

#include <QImage>
#include <QPaintEvent>
#include <QRegion>
#include <QtTest>

#include <thread>

namespace {

// A bar that records the areas it is asked to paint.
class CWatchedBar : public CLedBar {
public:
    QRegion m_painted;
    int m_nPaints = 0;

protected:
    void paintEvent(QPaintEvent* pEvent) override {
        m_painted += pEvent->region();
        ++m_nPaints;
        CLedBar::paintEvent(pEvent);
    }
};

// The pixel size of a control of w x h dialog units in the main window's font.
QSize DialogUnitsToPixels(int w, int h) {
    const QFont font = CDialogBuilder::DialogFont(GetDialogTemplate(IDD_RECORDER));
    int nX = 0, nY = 0;
    CDialogBuilder::BaseUnits(font, &nX, &nY);
    return CDialogBuilder::MapDialogRect(QRect(0, 0, w, h), nX, nY).size();
}

QRgb PixelAt(const QImage& image, const QRect& cell) {
    return image.pixel(cell.center()) & 0xFFFFFF;
}

}  // namespace

class LedBarTest : public QObject {
    Q_OBJECT

private slots:
    void VerticalBar_WhenTallerThanWide_StacksCellsUpFromTheBottom() {
        const QSize size = DialogUnitsToPixels(9, 110);
        CLedBar bar;
        bar.resize(size);
        bar.SetLedCount(20);
        const int w = size.width(), h = size.height();
        QVERIFY(bar.IsVertical());
        QCOMPARE(bar.GetCellCount(), 21);
        QCOMPARE(bar.GetImageOffset(), QPoint(w, 0));
        QVERIFY(bar.HasImage());

        const int c = (2 * h) / 43;
        QVERIFY(c > 0);
        for (int j = 0; j < 20; ++j) {
            const QRect r = bar.GetCell(j).rect;
            QCOMPARE(r.height(), c);
            QCOMPARE(r.width(), w);
            QCOMPARE(r.left(), 0);
            QCOMPARE(r.top() + r.height(), h - j * c);  // bottom edge, exclusive
        }
        const QRect clip = bar.GetCell(20).rect;
        QCOMPARE(clip.top(), 0);
        QCOMPARE(clip.height(), c);
        // About half a cell between the top level LED and the clip LED.
        const int gap = bar.GetCell(19).rect.top() - (clip.top() + clip.height());
        QVERIFY2(gap >= c / 2 && gap <= c / 2 + 21, qPrintable(QString("gap %1, cell %2").arg(gap).arg(c)));
    }

    void HorizontalBar_WhenWiderThanTall_PutsTheClipCellRight() {
        CLedBar bar;
        bar.resize(215, 20);
        bar.SetLedCount(20);
        QVERIFY(!bar.IsVertical());
        QCOMPARE(bar.GetImageOffset(), QPoint(0, 20));
        const int c = (2 * 215) / 43;
        QCOMPARE(bar.GetCell(0).rect, QRect(0, 0, c, 20));
        QCOMPARE(bar.GetCell(19).rect, QRect(19 * c, 0, c, 20));
        QCOMPARE(bar.GetCell(20).rect, QRect(215 - c, 0, c, 20));
    }

    void Colours_ByCellPaintedFromTheImage() {
        CLedBar bar;
        bar.resize(DialogUnitsToPixels(9, 110));
        bar.SetLedCount(20);
        bar.SetLed(3, true);
        bar.SetLed(15, true);
        bar.SetLed(20, true);
        const QImage image = bar.grab().toImage();
        for (int j = 0; j < 21; ++j) {
            const LedCell cell = bar.GetCell(j);
            // Green level LEDs, then yellow from the eleventh, and a red clip LED.
            const QRgb off = j == 20 ? qRgb(128, 0, 0) : j >= 10 ? qRgb(128, 128, 0) : qRgb(0, 102, 0);
            const QRgb on = j == 20 ? qRgb(255, 0, 0) : j >= 10 ? qRgb(255, 255, 0) : qRgb(0, 255, 0);
            QCOMPARE(cell.offColour, off);
            QCOMPARE(cell.onColour, on);
            QCOMPARE(cell.on, int(j == 3 || j == 15 || j == 20));
            QCOMPARE(QString::number(PixelAt(image, cell.rect), 16), QString::number((cell.on ? on : off) & 0xFFFFFF, 16));
        }
    }

    void SetLedFromAnotherThread_RepaintsOnlyTheChangedCells() {
        CWatchedBar bar;
        bar.resize(DialogUnitsToPixels(9, 110));
        bar.SetLedCount(20);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QTRY_VERIFY(bar.m_nPaints > 0);
        QCoreApplication::processEvents();

        bar.m_painted = QRegion();
        std::thread meter([&bar] {
            bar.SetLed(12, true);
            bar.SetLed(20, true);
            bar.SetLed(12, true);  // no change: nothing more to repaint
        });
        meter.join();
        QTRY_VERIFY(!bar.m_painted.isEmpty());
        QCoreApplication::processEvents();
        const QRegion expected = QRegion(bar.GetCell(12).rect) + QRegion(bar.GetCell(20).rect);
        QCOMPARE(bar.m_painted, expected);

        bar.m_painted = QRegion();
        const int nPaints = bar.m_nPaints;
        std::thread again([&bar] { bar.SetLed(12, true); });
        again.join();
        QCoreApplication::processEvents();
        QCOMPARE(bar.m_nPaints, nPaints);

        const QImage image = bar.grab().toImage();
        QCOMPARE(PixelAt(image, bar.GetCell(12).rect), qRgb(255, 255, 0) & 0xFFFFFF);
        QCOMPARE(PixelAt(image, bar.GetCell(20).rect), qRgb(255, 0, 0) & 0xFFFFFF);
        QCOMPARE(PixelAt(image, bar.GetCell(6).rect), qRgb(0, 102, 0) & 0xFFFFFF);
    }

    void SetLed_OutOfRangeIsIgnored() {
        CLedBar bar;
        bar.resize(20, 200);
        bar.SetLedCount(20);
        bar.SetLed(-1, true);
        bar.SetLed(21, true);
        bar.SetLed(31, true);
        for (int j = 0; j < 21; ++j) QCOMPARE(bar.GetCell(j).on, 0);
        bar.SetLedCount(0);  // ignored: keeps 21 cells
        QCOMPARE(bar.GetCellCount(), 21);
    }

};

QTEST_MAIN(LedBarTest)
#include "LedBarTest.moc"

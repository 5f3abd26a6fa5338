// The appearance decisions of the main window, with chosen screens.
#include "app/Appearance.h"

#include <QtTest>

class TestAppearance : public QObject {
    Q_OBJECT
private slots:
    void ColouredScheme_DependsOnColourCount_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<uint>("startGround");
        QTest::addColumn<uint>("switchedGround");
        QTest::newRow("true colour") << 24 << 0x0250003Cu << 0x0250003Cu;
        QTest::newRow("32 bit") << 32 << 0x0250003Cu << 0x0250003Cu;
        QTest::newRow("256 colours") << 8 << 0x0250003Cu << 0x0250003Cu;
        QTest::newRow("16 colours") << 4 << 0x02800080u << 0x00800080u;
        QTest::newRow("2 colours") << 1 << 0x02800080u << 0x00800080u;
    }

    void ColouredScheme_DependsOnColourCount()
    {
        QFETCH(int, depth);
        QFETCH(uint, startGround);
        QFETCH(uint, switchedGround);
        const int colours = CAppearance::NumColorsForDepth(depth);
        const auto start = CAppearance::StartColours(1, colours, 0x00C0C0C0, 0);
        const auto switched = CAppearance::SwitchColours(1, colours, 0x00C0C0C0, 0);
        QCOMPARE(start.crBackground, startGround);
        QCOMPARE(start.crText, 0x02FFFFFFu);
        QCOMPARE(switched.crBackground, switchedGround);
        QCOMPARE(switched.crText, 0x00FFFFFFu);
        // Whatever the marker byte, the window shows the same red, green and blue.
        QCOMPARE(CAppearance::ToQColor(start.crBackground), CAppearance::ToQColor(switched.crBackground & 0xFFFFFF));
    }

    void PlainScheme_UsesSystemColours()
    {
        const uint32_t face = 0x00D4D0C8, text = 0x00101010;
        for (int colours : {16, 256, CAppearance::kTrueColour}) {
            auto c = CAppearance::StartColours(0, colours, face, text);
            QCOMPARE(c.crBackground, face);
            QCOMPARE(c.crText, text);
            c = CAppearance::SwitchColours(0, colours, face, text);
            QCOMPARE(c.crBackground, face);
            QCOMPARE(c.crText, text);
        }
        QCOMPARE(CAppearance::FromQColor(CAppearance::ToQColor(face)), face);
        QCOMPARE(CAppearance::ToQColor(0x0250003C), QColor(60, 0, 80));
    }

    void LargeFonts_SameDecisionForSameScreens_data()
    {
        QTest::addColumn<double>("dpi");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("large");
        QTest::newRow("96 dpi, small fonts") << 96.0 << 1.0 << 16 << 0;
        QTest::newRow("72 dpi") << 72.0 << 1.0 << 12 << 0;
        QTest::newRow("115 dpi, just below") << 115.0 << 1.0 << 19 << 0;
        QTest::newRow("120 dpi, large fonts") << 120.0 << 1.0 << 20 << 1;
        QTest::newRow("144 dpi") << 144.0 << 1.0 << 24 << 1;
        QTest::newRow("96 dpi scaled twice") << 96.0 << 2.0 << 32 << 1;
        QTest::newRow("96 dpi scaled 1.25") << 96.0 << 1.25 << 20 << 1;
        QTest::newRow("unknown metrics as 96 dpi") << 0.0 << 0.0 << 16 << 0;
    }

    void LargeFonts_SameDecisionForSameScreens()
    {
        QFETCH(double, dpi);
        QFETCH(double, ratio);
        QFETCH(int, height);
        QFETCH(int, large);
        QCOMPARE(CAppearance::SystemFontHeight(dpi, ratio), height);
        QCOMPARE(CAppearance::IsLargeFonts(dpi, ratio), large);
    }

    void LargeFontNudge_MovesIconAndPicture()
    {
        // Icon 30 x 30 at (3, 222): down by a quarter of its height, truncated.
        QCOMPARE(CAppearance::LargeFontIconPos(QRect(3, 222, 30, 30)), QPoint(3, 229));
        // Picture 116 x 115 at (32, 11): 0.13 of 116 is 15.08, of 115 is 14.95.
        QCOMPARE(CAppearance::LargeFontPicturePos(QRect(32, 11, 116, 115)), QPoint(47, 25));
        // 0.13 as a float is a little above 0.13: 100 * 0.13f truncates to 13, not 12.
        QCOMPARE(CAppearance::LargeFontPicturePos(QRect(0, 0, 100, 100)), QPoint(13, 13));
        // The icon control near the bottom of a 457 x 281 window stops at the edge.
        const QRect icon(4, 241, 36, 36);
        const QPoint moved = CAppearance::LargeFontIconPos(icon);
        QCOMPARE(moved, QPoint(4, 250));
        QCOMPARE(CAppearance::KeepInside(moved, icon.size(), QSize(457, 281)), QPoint(4, 245));
        QCOMPARE(CAppearance::KeepInside(QPoint(54, 26), QSize(135, 116), QSize(457, 281)), QPoint(54, 26));
        QCOMPARE(CAppearance::KeepInside(QPoint(-3, 300), QSize(10, 10), QSize(100, 100)), QPoint(0, 90));
    }

    void MinimisedIcon_IsCentred()
    {
        QCOMPARE(CAppearance::MinimisedIconPos(36, 36, 32, 32), QPoint(2, 2));
        QCOMPARE(CAppearance::MinimisedIconPos(37, 36, 32, 32), QPoint(3, 2));
        QCOMPARE(CAppearance::MinimisedIconPos(160, 27, 32, 32), QPoint(64, -2));
    }

    void Palettes_ColourEachKindOfControl()
    {
        const QPalette base;
        const QPalette combo = CAppearance::ComboPalette(base);
        QCOMPARE(combo.color(QPalette::Active, QPalette::ButtonText), QColor(50, 200, 50));
        QCOMPARE(combo.color(QPalette::Active, QPalette::Text), QColor(50, 200, 50));
        QCOMPARE(combo.color(QPalette::Active, QPalette::Button), QColor(Qt::black));
        QCOMPARE(combo.color(QPalette::Active, QPalette::Base), QColor(Qt::black));
        QCOMPARE(combo.color(QPalette::Disabled, QPalette::Base), QColor(Qt::black));

        const QPalette status = CAppearance::StatusPalette(base);
        QCOMPARE(status.color(QPalette::Active, QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(status.color(QPalette::Disabled, QPalette::Window), QColor(Qt::black));

        const auto colours = CAppearance::StartColours(1, CAppearance::kTrueColour, 0, 0);
        const QPalette ground = CAppearance::GroundPalette(base, colours);
        QCOMPARE(ground.color(QPalette::Active, QPalette::Window), QColor(60, 0, 80));
        QCOMPARE(ground.color(QPalette::Active, QPalette::WindowText), QColor(255, 255, 255));
        // Button faces are left as they were.
        QCOMPARE(ground.color(QPalette::Active, QPalette::Button), base.color(QPalette::Active, QPalette::Button));
    }

};

QTEST_MAIN(TestAppearance)
#include "tst_appearance.moc"

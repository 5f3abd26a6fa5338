// The string table, the artwork and the help pages are all there, in their sizes.
#include "resources/Artwork.h"
#include "resources/Help.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"

#include <QImage>
#include <QtTest>

class ResourcesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitResources(); }

    void Strings_HaveTheirTexts_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("text");
        // The tooltips of Record, the mixer, Add, Delete and the LED bars are read
        // through the tooltips themselves.
        QTest::newRow("101") << 101 << "&About Cadenzo...";
        QTest::newRow("106") << 106 << "Stop recording";
        QTest::newRow("110") << 110 << "Select base filename from list";
        QTest::newRow("111") << 111 << "Create new base file";
        QTest::newRow("unknown") << 104 << QString();
    }
    void Strings_HaveTheirTexts()
    {
        QFETCH(int, id);
        QFETCH(QString, text);
        QCOMPARE(LoadString(id), text);
    }

    void Bitmaps_HaveTheirPixelSizes_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QSize>("size");
        QTest::newRow("About picture") << IDB_ABOUT << QSize(263, 182);
        for (int id : {158, 159, 160, 161})
            QTest::newRow(qPrintable(QString::number(id))) << id << QSize(114, 114);
    }
    void Bitmaps_HaveTheirPixelSizes()
    {
        QFETCH(int, id);
        QFETCH(QSize, size);
        const QPixmap picture = LoadBitmap(id);
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.size(), size);
    }

    // The two frames of each scheme differ (the record turns), and the grounds are
    // the schemes' own: purple 60,0,80 and a light grey.
    void TurningRecord_FramesDifferAndSitOnTheirGround()
    {
        const QImage idlePurple = LoadBitmap(IDB_RECORD_IDLE_PURPLE).toImage();
        const QImage activePurple = LoadBitmap(IDB_RECORD_ACTIVE_PURPLE).toImage();
        const QImage idleLight = LoadBitmap(IDB_RECORD_IDLE_LIGHT).toImage();
        const QImage activeLight = LoadBitmap(IDB_RECORD_ACTIVE_LIGHT).toImage();
        QVERIFY(idlePurple != activePurple);
        QVERIFY(idleLight != activeLight);
        QCOMPARE(QColor(idlePurple.pixel(1, 1)), QColor(60, 0, 80));
        QCOMPARE(QColor(activePurple.pixel(112, 1)), QColor(60, 0, 80));
        QVERIFY(QColor(idleLight.pixel(1, 1)).lightness() > 200);
        // The centre is the record, not the ground.
        QVERIFY(QColor(idlePurple.pixel(57, 20)).lightness() < 100);
    }

    void Icons_LoadInEverySize()
    {
        for (int id : {IDI_PROGRAM, IDI_ABOUT, IDI_STOP, IDI_RECORD, IDI_MIXER, IDI_ADD, IDI_DELETE}) {
            QVERIFY2(!LoadIcon(id).isNull(), qPrintable(QString::number(id)));
            for (int size : {16, 32}) {
                const QPixmap pixmap = LoadIconPixmap(id, size);
                QCOMPARE(pixmap.size(), QSize(size, size));
                // Not blank: some pixel is opaque.
                const QImage image = pixmap.toImage();
                QVERIFY(qAlpha(image.pixel(size / 2, size / 2)) > 0);
            }
        }
        QVERIFY(LoadIcon(999).isNull());
        QVERIFY(LoadBitmap(128).isNull());
    }

    void HelpPages_ExistForBothWindows()
    {
        QVERIFY(LoadHelpPage(IDH_RECORDER).contains("Record"));
        QVERIFY(LoadHelpPage(IDH_CUSTOM_SETTINGS).contains("Gap Size"));
        QVERIFY(LoadHelpPage(100).isEmpty());
    }
};

QTEST_MAIN(ResourcesTest)
#include "ResourcesTest.moc"

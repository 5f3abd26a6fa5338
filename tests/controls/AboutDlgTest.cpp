// The About box is black on light grey whatever colours its opener uses.
#include "controls/AboutDlg.h"
#include "resources/Artwork.h"
#include "CadenzoVersion.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

const QColor kGrey(192, 192, 192);

// Every pixel of the control is a grey (no tint of the opener's purple), none lighter
// than the ground when bNoLighter (a label: the text smoothed on the ground), and some
// pixel is near black (the text). The pixel at corner is the grey ground.
void CheckBlackOnGrey(QWidget* control, bool bNoLighter, const QPoint& corner)
{
    const QImage image = control->grab().toImage();
    bool sawText = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c(image.pixel(x, y));
            const bool bLighter = c.red() > 192 || c.green() > 192 || c.blue() > 192;
            QVERIFY2(!(bNoLighter && bLighter) && qAbs(c.red() - c.green()) <= 24 &&
                         qAbs(c.green() - c.blue()) <= 24,
                     qPrintable(QString("%1 at %2,%3: %4").arg(control->objectName()).arg(x).arg(y).arg(c.name())));
            sawText = sawText || c.lightness() < 80;
        }
    }
    QVERIFY2(sawText, qPrintable(control->objectName()));
    QCOMPARE(QColor(image.pixel(corner.x() < 0 ? image.width() - 1 : corner.x(), corner.y())), kGrey);
}

}  // namespace

class AboutDlgTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitResources(); }

    void Colours_AreBlackOnGrey_data()
    {
        QTest::addColumn<bool>("purpleOpener");
        QTest::newRow("coloured scheme opener") << true;
        QTest::newRow("plain opener") << false;
    }
    void Colours_AreBlackOnGrey()
    {
        QFETCH(bool, purpleOpener);
        QWidget opener;
        if (purpleOpener) {
            // The main window's coloured scheme: white on purple, by palette and style sheet.
            QPalette palette = opener.palette();
            palette.setColor(QPalette::Window, QColor(60, 0, 80));
            palette.setColor(QPalette::WindowText, Qt::white);
            opener.setPalette(palette);
            opener.setStyleSheet("QWidget { background-color: rgb(60,0,80); color: white; }");
        }
        opener.show();
        CAboutDlg about(&opener);
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.BackgroundColour(), kGrey);
        QCOMPARE(about.windowTitle(), QString("About Cadenzo"));

        const QImage ground = about.grab().toImage();
        QCOMPARE(QColor(ground.pixel(2, ground.height() - 2)), kGrey);
        QCOMPARE(QColor(ground.pixel(ground.width() - 2, ground.height() / 2)), kGrey);

        QStringList texts;
        for (QLabel* label : about.findChildren<QLabel*>()) {
            if (label->text().isEmpty())
                continue;  // the icon and the picture
            texts << label->text();
            CheckBlackOnGrey(label, true, QPoint(-1, 0));
        }
        QCOMPARE(texts.size(), 4);

        // The OK button too: grey face, black text, nothing of the opener's purple.
        auto* ok = about.findChild<QPushButton*>("ctl1");
        CheckBlackOnGrey(ok, false, QPoint(ok->width() / 2, 4));
        QVERIFY(texts.contains("Cadenzo Version " CADENZO_VERSION));
    }

    void Ok_ClosesTheBox()
    {
        CAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto* ok = about.findChild<QPushButton*>("ctl1");
        QVERIFY(ok);
        QCOMPARE(ok->text(), QString("OK"));
        QVERIFY(ok->isDefault());
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(about.result(), int(QDialog::Accepted));
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(AboutDlgTest)
#include "AboutDlgTest.moc"

// The pressable icon shows itself sunken, raised again, and only then reports the click.
#include "controls/PressIcon.h"
#include "resources/Artwork.h"
#include "resources/ResourceIds.h"

#include <QSignalSpy>
#include <QtTest>

#include <vector>

namespace {

// Records what each paint showed, and the click, in one sequence.
class CRecordingIcon : public CPressIcon {
public:
    using CPressIcon::CPressIcon;
    std::vector<QString> m_events;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        m_events.push_back(IsSunken() ? "paint sunken" : "paint raised");
        CPressIcon::paintEvent(event);
    }
};

}  // namespace

class PressIconTest : public QObject {
    Q_OBJECT
private slots:
    void LeftPress_PaintsSunkenThenRaisedThenClicks()
    {
        InitResources();
        CRecordingIcon icon;
        icon.setPixmap(LoadIconPixmap(IDI_ABOUT, 32));
        icon.resize(36, 36);
        QCOMPARE(icon.frameShadow(), QFrame::Raised);
        connect(&icon, &CPressIcon::clicked, [&icon] { icon.m_events.push_back("clicked"); });
        icon.show();
        QVERIFY(QTest::qWaitForWindowExposed(&icon));
        QCoreApplication::processEvents();
        icon.m_events.clear();

        QTest::mousePress(&icon, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        const std::vector<QString> expected = {"paint sunken", "paint raised", "clicked"};
        QCOMPARE(icon.m_events, expected);
        QVERIFY(!icon.IsSunken());
    }

    void OtherButtons_DoNotClick()
    {
        CPressIcon icon;
        icon.resize(36, 36);
        icon.show();
        QVERIFY(QTest::qWaitForWindowExposed(&icon));
        QSignalSpy clicks(&icon, &CPressIcon::clicked);
        QTest::mousePress(&icon, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseRelease(&icon, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(clicks.count(), 0);
        QVERIFY(!icon.IsSunken());
        // One click per left press; the release adds none.
        QTest::mouseClick(&icon, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(clicks.count(), 1);
    }
};

QTEST_MAIN(PressIconTest)
#include "PressIconTest.moc"

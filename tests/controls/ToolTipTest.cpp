// Tooltips of whole controls and of rectangles of a window, on the main window's
// buttons and LED bars (the settings window's Add and Delete are read in its own test).
#include "controls/ToolTip.h"
#include "resources/DialogBuilder.h"
#include "resources/ResourceIds.h"

#include <QDialog>
#include <QHelpEvent>
#include <QToolTip>
#include <QtTest>

namespace {

// Sends the tooltip request that hovering at `pos` of `widget` makes, and returns
// the text then shown.
QString Hover(QWidget* widget, const QPoint& pos)
{
    // A marker tip first: if no tool answers, the marker stays.
    const QString marker = QStringLiteral("(no tool)");
    QToolTip::showText(widget->mapToGlobal(pos), marker, widget);
    QHelpEvent event(QEvent::ToolTip, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
    const QString shown = QToolTip::text();
    return shown == marker ? QString() : shown;
}

}  // namespace

class ToolTipTest : public QObject {
    Q_OBJECT
private slots:
    void MainWindow_LedBarRectanglesShowTheirTexts()
    {
        QDialog dialog;
        CDialogBuilder builder;
        builder.Build(&dialog, GetDialogTemplate(IDD_RECORDER));
        QWidget* left = builder.FindControl(1032);
        QWidget* right = builder.FindControl(1034);
        CToolTip toolTip;
        toolTip.Create(&dialog);
        QVERIFY(toolTip.AddRectTool(&dialog, IDS_TIP_LEVEL_LEFT, left->geometry(), 1032));
        QVERIFY(toolTip.AddRectTool(&dialog, IDS_TIP_LEVEL_RIGHT, right->geometry(), 1034));
        QVERIFY(toolTip.AddWindowTool(builder.FindControl(1000), IDS_TIP_RECORD));
        QVERIFY(toolTip.AddWindowTool(builder.FindControl(1001), IDS_TIP_MIXER));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        // Hovering over the bar itself: the request passes from the bar to the window.
        QCOMPARE(Hover(left, QPoint(left->width() / 2, left->height() / 2)), QString("Level Left (2dB/LED)"));
        QCOMPARE(Hover(right, QPoint(1, right->height() - 2)), QString("Level Right (2dB/LED)"));
        QCOMPARE(Hover(&dialog, left->geometry().topLeft()), QString("Level Left (2dB/LED)"));
        QCOMPARE(toolTip.TextAt(&dialog, left->geometry().center()), QString("Level Left (2dB/LED)"));
        // Just outside the rectangle: no tip.
        QCOMPARE(toolTip.TextAt(&dialog, left->geometry().topLeft() - QPoint(1, 0)), QString());
        QCOMPARE(Hover(&dialog, QPoint(left->geometry().left() - 1, left->geometry().center().y())), QString());
        QCOMPARE(Hover(builder.FindControl(1001), QPoint(3, 3)), QString("Open the sound mixer"));

        // Re-adding tool id 1032 moves it rather than adding another.
        const int count = toolTip.ToolCount();
        toolTip.AddRectTool(&dialog, IDS_TIP_LEVEL_LEFT, QRect(0, 0, 10, 10), 1032);
        QCOMPARE(toolTip.ToolCount(), count);
        QCOMPARE(toolTip.TextAt(&dialog, QPoint(5, 5)), QString("Level Left (2dB/LED)"));
        QCOMPARE(toolTip.TextAt(&dialog, left->geometry().center()), QString());
    }

    void Tools_RefuseBadInputAndFollowActivation()
    {
        QWidget window;
        QWidget child(&window);
        child.setGeometry(0, 0, 20, 20);
        CToolTip toolTip;
        QVERIFY(!toolTip.AddWindowTool(nullptr, IDS_TIP_RECORD));
        QVERIFY(!toolTip.AddWindowTool(&child, 4711));
        QVERIFY(!toolTip.AddRectTool(nullptr, IDS_TIP_LEVEL_LEFT, QRect(0, 0, 5, 5), 1));
        QCOMPARE(toolTip.ToolCount(), 0);
        QVERIFY(toolTip.AddWindowTool(&child, IDS_TIP_RECORD));
        toolTip.Activate(false);
        QCOMPARE(toolTip.TextAt(&child, QPoint(1, 1)), QString());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(Hover(&child, QPoint(1, 1)), QString());
        toolTip.Activate(true);
        QCOMPARE(Hover(&child, QPoint(1, 1)), QString("Record"));
    }

    // A tool whose control is destroyed first leaves nothing dangling.
    void Tools_SurviveTheirControls()
    {
        CToolTip toolTip;
        auto* window = new QWidget;
        auto* child = new QWidget(window);
        toolTip.AddWindowTool(child, IDS_TIP_STOP);
        toolTip.AddRectTool(window, IDS_TIP_LEVEL_LEFT, QRect(0, 0, 5, 5), 1032);
        delete window;
        QCOMPARE(toolTip.TextAt(nullptr, QPoint(1, 1)), QString());
    }
};

QTEST_MAIN(ToolTipTest)
#include "ToolTipTest.moc"

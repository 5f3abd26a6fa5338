// The main window on a large-font screen (run with QT_SCALE_FACTOR=1.25): the icon
// control and the picture are nudged, and both stay wholly inside the window.
#include "app/RecorderDlg.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include "resources/DialogBuilder.h"
#include "resources/DialogTemplate.h"

#include <QtTest>

class TestLargeFonts : public QObject {
    Q_OBJECT
private slots:
    void LargeFonts_NudgeKeepsControlsInside();
};

void TestLargeFonts::LargeFonts_NudgeKeepsControlsInside()
{
    CAppTestPlace place;
    CScriptedPrompt prompt;
    CRecorderDlg dlg(&prompt, place.store.get(), place.Dir());
    if (dlg.devicePixelRatioF() < 1.25)
        QSKIP("needs a screen scaled by 1.25 or more (QT_SCALE_FACTOR)");
    const QRect icon = dlg.GetControl(1010)->geometry();
    const QRect picture = dlg.GetControl(1033)->geometry();
    const QRect inside(QPoint(0, 0), dlg.size());
    QVERIFY(inside.contains(icon));
    QVERIFY(inside.contains(picture));
    // Both moved from where the template puts them: the icon down, the picture right
    // and down.
    const CDialogTemplate& layout = GetDialogTemplate(102);
    int baseX = 0, baseY = 0;
    CDialogBuilder::BaseUnits(CDialogBuilder::DialogFont(layout), &baseX, &baseY);
    auto placed = [&](int id) {
        const CControlTemplate* c = layout.FindControl(id);
        return CDialogBuilder::MapDialogRect(QRect(c->m_nX, c->m_nY, c->m_nWidth, c->m_nHeight), baseX, baseY);
    };
    QCOMPARE(icon.left(), placed(1010).left());
    QVERIFY(icon.top() > placed(1010).top());
    QVERIFY(picture.left() > placed(1033).left());
    QVERIFY(picture.top() > placed(1033).top());
}

QTEST_MAIN(TestLargeFonts)
#include "tst_largefonts.moc"

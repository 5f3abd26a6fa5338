// The Songs window on song files written by the real WAV writer: a cut moved with the
// mouse and the keyboard, undone and redone with the keys, Play without an output
// device, a title typed into the table, an export with its progress and cancel, and the
// clicks the close-up marks, Play repaired and the export's Remove clicks.
#include "app/SongsDlg.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include "app/Appearance.h"
#include "app/ExportDlg.h"
#include "app/WaveView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <fstream>

namespace {

constexpr int kWait = 60000;  // bound of every wait for a background job
constexpr int64_t kCut = 132300;  // 3 s at 44100 Hz: where the test's first song ends

// Side1.wav (2 s of tone, 1 s of silence) and Side2.wav (0.5 s of silence, then tone),
// each song lasting `seconds` more of tone when asked.
bool WriteSongs(const CAppTestPlace& place, double seconds = 0.0)
{
    return WriteWav(place.Path("Side1.wav"), MakeSong({{2.0 + seconds, 0.5}, {1.0, 0.0}})) &&
           WriteWav(place.Path("Side2.wav"), MakeSong({{0.5, 0.0}, {2.0 + seconds, 0.5}}));
}

// The colour of problems in the status lines.
QColor Red()
{
    return CAppearance::StatusPalette(QApplication::palette()).color(QPalette::WindowText);
}

QPoint At(CWaveView* view, int64_t nFrame)
{
    return QPoint(static_cast<int>(std::lround(view->FrameToX(nFrame))), view->height() / 2);
}

}  // namespace

class TestSongsDlg : public QObject {
    Q_OBJECT
private:
    // Works the export window as a user: types the folder and presses Export; the
    // first time waits for the end, the second time cancels at once.
    void RunExport(CExportDlg& exp, const QString& folder, bool bToTheEnd)
    {
        exp.show();
        QLineEdit* edit = exp.GetFolderEdit();
        edit->selectAll();
        QTest::keyClicks(edit, folder);
        QSignalSpy progress(exp.GetProgressBar(), &QProgressBar::valueChanged);
        QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
        // While it runs the fields are locked and the other button cancels.
        QVERIFY(!exp.GetExportButton()->isEnabled());
        QCOMPARE(exp.GetCancelButton()->text(), QString("Cancel"));
        if (bToTheEnd) {
            QTRY_VERIFY_WITH_TIMEOUT(!exp.IsExporting(), kWait);
            QCOMPARE(exp.GetReportLabel()->text(), QString("2 files written to %1.").arg(folder));
            QVERIFY(exp.GetReportLabel()->palette().color(QPalette::WindowText) != Red());
            QCOMPARE(exp.GetProgressBar()->value(), exp.GetProgressBar()->maximum());
            int last = 0;
            for (const QList<QVariant>& v : progress) {
                QVERIFY(v[0].toInt() >= last);
                last = v[0].toInt();
            }
        } else {
            QTest::mouseClick(exp.GetCancelButton(), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!exp.IsExporting(), kWait);
            QVERIFY(exp.GetReportLabel()->text().startsWith("Cancelled after "));
            QVERIFY(exp.GetExportButton()->isEnabled());
        }
    }

    // Ticks Remove clicks (its sensitivity opens to changes) and exports to the end.
    void RunRepairExport(CExportDlg& exp, const QString& folder)
    {
        exp.show();
        QVERIFY(!exp.GetDeclickBox()->isChecked());
        QVERIFY(!exp.GetDeclickLevelBox()->isEnabled());
        QCOMPARE(exp.GetDeclickLevelBox()->currentText(), QString("Strong"));
        QTest::mouseClick(exp.GetDeclickBox(), Qt::LeftButton);
        QVERIFY(exp.GetDeclickLevelBox()->isEnabled());
        exp.GetFolderEdit()->setText(folder);
        QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
        QVERIFY(!exp.GetDeclickBox()->isEnabled() && !exp.GetDeclickLevelBox()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!exp.IsExporting(), kWait);
        QCOMPARE(exp.GetReportLabel()->text(),
                 QString("2 files written to %1. Clicks repaired: 1 in song 1, 1 in song 2.").arg(folder));
        QVERIFY(exp.GetDeclickLevelBox()->isEnabled());
    }

private slots:
    void MoveCut_DragNudgeUndoRedo()
    {
        CAppTestPlace place;
        QVERIFY(WriteSongs(place));
        CScriptedPrompt prompt;
        CSongsDlg dlg(&prompt);
        dlg.SetOutputDevice(9999);  // no such device, as on a machine without sound
        QVERIFY(dlg.Open(place.Path("Side.wav")));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.IsOverviewReady(), kWait);
        QCOMPARE(dlg.GetTable()->rowCount(), 2);

        // Play says why there is no sound, and the window goes on.
        QTest::mouseClick(dlg.GetButton("play"), Qt::LeftButton);
        QCOMPARE(dlg.GetStatus()->text(), QString("No sound output device is available."));
        QVERIFY(prompt.boxes.empty());

        // The close-up shows the first cut; drag its marker 40 pixels to the left.
        CWaveView* view = dlg.GetCloseUp();
        QCOMPARE(view->GetPickedCut(), 1);
        const QPoint from = At(view, kCut);
        const QPoint to = from - QPoint(40, 0);
        const int64_t nDropped = view->XToFrame(to.x());
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(view, from - QPoint(20, 0));
        QTest::mouseMove(view, to);
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, to);
        QVERIFY2(prompt.boxes.empty(), prompt.boxes.empty() ? "" : prompt.boxes[0].text.c_str());
        QVERIFY(nDropped < kCut - 1000);
        QCOMPARE(dlg.GetAlbum().GetSongStart(2), nDropped);
        QCOMPARE(WavDataBytes(place.Path("Side1.wav")), nDropped * 4);
        QCOMPARE(WavDataBytes(place.Path("Side2.wav")), (5.5 * 44100 - nDropped) * 4);

        // Ctrl+Z puts the cut back, Ctrl+Shift+Z moves it again.
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(WavDataBytes(place.Path("Side1.wav")), kCut * 4);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(WavDataBytes(place.Path("Side1.wav")), nDropped * 4);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(dlg.GetAlbum().GetSongStart(2), kCut);

        // Right nudges by 10 ms, Shift+Left by one frame: one edit per key let go.
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(dlg.GetAlbum().GetSongStart(2), kCut + 441);
        QTest::keyClick(view, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(dlg.GetAlbum().GetSongStart(2), kCut + 440);
        QCOMPARE(WavDataBytes(place.Path("Side1.wav")), (kCut + 440) * 4);

        // Split cuts the song under the cursor at the cursor (placed with a click);
        // Join removes the picked cut again.
        const int64_t nSplitAt = view->XToFrame(At(view, kCut + 44100).x());
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, At(view, kCut + 44100));
        QTest::mouseClick(dlg.GetButton("split"), Qt::LeftButton);
        QCOMPARE(dlg.GetTable()->rowCount(), 3);
        QCOMPARE(dlg.GetAlbum().GetSongStart(3), nSplitAt);
        QCOMPARE(view->GetPickedCut(), 2);
        QTest::mouseClick(dlg.GetButton("join"), Qt::LeftButton);
        QCOMPARE(dlg.GetTable()->rowCount(), 2);
        QCOMPARE(dlg.GetAlbum().GetSongStart(2), kCut + 440);
        // The joined cut is no longer named above the close-up; a hint shown in red goes
        // with the next edit that is done.
        QCOMPARE(dlg.findChild<QLabel*>("closeUpLabel")->text(), QString("Click a cut above to look at it closely."));
        QTest::mouseClick(dlg.GetButton("join"), Qt::LeftButton);
        QCOMPARE(dlg.GetStatus()->text(), QString("Click the cut to remove first."));
        QCOMPARE(dlg.GetStatus()->palette().color(QPalette::WindowText), Red());
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, At(view, kCut + 44100));
        QTest::mouseClick(dlg.GetButton("split"), Qt::LeftButton);
        QCOMPARE(dlg.GetStatus()->text(), QString());
        QTest::mouseClick(dlg.GetButton("join"), Qt::LeftButton);
        QCOMPARE(dlg.GetAlbum().GetSongCount(), 2);

        // While a recording to this base runs, a nudge is refused with the reason and
        // the marker goes back.
        dlg.SetRecordingCheck([] { return true; });
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, At(view, kCut + 440));
        QCOMPARE(view->GetPickedCut(), 1);
        QTest::keyClick(view, Qt::Key_Right);
        QCOMPARE(prompt.boxes.size(), size_t(1));
        QCOMPARE(prompt.boxes[0].text, place.Path("Side.wav") +
                                           " is being recorded: its songs cannot be edited until the recording stops.");
        QCOMPARE(prompt.boxes[0].caption, std::string("Songs"));
        QCOMPARE(view->GetCutFrame(1), kCut + 440);
        QCOMPARE(WavDataBytes(place.Path("Side1.wav")), (kCut + 440) * 4);
        prompt.boxes.clear();

        // The files say the same to a window opened afresh.
        CSongsDlg again(&prompt);
        QVERIFY(again.Open(place.Path("Side.wav")));
        QCOMPARE(again.GetAlbum().GetSongStart(2), kCut + 440);
        QVERIFY(prompt.boxes.empty());
    }

    // Beside the main window where the screen has room: the side with more of it, as wide
    // as it allows down to the smallest width, kept on the screen; nowhere without room.
    void Beside_TheSideWithRoom()
    {
        const QSize frame(10, 30), want(900, 640), least(720, 400);
        const QRect screen(0, 0, 1920, 1050);
        struct Case {
            QRect main, expected;
        } cases[] = {
            {QRect(100, 200, 470, 300), QRect(570, 200, 900, 640)},   // right
            {QRect(1400, 900, 470, 300), QRect(490, 380, 900, 640)},  // left, raised to fit
            {QRect(600, 100, 470, 300), QRect(1070, 100, 840, 640)},  // narrower, right
            {QRect(710, 100, 470, 300), QRect(1180, 100, 730, 640)},  // narrower still
            {QRect(725, 100, 470, 300), QRect()},                     // 720 fits neither side
        };
        for (const Case& c : cases)
            QCOMPARE(CSongsDlg::Beside(screen, c.main, frame, want, least), c.expected);
    }

    // Clicks in both songs near the cut: the close-up marks them at the sensitivity
    // chosen beside it, Play repaired plays them mended and nothing else changed, and the
    // export window, remembering that sensitivity, removes them and counts them per song.
    void Repair_MarkedPlayedAndExported()
    {
        CAppTestPlace place;
        std::vector<int16_t> one = MakeSong({{2.0, 0.5}, {1.0, 0.0}});
        std::vector<int16_t> two = MakeSong({{0.5, 0.0}, {2.0, 0.5}});
        const int64_t clicks[] = {44100 + 123, kCut + 44100 + 77};  // album frames, left channel
        for (int64_t c : clicks) {
            std::vector<int16_t>& song = c < kCut ? one : two;
            const size_t at = static_cast<size_t>(2 * (c < kCut ? c : c - kCut));
            for (int i = 0; i < 6; ++i)
                song[at + 2 * i] = static_cast<int16_t>(std::clamp(song[at + 2 * i] + (i % 2 ? -9000 : 15000) * std::exp(-i / 3.0), -32768.0, 32767.0));
        }
        QVERIFY(WriteWav(place.Path("Side1.wav"), one) && WriteWav(place.Path("Side2.wav"), two));
        CScriptedPrompt prompt;
        CSongsDlg dlg(&prompt);
        dlg.SetOutputDevice(9999);
        dlg.SetStore(place.store.get());
        QVERIFY(dlg.Open(place.Path("Side.wav")));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.IsOverviewReady(), kWait);

        // The close-up round cut 1 marks the two clicks, and nothing else.
        const auto spans = dlg.GetCloseUp()->GetRepairs();
        QCOMPARE(spans.size(), size_t(2));
        for (size_t i = 0; i < 2; ++i) {
            QVERIFY(spans[i].first <= clicks[i] + 1 && spans[i].second >= clicks[i] + 4);
            QVERIFY(spans[i].second - spans[i].first < 40);
        }
        QCOMPARE(dlg.GetRepairLabel()->text(), QString("2 clicks to repair here"));

        // Play round the second click: as recorded, then, ticked, repaired at those
        // samples only.
        QTest::mouseClick(dlg.GetCloseUp(), Qt::LeftButton, Qt::NoModifier, At(dlg.GetCloseUp(), clicks[1]));
        QTest::mouseClick(dlg.GetButton("play"), Qt::LeftButton);
        const std::vector<float> plain = dlg.GetPlayedSamples();
        QTest::mouseClick(dlg.GetPlayRepairedBox(), Qt::LeftButton);
        QVERIFY(dlg.GetPlayRepairedBox()->isChecked());
        QTest::mouseClick(dlg.GetButton("play"), Qt::LeftButton);
        const std::vector<float> repaired = dlg.GetPlayedSamples();
        QCOMPARE(repaired.size(), plain.size());
        QVERIFY(plain.size() > 4 * 44100);
        size_t nChanged = 0;
        for (size_t i = 0; i < plain.size(); ++i) {
            const int64_t nFrame = dlg.GetPlayedFirst() + static_cast<int64_t>(i / 2);
            if (plain[i] == repaired[i]) continue;
            ++nChanged;
            QVERIFY2(i % 2 == 0 && nFrame >= spans[1].first && nFrame < spans[1].second, qPrintable(QString::number(nFrame)));
        }
        QVERIFY(nChanged >= 4);
        const size_t nClick = static_cast<size_t>(2 * (clicks[1] - dlg.GetPlayedFirst()));
        QVERIFY(std::fabs(plain[nClick] - repaired[nClick]) > 0.3f && std::fabs(repaired[nClick]) <= 0.52f);

        // Strong, chosen with the keyboard, is kept in the settings for the export.
        QComboBox* level = dlg.GetClickLevelBox();
        QCOMPARE(level->currentText(), QString("Normal"));
        level->setFocus();
        QTest::keyClick(level, Qt::Key_Down);
        QCOMPARE(level->currentText(), QString("Strong"));
        QCOMPARE(place.store->value(CExportDlg::kDeclickLevelKey).toString(), QString("strong"));

        const QString folder = QString::fromStdString(place.Path("out"));
        dlg.SetDialogRunner([&](QDialog& d) {
            RunRepairExport(static_cast<CExportDlg&>(d), folder);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(dlg.GetButton("export"), Qt::LeftButton);
        if (QTest::currentTestFailed()) return;
        CExportDlg next(dlg.GetAlbum().GetLayout());
        next.SetStore(place.store.get());
        QVERIFY(next.GetDeclickBox()->isChecked());
        QCOMPARE(next.GetDeclickLevelBox()->currentText(), QString("Strong"));
    }

    void Export_TitleProgressAndCancel()
    {
        CAppTestPlace place;
        QVERIFY(WriteSongs(place, 30.0));
        CScriptedPrompt prompt;
        CSongsDlg dlg(&prompt);
        QVERIFY(dlg.Open(place.Path("Side.wav")));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        // A title typed into the table is the song's title.
        QTableWidget* table = dlg.GetTable();
        const QRect cell = table->visualItemRect(table->item(0, 1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        QVERIFY(QApplication::focusWidget() != table);
        QTest::keyClicks(QApplication::focusWidget(), "Intro");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(QString::fromStdString(dlg.GetAlbum().GetSongs()[0].strTitle), QString("Intro"));

        const QString folder = QString::fromStdString(place.Path("out"));
        int nRuns = 0;
        dlg.SetStore(place.store.get());
        QString remembered;
        dlg.SetDialogRunner([&](QDialog& d) {
            auto& exp = static_cast<CExportDlg&>(d);
            if (nRuns == 1) {  // the second time: the folder used before, and Trim is ticked
                remembered = exp.GetFolderEdit()->text();
                QTest::mouseClick(exp.GetTrimBox(), Qt::LeftButton);
            }
            RunExport(exp, folder, nRuns++ == 0);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(dlg.GetButton("export"), Qt::LeftButton);
        if (QTest::currentTestFailed()) return;
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"01 Intro.flac", "02 Side2.flac"}));

        // A cancelled export leaves nothing half-written under a final name: only the
        // files it finished, whole.
        QVERIFY(QDir(folder).removeRecursively());
        QTest::mouseClick(dlg.GetButton("export"), Qt::LeftButton);
        if (QTest::currentTestFailed()) return;
        QCOMPARE(nRuns, 2);
        QCOMPARE(remembered, folder);
        CExportDlg next(dlg.GetAlbum().GetLayout());
        next.SetStore(place.store.get());
        QCOMPARE(next.GetFolderEdit()->text(), folder);
        QVERIFY(next.GetTrimBox()->isChecked());
        for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(name == "01 Intro.flac", qPrintable(name));

        // A file in the way is replaced only when the user says so.
        QVERIFY(QDir().mkpath(folder));
        std::ofstream(place.Path("out/01 Intro.flac")) << "kept";
        prompt.answers.push_back(PromptAnswer::No);
        dlg.SetDialogRunner([&](QDialog& d) {
            auto& exp = static_cast<CExportDlg&>(d);
            exp.show();
            exp.GetFolderEdit()->selectAll();
            QTest::keyClicks(exp.GetFolderEdit(), folder);
            QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(dlg.GetButton("export"), Qt::LeftButton);
        QCOMPARE(prompt.boxes.size(), size_t(1));
        QCOMPARE(prompt.boxes.back().caption, std::string("Export"));
        QCOMPARE(prompt.boxes.back().text, "This file exists already:\n" + place.Path("out/01 Intro.flac") +
                                               "\n\nDo you want to replace them?");
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"01 Intro.flac"}));
        std::ifstream in(place.Path("out/01 Intro.flac"));
        std::string strKept;
        in >> strKept;
        QCOMPARE(strKept, std::string("kept"));
    }
};

QTEST_MAIN(TestSongsDlg)
#include "tst_songsdlg.moc"

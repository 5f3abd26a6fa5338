// Whole recordings through the main window, from a recording on disk fed through the
// capture device at the pace of a sound card: Record, the progress on the window, the
// LEDs, a cut, Stop, Exit during a recording, and the minimised window.
#include "app/RecorderDlg.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include "controls/LedBar.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdio>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWait = 60000;  // bound of every wait for the worker; never reached when all is well

QString Text(CRecorderDlg& dlg, int id) { return qobject_cast<QLabel*>(dlg.GetControl(id))->text(); }

bool AnyLedLit(CLedBar* bar)
{
    for (int j = 0; j < bar->GetCellCount() - 1; ++j)
        if (bar->GetCell(j).on) return true;
    return false;
}

bool NoLedLit(CLedBar* bar)
{
    for (int j = 0; j < bar->GetCellCount(); ++j)
        if (bar->GetCell(j).on) return false;
    return true;
}

// Enabled state of every control of the state table; Recording reverses the first five.
void CheckControls(CRecorderDlg& dlg, bool bRecording)
{
    for (int id : {1002, 1004, 1000, 1003, 1018})
        QVERIFY2(dlg.GetControl(id)->isEnabled() == !bRecording, qPrintable(QString::number(id)));
    QCOMPARE(dlg.GetControl(1011)->isEnabled(), bRecording);
    for (int id : {1, 57670, 1031, 1001, 1010})
        QVERIFY2(dlg.GetControl(id)->isEnabled(), qPrintable(QString::number(id)));
}

// A place whose store names base file Song.wav in the test folder and short gap rules:
// Gap Size 1 s, Min Song 2 s, End Gap 5 s.
void PrepareStore(CAppTestPlace& place)
{
    QSettings& s = *place.store;
    s.beginGroup("Version 1");
    s.setValue("OutfileName0", QString::fromStdString(place.Path("Song.wav")));
    s.setValue("Gap Size", -1764);
    s.setValue("Min Song Size", -353);
    s.setValue("End Size", -882);
    s.endGroup();
    s.sync();
}

// The prepared place, the scripted prompt, and a window recording from source.wav,
// a tone of the given (seconds, amplitude) pieces.
struct CFedWindow {
    CAppTestPlace place;
    CScriptedPrompt prompt;
    std::unique_ptr<CRecorderDlg> pDlg;
    bool bFed = false;  // the source was written and the window reads it

    CFedWindow() { PrepareStore(place); }
    // bPaced: fed at the pace of a sound card.
    CRecorderDlg& Open(const std::vector<std::pair<double, double>>& pieces, bool bPaced = true)
    {
        const std::string source = place.Path("source.wav");
        const bool bWritten = WriteWav(source, MakeSong(pieces));
        pDlg = std::make_unique<CRecorderDlg>(&prompt, place.store.get(), place.Dir());
        bFed = bWritten && pDlg->UseCaptureFile(source, bPaced);
        pDlg->GetSession().SetStopWaitMs(0);
        return *pDlg;
    }
};

}  // namespace

class TestRecording : public QObject {
    Q_OBJECT
private slots:
    void WholeRecording_RecordCutStop()
    {
        CFedWindow w;
        // Song one 2.5 s, a 1.5 s silence, then song two (with a few clipped samples).
        CRecorderDlg& dlg = w.Open({{2.5, 0.5}, {1.5, 0.0}, {0.2, 1.2}, {6.0, 0.5}});
        QVERIFY(w.bFed);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        CheckControls(dlg, false);

        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1000)), Qt::LeftButton);
        QVERIFY2(dlg.GetSession().IsRecording(), w.prompt.boxes.empty() ? "" : w.prompt.boxes[0].text.c_str());
        CheckControls(dlg, true);

        // Progress: the four status fields, the turning record and the LEDs.
        QTRY_COMPARE_WITH_TIMEOUT(Text(dlg, 1015), QString("Cur File: Song1.wav"), kWait);
        const QRegularExpression songTime("^Song Time  \\d\\d:\\d\\d$"), totalTime("^Total Time  \\d\\d:\\d\\d$");
        QVERIFY(songTime.match(Text(dlg, 1016)).hasMatch());
        QVERIFY(totalTime.match(Text(dlg, 1017)).hasMatch());
        QVERIFY(Text(dlg, 1020).startsWith("Clipped Pts: "));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.IsStatusPictureActive(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsStatusPictureActive(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(AnyLedLit(dlg.GetLedBar(0)) && AnyLedLit(dlg.GetLedBar(1)), kWait);

        // The silence cuts: the next song goes to Song2.wav, its time starting again.
        QTRY_COMPARE_WITH_TIMEOUT(Text(dlg, 1015), QString("Cur File: Song2.wav"), kWait);
        QCOMPARE(Text(dlg, 1016), QString("Song Time  00:00"));
        QVERIFY(Text(dlg, 1017) != QString("Total Time  00:00"));
        QTRY_VERIFY_WITH_TIMEOUT(Text(dlg, 1020) != QString("Clipped Pts: 0"), kWait);
        CheckControls(dlg, true);

        // Escape neither stops the recording nor ends the window.
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QVERIFY(dlg.isVisible() && dlg.GetSession().IsRecording());

        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1011)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetSession().IsRecording(), kWait);
        CheckControls(dlg, false);
        QVERIFY(!dlg.IsStatusPictureActive());
        // The level record is idle again: the meter darkens the level LEDs.
        QTRY_VERIFY_WITH_TIMEOUT(NoLedLit(dlg.GetLedBar(0)) && NoLedLit(dlg.GetLedBar(1)), kWait);
        QVERIFY(w.prompt.boxes.empty());

        // Both files are complete WAV files holding what the session wrote to them.
        const std::vector<RecordSongFile> files = dlg.GetSession().GetSongFiles();
        QCOMPARE(files.size(), size_t(2));
        QCOMPARE(files[0].strPath, w.place.Path("Song1.wav"));
        QCOMPARE(files[1].strPath, w.place.Path("Song2.wav"));
        for (const RecordSongFile& f : files) {
            QVERIFY(f.nDataBytes > 0);
            QCOMPARE(WavDataBytes(f.strPath), f.nDataBytes);
            QCOMPARE(QFileInfo(QString::fromStdString(f.strPath)).size(), 44 + f.nDataBytes + (f.nDataBytes & 1));
        }
        // Song one lasted 2.5 s plus about the gap size: 3.5 s of 176400 bytes.
        QVERIFY(files[0].nDataBytes > 176400 * 3 && files[0].nDataBytes < 176400 * 4);

        // The window can record again at once.
        QVERIFY(dlg.GetControl(1000)->isEnabled());

        // The ended recording's songs are offered without taking the focus; the offer
        // opens them in the Songs window.
        QWidget* offer = dlg.GetSongsOffer();
        QVERIFY(offer && offer->isVisible());
        QCOMPARE(offer->findChild<QLabel*>("songsOfferText")->text(), QString("Song.wav: 2 songs recorded."));
        QVERIFY(QApplication::focusWidget() == nullptr || QApplication::focusWidget()->window() == &dlg);
        QTest::mouseClick(offer->findChild<QPushButton*>("songsOfferOpen"), Qt::LeftButton);
        QVERIFY(!offer->isVisible());
        QVERIFY(dlg.GetSongsDlg() && dlg.GetSongsDlg()->isVisible());
        QCOMPARE(dlg.GetSongsDlg()->GetAlbum().GetSongCount(), 2);
        QVERIFY(w.prompt.boxes.empty());
    }

    void ExitWhileRecording_CompletesLastFile()
    {
        CFedWindow w;
        CRecorderDlg& dlg = w.Open({{20.0, 0.5}});
        QVERIFY(w.bFed);
        dlg.show();
        dlg.OnRecord();
        QVERIFY(dlg.GetSession().IsRecording());
        QTRY_COMPARE_WITH_TIMEOUT(Text(dlg, 1015), QString("Cur File: Song1.wav"), kWait);

        // The songs of the running recording open to be looked at, not edited.
        QTimer::singleShot(0, &dlg, [] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) QTest::keyClick(menu, Qt::Key_S);
        });
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5), dlg.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&dlg, &menuEvent);
        QVERIFY(w.prompt.boxes.empty());
        QVERIFY(dlg.GetSongsDlg() && dlg.GetSongsDlg()->IsShowingRecording());
        QCOMPARE(dlg.GetSongsDlg()->GetAlbum().GetSongCount(), 0);

        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1)), Qt::LeftButton);
        QVERIFY(!dlg.GetSession().IsRecording());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
        const std::vector<RecordSongFile> files = dlg.GetSession().GetSongFiles();
        QCOMPARE(files.size(), size_t(1));
        QVERIFY(files[0].nDataBytes >= 65536);
        QCOMPARE(WavDataBytes(w.place.Path("Song1.wav")), files[0].nDataBytes);
        QCOMPARE(QFileInfo(QString::fromStdString(w.place.Path("Song1.wav"))).size(), 44 + files[0].nDataBytes);
        // Settings were saved after the recording ended.
        w.place.store->sync();
        w.place.store->beginGroup("Version 1");
        QCOMPARE(w.place.store->value("OutfileName0").toString().toStdString(), w.place.Path("Song.wav"));
        QCOMPARE(w.place.store->value("Min Song Size").toInt(), -353);
        QVERIFY(w.prompt.boxes.empty());
    }

    // The Songs window open on an earlier take follows a new one: the songs finished so
    // far, read-only, one more as each ends; the new take, editable, once it stops. A title
    // being typed when the main window closes is kept, with no box.
    void SongsWindow_FollowsTheTakeAndKeepsATitleBeingTyped()
    {
        CFedWindow w;
        QVERIFY(WriteWav(w.place.Path("Song1.wav"), MakeSong({{1.0, 0.5}})));
        QVERIFY(WriteWav(w.place.Path("Song2.wav"), MakeSong({{1.0, 0.5}})));
        CRecorderDlg& dlg = w.Open({{2.5, 0.5}, {1.5, 0.0}, {2.5, 0.5}, {1.5, 0.0}, {4.0, 0.5}});
        QVERIFY(w.bFed);
        dlg.show();
        dlg.OnSongs();
        CSongsDlg* songs = dlg.GetSongsDlg();
        QVERIFY(songs && !songs->IsShowingRecording());
        QCOMPARE(songs->GetAlbum().GetTotalFrames(), int64_t(2 * 44100));
        QLabel* line = songs->findChild<QLabel*>("recordingLine");
        QVERIFY(line && line->isHidden());
        // Moved and sized by the user.
        QVERIFY(QTest::qWaitForWindowExposed(songs));
        songs->setGeometry(songs->geometry().adjusted(20, 10, -60, -30));
        const QRect placed = songs->geometry();

        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1000)), Qt::LeftButton);
        QVERIFY(dlg.GetSession().IsRecording());
        w.prompt.boxes.clear();  // Yes to replacing the earlier take
        QTRY_VERIFY_WITH_TIMEOUT(songs->IsShowingRecording(), kWait);
        QCOMPARE(songs->GetAlbum().GetSongCount(), 0);
        QVERIFY(!line->isHidden());
        QCOMPARE(line->text(), QString("Being recorded: the songs finished so far, updated as each one ends. "
                                       "Editing opens when the recording stops."));
        QTRY_COMPARE_WITH_TIMEOUT(songs->GetAlbum().GetSongCount(), 1, kWait);
        QCOMPARE(songs->GetAlbum().GetSongs()[0].nFrames, WavDataBytes(w.place.Path("Song1.wav")) / 4);
        for (const char* name : {"snap", "join", "split", "export"}) QVERIFY2(!songs->GetButton(name)->isEnabled(), name);
        QTRY_COMPARE_WITH_TIMEOUT(songs->GetAlbum().GetSongCount(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetSession().IsRecording(), kWait);  // the input ends
        QVERIFY(!songs->IsShowingRecording() && line->isHidden());
        QCOMPARE(songs->GetAlbum().GetSongCount(), 3);
        QVERIFY(songs->GetButton("export")->isEnabled());
        QVERIFY(w.prompt.boxes.empty());

        // Double-click song 2's title, type without Enter, close the main window.
        QTableWidget* table = songs->GetTable();
        songs->activateWindow();
        const QPoint cell = table->visualItemRect(table->item(1, 1)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTRY_VERIFY(qobject_cast<QLineEdit*>(QApplication::focusWidget()));
        QTest::keyClicks(QApplication::focusWidget(), "Second");
        dlg.close();
        QVERIFY2(w.prompt.boxes.empty(), w.prompt.boxes.empty() ? "" : w.prompt.boxes[0].text.c_str());
        QFile cue(QString::fromStdString(w.place.Path("Song.cue")));
        QVERIFY(cue.open(QIODevice::ReadOnly));
        QVERIFY(cue.readAll().contains("TITLE \"Second\""));
        // The next Songs window opens where this one was.
        CSongsDlg next(&w.prompt);
        next.SetStore(w.place.store.get());
        next.PlaceBeside(&dlg);
        QCOMPARE(next.geometry(), placed);
    }

    void Minimised_PausesMeterAndTitleFollowsFile()
    {
        CFedWindow w;
        CRecorderDlg& dlg = w.Open({{20.0, 0.5}});
        QVERIFY(w.bFed);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(dlg.GetMeter().IsRunning());

        dlg.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.IsMinimised(), kWait);
        QVERIFY(!dlg.GetMeter().IsRunning());
        QVERIFY(dlg.GetMeter().WaitUntilPaused(std::chrono::milliseconds(kWait)));

        dlg.OnRecord();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.windowTitle(), QString("Song1.wav: Novu Cadenzo"), kWait);
        // While minimised the meter leaves the LEDs alone.
        const uint64_t ticks = dlg.GetMeter().GetTickCount();
        QTRY_VERIFY_WITH_TIMEOUT(Text(dlg, 1017) != QString("Total Time  00:00"), kWait);
        QCOMPARE(dlg.GetMeter().GetTickCount(), ticks);
        QVERIFY(NoLedLit(dlg.GetLedBar(0)));

        dlg.OnStop();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetSession().IsRecording(), kWait);
        QCOMPARE(dlg.windowTitle(), QString("DONE: Novu Cadenzo"));

        dlg.setWindowState(Qt::WindowNoState);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.IsMinimised(), kWait);
        QCOMPARE(dlg.windowTitle(), QString("Novu Cadenzo"));
        QVERIFY(dlg.GetMeter().IsRunning());
        QVERIFY(dlg.GetMeter().WaitForTicks(ticks + 2, std::chrono::milliseconds(kWait)));
    }

    void UnusableStoredFormat_RecordRefusesIt()
    {
        CFedWindow w;
        w.place.store->beginGroup("Version 1");
        w.place.store->setValue("Samples Per Sec", 0);
        w.place.store->setValue("Bits Per Sample", 7);
        w.place.store->endGroup();
        CRecorderDlg& dlg = w.Open({{1.0, 0.5}}, false);
        QVERIFY(w.bFed);
        QVERIFY(w.prompt.boxes.empty());  // restoring the values shows nothing
        QCOMPARE(dlg.GetSettingsValues().m_nSamplesPerSec, 0);

        dlg.OnRecord();
        QVERIFY(!dlg.GetSession().IsRecording());
        QCOMPARE(w.prompt.boxes.size(), size_t(1));
        QCOMPARE(w.prompt.boxes[0].caption, std::string("ERROR"));
        QCOMPARE(w.prompt.boxes[0].icon, PromptIcon::Stop);
        QVERIFY2(QString::fromStdString(w.prompt.boxes[0].text).startsWith("The recording format is not valid: 0 Hz, 7 bits"),
                 w.prompt.boxes[0].text.c_str());
        CheckControls(dlg, false);
        QVERIFY(!QFile::exists(QString::fromStdString(w.place.Path("Song1.wav"))));
    }

    // Watching the input: a click on the LED bars lights them with the live input and
    // writes nothing; a second click ends it; Record while watching records at once; the
    // bars do nothing while recording.
    void WatchingTheInput_LightsMetersWritesNothingAndHandsOverToRecord()
    {
        CFedWindow w;
        CRecorderDlg& dlg = w.Open({{30.0, 0.5}});
        QVERIFY(w.bFed);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QString song1 = QString::fromStdString(w.place.Path("Song1.wav"));

        QTest::mouseClick(dlg.GetLedBar(0), Qt::LeftButton);
        QVERIFY(dlg.IsMonitoring());
        QCOMPARE(Text(dlg, 1015), QString("Monitor: not recording"));
        QTRY_VERIFY_WITH_TIMEOUT(AnyLedLit(dlg.GetLedBar(0)) && AnyLedLit(dlg.GetLedBar(1)), kWait);
        // A number to aim for: the tone's peak, half of full scale (DC Block's filter,
        // which the recording writes too, moves it a little).
        const QRegularExpression peak("^Monitor: peak -(5\\.[5-9]|6\\.[0-4]) dBFS$");
        QTRY_VERIFY_WITH_TIMEOUT(peak.match(Text(dlg, 1015)).hasMatch(), kWait);
        QVERIFY(!QFile::exists(song1));
        CheckControls(dlg, false);

        QTest::mouseClick(dlg.GetLedBar(1), Qt::LeftButton);
        QVERIFY(!dlg.IsMonitoring());
        // Dark at once, not after the held peak has sunk.
        QVERIFY(NoLedLit(dlg.GetLedBar(0)) && NoLedLit(dlg.GetLedBar(1)));
        QTest::qWait(400);
        QTRY_VERIFY_WITH_TIMEOUT(NoLedLit(dlg.GetLedBar(0)) && NoLedLit(dlg.GetLedBar(1)), kWait);
        QVERIFY(Text(dlg, 1015) != QString("Monitor: not recording"));

        QTest::mouseClick(dlg.GetLedBar(0), Qt::LeftButton);
        QVERIFY(dlg.IsMonitoring());
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1000)), Qt::LeftButton);
        QVERIFY(!dlg.IsMonitoring());
        QVERIFY(dlg.GetSession().IsRecording());
        QTRY_COMPARE_WITH_TIMEOUT(Text(dlg, 1015), QString("Cur File: Song1.wav"), kWait);
        QTest::mouseClick(dlg.GetLedBar(0), Qt::LeftButton);
        QVERIFY(!dlg.IsMonitoring());
        QVERIFY(dlg.GetSession().IsRecording());

        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1011)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetSession().IsRecording(), kWait);
        QVERIFY(w.prompt.boxes.empty());
        // The recording began at the start of the input: watching consumed none of it.
        const std::vector<RecordSongFile> files = dlg.GetSession().GetSongFiles();
        QCOMPARE(files.size(), size_t(1));
        QVERIFY(files[0].nDataBytes >= 65536);
    }

    // End Gap (5 s) reached 5 s into a 7-s silence: the recording listens on, hears the
    // next song and goes on with nothing lost; the bar afterwards counts the files on disk
    // and says where and why it went on, and Cur File names a file that exists.
    void EndGapListening_GoesOnAndTellsWhere()
    {
        CFedWindow w;
        // Min Song 7 s: one cut in each silence.
        w.place.store->setValue("Version 1/Min Song Size", -1235);
        CRecorderDlg& dlg = w.Open({{2.5, 0.5}, {7.0, 0.0}, {3.0, 0.5}, {8.0, 0.0}}, false);
        QVERIFY(w.bFed);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1000)), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetSession().IsRecording(), kWait);
        QVERIFY(w.prompt.boxes.empty());
        const std::vector<RecordSongFile> files = dlg.GetSession().GetSongFiles();
        QCOMPARE(files.size(), size_t(3));
        QVERIFY(files[2].bDeleted);  // the closing silence
        // Both songs and the whole silence between them, once.
        QCOMPARE(files[0].nDataBytes + files[1].nDataBytes, files[2].nStartByte);
        QVERIFY(files[2].nStartByte > int64_t(176400 * 12.5));
        QCOMPARE(WavDataBytes(files[1].strPath), files[1].nDataBytes);
        QCOMPARE(Text(dlg, 1015), QString("Cur File: Song2.wav"));
        QWidget* offer = dlg.GetSongsOffer();
        QVERIFY(offer && offer->isVisible());
        QCOMPARE(offer->findChild<QLabel*>("songsOfferText")->text(),
                 QString("Song.wav: 2 songs recorded. It went on past End Gap: sound came back at 00:02 in "
                         "Song2.wav after 7 s of silence."));
        if (qEnvironmentVariableIsSet("CADENZO_SHOT")) {
            // A look at the window as the user sees it (scripts take the picture now).
            std::printf("READY\n");
            std::fflush(stdout);
            QTest::qWait(qEnvironmentVariableIntValue("CADENZO_SHOT"));
        }
    }

    // A device that cannot be opened: the device's message, and the device stays closed.
    void WatchingTheInput_DeviceFailureIsToldAndNothingRuns()
    {
        CFedWindow w;
        CRecorderDlg& dlg = w.Open({{1.0, 0.5}});
        dlg.GetWaveIn().UseSoundCard();
        dlg.GetWaveIn().SetDevice(9999);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mouseClick(dlg.GetLedBar(0), Qt::LeftButton);
        QVERIFY(!dlg.IsMonitoring());
        QCOMPARE(w.prompt.boxes.size(), size_t(1));
        QCOMPARE(w.prompt.boxes[0].text, std::string("Sorry, sound card does not support this RECORD WAV format.\n"));
        QCOMPARE(w.prompt.boxes[0].caption, std::string("ERROR"));
        QCOMPARE(w.prompt.boxes[0].icon, PromptIcon::Stop);
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"

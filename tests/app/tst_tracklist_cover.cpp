// The Songs window's Paste Track List and the export window's formats and cover, worked
// with the mouse and the keyboard.
#include "app/SongsDlg.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include "app/ExportDlg.h"
#include "app/TrackListDlg.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <fstream>

class TestTrackListCover : public QObject {
    Q_OBJECT
private:
    // Works the export window: MP3, a text file refused as cover, then a PNG.
    void WorkExport(CExportDlg& exp, const CAppTestPlace& place, const QString& folder)
    {
        exp.show();
        QVERIFY(exp.GetReplayGainBox()->isChecked());
        QTest::mouseClick(exp.GetFormatButton(CExportFormat::Mp3), Qt::LeftButton);
        exp.GetFolderEdit()->selectAll();
        QTest::keyClicks(exp.GetFolderEdit(), folder);
        QTest::keyClicks(exp.GetCoverEdit(), QString::fromStdString(place.Path("notes.png")));
        QVERIFY(exp.GetCoverPreview()->pixmap().isNull());
        QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
        QCOMPARE(exp.GetReportLabel()->text(),
                 QString::fromStdString(place.Path("notes.png") + " is not a JPEG or PNG image."));
        exp.GetCoverEdit()->selectAll();
        QTest::keyClicks(exp.GetCoverEdit(), QString::fromStdString(place.Path("front.png")));
        QVERIFY(!exp.GetCoverPreview()->pixmap().isNull());
        QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!exp.IsExporting(), 60000);
        QCOMPARE(exp.GetReportLabel()->text(), QString("2 files written to %1.").arg(folder));
    }

private slots:
    void PasteTrackList_ThenExportMp3WithCover()
    {
        CAppTestPlace place;
        QVERIFY(WriteWav(place.Path("Side1.wav"), MakeSong({{2.0, 0.5}})));
        QVERIFY(WriteWav(place.Path("Side2.wav"), MakeSong({{2.0, 0.5}})));
        CScriptedPrompt prompt;
        CSongsDlg dlg(&prompt);
        QVERIFY(dlg.Open(place.Path("Side.wav")));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        // One line too many: nothing changes, and the box says why.
        QApplication::clipboard()->setText("A1 Opening 0:02\nA2 Closing 0:02\nA3 Encore\n");
        int nRuns = 0;
        dlg.SetDialogRunner([&](QDialog& d) {
            auto& list = static_cast<CTrackListDlg&>(d);
            list.show();
            if (nRuns++ == 0) {
                if (list.GetSummary()->text() != "3 tracks for 2 songs.") return int(QDialog::Rejected);
            } else {
                // The user deletes the last line.
                QTest::mouseClick(list.GetTextEdit()->viewport(), Qt::LeftButton);
                QTest::keyClick(list.GetTextEdit(), Qt::Key_End, Qt::ControlModifier);
                QTest::keyClick(list.GetTextEdit(), Qt::Key_Backspace);
                for (int i = 0; i < 10; ++i) QTest::keyClick(list.GetTextEdit(), Qt::Key_Backspace);
            }
            QTest::mouseClick(list.GetSetButton(), Qt::LeftButton);
            return list.result();
        });
        QTest::mouseClick(dlg.GetButton("tracklist"), Qt::LeftButton);
        QCOMPARE(prompt.boxes.size(), size_t(1));
        QCOMPARE(prompt.boxes[0].text, std::string("Side A has 2 songs, the track list 3: split a song, or fit the cuts."));
        QCOMPARE(prompt.boxes[0].caption, std::string("Songs"));
        QCOMPARE(dlg.GetAlbum().GetSongs()[0].strTitle, std::string());
        QTest::mouseClick(dlg.GetButton("tracklist"), Qt::LeftButton);
        QCOMPARE(prompt.boxes.size(), size_t(1));
        QCOMPARE(dlg.GetAlbum().GetSongs()[0].strTitle, std::string("Opening"));
        QCOMPARE(dlg.GetAlbum().GetSongs()[1].strTitle, std::string("Closing"));

        // Fit Cuts on songs with no quiet between them: the box says first that nothing
        // changed, and lists no move.
        QApplication::clipboard()->setText("A1 Opening 0:01\nA2 Closing 0:01\nA3 Encore 0:02\n");
        dlg.SetDialogRunner([&](QDialog& d) {
            auto& list = static_cast<CTrackListDlg&>(d);
            list.show();
            QTest::mouseClick(list.GetFitButton(), Qt::LeftButton);
            return list.result();
        });
        QTest::mouseClick(dlg.GetButton("tracklist"), Qt::LeftButton);
        QCOMPARE(prompt.boxes.size(), size_t(2));
        QCOMPARE(prompt.boxes[1].caption, std::string("Fit Cuts to Track List"));
        QVERIFY(prompt.boxes[1].icon == PromptIcon::Exclamation);
        QCOMPARE(prompt.boxes[1].text,
                 std::string("Nothing on side A was changed: it has 2 songs, the track list 3, and 2 of the 2 cuts the "
                             "track list asks for could not be placed.\n"
                             "Side A: the end of song 1 (expected at 0:01.0) has no quiet within 5 s.\n"
                             "Side A: the end of song 2 (expected at 0:02.0) has no quiet within 5 s.\n"));
        QCOMPARE(dlg.GetAlbum().GetSongCount(), 2);
        QCOMPARE(dlg.GetAlbum().GetSongs()[1].strTitle, std::string("Closing"));

        // Export: MP3, a text file refused as cover, then a PNG.
        std::ofstream(place.Path("notes.png")) << "not a picture";
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(QString::fromStdString(place.Path("front.png"))));
        const QString folder = QString::fromStdString(place.Path("out"));
        dlg.SetDialogRunner([&](QDialog& d) {
            WorkExport(static_cast<CExportDlg&>(d), place, folder);
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(dlg.GetButton("export"), Qt::LeftButton);
        if (QTest::currentTestFailed()) return;
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"01 Opening.mp3", "02 Closing.mp3", "cover.png"}));
    }
};

QTEST_MAIN(TestTrackListCover)
#include "tst_tracklist_cover.moc"

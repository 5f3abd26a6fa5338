// The Songs window's sides worked with the mouse: a side added (the recording just ended
// offered first), its end marked in the overview and never picked as a cut, sides
// reordered and one removed with its files left.
#include "app/SongsDlg.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include "app/ExportDlg.h"
#include "app/WaveView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <fstream>

class TestSides : public QObject {
    Q_OBJECT
private:
    static void ClickRow(QTableWidget* pTable, int nRow)
    {
        const QRect cell = pTable->visualRect(pTable->model()->index(nRow, 1));
        QTest::mouseClick(pTable->viewport(), Qt::LeftButton, {}, cell.center());
    }

    // The first export window: a file that is no picture, then front.png, each exported;
    // later ones export with what the Cover field holds.
    static void WorkExport(CExportDlg& exp, CSongsDlg& dlg, const CAppTestPlace& place, QStringList* pSeen)
    {
        exp.show();
        *pSeen << exp.GetCoverEdit()->text();
        exp.GetFolderEdit()->selectAll();
        QTest::keyClicks(exp.GetFolderEdit(), QString::fromStdString(place.Path("out")));
        if (pSeen->size() == 1) {
            exp.GetCoverEdit()->selectAll();
            QTest::keyClicks(exp.GetCoverEdit(), QString::fromStdString(place.Path("notes.png")));
            QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
            QCOMPARE(exp.GetReportLabel()->text(),
                     QString::fromStdString(place.Path("notes.png") + " is not a JPEG or PNG image."));
            QCOMPARE(dlg.GetAlbum().GetCover(), std::string());
            exp.GetCoverEdit()->selectAll();
            QTest::keyClicks(exp.GetCoverEdit(), QString::fromStdString(place.Path("front.png")));
        } else {
            QTest::mouseClick(exp.GetTrimBox(), Qt::LeftButton);
        }
        QTest::mouseClick(exp.GetExportButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!exp.IsExporting(), 60000);
        QString text = QString("2 files written to %1.").arg(QString::fromStdString(place.Path("out")));
        // Each side's lead-in and lead-out trimmed: the songs are sound from end to end.
        if (pSeen->size() > 1) {
            text += "\nSide A: trimmed 0.0 s before its first song and 0.0 s after its last.\n"
                    "Side B: trimmed 0.0 s before its first song and 0.0 s after its last.";
            exp.grab().save("tst_sides_export.png");
        }
        QCOMPARE(exp.GetReportLabel()->text(), text);
    }

private slots:
    void AddSide_MarkedInTheOverview_MovedAndRemoved()
    {
        CAppTestPlace place;
        for (const char* name : {"Side A1.wav", "Side A2.wav", "Side B1.wav", "Side B2.wav", "Side B3.wav"})
            QVERIFY(WriteWav(place.Path(name), MakeSong({{1.0, 0.0}, {2.0, 0.5}, {1.0, 0.0}})));
        CScriptedPrompt prompt;
        CSongsDlg dlg(&prompt);
        QVERIFY(dlg.Open(place.Path("Side A.wav")));
        dlg.SetLastRecording(place.Path("Side B.wav"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.GetSides()->rowCount(), 1);
        QVERIFY(!dlg.GetButton("removeSide")->isEnabled());

        // Add Side...: the recording just ended comes first; the user takes it.
        QStringList offered;
        dlg.SetDialogRunner([&](QDialog& d) {
            d.show();
            auto* pName = d.findChild<QComboBox*>("sideName");
            for (int i = 0; pName && i < pName->count(); ++i) offered << pName->itemText(i);
            QTest::mouseClick(d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
            return d.result();
        });
        QTest::mouseClick(dlg.GetButton("addSide"), Qt::LeftButton);
        QCOMPARE(offered, QStringList({"Side B.wav"}));
        QCOMPARE(prompt.boxes.size(), size_t(0));
        CRecord& record = dlg.GetAlbum();
        QCOMPARE(record.GetSideCount(), 2);
        QCOMPARE(record.GetSongCount(), 5);
        QCOMPARE(record.GetPath(), place.Path("Side A record.cue"));
        QVERIFY(QFile::exists(QString::fromStdString(record.GetPath())));
        QCOMPARE(dlg.GetTable()->item(2, 0)->text(), QString("3  B1"));

        // The end of side A is marked, and a click on it only looks there.
        QVERIFY(dlg.GetOverview()->IsSideEnd(2));
        QTRY_VERIFY_WITH_TIMEOUT(dlg.IsOverviewReady(), 20000);
        CWaveView* pOverview = dlg.GetOverview();
        const int nX = static_cast<int>(pOverview->FrameToX(record.GetSongStart(3)));
        QTest::mouseClick(pOverview, Qt::LeftButton, {}, QPoint(nX, pOverview->height() / 2));
        QCOMPARE(pOverview->GetPickedCut(), 0);
        QCOMPARE(dlg.findChild<QLabel*>("closeUpLabel")->text(), QString("Side A ends after song 2; side B begins"));
        dlg.grab().save("tst_sides.png");

        // The record file cannot be written: the box says why and the tick stays off.
        record.SetFaultHook([](const std::string& strStep) {
            if (strStep.compare(0, 12, "put the new ") != 0) return true;
            errno = EIO;
            return false;
        });
        QTest::mouseClick(dlg.findChild<QCheckBox*>("vinyl"), Qt::LeftButton);
        record.SetFaultHook({});
        QCOMPARE(prompt.boxes.size(), size_t(1));
        QCOMPARE(prompt.boxes[0].caption, std::string("Songs"));
        QCOMPARE(prompt.boxes[0].text, "Cannot put the new " + record.GetPath() +
                                           " in place: Input/output error. The record was left as it was.");
        QVERIFY(!dlg.findChild<QCheckBox*>("vinyl")->isChecked());
        QVERIFY(!record.GetVinyl());
        prompt.boxes.clear();

        // Side B first, then side A left out: its files stay.
        ClickRow(dlg.GetSides(), 1);
        QTest::mouseClick(dlg.GetButton("sideUp"), Qt::LeftButton);
        QCOMPARE(dlg.GetSides()->item(0, 1)->text(), QString("Side B.wav"));
        QCOMPARE(record.GetSongs()[0].strPath, place.Path("Side B1.wav"));
        ClickRow(dlg.GetSides(), 1);
        QTest::mouseClick(dlg.GetButton("removeSide"), Qt::LeftButton);
        QCOMPARE(record.GetSideCount(), 1);
        QCOMPARE(record.GetSongCount(), 3);
        QVERIFY(QFile::exists(QString::fromStdString(place.Path("Side A1.wav"))));
        QVERIFY(QFile::exists(QString::fromStdString(place.Path("Side A2.wav"))));
        QCOMPARE(prompt.boxes.size(), size_t(0));

        // Opened again from side B, the window finds the record.
        CSongsDlg again(&prompt);
        QVERIFY(again.Open(place.Path("Side B.wav")));
        QCOMPARE(again.GetAlbum().GetPath(), place.Path("Side A record.cue"));

        // A record one of whose sides went away: the side asked for opens on its own.
        QVERIFY(again.GetAlbum().AddSide(place.Path("Side A.wav")));
        QVERIFY(QFile::remove(QString::fromStdString(place.Path("Side B1.wav"))));
        CSongsDlg alone(&prompt);
        QVERIFY(alone.Open(place.Path("Side A.wav")));
        QCOMPARE(alone.GetAlbum().GetSideCount(), 1);
        QVERIFY(alone.GetStatus()->text().startsWith("The record " + QString::fromStdString(place.Path("Side A record.cue")) +
                                                     " cannot be opened ("));
    }

    // The cover chosen in the export window stays with the record: a file that is no
    // picture is refused and not kept, a PNG is, and the next export window starts with it.
    void Cover_KeptWithTheRecord()
    {
        CAppTestPlace place;
        for (const char* name : {"A1.wav", "B1.wav"}) QVERIFY(WriteWav(place.Path(name), MakeSong({{1.0, 0.5}})));
        {
            CRecord record;
            QVERIFY(record.OpenSides({place.Path("A.wav"), place.Path("B.wav")}, CRecord::DefaultPath(place.Path("A.wav"))));
        }
        std::ofstream(place.Path("notes.png")) << "not a picture";
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(QString::fromStdString(place.Path("front.png"))));
        CScriptedPrompt prompt;
        CSongsDlg dlg(&prompt);
        QVERIFY(dlg.Open(place.Path("A.wav")));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QStringList seen;  // the Cover field as each export window opens
        auto runner = [&](QDialog& d) {
            WorkExport(static_cast<CExportDlg&>(d), dlg, place, &seen);
            return int(QDialog::Accepted);
        };
        dlg.SetDialogRunner(runner);
        QTest::mouseClick(dlg.GetButton("export"), Qt::LeftButton);
        QVERIFY(QFile::remove(QString::fromStdString(place.Path("out/cover.png"))));
        // Opened again: the record file has it, and the export uses it unasked.
        CSongsDlg again(&prompt);
        QVERIFY(again.Open(place.Path("B.wav")));
        again.SetDialogRunner(runner);
        QTest::mouseClick(again.GetButton("export"), Qt::LeftButton);
        QCOMPARE(seen, QStringList({"", QString::fromStdString(place.Path("front.png"))}));
        QVERIFY(QFile::exists(QString::fromStdString(place.Path("out/cover.png"))));
        QCOMPARE(prompt.boxes.size(), size_t(1));  // files of the first export in the way: replaced
    }
};

QTEST_MAIN(TestSides)
#include "tst_sides.moc"

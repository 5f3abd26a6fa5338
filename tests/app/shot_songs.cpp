// The Songs window for looking at it: opens the songs of a base file and takes the
// steps named on the command line one second apart, as a user would with the mouse.
// Used by screenshots.sh under Xvfb; not installed.
//
//   cadenzo_shot_songs BASE.wav [pick2] [play] [move] [snap] [join] [titles] [export FOLDER]
//
// pick2: show the second cut close up. move: drag the picked cut 60 pixels left.
// play: press Play and print the status line. snap: Snap the picked cut. join: join the songs at the picked cut. titles: give the songs titles and album
// data. export: open the export window and export to FOLDER as FLAC. tracklist: paste a
// track list and set the titles. cover FILE: the next export is MP3 with FILE as cover.
// declick: tick Play repaired, and the next export removes clicks. addside NAME: Add Side...
// with the recording NAME. fit FILE: paste the track list in FILE and Fit Cuts to Track
// List (the report box closes after three seconds). info: the album data alone.
#include "app/ExportDlg.h"
#include "app/SongsDlg.h"
#include "app/TrackListDlg.h"
#include "app/WaveView.h"

#include "controls/QtPrompt.h"
#include "resources/Artwork.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QClipboard>
#include <QRadioButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s BASE.wav [pick2] [play] [move] [snap] [join] [titles] [export FOLDER]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    InitResources();
    CQtPrompt prompt;
    CSongsDlg dlg(&prompt);
    dlg.SetGapLevel(-35.0);
    prompt = CQtPrompt(&dlg);
    if (!dlg.Open(argv[1])) return 1;
    dlg.resize(1000, 700);
    dlg.show();
    int nDelay = 1500;
    static QString cover;
    static bool bDeclick = false;
    for (int i = 2; i < argc; ++i) {
        const QString step = argv[i];
        QString folder;
        if ((step == "export" || step == "cover" || step == "addside" || step == "fit") && i + 1 < argc)
            folder = argv[++i];
        QTimer::singleShot(nDelay, &dlg, [&dlg, step, folder] {
            CWaveView* view = dlg.GetCloseUp();
            if (step == "pick2") {
                dlg.OnPickCut(2);
            } else if (step == "move") {
                const int nCut = view->GetPickedCut();
                const QPoint from(static_cast<int>(std::lround(view->FrameToX(view->GetCutFrame(nCut)))), view->height() / 2);
                QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, from);
                QTest::mouseMove(view, from - QPoint(60, 0));
                QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, from - QPoint(60, 0));
            } else if (step == "play") {
                QTest::mouseClick(dlg.GetButton("play"), Qt::LeftButton);
                std::printf("play: %s\n", qPrintable(dlg.GetStatus()->text()));
                std::fflush(stdout);
            } else if (step == "snap") {
                QTest::mouseClick(dlg.GetButton("snap"), Qt::LeftButton);
            } else if (step == "join") {
                QTest::mouseClick(dlg.GetButton("join"), Qt::LeftButton);
            } else if (step == "titles") {
                const char* titles[] = {"Morning Light", "Harbour Walk", "The Long Field", "Last Train Home"};
                QTableWidget* table = dlg.GetTable();
                for (int r = 0; r < table->rowCount() && r < 4; ++r) table->item(r, 1)->setText(titles[r]);
                QList<QLineEdit*> edits = dlg.findChildren<QLineEdit*>();
                const char* info[] = {"Quiet Rooms", "The Lanterns", "1979"};
                for (int j = 0; j < edits.size() && j < 3; ++j) {
                    edits[j]->setText(info[j]);
                    emit edits[j]->editingFinished();
                }
            } else if (step == "info") {
                QList<QLineEdit*> edits = dlg.findChildren<QLineEdit*>();
                const char* info[] = {"Walk Through", "Singularity", "2011"};
                for (int j = 0; j < edits.size() && j < 3; ++j) {
                    edits[j]->setText(info[j]);
                    emit edits[j]->editingFinished();
                }
            } else if (step == "addside") {
                dlg.SetDialogRunner([folder](QDialog& d) {
                    d.findChild<QComboBox*>("sideName")->setEditText(folder);
                    QTimer::singleShot(1000, &d, [&d] { d.accept(); });
                    return d.exec();
                });
                QTest::mouseClick(dlg.GetButton("addSide"), Qt::LeftButton);
            } else if (step == "fit") {
                QFile file(folder);
                file.open(QIODevice::ReadOnly);
                QApplication::clipboard()->setText(QString::fromUtf8(file.readAll()));
                dlg.SetDialogRunner([](QDialog& d) {
                    auto& list = static_cast<CTrackListDlg&>(d);
                    QTimer::singleShot(1500, &list, [&list] {
                        // The report box that follows closes by itself.
                        QTimer::singleShot(3000, [] {
                            if (QWidget* pBox = QApplication::activeModalWidget()) pBox->close();
                        });
                        QTest::mouseClick(list.GetFitButton(), Qt::LeftButton);
                    });
                    return list.exec();
                });
                QTest::mouseClick(dlg.GetButton("tracklist"), Qt::LeftButton);
            } else if (step == "cover") {
                cover = folder;
            } else if (step == "declick") {
                QTest::mouseClick(dlg.GetPlayRepairedBox(), Qt::LeftButton);
                bDeclick = true;
            } else if (step == "tracklist") {
                QApplication::clipboard()->setText("A1  Morning Light  4:12\nA2  Harbour Walk  3:58\n"
                                                   "A3  The Long Field  5:40\nA4  Last Train Home  6:03\n");
                dlg.SetDialogRunner([](QDialog& d) {
                    auto& list = static_cast<CTrackListDlg&>(d);
                    QTimer::singleShot(1500, &list, [&list] { QTest::mouseClick(list.GetSetButton(), Qt::LeftButton); });
                    return list.exec();
                });
                QTest::mouseClick(dlg.GetButton("tracklist"), Qt::LeftButton);
            } else if (step == "export") {
                dlg.SetDialogRunner([folder](QDialog& d) {
                    auto& exp = static_cast<CExportDlg&>(d);
                    exp.GetFolderEdit()->setText(folder);
                    exp.GetDeclickBox()->setChecked(bDeclick);
                    if (!cover.isEmpty()) {
                        exp.GetFormatButton(CExportFormat::Mp3)->setChecked(true);
                        exp.GetCoverEdit()->setText(cover);
                    }
                    QTimer::singleShot(800, &exp, [&exp] { exp.OnExport(); });
                    return exp.exec();
                });
                dlg.OnExport();
            }
        });
        nDelay += 1500;
    }
    return app.exec();
}

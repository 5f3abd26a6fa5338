// A test build of the recorder for looking at it: the real main window, recording from
// a recording on disk at the pace of a sound card, in its own settings store and preset
// folder. Used by screenshots.sh under Xvfb; not installed.
//
//   cadenzo_shot SOURCE.wav FOLDER [plain] [settings] [monitor] [songs]
//
// plain: the plain colour scheme. settings: open the settings window instead of
// recording. monitor: watch the input (meters lit, nothing written) instead of recording.
// songs: open the Songs window once recording. Otherwise Record is pressed half a second after the window shows.
#include "app/RecorderDlg.h"

#include "controls/QtPrompt.h"
#include "resources/Artwork.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s SOURCE.wav FOLDER [plain] [settings] [monitor] [songs]\n", argv[0]);
        return 2;
    }
    bool bPlain = false, bSettings = false, bMonitor = false, bSongs = false;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "plain")) bPlain = true;
        if (!std::strcmp(argv[i], "settings")) bSettings = true;
        if (!std::strcmp(argv[i], "monitor")) bMonitor = true;
        if (!std::strcmp(argv[i], "songs")) bSongs = true;
    }
    QApplication app(argc, argv);
    InitResources();
    const QString folder = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QSettings store(folder + "/Cadenzio.conf", QSettings::IniFormat);
    store.beginGroup("Version 1");
    store.setValue("OutfileName0", folder + "/Side A.wav");
    store.setValue("OutfileName1", folder + "/Radio Show.wav");
    store.setValue("Background", bPlain ? 0 : 1);
    store.setValue("Min Song Size", -353);
    store.endGroup();
    store.sync();

    CQtPrompt prompt;
    CRecorderDlg dlg(&prompt, &store, folder.toStdString());
    if (!dlg.UseCaptureFile(argv[1], true)) {
        std::fprintf(stderr, "%s", dlg.GetWaveIn().GetErrorText());
        return 1;
    }
    QTimer::singleShot(500, &dlg, [&dlg, bSettings, bMonitor, bSongs] {
        if (bSettings)
            dlg.OnCustomize();
        else if (bMonitor)
            dlg.OnMonitor();
        else
            dlg.OnRecord();
        if (bSongs) dlg.OnSongs();
    });
    dlg.exec();
    return 0;
}

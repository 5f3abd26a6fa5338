// CPU the recorder uses: the real main window (offscreen) with its meters, recording from
// the default sound input for a minute, then idle with the meters paused. Prints the CPU
// of the whole process and of each thread as a share of one core, and the wake-ups.
// bench/live_cpu.sh runs it against a private sound server; see there.

#include "app/RecorderDlg.h"
#include "capture/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

// Answers every question with yes and keeps the texts, so that the run never waits.
class CYesPrompt : public IPrompt {
public:
    PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                            PromptIcon) override
    {
        m_boxes.push_back(caption + ": " + text);
        return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::Yes;
    }
    bool SaveFileDialog(const std::string&, const std::string&, const std::vector<PromptFileFilter>&,
                        std::string*, std::string*) override
    {
        return false;
    }
    std::vector<std::string> m_boxes;
};

struct ThreadTimes {
    std::string strName;
    double fCpu = 0;        // seconds on a CPU
    long long nWakeups = 0; // context switches, voluntary and not
};

long long ReadField(const std::string& strPath, const std::string& strKey)
{
    std::ifstream in(strPath);
    std::string strLine;
    while (std::getline(in, strLine))
        if (strLine.rfind(strKey, 0) == 0) return std::stoll(strLine.substr(strKey.size()));
    return 0;
}

std::map<int, ThreadTimes> SampleThreads()
{
    std::map<int, ThreadTimes> threads;
    QDir dir("/proc/self/task");
    for (const QString& strTid : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string strBase = "/proc/self/task/" + strTid.toStdString();
        ThreadTimes t;
        std::ifstream(strBase + "/comm") >> t.strName;
        long long nNs = 0;
        std::ifstream(strBase + "/schedstat") >> nNs;
        t.fCpu = nNs * 1e-9;
        t.nWakeups = ReadField(strBase + "/status", "voluntary_ctxt_switches:") +
                     ReadField(strBase + "/status", "nonvoluntary_ctxt_switches:");
        threads[strTid.toInt()] = t;
    }
    return threads;
}

double ProcessCpu()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

void RunFor(double fSeconds)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(fSeconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop for fSeconds and prints what the process and each thread used.
void Measure(const char* szWhat, double fSeconds)
{
    const std::map<int, ThreadTimes> before = SampleThreads();
    const double fCpuBefore = ProcessCpu();
    QElapsedTimer clock;
    clock.start();
    RunFor(fSeconds);
    const double fWall = clock.elapsed() / 1000.0;
    const double fCpu = ProcessCpu() - fCpuBefore;
    const std::map<int, ThreadTimes> after = SampleThreads();
    std::printf("%-34s %6.2f %% of one core over %.0f s\n", szWhat, 100.0 * fCpu / fWall, fWall);
    const int nMain = static_cast<int>(getpid());
    for (const auto& [nTid, t] : after) {
        const auto it = before.find(nTid);
        const double fUsed = t.fCpu - (it == before.end() ? 0 : it->second.fCpu);
        const long long nWakes = t.nWakeups - (it == before.end() ? 0 : it->second.nWakeups);
        if (fUsed < 1e-4 && nWakes == 0) continue;
        std::printf("    %-16s %6.3f %%  %7.1f wake-ups/s\n",
                    (nTid == nMain ? std::string("window") : t.strName).c_str(), 100.0 * fUsed / fWall,
                    nWakes / fWall);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double fRecordSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double fIdleSeconds = argc > 2 ? std::atof(argv[2]) : 20.0;

    QTemporaryDir dir;
    QSettings store(dir.filePath("Cadenzio.conf"), QSettings::IniFormat);
    store.beginGroup("Version 1");
    store.setValue("OutfileName0", dir.filePath("Live.wav"));
    store.setValue("Samples Per Sec", 48000);
    store.setValue("Bits Per Sample", 32);
    store.setValue("Channels", 2);
    store.setValue("WaveInID", -1);
    store.endGroup();
    store.sync();

    CYesPrompt prompt;
    CRecorderDlg dlg(&prompt, &store, dir.path().toStdString());
    dlg.show();
    RunFor(2.0);  // settled

    Measure("idle, meters on", fIdleSeconds);

    dlg.OnRecord();
    if (!dlg.GetSession().IsRecording()) {
        std::printf("the recording did not start: %s\n", prompt.m_boxes.empty() ? "" : prompt.m_boxes.back().c_str());
        return 1;
    }
    RunFor(3.0);  // the stream has started
    Measure("recording 48 kHz float", fRecordSeconds);
    dlg.OnStop();
    for (int i = 0; i < 600 && dlg.GetSession().IsRecording(); ++i) RunFor(0.1);

    dlg.OnSize(1);  // minimised: the meters pause
    RunFor(1.0);
    Measure("idle, meters paused", fIdleSeconds);
    dlg.OnSize(0);

    for (const std::string& strBox : prompt.m_boxes) std::printf("box: %s\n", strBox.c_str());
    return 0;
}

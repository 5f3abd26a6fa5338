// What a user runs: the window, its meters lit, recording from the sound server most
// Debian 12 desktops run (PipeWire with its PulseAudio service) while both cores are busy
// with other work. Beside it the server's own recorder keeps what the server delivered;
// the song files must hold exactly that, and no box may tell of lost audio.
#include "app/RecorderDlg.h"

#include "AppTestSupport.h"
#include "ScriptedPrompt.h"

#include <QPushButton>
#include <QtTest>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace {

std::vector<uint8_t> ReadAll(const std::string& path, int64_t nFrom = 0, int64_t nBytes = -1)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(nFrom);
    std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (nBytes >= 0 && static_cast<int64_t>(data.size()) > nBytes) data.resize(static_cast<size_t>(nBytes));
    return data;
}

// Songs of noise, every stretch unlike any other, between gaps of digital silence:
// 48 kHz 16-bit stereo.
std::vector<uint8_t> NoiseAlbum(int nSongs, double fSong, double fGap)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-8000, 8000);
    std::vector<int16_t> samples;
    for (int s = 0; s < nSongs; ++s) {
        for (int64_t i = 0; i < static_cast<int64_t>(fSong * 48000) * 2; ++i)
            samples.push_back(static_cast<int16_t>(noise(rng)));
        samples.insert(samples.end(), static_cast<size_t>(fGap * 48000) * 2, 0);
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(samples.data());
    return std::vector<uint8_t>(p, p + samples.size() * 2);
}

// Processes that keep the cores busy while they live.
struct BusyCores {
    std::vector<pid_t> pids;
    explicit BusyCores(int n)
    {
        for (int i = 0; i < n; ++i) {
            const pid_t pid = fork();
            if (pid == 0)
                for (volatile uint64_t k = 0;; k = k + 1) {}
            if (pid > 0) pids.push_back(pid);
        }
    }
    ~BusyCores()
    {
        for (pid_t pid : pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

}  // namespace

class TestPipeWireWindow : public QObject {
    Q_OBJECT
    CAppTestPlace m_place;
    std::string m_server;  // the private server's folder

    int Script(const std::string& command, const std::string& arg = "")
    {
        return std::system(("bash '" CADENZO_PRIVATE_PIPEWIRE "' " + command + " '" + m_server + "' " + arg).c_str());
    }

private slots:
    void init()
    {
        m_server = m_place.Path("pw");
        QCOMPARE(Script("start"), 0);
        std::ofstream(m_place.Path("asound.conf")) << "pcm.!default { type pulse device \"ci.monitor\" }\n";
        setenv("ALSA_CONFIG_PATH", m_place.Path("asound.conf").c_str(), 1);
        // Another way in, for trials by hand: an ALSA configuration of one's own (the PipeWire
        // ALSA device, say) in place of the pulse device.
        const char* conf = std::getenv("CADENZO_TEST_ALSA_CONF");
        if (conf != nullptr && *conf != '\0') setenv("ALSA_CONFIG_PATH", conf, 1);
        setenv("PULSE_SERVER", ("unix:" + m_server + "/run/pulse/native").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_server + "/run").c_str(), 1);
    }
    void cleanup() { Script("stop"); }

    void RecordsWhatTheServerDeliversWhileTheMachineIsBusy()
    {
        const std::vector<uint8_t> album = NoiseAlbum(4, 20, 2);  // 88 s
        {
            std::ofstream out(m_place.Path("album.raw"), std::ios::binary);
            out.write(reinterpret_cast<const char*>(album.data()), static_cast<std::streamsize>(album.size()));
        }
        QCOMPARE(Script("play", "'" + m_place.Path("album.raw") + "'"), 0);
        QCOMPARE(Script("record", "'" + m_place.Path("server.raw") + "'"), 0);

        QSettings& s = *m_place.store;
        s.beginGroup("Version 1");
        s.setValue("OutfileName0", QString::fromStdString(m_place.Path("Take.wav")));
        s.setValue("Samples Per Sec", 48000);
        s.setValue("Bits Per Sample", 16);
        s.setValue("Channels", 2);
        s.setValue("Gap Size", -1764);
        s.setValue("Min Song Size", -177);
        s.setValue("End Size", -5292);
        s.setValue("DC Block", 0);  // the files then hold the samples as they came
        s.endGroup();
        s.sync();
        CScriptedPrompt prompt;
        CRecorderDlg dlg(&prompt, m_place.store.get(), m_place.Dir());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));

        const int64_t nStopBytes = 70LL * 48000 * 4;
        {
            BusyCores busy(2);
            QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1000)), Qt::LeftButton);
            QVERIFY2(dlg.GetSession().IsRecording(), prompt.boxes.empty() ? "" : prompt.boxes[0].text.c_str());
            QTRY_VERIFY_WITH_TIMEOUT(dlg.GetSession().GetTotalBytes() >= nStopBytes, 150000);
            QTest::mouseClick(qobject_cast<QPushButton*>(dlg.GetControl(1011)), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetSession().IsRecording(), 60000);
        }
        QTest::qWait(2500);  // the server's recorder writes its last second
        Script("stop");

        // The song files end to end, from the first sound on, are what the server delivered.
        std::vector<uint8_t> recorded;
        for (const RecordSongFile& file : dlg.GetSession().GetSongFiles()) {
            if (file.bDeleted) continue;
            const std::vector<uint8_t> data = ReadAll(file.strPath, 44, file.nDataBytes);
            recorded.insert(recorded.end(), data.begin(), data.end());
        }
        QVERIFY(static_cast<int64_t>(recorded.size()) >= nStopBytes);
        size_t nSound = 0;
        while (nSound + 4096 <= recorded.size() && recorded[nSound] == 0 && recorded[nSound + 1] == 0) nSound += 2;
        nSound -= nSound % 4;
        QVERIFY(nSound + 4096 < recorded.size());
        const std::vector<uint8_t> server = ReadAll(m_place.Path("server.raw"));
        const auto it = std::search(server.begin(), server.end(), recorded.begin() + static_cast<ptrdiff_t>(nSound),
                                    recorded.begin() + static_cast<ptrdiff_t>(nSound) + 4096);
        const std::vector<uint8_t> header = ReadAll(dlg.GetSession().GetSongFiles().at(0).strPath, 0, 44);
        QVERIFY2(it != server.end(),
                 qPrintable(QString("the recording's first sound is not in the server's capture (%1 bytes "
                                    "recorded from byte %2 at %3 Hz, %4 bytes captured by the server)")
                                .arg(recorded.size()).arg(nSound)
                                .arg(header[24] | header[25] << 8 | header[26] << 16).arg(server.size())));
        const size_t nLength = recorded.size() - nSound;
        QVERIFY(static_cast<size_t>(server.end() - it) >= nLength);
        if (const char* keep = std::getenv("CADENZO_PIPEWIRE_KEEP")) {
            std::ofstream(std::string(keep) + "/recorded.raw", std::ios::binary)
                .write(reinterpret_cast<const char*>(recorded.data()), static_cast<std::streamsize>(recorded.size()));
            std::ofstream(std::string(keep) + "/server.raw", std::ios::binary)
                .write(reinterpret_cast<const char*>(server.data()), static_cast<std::streamsize>(server.size()));
        }
        const auto diff = std::mismatch(recorded.begin() + static_cast<ptrdiff_t>(nSound), recorded.end(), it);
        QVERIFY2(diff.first == recorded.end(),
                 qPrintable(QString("the song files differ from the server's capture %1 s after the first sound")
                                .arg(static_cast<double>(diff.first - recorded.begin() - static_cast<ptrdiff_t>(nSound)) /
                                     (48000.0 * 4))));
        for (const CScriptedPrompt::Box& box : prompt.boxes) qWarning("%s: %s", box.caption.c_str(), box.text.c_str());
        QVERIFY(prompt.boxes.empty());
    }
};

QTEST_MAIN(TestPipeWireWindow)
#include "tst_pipewirewindow.moc"

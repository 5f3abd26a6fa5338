// Watching the input before a recording: the levels of what the device delivers, the
// end of the input, a device that cannot be opened, and the device handed back closed.

#include "CaptureTestUtil.h"

#include "capture/InputMonitor.h"
#include "capture/WaveIn.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdlib>
#include <cmath>
#include <thread>

using namespace capturetest;

namespace {

class CEndCounter : public IMonitorWindow {
public:
    void PostMonitorEnded() override { ++m_nEnded; }
    std::atomic<int> m_nEnded{0};
};

bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 6000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// A sine of the given peak in dB re full scale, on both channels, 16-bit.
std::vector<int16_t> Sine(double fSeconds, double fPeakDb)
{
    const double fAmp = 32767.0 * std::pow(10.0, fPeakDb / 20.0);
    std::vector<int16_t> samples;
    for (int i = 0; i < static_cast<int>(fSeconds * 44100); ++i) {
        const auto v = static_cast<int16_t>(std::lround(fAmp * std::sin(2 * M_PI * 1000.0 * i / 44100)));
        samples.push_back(v);
        samples.push_back(v);
    }
    return samples;
}

}  // namespace

TEST(InputMonitor, ShowsTheInputLevelsThenHandsTheDeviceBackClosed)
{
    // The sound-card case below runs on a machine with one silent ALSA input and no
    // sound-server plugins, as the other sound-card cases do.
    ::setenv("ALSA_CONFIG_PATH", CADENZO_ALSA_NULL_CONF, 1);
    const std::string strDir = MakeTempDir();
    const std::string strPath = WriteSoundFile(strDir + "/sine.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2,
                                               Sine(2.0, -6.5), 44100);
    CWaveIn waveIn;
    waveIn.UseFileSource(strPath.c_str(), false);
    CEndCounter window;
    CInputMonitor monitor(window, waveIn);
    CSongSplitter settings;  // 44.1 kHz, 16 bits, DC Block on
    std::atomic<bool> bStopping{false};

    // The whole file goes through; its end ends watching, without a message.
    ASSERT_TRUE(monitor.Start(settings, 65536)) << monitor.GetErrorText();
    ASSERT_TRUE(WaitFor([&] { return window.m_nEnded > 0; }));
    int32_t nRms = 0, nPeak = 0, nClips = -1;
    ASSERT_TRUE(monitor.GetChannelLevels(1, &nRms, &nPeak, &nClips, bStopping));
    // The peak LED shows the peak in dBFS; the column's statistic sits about 17 dB below
    // the RMS in dBFS (-9.5 dB for this sine).
    EXPECT_EQ(nPeak, -6);
    EXPECT_EQ(nRms, -26);
    EXPECT_EQ(nClips, 0);
    EXPECT_EQ(monitor.OnMonitorEnded(), "");
    EXPECT_FALSE(monitor.IsRunning());
    ASSERT_TRUE(monitor.GetChannelLevels(0, &nRms, &nPeak, &nClips, bStopping));
    EXPECT_EQ(nPeak, -100);

    // Stop while running closes the device: watching and recording can open it again.
    waveIn.UseFileSource(strPath.c_str(), true);
    ASSERT_TRUE(monitor.Start(settings, 65536)) << monitor.GetErrorText();
    EXPECT_TRUE(monitor.IsRunning());
    monitor.Stop();
    EXPECT_FALSE(monitor.IsRunning());
    ASSERT_TRUE(monitor.Start(settings, 65536)) << monitor.GetErrorText();
    monitor.Stop();

    // A device that cannot record: its message, and nothing left open or running.
    waveIn.UseSoundCard();
    waveIn.SetDevice(9999);
    EXPECT_FALSE(monitor.Start(settings, 65536));
    EXPECT_EQ(monitor.GetErrorText(), "Sorry, sound card does not support this RECORD WAV format.\n");
    EXPECT_FALSE(monitor.IsRunning());
    RemoveTree(strDir);
}

// The progress handler: status texts, the picture, the level record for the meters, and
// formats that would divide by zero.

#include "SessionTestSupport.h"

#include <cmath>

using namespace sessiontest;

namespace {

// A 16-bit stereo buffer: a square wave of the given amplitudes on each channel, with
// some samples at full scale to count as clipped.
std::vector<int16_t> Square16(int nFrames, int16_t nLeft, int16_t nRight)
{
    std::vector<int16_t> buf;
    for (int f = 0; f < nFrames; ++f) {
        int s = (f % 2) ? 1 : -1;
        buf.push_back(static_cast<int16_t>(s * nLeft));
        buf.push_back(static_cast<int16_t>(s * nRight));
    }
    return buf;
}

void Process(CSongSplitter& splitter, std::vector<int16_t>& buf)
{
    int32_t cut = 0, offset = 0, end = 0;
    splitter.ProcessBuffer(buf.data(), static_cast<int32_t>(buf.size() * 2), &cut, &offset, &end);
}

class Progress : public ::testing::Test {
protected:
    std::string Status(RecordStatusField field) { return rig.window.m_status[field]; }

    SessionRig rig;
};

}  // namespace

TEST_F(Progress, TimesAt44100Hz16BitCountSongAndTotalAndRestartAtACut)
{
    rig.splitter.SetSamplesPerSec(44100);
    rig.splitter.SetBitsPerSample(16);

    rig.session.OnRecordProgress(65536, false);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:00");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  00:00");
    EXPECT_EQ(Status(RecordStatusField::Clipped), "Clipped Pts: 0");
    EXPECT_EQ(Status(RecordStatusField::CurFile), "Cur File: ");

    // 176400 bytes per second: one more minute and change.
    rig.session.OnRecordProgress(176400 * 60 + 176400 * 5, false);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  01:05");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  01:05");

    // A cut restarts the song time with the whole buffer; the total goes on.
    rig.session.OnRecordProgress(65536, true);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:00");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  01:05");
    rig.session.OnRecordProgress(176400 * 2, false);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:02");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  01:07");

    // Minutes are not limited to 59.
    rig.session.OnRecordProgress(176400LL * 60 * 120, false);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  120:02");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  121:07");

    // The picture alternates, active first.
    EXPECT_EQ(rig.window.m_pictures, (std::vector<bool>{true, false, true, false, true}));
    EXPECT_TRUE(rig.window.m_titles.empty());
}

TEST_F(Progress, TimesAt48000HzFloatStayRightPastTheThirtyTwoBitRange)
{
    rig.splitter.SetSamplesPerSec(48000);
    rig.splitter.SetBitsPerSample(32);

    rig.session.OnRecordProgress(65536, false);  // 0.17 s
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:00");
    rig.session.OnRecordProgress(384000 * 59 - 65536, false);
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  00:59");
    rig.session.OnRecordProgress(1, false);
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  00:59");
    rig.session.OnRecordProgress(384000, true);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:01");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  01:00");

    // 100 minutes at 384000 bytes per second is 2,304,000,000 bytes: past 2^31, where a
    // 32-bit counter would turn negative.
    for (int i = 0; i < 99; ++i) rig.session.OnRecordProgress(384000LL * 60, false);
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  100:00");
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  99:01");
    EXPECT_EQ(rig.session.GetTotalBytes(), 384000LL * 6000 + 1);
}

TEST_F(Progress, ClippedPointsAddTheLatestBufferOfBothChannels)
{
    std::vector<int16_t> buf = Square16(1000, 1000, 1000);
    buf[0] = 32767;   // left, clipped
    buf[2] = -32768;  // left, clipped
    buf[5] = 32767;   // right, clipped
    buf[4] = 32766;   // left, not clipped
    rig.splitter.PrepareForRecording();
    Process(rig.splitter, buf);
    rig.session.OnRecordProgress(4000, false);
    EXPECT_EQ(Status(RecordStatusField::Clipped), "Clipped Pts: 3");
    rig.session.OnRecordProgress(4000, false);
    EXPECT_EQ(Status(RecordStatusField::Clipped), "Clipped Pts: 6");
}

TEST_F(Progress, ZeroRateOrDepthShowsZeroTimeInsteadOfDividing)
{
    rig.splitter.SetSamplesPerSec(0);
    rig.session.OnRecordProgress(65536, false);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:00");
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  00:00");

    rig.splitter.SetSamplesPerSec(44100);
    rig.splitter.SetBitsPerSample(0);
    rig.session.OnRecordProgress(65536, false);
    EXPECT_EQ(Status(RecordStatusField::SongTime), "Song Time  00:00");
    rig.splitter.SetBitsPerSample(16);
    rig.splitter.SetChannels(0);
    rig.session.OnRecordProgress(65536, false);
    EXPECT_EQ(Status(RecordStatusField::TotalTime), "Total Time  00:00");
}

TEST_F(Progress, LevelRecordHoldsTheLoudestUntilTheMeterReadsIt)
{
    int32_t nRms = 0, nPeak = 0, nClips = 0;
    rig.session.GetChannelLevels(0, &nRms, &nPeak, &nClips);
    EXPECT_EQ(nRms, -100);
    EXPECT_EQ(nPeak, -100);
    EXPECT_EQ(nClips, 0);

    rig.splitter.PrepareForRecording();
    // Left at half scale (-6.02 dB peak), right at a tenth (-20.3 dB).
    std::vector<int16_t> loud = Square16(4096, 16384, 3277);
    Process(rig.splitter, loud);
    // The mean square as the splitter scales it: 0.020006042 x (relative amplitude)^2.
    int32_t nRmsLeft = static_cast<int32_t>(20 * std::log10(std::sqrt(0.020006042 * 0.25)));
    rig.session.OnRecordProgress(16384, false);
    // The meter read the record above, so the new values replace the held ones.
    rig.session.GetChannelLevels(0, &nRms, &nPeak, &nClips);
    EXPECT_EQ(nPeak, -6);
    EXPECT_EQ(nRms, nRmsLeft);
    EXPECT_EQ(nRms, -23);
    rig.session.GetChannelLevels(1, &nRms, &nPeak, &nClips);
    EXPECT_EQ(nPeak, -19);  // 20 log10(3277/32768) = -19.9998, truncated toward zero

    // A quieter buffer replaces the values the meter has read ...
    std::vector<int16_t> quiet = Square16(4096, 328, 328);
    Process(rig.splitter, quiet);
    rig.session.OnRecordProgress(16384, false);
    // ... and a louder one that the meter has not read yet is kept against quieter ones.
    Process(rig.splitter, loud);
    rig.session.OnRecordProgress(16384, false);
    Process(rig.splitter, quiet);
    rig.session.OnRecordProgress(16384, false);
    rig.session.GetChannelLevels(0, &nRms, &nPeak, &nClips);
    EXPECT_EQ(nPeak, -6);
    Process(rig.splitter, quiet);
    rig.session.OnRecordProgress(16384, false);
    rig.session.GetChannelLevels(0, &nRms, &nPeak, &nClips);
    EXPECT_EQ(nPeak, -39);  // 20 log10(328/32768) = -39.99, truncated toward zero
}

TEST_F(Progress, MeterReadGivesUpOnAHeldLockWhenTheMeterStops)
{
    std::atomic<bool> bStopping{false};
    int32_t nRms = 7, nPeak = 7, nClips = 7;
    std::unique_lock<std::mutex> held(rig.session.GetLock());
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bStopping.store(true);
    });
    // The lock stays held by this thread: only the stop flag can end the wait.
    EXPECT_FALSE(rig.session.GetChannelLevels(0, &nRms, &nPeak, &nClips, bStopping));
    stopper.join();
    EXPECT_EQ(nRms, 7);  // nothing copied
    held.unlock();
    bStopping.store(false);
    EXPECT_TRUE(rig.session.GetChannelLevels(0, &nRms, &nPeak, &nClips, bStopping));
    EXPECT_EQ(nRms, -100);
}

// The real PortAudio path without a sound card: what the ALSA file device answers to the
// format query, and how the device list names it.

#include "AlsaFileEnvironment.h"
#include "CaptureTestUtil.h"

#include "capture/WaveIn.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace capturetest;

namespace {

TEST(AlsaFileCapture, TheFourRatesAndTwoDepthsQueryAsSupported)
{
    CWaveIn waveIn;
    for (uint32_t nRate : {11025u, 22050u, 44100u, 48000u}) {
        for (uint16_t nBits : {uint16_t(16), uint16_t(32)}) {
            waveIn.QueryFormat(MakeFormat(nRate, nBits));
            EXPECT_FALSE(waveIn.HasError()) << nRate << " " << nBits << ": " << waveIn.GetErrorText();
        }
    }
    // The first input device by its id is the same device here.
    waveIn.SetDevice(0);
    waveIn.QueryFormat(MakeFormat(48000, 32));
    EXPECT_FALSE(waveIn.HasError()) << waveIn.GetErrorText();
    // A device id past the list: no format is supported and nothing opens.
    CAutoResetEvent event;
    waveIn.SetDevice(99);
    waveIn.QueryFormat(MakeFormat(44100, 16));
    EXPECT_STREQ(waveIn.GetErrorText(), "Sorry, sound card does not support this RECORD WAV format.\n");
    waveIn.Open(MakeFormat(44100, 16), WaveInNotify, &event, CALLBACK_FUNCTION);
    EXPECT_STREQ(waveIn.GetErrorText(),
                 "Error with sound card driver (cannot open RECORD device).\nPlease close program, "
                 "reboot windows, and try again.\nIf the problem persists please contact the manufacturer!\n");
    waveIn.Close();
    EXPECT_STREQ(waveIn.GetErrorText(), "Error with sound card driver (cannot close RECORD device).\n");
}

TEST(AlsaFileCapture, TheDeviceListNamesTheInputDevicesAndGrowsOnEachCall)
{
    ClearDevices();
    ASSERT_EQ(EnumerateDevices(), 1);
    const int32_t nCount = GetDeviceCount();
    ASSERT_GE(nCount, 1);
    bool bFoundDefault = false;
    for (int32_t i = 0; i < nCount; ++i) {
        const CWaveInCaps* pCaps = GetDeviceAt(i);
        ASSERT_NE(pCaps, nullptr);
        EXPECT_LT(std::strlen(pCaps->m_szName), sizeof pCaps->m_szName);
        if (std::string(pCaps->m_szName) == "default") {
            bFoundDefault = true;
            EXPECT_EQ(pCaps->m_nChannels, 2);  // the file device offers 128; at most 2 count
            EXPECT_EQ(pCaps->m_nFormats & 0x8888u, 0x8888u);  // 16-bit stereo at the four rates
        }
    }
    EXPECT_TRUE(bFoundDefault);
    ASSERT_EQ(EnumerateDevices(), 1);  // not emptied first: every device twice
    EXPECT_EQ(GetDeviceCount(), 2 * nCount);
    EXPECT_STREQ(GetDeviceAt(nCount)->m_szName, GetDeviceAt(0)->m_szName);
    EXPECT_EQ(GetDeviceAt(2 * nCount), nullptr);
    ClearDevices();
    EXPECT_EQ(GetDeviceCount(), 0);
}

}  // namespace

// The file-fed capture source: what it reads, how it converts, and what it refuses.

#include "CaptureTestUtil.h"

#include "capture/WaveIn.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <sys/stat.h>

using namespace capturetest;

namespace {

class FileSourceTest : public ::testing::Test {
protected:
    void SetUp() override { m_strDir = MakeTempDir(); }
    void TearDown() override { RemoveTree(m_strDir); }

    // Writes the samples (floats or shorts) in the file format asked for.
    template <typename T>
    std::string Write(const std::string& strName, int nFormat, int nChannels, const std::vector<T>& samples,
                      int nRate = 44100)
    {
        return WriteSoundFile(m_strDir + "/" + strName, nFormat, nChannels, samples, nRate);
    }

    // Everything the file source delivers for this file in this format.
    std::vector<uint8_t> CaptureAll(const std::string& strPath, const WaveFormat& format)
    {
        CWaveIn waveIn;
        waveIn.UseFileSource(strPath.c_str(), false);
        EXPECT_FALSE(waveIn.HasError()) << waveIn.GetErrorText();
        const Capture capture = RunCapture(waveIn, format, CaptureOptions{});
        EXPECT_EQ(capture.strError, "");
        return capture.data;
    }

    std::string m_strDir;
};

TEST_F(FileSourceTest, SixteenBitFilesPassByteForByte)
{
    std::vector<int16_t> samples = As<int16_t>(RandomBytes(2 * 2 * 70000, 5));
    const std::vector<uint8_t> expected(reinterpret_cast<uint8_t*>(samples.data()),
                                        reinterpret_cast<uint8_t*>(samples.data() + samples.size()));
    for (int nFormat : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                        SF_FORMAT_AIFF | SF_FORMAT_PCM_16}) {
        const std::string strPath = Write("s16." + std::to_string(nFormat), nFormat, 2, samples);
        EXPECT_EQ(CaptureAll(strPath, MakeFormat(44100, 16)), expected) << std::hex << nFormat;
    }
}

TEST_F(FileSourceTest, MonoIsDoubledToBothChannels)
{
    const std::vector<int16_t> mono = {1, -2, 3, 32767, -32768, 0};
    const std::string strPath = Write("mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, mono);
    const std::vector<int16_t> expected = {1, 1, -2, -2, 3, 3, 32767, 32767, -32768, -32768, 0, 0};
    EXPECT_EQ(As<int16_t>(CaptureAll(strPath, MakeFormat(44100, 16))), expected);

    const std::vector<float> monoFloat = {0.25f, -1.0f};
    const std::string strFloat = Write("mono-float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, monoFloat);
    const std::vector<float> expectedFloat = {0.25f, 0.25f, -1.0f, -1.0f};
    EXPECT_EQ(As<float>(CaptureAll(strFloat, MakeFormat(44100, 32))), expectedFloat);
}

TEST_F(FileSourceTest, FloatFilesBecomeSixteenBitsRoundedAndClipped)
{
    const std::vector<float> in = {0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -1.5f, 0.00001f, 1.0f / 32768 * 2.6f};
    const std::string strPath = Write("float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, in);
    const std::vector<int16_t> expected = {16384, -16384, 32767, -32768, 32767, -32768, 0, 3};
    EXPECT_EQ(As<int16_t>(CaptureAll(strPath, MakeFormat(44100, 16))), expected);
    // Captured as floats they pass unchanged, beyond full scale included.
    EXPECT_EQ(As<float>(CaptureAll(strPath, MakeFormat(44100, 32))), in);
}

TEST_F(FileSourceTest, IntegerFilesBecomeFloatsAtFullScale)
{
    const std::vector<int16_t> in = {16384, -32768, 32767, 1};
    const std::string strPath = Write("int.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, in);
    const std::vector<float> expected = {0.5f, -1.0f, 32767.0f / 32768, 1.0f / 32768};
    EXPECT_EQ(As<float>(CaptureAll(strPath, MakeFormat(44100, 32))), expected);

    // 24-bit samples keep their precision as floats and round to 16 bits.
    const std::vector<float> in24 = {0.1234567f, -0.75f};
    const std::string str24 = Write("s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, in24);
    const std::vector<float> got = As<float>(CaptureAll(str24, MakeFormat(44100, 32)));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NEAR(got[0], 0.1234567f, 1.0 / 8388608);
    EXPECT_FLOAT_EQ(got[1], -0.75f);
    const std::vector<int16_t> expected16 = {static_cast<int16_t>(std::lround(0.1234567 * 32768)), -24576};
    EXPECT_EQ(As<int16_t>(CaptureAll(str24, MakeFormat(44100, 16))), expected16);
}

TEST_F(FileSourceTest, ProbeTellsRateChannelsLengthAndWidth)
{
    WaveInFileInfo info;
    std::string strError;
    const std::string s16 = Write("p16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, std::vector<int16_t>(300), 22050);
    ASSERT_TRUE(CWaveIn::ProbeFile(s16.c_str(), &info, &strError)) << strError;
    EXPECT_EQ(info.nRate, 22050);
    EXPECT_EQ(info.nChannels, 1);
    EXPECT_EQ(info.nFrames, 300);
    EXPECT_EQ(info.nSourceBits, 16);
    EXPECT_FALSE(info.bWide);

    const std::string s24 = Write("p24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, std::vector<float>(20), 48000);
    ASSERT_TRUE(CWaveIn::ProbeFile(s24.c_str(), &info, &strError)) << strError;
    EXPECT_EQ(info.nSourceBits, 24);
    EXPECT_TRUE(info.bWide);
    const std::string sf = Write("pf.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, std::vector<float>(20));
    ASSERT_TRUE(CWaveIn::ProbeFile(sf.c_str(), &info, &strError));
    EXPECT_TRUE(info.bWide);
}

TEST_F(FileSourceTest, WhatCannotBeReadIsRefusedWithAClearMessage)
{
    CWaveIn waveIn;
    const std::string strMissing = m_strDir + "/missing.wav";
    waveIn.UseFileSource(strMissing.c_str(), false);
    EXPECT_TRUE(waveIn.HasError());
    EXPECT_EQ(std::string(waveIn.GetErrorText()), "Cannot find input file " + strMissing + ".\n");
    EXPECT_FALSE(waveIn.IsFileSource());

    const std::string strText = m_strDir + "/notes.wav";
    WriteBytes(strText, std::vector<uint8_t>(1000, 'x'));
    waveIn.UseFileSource(strText.c_str(), false);
    EXPECT_EQ(std::string(waveIn.GetErrorText()).rfind("Cannot read input file " + strText + ": ", 0), 0u)
        << waveIn.GetErrorText();

    waveIn.UseFileSource(m_strDir.c_str(), false);
    EXPECT_EQ(std::string(waveIn.GetErrorText()), "Cannot read input file " + m_strDir + ": it is a folder.\n");

    const std::string str3 = Write("three.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 3, std::vector<int16_t>(30));
    waveIn.UseFileSource(str3.c_str(), false);
    EXPECT_EQ(std::string(waveIn.GetErrorText()),
              "Cannot record from " + str3 + ": it has 3 channels; only mono and stereo can be read.\n");
    EXPECT_FALSE(waveIn.IsFileSource());

    // A readable file at another rate than asked for: the format query says no.
    const std::string str22 = Write("r22.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, std::vector<int16_t>(30), 22050);
    waveIn.UseFileSource(str22.c_str(), false);
    ASSERT_FALSE(waveIn.HasError());
    waveIn.QueryFormat(MakeFormat(44100, 16));
    EXPECT_STREQ(waveIn.GetErrorText(), "Sorry, sound card does not support this RECORD WAV format.\n");
    waveIn.QueryFormat(MakeFormat(22050, 32));
    EXPECT_FALSE(waveIn.HasError());

    // The file vanishing between the choice and the recording is said by name.
    std::remove(str22.c_str());
    CAutoResetEvent event;
    waveIn.Open(MakeFormat(22050, 16), WaveInNotify, &event, CALLBACK_FUNCTION);
    EXPECT_EQ(std::string(waveIn.GetErrorText()), "Cannot find input file " + str22 + ".\n");
    waveIn.Close();
}

TEST_F(FileSourceTest, OggVorbisIsReadToItsEnd)
{
    std::vector<float> tone(2 * 44100);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * std::sin(static_cast<float>(i / 2) * 0.05f);
    const std::string strPath = Write("tone.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, tone);
    WaveInFileInfo info;
    std::string strError;
    ASSERT_TRUE(CWaveIn::ProbeFile(strPath.c_str(), &info, &strError)) << strError;
    EXPECT_TRUE(info.bWide);
    const std::vector<uint8_t> data = CaptureAll(strPath, MakeFormat(44100, 16));
    EXPECT_EQ(data.size(), tone.size() * 2);
}

}  // namespace

#pragma once
// ALSA's default device reading a raw file (an ALSA "file" PCM over a null PCM), as fast as
// the capture asks for it. ALSA reads its configuration once per process, so the test
// program sets it up before any test runs.

#include "CaptureTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace capturetest {

inline std::string g_strDir;   // holds asound.conf and in.raw for the whole run
inline std::string g_strRaw;

class AlsaFileEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_strDir = MakeTempDir();
        g_strRaw = g_strDir + "/in.raw";
        std::ofstream conf(g_strDir + "/asound.conf");
        conf << "pcm.!default {\n"
                "    type file\n"
                "    slave.pcm { type null }\n"
                "    file \"/dev/null\"\n"
                "    infile \"" << g_strRaw << "\"\n"
                "    format \"raw\"\n"
                "}\n";
        conf.close();
        WriteBytes(g_strRaw, std::vector<uint8_t>(4096));
        setenv("ALSA_CONFIG_PATH", (g_strDir + "/asound.conf").c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
    }
    void TearDown() override { RemoveTree(g_strDir); }
};
inline ::testing::Environment* const g_pAlsaFileEnvironment =
    ::testing::AddGlobalTestEnvironment(new AlsaFileEnvironment);

}  // namespace capturetest

// cadenzo-declick: takes the clicks and crackle out of a WAV or FLAC file a user already
// has. The repaired copy is a WAV file of the same rate, channels and sample format;
// samples that were not repaired are copied exactly.
//
// Exit status: 0 on success, 1 when a file cannot be read or written, 2 on a bad argument.

#include "CadenzoVersion.h"
#include "engine/Declicker.h"
#include "tools/ToolArgs.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kProgram = "cadenzo-declick";
const char kUsage[] =
    "Usage: cadenzo-declick IN OUT [--level light|normal|strong]\n"
    "       cadenzo-declick --help | --version\n";

// --help: the usage, what it does, the options, the exit status.
const char kHelp[] =
    "\n"
    "Takes clicks, pops and crackle out of IN, a WAV or FLAC file, and writes the repaired\n"
    "copy to OUT, a WAV file of the same rate, channels and sample format (replaced when it\n"
    "exists; never IN itself). Each channel is repaired on its own; samples that are not clicks are copied\n"
    "exactly. On a terminal a progress line shows how far it has come.\n"
    "\n"
    "Options:\n"
    "  --level LEVEL         how readily a sample counts as a click: light, normal (the\n"
    "                        default, which leaves clean music alone) or strong\n"
    "  -h, --help            show this help\n"
    "  --version             show the version number\n"
    "\n"
    "Exit status: 0 on success; 1 when IN cannot be read or OUT cannot be written; 2 for a\n"
    "wrong argument.\n";

constexpr CToolExit kExit(kProgram, kUsage);

// The WAV subtype that holds IN's samples exactly, and their width in bits (0 = float or
// double, kept as such); false for compressed or odd formats.
bool OutputFormat(int nFormat, int* pSubtype, int* pBits)
{
    switch (nFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: *pSubtype = SF_FORMAT_PCM_U8; *pBits = 8; return true;
    case SF_FORMAT_PCM_16: *pSubtype = SF_FORMAT_PCM_16; *pBits = 16; return true;
    case SF_FORMAT_PCM_24: *pSubtype = SF_FORMAT_PCM_24; *pBits = 24; return true;
    case SF_FORMAT_PCM_32: *pSubtype = SF_FORMAT_PCM_32; *pBits = 32; return true;
    case SF_FORMAT_FLOAT: *pSubtype = SF_FORMAT_FLOAT; *pBits = 0; return true;
    case SF_FORMAT_DOUBLE: *pSubtype = SF_FORMAT_DOUBLE; *pBits = 0; return true;
    default: return false;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> files;
    CDeclickLevel level = CDeclickLevel::Normal;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string strLevel;
        if (a == "--level") {
            if (i + 1 >= args.size()) return kExit.BadArgument("--level needs " + DeclickLevelChoices());
            strLevel = args[++i];
        } else if (a.rfind("--level=", 0) == 0) {
            strLevel = a.substr(8);
        } else if (a == "-h" || a == "--help") {
            std::printf("%s%s", kUsage, kHelp);
            return 0;
        } else if (a == "--version") {
            std::printf("%s %s\n", kProgram, CADENZO_VERSION);
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return kExit.BadArgument("unknown option " + a);
        } else {
            files.push_back(a);
            continue;
        }
        if (!ParseDeclickLevel(strLevel, level))
            return kExit.BadArgument("unknown level \"" + strLevel + "\" (" + DeclickLevelChoices() + ")");
    }
    if (files.size() != 2) return kExit.BadArgument("give one input and one output file");
    // The copy is written beside OUT and then renamed over it: were OUT the input (by
    // another spelling or a link too), the recording would be lost for its repaired copy.
    struct stat stIn {}, stOut {};
    if (::stat(files[0].c_str(), &stIn) == 0 && ::stat(files[1].c_str(), &stOut) == 0 &&
        stIn.st_dev == stOut.st_dev && stIn.st_ino == stOut.st_ino)
        return kExit.BadArgument(files[1] + " is the input file: give the repaired copy a name of its own");

    SF_INFO in{};
    SNDFILE* pIn = sf_open(files[0].c_str(), SFM_READ, &in);
    if (!pIn) return kExit.Fail("cannot read " + files[0] + ": " + sf_strerror(nullptr));
    int nSubtype = 0, nBits = 0;
    const int nMajor = in.format & SF_FORMAT_TYPEMASK;
    if ((nMajor != SF_FORMAT_WAV && nMajor != SF_FORMAT_WAVEX && nMajor != SF_FORMAT_FLAC) ||
        !OutputFormat(in.format, &nSubtype, &nBits)) {
        sf_close(pIn);
        return kExit.Fail(files[0] + " is not a PCM or float WAV file nor a FLAC file");
    }
    SF_INFO out{};
    out.samplerate = in.samplerate;
    out.channels = in.channels;
    out.format = (nMajor == SF_FORMAT_WAVEX ? SF_FORMAT_WAVEX : SF_FORMAT_WAV) | nSubtype;
    const std::string strTemp = files[1] + ".declick-tmp";
    SNDFILE* pOut = sf_open(strTemp.c_str(), SFM_WRITE, &out);
    if (!pOut) {
        sf_close(pIn);
        return kExit.Fail("cannot write " + files[1] + ": " + sf_strerror(nullptr));
    }

    const size_t nCh = static_cast<size_t>(in.channels);
    const size_t kBlock = 8192;
    CDeclicker declicker(in.channels, in.samplerate, level);
    // Originals wait here for their repaired frames: integers as read (left-justified),
    // or floating-point values.
    std::vector<int32_t> waitInt;
    std::vector<double> waitReal;
    std::vector<int32_t> readInt(kBlock * nCh);
    std::vector<double> readReal(kBlock * nCh);
    std::vector<float> x(kBlock * nCh);
    std::vector<float> y((kBlock + static_cast<size_t>(declicker.Latency())) * nCh);
    std::vector<uint8_t> marks(y.size());
    size_t nWaitStart = 0;  // frames of the wait lists already written
    const double fScale = nBits ? std::ldexp(1.0, nBits - 1) : 1.0;
    const int nShift = nBits ? 32 - nBits : 0;
    const bool bBar = ::isatty(STDERR_FILENO);
    int nShown = -1;
    int64_t nRead = 0;
    bool bOk = true;

    auto Write = [&](size_t nFrames) {
        if (nFrames == 0) return;
        const size_t n = nFrames * nCh;
        if (nBits) {
            int32_t* pw = &waitInt[nWaitStart * nCh];
            for (size_t i = 0; i < n; ++i) {
                if (!marks[i]) continue;
                const double v = std::clamp(std::nearbyint(y[i] * fScale), -fScale, fScale - 1);
                pw[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(v)) << nShift);
            }
            if (sf_writef_int(pOut, pw, static_cast<sf_count_t>(nFrames)) != static_cast<sf_count_t>(nFrames))
                bOk = false;
        } else {
            double* pw = &waitReal[nWaitStart * nCh];
            for (size_t i = 0; i < n; ++i)
                if (marks[i]) pw[i] = y[i];
            if (sf_writef_double(pOut, pw, static_cast<sf_count_t>(nFrames)) != static_cast<sf_count_t>(nFrames))
                bOk = false;
        }
        nWaitStart += nFrames;
    };
    auto Compact = [&]() {
        if (nBits) {
            waitInt.erase(waitInt.begin(), waitInt.begin() + static_cast<ptrdiff_t>(nWaitStart * nCh));
        } else {
            waitReal.erase(waitReal.begin(), waitReal.begin() + static_cast<ptrdiff_t>(nWaitStart * nCh));
        }
        nWaitStart = 0;
    };

    for (;;) {
        sf_count_t nGot;
        if (nBits) {
            nGot = sf_readf_int(pIn, readInt.data(), static_cast<sf_count_t>(kBlock));
            for (size_t i = 0; i < static_cast<size_t>(nGot) * nCh; ++i)
                x[i] = static_cast<float>(readInt[i] * (1.0 / 2147483648.0));
            waitInt.insert(waitInt.end(), readInt.begin(), readInt.begin() + nGot * static_cast<sf_count_t>(nCh));
        } else {
            nGot = sf_readf_double(pIn, readReal.data(), static_cast<sf_count_t>(kBlock));
            for (size_t i = 0; i < static_cast<size_t>(nGot) * nCh; ++i) x[i] = static_cast<float>(readReal[i]);
            waitReal.insert(waitReal.end(), readReal.begin(), readReal.begin() + nGot * static_cast<sf_count_t>(nCh));
        }
        if (nGot <= 0) break;
        nRead += nGot;
        Write(declicker.Process(x.data(), static_cast<size_t>(nGot), y.data(), marks.data()));
        Compact();
        if (!bOk) break;
        if (bBar && in.frames > 0) {
            const int nPercent = static_cast<int>(nRead * 100 / in.frames);
            if (nPercent != nShown) {
                nShown = nPercent;
                std::fprintf(stderr, "\rRemoving clicks %3d%%  %lld clicks", nPercent,
                             static_cast<long long>(declicker.Clicks()));
            }
        }
    }
    if (bOk) Write(declicker.Finish(y.data(), marks.data()));
    if (bBar) std::fprintf(stderr, "\r%50s\r", "");
    const bool bReadError = sf_error(pIn) != SF_ERR_NO_ERROR;
    sf_close(pIn);
    if (sf_close(pOut) != 0) bOk = false;
    if (!bOk || bReadError) {
        std::remove(strTemp.c_str());
        return kExit.Fail(bReadError ? "cannot read " + files[0] : "cannot write " + files[1]);
    }
    if (std::rename(strTemp.c_str(), files[1].c_str()) != 0) {
        std::remove(strTemp.c_str());
        return kExit.Fail("cannot write " + files[1] + ": " + std::strerror(errno));
    }
    std::printf("%lld clicks repaired, %lld samples restored\n", static_cast<long long>(declicker.Clicks()),
                static_cast<long long>(declicker.RepairedSamples()));
    return 0;
}

#include "tools/SplitOptions.h"

#include "engine/SongSplitter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

int32_t ClampToInt32(double f)
{
    if (f <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (f >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(f);
}

// A finite decimal number, the whole text of the value.
bool ParseNumber(const std::string& strValue, double* pf)
{
    if (strValue.empty()) return false;
    errno = 0;
    char* pEnd = nullptr;
    double f = std::strtod(strValue.c_str(), &pEnd);
    if (pEnd == strValue.c_str() || *pEnd != '\0' || !std::isfinite(f)) return false;
    *pf = f;
    return true;
}

bool ParseOnOff(const std::string& strValue, int32_t* pb)
{
    if (strValue == "on") { *pb = 1; return true; }
    if (strValue == "off") { *pb = 0; return true; }
    return false;
}

bool ApplyGapSize(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    double f;
    if (!ParseNumber(v, &f)) { *pErr = "--gap-size needs a number of seconds, not '" + v + "'."; return false; }
    o.m_nGapSize = GapSizePosition(f);
    return true;
}

bool ApplyGapLevel(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    double f;
    if (!ParseNumber(v, &f)) { *pErr = "--gap-level needs a number of decibels, not '" + v + "'."; return false; }
    o.m_nGapLevel = GapLevelPosition(f);
    return true;
}

bool ApplyMinSong(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    double f;
    if (!ParseNumber(v, &f)) { *pErr = "--min-song needs a number of seconds, not '" + v + "'."; return false; }
    o.m_nMinSong = MinSongPosition(f);
    return true;
}

bool ApplyEndGap(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    double f;
    if (!ParseNumber(v, &f)) { *pErr = "--end-gap needs a number of seconds, not '" + v + "'."; return false; }
    o.m_nEndGap = EndGapPosition(f);
    return true;
}

bool ApplyListen(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    double f;
    if (!ParseNumber(v, &f) || !(f >= 0 && f <= 120)) {
        *pErr = "--listen needs a number of seconds from 0 to 120, not '" + v + "'.";
        return false;
    }
    o.m_fListen = f;
    return true;
}

bool ApplyDcBlock(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    int32_t b;
    if (!ParseOnOff(v, &b)) { *pErr = "--dc-block must be on or off, not '" + v + "'."; return false; }
    o.m_bDcBlock = b;
    return true;
}

bool ApplySmartGap(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    int32_t b;
    if (!ParseOnOff(v, &b)) { *pErr = "--smart-gap must be on or off, not '" + v + "'."; return false; }
    o.m_bSmartGap = b;
    return true;
}

bool ApplyBits(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    if (v == "16") o.m_nBits = 16;
    else if (v == "32") o.m_nBits = 32;
    else { *pErr = "--bits must be 16 or 32, not '" + v + "'."; return false; }
    return true;
}

bool ApplySongs(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    double f;
    if (!ParseNumber(v, &f) || f != std::floor(f) || f < 1 || f > 9999) {
        *pErr = "--songs needs a number of songs from 1 to 9999, not '" + v + "'.";
        return false;
    }
    o.m_nSongs = static_cast<int>(f);
    return true;
}

bool ApplyLengths(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    o.m_lengths.clear();
    size_t nFrom = 0;
    for (;;) {
        const size_t nComma = v.find(',', nFrom);
        const std::string strItem = v.substr(nFrom, nComma == std::string::npos ? std::string::npos : nComma - nFrom);
        double f;
        if (!ParseSongLength(strItem, &f) || !(f > 0)) {
            *pErr = "--lengths needs song lengths such as 3:45,4:02, not '" + strItem + "'.";
            return false;
        }
        o.m_lengths.push_back(f);
        if (nComma == std::string::npos) return true;
        nFrom = nComma + 1;
    }
}

bool ApplyDryRun(CSplitOptions& o, const std::string&, std::string*) { o.m_bDryRun = true; return true; }
bool ApplyCue(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    if (v.empty()) { *pErr = "--cue needs the name of the cue sheet to write."; return false; }
    o.m_strCue = v;
    return true;
}

bool ApplyLabels(CSplitOptions& o, const std::string& v, std::string* pErr)
{
    if (v.empty()) { *pErr = "--labels needs the name of the label file to write."; return false; }
    o.m_strLabels = v;
    return true;
}

bool ApplyOverwrite(CSplitOptions& o, const std::string&, std::string*) { o.m_bOverwrite = true; return true; }
bool ApplyQuiet(CSplitOptions& o, const std::string&, std::string*) { o.m_bQuiet = true; return true; }

}  // namespace

bool ParseSongLength(const std::string& strValue, double* pfSeconds)
{
    // Whole minutes (and hours) as digits, the seconds below 60.
    double fTotal = 0;
    size_t nFrom = 0;
    int nParts = 0;
    for (;;) {
        const size_t nColon = strValue.find(':', nFrom);
        const std::string strPart = strValue.substr(nFrom, nColon == std::string::npos ? std::string::npos : nColon - nFrom);
        ++nParts;
        if (nColon == std::string::npos) {
            double fSeconds;
            if (nParts < 2 || nParts > 3 || strPart.size() < 2 || !std::isdigit(static_cast<unsigned char>(strPart[0])) ||
                !ParseNumber(strPart, &fSeconds) || fSeconds < 0 || fSeconds >= 60)
                return false;
            *pfSeconds = fTotal * 60 + fSeconds;
            return true;
        }
        if (strPart.empty() || strPart.size() > 6 || (nParts > 1 && strPart.size() != 2)) return false;
        for (char c : strPart)
            if (c < '0' || c > '9') return false;
        const double fValue = std::atof(strPart.c_str());
        if (nParts > 1 && fValue >= 60) return false;
        fTotal = fTotal * 60 + fValue;
        nFrom = nColon + 1;
    }
}

namespace {

// The stored position (negative steps) of a value in the user's units. Inside [lo, hi]:
// the nearest step, kept inside the range (the range's own ends may fall between steps).
// Outside: the step beyond the value, away from the range, which the splitter refuses
// with its own message.
int32_t StepPosition(double fValue, double fLo, double fHi, double (*pfnSteps)(double))
{
    const double fSteps = pfnSteps(fValue);
    double fStep;
    if (fValue < fLo) {
        fStep = std::floor(fSteps);
    } else if (fValue > fHi) {
        fStep = std::ceil(fSteps);
    } else {
        const double fFirst = std::max(std::ceil(pfnSteps(fLo)), 1.0);
        const double fLast = std::floor(pfnSteps(fHi));
        fStep = std::min(std::max(std::nearbyint(fSteps), fFirst), fLast);
    }
    return ClampToInt32(-fStep);
}

double GapSizeSteps(double fSeconds) { return fSeconds * 1764.0; }
double GapLevelSteps(double fDb) { return std::pow(10.0, fDb / 20.0) * 32768.0; }
double SongSteps(double fSeconds) { return fSeconds * 176.4; }

}  // namespace

int32_t GapSizePosition(double fSeconds) { return StepPosition(fSeconds, 0.01, 5.0, GapSizeSteps); }
int32_t GapLevelPosition(double fDb) { return StepPosition(fDb, -144.0, -6.0, GapLevelSteps); }
int32_t MinSongPosition(double fSeconds) { return StepPosition(fSeconds, 1.0, 200.0, SongSteps); }
int32_t EndGapPosition(double fSeconds) { return StepPosition(fSeconds, 1.0, 30.0, SongSteps); }

const std::vector<SplitOptionRow>& SplitOptionTable()
{
    static const std::vector<SplitOptionRow> rows = {
        {"--gap-size", "SECONDS",
         "silence after the last loud sample that ends a song (0.01 to 5; default 1.0)", ApplyGapSize},
        {"--gap-level", "DB",
         "level at or below which a sample is silent, in dB below full scale (-144 to -6;\n"
         "                        default -35)", ApplyGapLevel},
        {"--min-song", "SECONDS", "shortest song: no cut sooner after the last one (1 to 200; default 30.01)",
         ApplyMinSong},
        {"--end-gap", "SECONDS",
         "silence after which the recording ends and a last file holding only that\n"
         "                        silence is removed (1 to 30; default 7.01)", ApplyEndGap},
        {"--listen", "SECONDS",
         "how long to listen on after the end gap: sound above the gap level in\n"
         "                        that time and the split goes on as if the end gap were\n"
         "                        longer (0 to 120; default 30; 0 ends at the end gap)", ApplyListen},
        {"--dc-block", "on|off",
         "high-pass filter against a constant offset (DC) some sound cards add;\n"
         "                        it also thins deep bass: 3 dB down at 60 Hz at 44.1 kHz,\n"
         "                        65 Hz at 48 kHz, higher in proportion at higher rates;\n"
         "                        turn it off for recordings without an offset (default on)",
         ApplyDcBlock},
        {"--smart-gap", "on|off", "count clicks and crackle (bursts up to 8 ms) in a gap as silence\n"
                                  "                        (default on)", ApplySmartGap},
        {"--bits", "16|32",
         "16-bit PCM or 32-bit float song files (default: 16 for input of 16 bits or\n"
         "                        fewer, 32 for anything wider)", ApplyBits},
        {"--songs", "N",
         "cut into exactly N files, at the N-1 most convincing silences (longest,\n"
         "                        then quietest) at least the minimum song length apart", ApplySongs},
        {"--lengths", "M:SS,...",
         "the song lengths on the sleeve: cut at the most convincing silence within\n"
         "                        5 s of each expected song end (counted from the first sound); an\n"
         "                        end with no silence near it is named, with where it was cut", ApplyLengths},
        {"--dry-run", nullptr, "find and list the cuts, write no song file", ApplyDryRun},
        {"--cue", "FILE", "write a cue sheet of the cuts: the input file, one TRACK per song", ApplyCue},
        {"--labels", "FILE",
         "write the cuts as a label track (start, end, \"Song n\" in seconds, one\n"
         "                        line per song) as audio editors import it", ApplyLabels},
        {"--overwrite", nullptr,
         "replace existing numbered files of BASE; numbered files beyond\n"
         "                        the new ones (from an earlier, longer split) are listed,\n"
         "                        never deleted",
         ApplyOverwrite},
        {"--quiet", nullptr, "print only errors and the summary", ApplyQuiet},
    };
    return rows;
}

CSplitOptions::Outcome CSplitOptions::Parse(int argc, const char* const* argv, bool bFiles)
{
    std::vector<std::string> positional;
    bool bOptionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        if (bOptionsEnd || strArg.size() < 2 || strArg[0] != '-') {
            positional.push_back(strArg);
            continue;
        }
        if (strArg == "--") { bOptionsEnd = true; continue; }
        if (strArg == "--help" || strArg == "-h") return Outcome::Help;
        if (strArg == "--version") return Outcome::Version;

        std::string strName = strArg, strValue;
        bool bInlineValue = false;
        size_t nEq = strArg.find('=');
        if (nEq != std::string::npos) {
            strName = strArg.substr(0, nEq);
            strValue = strArg.substr(nEq + 1);
            bInlineValue = true;
        }
        const SplitOptionRow* pRow = nullptr;
        for (const SplitOptionRow& row : SplitOptionTable())
            if (strName == row.szName) pRow = &row;
        if (!pRow) {
            m_strError = "unknown option '" + strName + "' (see --help).";
            return Outcome::Error;
        }
        if (pRow->szValueName && !bInlineValue) {
            if (i + 1 >= argc) {
                m_strError = strName + " needs a value: " + pRow->szValueName + ".";
                return Outcome::Error;
            }
            strValue = argv[++i];
        } else if (!pRow->szValueName && bInlineValue) {
            m_strError = strName + " takes no value.";
            return Outcome::Error;
        }
        if (!pRow->pfnApply(*this, strValue, &m_strError)) return Outcome::Error;
    }
    if (!bFiles) {
        if (positional.empty()) return Outcome::Run;
        m_strError = "--list-presets takes no file names.";
        return Outcome::Error;
    }
    if (positional.size() != 2) {
        m_strError = positional.size() < 2 ? "give the input recording and the base name of the song "
                                             "files (see --help)."
                                           : "too many file names: give one INPUT and one BASE.wav.";
        return Outcome::Error;
    }
    if (m_nSongs && !m_lengths.empty()) {
        m_strError = "use --songs or --lengths, not both.";
        return Outcome::Error;
    }
    m_strInput = positional[0];
    m_strBase = positional[1];
    return Outcome::Run;
}

bool CSplitOptions::ApplyTo(CSongSplitter& splitter, std::string* pstrError) const
{
    auto check = [&]() {
        if (!splitter.HasError()) return true;
        *pstrError = splitter.GetErrorText();
        return false;
    };
    if (m_nGapSize) { splitter.SetGapSize(*m_nGapSize); if (!check()) return false; }
    if (m_nGapLevel) { splitter.SetGapLevel(*m_nGapLevel); if (!check()) return false; }
    if (m_nMinSong) { splitter.SetMinSong(*m_nMinSong); if (!check()) return false; }
    if (m_nEndGap) { splitter.SetEndGap(*m_nEndGap); if (!check()) return false; }
    if (m_bDcBlock) splitter.SetDcBlock(*m_bDcBlock);
    if (m_bSmartGap) splitter.SetIgnoreClicks(*m_bSmartGap);
    return true;
}

std::string CSplitOptions::HelpText()
{
    std::string str =
        "Usage: cadenzo-split [options] INPUT BASE.wav\n"
        "\n"
        "Splits a recording into one WAV file per song, cutting at the silences between\n"
        "songs exactly as the recorder does while it records: BASE1.wav, BASE2.wav, ...\n"
        "(the number goes before the extension). INPUT is any recording libsndfile reads\n"
        "(WAV, FLAC, Ogg, AIFF, ...), mono or stereo; mono is recorded as two equal\n"
        "channels. INPUT may be a named pipe, and \"-\" is standard input (a pipe carries\n"
        "WAV; compressed formats need a file name). The song files keep the input's\n"
        "sample rate (1000 to 768000 Hz). Float samples that are not numbers or lie\n"
        "beyond 1000 times full scale are replaced (NaN by silence, the others by full\n"
        "scale) and counted.\n"
        "\n"
        "A song ends when a silence has lasted the gap size and the song is at least the\n"
        "minimum song length; the silence is shared between the two files. A silence of\n"
        "the end gap ends the split (the rest of the input is not read), and a last file\n"
        "holding only trailing silence is removed; unless sound comes back within the\n"
        "listening time after it (--listen), when the split goes on with nothing lost.\n"
        "\n"
        "Times and levels are stored as the settings window's sliders store them, in steps\n"
        "of 1/1764 s (gap size), 1/176.4 s (minimum song, end gap) and 1/32768 of full\n"
        "scale (gap level): a value inside the range given below is taken to the nearest\n"
        "step inside that range (a gap level below -90.3 dB, the lowest step, becomes\n"
        "-90.3 dB); a value outside the range is refused.\n"
        "\n"
        "Options:\n";
    for (const SplitOptionRow& row : SplitOptionTable()) {
        std::string strLeft = std::string("  ") + row.szName;
        if (row.szValueName) strLeft += std::string(" ") + row.szValueName;
        if (strLeft.size() < 24) strLeft.resize(24, ' ');
        else strLeft += "\n" + std::string(24, ' ');
        str += strLeft + row.szHelp + "\n";
    }
    str +=
        "  -h, --help            show this help\n"
        "  --version             show the version number\n"
        "\n"
        "With --songs or --lengths the input is read twice: once to choose the cuts,\n"
        "once to write the files (so INPUT must be a file, not a pipe); the whole input\n"
        "is cut (the end gap does not stop it). The files joined hold the whole input as\n"
        "the recorder writes it: with DC Block on (the default) its DC offset is\n"
        "filtered out of every sample; with --dc-block off and the input's own bit depth\n"
        "they give back the input sample for sample. --dry-run reads the input once (a\n"
        "pipe too) and lists the files it would write. When a split makes no cut, or leaves a song much\n"
        "longer than the others, it names the longest quiet stretches it did not cut and\n"
        "the setting that would cut there; when the end gap stops it in a silence that\n"
        "sound follows, it names the end gap that would go on past it.\n"
        "\n"
        "Existing numbered files are never replaced without --overwrite: the first one\n"
        "found is named and nothing is written. Each song file is listed as it is\n"
        "completed, with its length and where it starts in the input; a progress bar is\n"
        "shown on a terminal. A listing that cannot be written (a closed pipe) does not\n"
        "stop the split. Ctrl-C or SIGTERM stops early and keeps the files written so\n"
        "far; a second signal, or a stop that has not finished within 5 seconds (a write\n"
        "that does not return), ends the program at once, and the file being written is\n"
        "then cut short. No settings are read or written.\n"
        "\n"
        "Exit status: 0 when every song file was written; 1 when a file failed: the\n"
        "input (unreadable, damaged, cut off, or holding no audio), the destination, or\n"
        "the preset file (missing or damaged), and the song files written before are\n"
        "complete, or when --songs or --lengths cannot be followed (nothing is written);\n"
        "2 for a bad option or value (an unknown preset name among them); 130 when\n"
        "stopped with Ctrl-C (SIGINT), 143 with SIGTERM.\n";
    return str;
}

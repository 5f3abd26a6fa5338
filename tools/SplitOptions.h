#pragma once
// Command line of cadenzo-split: the options in the user's units, the two file names,
// and the help text. Each option is one row of a table (SplitOptionTable), so a new
// option is one more row and one more field here.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CSongSplitter;

/**
 * The parsed command line. Parse() fills it from argv; ApplyTo() gives the gap rules and
 * switches to a splitter through its setters (stored form), reporting the splitter's own
 * range message for the first value out of range. Single-threaded.
 */
class CSplitOptions {
public:
    // What Parse() decided.
    enum class Outcome {
        Run,    // split INPUT into numbered files of BASE
        Help,   // print the help text and succeed
        Version,  // print the program's name and version and succeed
        Error   // print m_strError and fail with a usage status
    };

    // bFiles: INPUT and BASE must be given (false: no file names may be given, as with
    // --list-presets).
    Outcome Parse(int argc, const char* const* argv, bool bFiles = true);
    // Gives the chosen settings to the splitter. Returns false and sets *pstrError to the
    // splitter's message when a value is out of range.
    bool ApplyTo(CSongSplitter& splitter, std::string* pstrError) const;
    static std::string HelpText();

    // Gap rules in stored form (slider positions), converted from the user's units.
    std::optional<int32_t> m_nGapSize, m_nGapLevel, m_nMinSong, m_nEndGap;
    std::optional<int32_t> m_bDcBlock, m_bSmartGap;
    double m_fListen = 30;            // --listen: seconds to listen on after the end gap
    std::optional<int16_t> m_nBits;   // 16 or 32; unset: chosen from the input
    bool m_bOverwrite = false;        // replace existing numbered files
    bool m_bQuiet = false;            // no progress bar, no per-file lines
    std::optional<int> m_nSongs;      // --songs: cut into exactly this many files
    std::vector<double> m_lengths;    // --lengths: expected song lengths in seconds
    bool m_bDryRun = false;           // find and list the cuts, write no song file
    std::string m_strCue;             // --cue: cue sheet of the cuts to write
    std::string m_strLabels;          // --labels: label track of the cuts to write
    std::string m_strInput;
    std::string m_strBase;
    std::string m_strError;           // why Parse() failed, one line without newline
};

// One command-line option: its name, the name of its value (null for a switch without
// a value), its help line, and how its value is taken into CSplitOptions.
struct SplitOptionRow {
    const char* szName;
    const char* szValueName;
    const char* szHelp;
    // Returns false with *pstrError set when the value is not acceptable.
    bool (*pfnApply)(CSplitOptions& options, const std::string& strValue, std::string* pstrError);
};

const std::vector<SplitOptionRow>& SplitOptionTable();

// Stored forms of the gap rules from the user's units, as the settings window's sliders
// hold them (steps of 1/1764 s, 1/32768 of full scale, 1/176.4 s). A value inside the
// range the help states lands on the nearest step inside that range; a value outside
// gives a position beyond it (inside the 32-bit range), so the splitter's own range
// check refuses it with its message.
int32_t GapSizePosition(double fSeconds);   // 0.01 to 5 s
int32_t GapLevelPosition(double fDb);       // -144 to -6 dB; below -90.3 dB the lowest step
int32_t MinSongPosition(double fSeconds);   // 1 to 200 s
int32_t EndGapPosition(double fSeconds);    // 1 to 30 s
// "M:SS" or "H:MM:SS" (seconds may have decimals) in seconds; false when it is not one.
bool ParseSongLength(const std::string& strValue, double* pfSeconds);

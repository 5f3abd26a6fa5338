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
        Error   // print m_strError and fail with a usage status
    };

    Outcome Parse(int argc, const char* const* argv);
    // Gives the chosen settings to the splitter. Returns false and sets *pstrError to the
    // splitter's message when a value is out of range.
    bool ApplyTo(CSongSplitter& splitter, std::string* pstrError) const;
    static std::string HelpText();

    // Gap rules in stored form (slider positions), converted from the user's units.
    std::optional<int32_t> m_nGapSize, m_nGapLevel, m_nMinSong, m_nEndGap;
    std::optional<int32_t> m_bDcBlock, m_bSmartGap;
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
// hold them: truncated toward zero, kept inside the 32-bit range so the splitter's own
// range check reports a value far out of range.
int32_t GapSizePosition(double fSeconds);
int32_t GapLevelPosition(double fDb);
int32_t SongSecondsPosition(double fSeconds);  // Min Song and End Gap
// "M:SS" or "H:MM:SS" (seconds may have decimals) in seconds; false when it is not one.
bool ParseSongLength(const std::string& strValue, double* pfSeconds);

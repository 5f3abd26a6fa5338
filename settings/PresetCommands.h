#pragma once
// The preset options of cadenzo-split: "--preset NAME" takes the gap rules, switches and
// bit depth from a preset of the preset file in the working directory, and
// "--list-presets" prints the presets. The command line never writes the preset file.

#include "settings/Presets.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CSongSplitter;

/**
 * The preset options taken out of a command line, and the arguments that remain for
 * the splitter's own option parser. Single-threaded.
 */
struct CPresetCommandLine
{
    bool m_bListPresets = false;             // "--list-presets"
    std::optional<std::string> m_strPreset;  // "--preset NAME" or "--preset=NAME"
    std::string m_strError;                  // why Extract() failed, one line
    std::vector<std::string> m_args;         // argv without the preset options

    // Splits argv. Options after "--" are left alone. Returns false with m_strError
    // set when "--preset" has no name, is given twice, or "--list-presets" has a value.
    bool Extract(int argc, const char* const* argv);

    // The remaining arguments as an argv (valid while this object lives and m_args
    // does not change), and their count.
    int Argc() const { return static_cast<int>(m_args.size()); }
    const char* const* Argv();

private:
    std::vector<const char*> m_argv;
};

// Lines for the help text of the two options, each ending in a newline.
std::string PresetOptionsHelp();

// Reads the presets of the working directory (or of directory when given) for the
// command line: "Tunex1.pre", or "Temp.pre" when only that is there (a save that did
// not finish; it is read where it is, nothing is renamed). Returns false with a
// one-line *error (no newline) when there is no preset file or it cannot be read
// completely; the records before any damage are in presets all the same.
bool LoadPresetsForCommand(CPresetList& presets, std::string* error,
                           const std::string& directory = std::string());

// One line per preset, in list order: the quoted name (control characters shown as
// \xNN), the four gap rules as stored, in seconds or dB, the switches, the sample rate,
// the bit depth, the channels and the device id. Each line ends in "\n".
std::string FormatPresetList(const CPresetList& presets);

// Gives the preset's gap rules, switches and bit depth to the splitter through its
// setters, in the order the main window applies a preset. Every value is applied; the
// engine's error text of each out-of-range value is appended to *errors (one per
// line, as the engine words it). The bit depth must be 16 or 32. Returns false when
// any value was refused or out of range.
bool ApplyPresetToSplitter(const CPresets& preset, CSongSplitter& splitter, std::string* errors);

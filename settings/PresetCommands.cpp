#include "settings/PresetCommands.h"

#include "engine/SongSplitter.h"
#include "settings/PresetFile.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace {

const char kPresetOption[] = "--preset";
const char kListOption[] = "--list-presets";

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string Quote(const std::string& name)
{
    std::string out = "\"";
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Values from stored forms, with the same factors as the settings window's labels.
double GapSizeSeconds(int32_t p) { return -static_cast<double>(p) * static_cast<double>(1.0f / 1764.0f); }
double GapLevelDb(int32_t p) { return 20.0 * std::log10(-static_cast<double>(p) / 32768.0); }
double SongSeconds(int32_t p) { return -static_cast<double>(p) * static_cast<double>(0.0056689344f); }

std::string Number(const char* format, double v)
{
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

}  // namespace

bool CPresetCommandLine::Extract(int argc, const char* const* argv)
{
    m_args.clear();
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (i == 0 || optionsEnded) {
            m_args.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            m_args.push_back(arg);
            continue;
        }
        if (arg == kListOption) {
            m_bListPresets = true;
            continue;
        }
        if (arg.compare(0, sizeof kListOption, std::string(kListOption) + "=") == 0) {
            m_strError = std::string(kListOption) + " takes no value.";
            return false;
        }
        std::optional<std::string> name;
        if (arg == kPresetOption) {
            if (i + 1 >= argc) {
                m_strError = std::string(kPresetOption) + " needs a value: NAME.";
                return false;
            }
            name = argv[++i] ? argv[i] : "";
        } else if (arg.compare(0, sizeof kPresetOption, std::string(kPresetOption) + "=") == 0) {
            name = arg.substr(sizeof kPresetOption);
        }
        if (name) {
            if (m_strPreset) {
                m_strError = std::string(kPresetOption) + " is given more than once.";
                return false;
            }
            m_strPreset = *name;
            continue;
        }
        m_args.push_back(arg);
    }
    return true;
}

const char* const* CPresetCommandLine::Argv()
{
    m_argv.clear();
    for (const std::string& a : m_args)
        m_argv.push_back(a.c_str());
    m_argv.push_back(nullptr);
    return m_argv.data();
}

std::string PresetOptionsHelp()
{
    return "  --preset NAME         take the gap rules, switches and bit depth from the preset\n"
           "                        of this exact name (case counts) in Tunex1.pre of the\n"
           "                        working directory; options given as well win\n"
           "  --list-presets        list the presets of Tunex1.pre in the working directory,\n"
           "                        one per line, and stop\n";
}

bool LoadPresetsForCommand(CPresetList& presets, std::string* error, const std::string& directory)
{
    std::string folder = directory;
    if (folder.empty()) {
        std::error_code ec;
        folder = std::filesystem::current_path(ec).string();
        if (ec)
            folder = ".";
    }
    if (folder.back() != '/')
        folder += '/';
    std::string path = folder + CPresetFile::kPresetFileName;
    if (!Exists(path)) {
        const std::string temp = folder + CPresetFile::kTempFileName;
        if (!Exists(temp)) {
            if (error)
                *error = "there is no preset file: " + path + " does not exist.";
            return false;
        }
        path = temp;
    }
    const CPresetReadResult r = CPresetFile::ReadFile(path, presets);
    if (!r.m_bComplete) {
        if (error)
            *error = "the presets in " + path + " could not be read: " + r.m_strReason + ".";
        return false;
    }
    return true;
}

std::string FormatPresetList(const CPresetList& presets)
{
    std::string out;
    for (const auto& p : presets) {
        out += Quote(p->GetName());
        out += ": gap size " + Number("%.3f", GapSizeSeconds(p->m_nGapSize)) + " s";
        out += ", gap level " + Number("%.1f", GapLevelDb(p->m_nGapLevel)) + " dB";
        out += ", min song " + Number("%.2f", SongSeconds(p->m_nMinSong)) + " s";
        out += ", end gap " + Number("%.2f", SongSeconds(p->m_nEndGap)) + " s";
        out += std::string(", DC block ") + (p->m_bDCBlock ? "on" : "off");
        out += std::string(", Smart Gap ") + (p->m_bIgnoreClicks ? "on" : "off");
        out += ", " + std::to_string(p->m_nSamplesPerSec) + " Hz";
        out += ", " + std::to_string(p->m_nBitsPerSample) + " bits";
        out += ", " + std::to_string(p->m_nChannels) + " channels";
        out += ", device " + std::to_string(p->m_nWaveInID);
        if (p->m_nWaveInID == -1)
            out += " (default)";
        out += "\n";
    }
    return out;
}

bool ApplyPresetToSplitter(const CPresets& preset, CSongSplitter& splitter, std::string* errors)
{
    bool ok = true;
    auto check = [&]() {
        if (!splitter.HasError())
            return;
        ok = false;
        if (errors)
            *errors += splitter.GetErrorText();
    };
    splitter.SetGapSize(preset.m_nGapSize);
    check();
    splitter.SetGapLevel(preset.m_nGapLevel);
    check();
    splitter.SetMinSong(preset.m_nMinSong);
    check();
    splitter.SetEndGap(preset.m_nEndGap);
    check();
    splitter.SetDcBlock(preset.m_bDCBlock);
    splitter.SetIgnoreClicks(preset.m_bIgnoreClicks);
    if (preset.m_nBitsPerSample == 16 || preset.m_nBitsPerSample == 32) {
        splitter.SetBitsPerSample(preset.m_nBitsPerSample);
    } else {
        ok = false;
        if (errors)
            *errors += "The preset's bit depth " + std::to_string(preset.m_nBitsPerSample) +
                       " is neither 16 nor 32.\n";
    }
    return ok;
}

#pragma once
// Helpers shared by the preset and settings tests: a scripted prompt, a preset box
// that behaves like a sorted drop-down list, and byte helpers.

#include "capture/Prompt.h"
#include "settings/PresetFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ShownMessage {
    std::string text;
    std::string caption;
    PromptButtons buttons;
    PromptIcon icon;
};

// Answers each message box with the next scripted answer (Ok when the script is empty)
// and records what was shown.
class ScriptedPrompt : public IPrompt {
public:
    std::deque<PromptAnswer> answers;
    std::vector<ShownMessage> shown;

    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override
    {
        shown.push_back({text, caption, buttons, icon});
        if (answers.empty())
            return PromptAnswer::Ok;
        const PromptAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool SaveFileDialog(const std::string&, const std::string&, const std::vector<PromptFileFilter>&,
                        std::string*, std::string*) override
    {
        return false;
    }
};

// A sorted list with a selection, searched the way a drop-down list's exact search
// does: the whole text, ignoring case.
class FakePresetBox : public IPresetWindow {
public:
    std::vector<std::string> entries;
    int selected = -1;
    int focusCount = 0;

    void ClearPresetBox() override
    {
        entries.clear();
        selected = -1;
    }
    void AddPresetToBox(const std::string& name) override
    {
        entries.insert(std::upper_bound(entries.begin(), entries.end(), name, Less), name);
    }
    int FindPresetInBox(const std::string& name) const override
    {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (Lower(entries[i]) == Lower(name))
                return static_cast<int>(i);
        }
        return -1;
    }
    void SelectPresetInBox(int index) override { selected = index; }
    void FocusDefaultButton() override { ++focusCount; }

    std::string SelectedText() const { return selected < 0 ? std::string() : entries[selected]; }

private:
    static std::string Lower(std::string s)
    {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
    static bool Less(const std::string& a, const std::string& b) { return Lower(a) < Lower(b); }
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

inline void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

inline void Append16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void Append32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void AppendText(std::vector<uint8_t>& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
}

inline std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The 14-byte class header before the first record.
inline std::vector<uint8_t> ClassHeader(uint16_t schema = 11)
{
    std::vector<uint8_t> out = Bytes({0xFF, 0xFF});
    Append16(out, schema);
    Append16(out, 8);
    AppendText(out, "CPresets");
    return out;
}

// A schema-11 body after a short name.
inline std::vector<uint8_t> Body11(const std::string& name, int32_t gapSize, int32_t gapLevel,
                                   int32_t minSong, int32_t endGap, int32_t dc, int32_t clicks,
                                   int16_t bits, int32_t rate, int16_t channels, int32_t device)
{
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(name.size()));
    AppendText(out, name);
    for (int32_t v : {gapSize, gapLevel, minSong, endGap, dc, clicks})
        Append32(out, static_cast<uint32_t>(v));
    Append16(out, static_cast<uint16_t>(bits));
    Append32(out, static_cast<uint32_t>(rate));
    Append16(out, static_cast<uint16_t>(channels));
    Append32(out, static_cast<uint32_t>(device));
    return out;
}

// Settings values in the order a schema-11 record holds them.
inline CSettingsValues MakeValues(int32_t gapSize, int32_t gapLevel, int32_t minSong, int32_t endGap,
                                  int32_t dc, int32_t clicks, int16_t bits, int32_t rate,
                                  int16_t channels, int32_t device)
{
    CSettingsValues v;
    v.m_nGapSize = gapSize;
    v.m_nGapLevel = gapLevel;
    v.m_nMinSong = minSong;
    v.m_nEndGap = endGap;
    v.m_bDCBlock = dc;
    v.m_bIgnoreClicks = clicks;
    v.m_nBitsPerSample = bits;
    v.m_nSamplesPerSec = rate;
    v.m_nChannels = channels;
    v.m_nWaveInID = device;
    return v;
}

// A schema-1 body after a short name.
inline std::vector<uint8_t> Body1(const std::string& name, int32_t gapSize, int32_t gapLevel,
                                  int32_t minSong, int32_t endGap, int32_t dc, int32_t device)
{
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(name.size()));
    AppendText(out, name);
    for (int32_t v : {gapSize, gapLevel, minSong, endGap, dc, device})
        Append32(out, static_cast<uint32_t>(v));
    return out;
}

#include "settings/PresetFile.h"

#include "capture/Prompt.h"

std::vector<uint8_t> CPresetFile::WriteArchive(const CPresetList&) { return {0, 0}; }
CPresetReadResult CPresetFile::ReadArchive(const uint8_t*, std::size_t, CPresetList&) { return {}; }
CPresetReadResult CPresetFile::ReadFile(const std::string&, CPresetList&) { return {}; }
bool CPresetFile::WriteFileDurably(const CPresetList&, const std::string&, const std::string&, std::string*) { return false; }
void CPresetFile::LoadPresets(CPresetList& presets, const char* presetName, IPresetWindow& window, IPrompt&, const std::string&)
{
    FillPresetList(presets, presetName, window);
    window.FocusDefaultButton();
}
bool CPresetFile::SavePresets(const CPresetList&, IPrompt&) { return false; }
void FillPresetList(const CPresetList& presets, const char* presetName, IPresetWindow& window)
{
    window.ClearPresetBox();
    for (const auto& p : presets)
        window.AddPresetToBox(p->GetName());
    window.SelectPresetInBox(window.FindPresetInBox(presetName ? presetName : ""));
}

#include "settings/Presets.h"

#include <cstring>
#include <utility>

std::string CutPresetName(const std::string& name)
{
    if (name.size() <= kPresetNameMaxLength)
        return name;
    return name.substr(0, kPresetNameMaxLength);
}

void CopyPresetName(char* dst, const std::string& name)
{
    if (!dst)
        return;
    const std::size_t n = name.size() < kPresetNameMaxLength ? name.size() : kPresetNameMaxLength;
    std::memcpy(dst, name.data(), n);
    dst[n] = '\0';
}

void CPresets::SetName(std::string name)
{
    if (name.size() > kPresetNameMaxLength)
        name.resize(kPresetNameMaxLength);
    m_strName = std::move(name);
}

CSettingsValues CPresets::GetValues() const
{
    CSettingsValues v;
    v.m_nGapSize = m_nGapSize;
    v.m_nGapLevel = m_nGapLevel;
    v.m_nMinSong = m_nMinSong;
    v.m_nEndGap = m_nEndGap;
    v.m_bDCBlock = m_bDCBlock;
    v.m_bIgnoreClicks = m_bIgnoreClicks;
    v.m_nSamplesPerSec = m_nSamplesPerSec;
    v.m_nBitsPerSample = m_nBitsPerSample;
    v.m_nChannels = m_nChannels;
    v.m_nWaveInID = m_nWaveInID;
    return v;
}

void CPresets::SetValues(const CSettingsValues& v)
{
    m_nGapSize = v.m_nGapSize;
    m_nGapLevel = v.m_nGapLevel;
    m_nMinSong = v.m_nMinSong;
    m_nEndGap = v.m_nEndGap;
    m_bDCBlock = v.m_bDCBlock;
    m_bIgnoreClicks = v.m_bIgnoreClicks;
    m_nSamplesPerSec = v.m_nSamplesPerSec;
    m_nBitsPerSample = v.m_nBitsPerSample;
    m_nChannels = v.m_nChannels;
    m_nWaveInID = v.m_nWaveInID;
}

CPresets* CPresetList::GetAt(std::size_t index) const
{
    return index < m_items.size() ? m_items[index].get() : nullptr;
}

CPresets* CPresetList::Find(const std::string& name) const
{
    const int index = FindIndex(name);
    return index < 0 ? nullptr : m_items[static_cast<std::size_t>(index)].get();
}

int CPresetList::FindIndex(const std::string& name) const
{
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i]->GetName() == name)
            return static_cast<int>(i);
    }
    return -1;
}

CPresets* CPresetList::Add(std::unique_ptr<CPresets> preset)
{
    if (!preset)
        return nullptr;
    m_items.push_back(std::move(preset));
    return m_items.back().get();
}

CPresets* CPresetList::Add(const std::string& name, const CSettingsValues& values)
{
    auto preset = std::make_unique<CPresets>(name);
    preset->SetValues(values);
    return Add(std::move(preset));
}

void CPresetList::RemoveAt(std::size_t index)
{
    if (index < m_items.size())
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
}

bool CPresetList::Remove(const std::string& name)
{
    const int index = FindIndex(name);
    if (index < 0)
        return false;
    RemoveAt(static_cast<std::size_t>(index));
    return true;
}

void CPresetList::Append(CPresetList&& other)
{
    if (&other == this)
        return;
    for (auto& item : other.m_items)
        m_items.push_back(std::move(item));
    other.m_items.clear();
}

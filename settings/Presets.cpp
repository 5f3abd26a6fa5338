#include "settings/Presets.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace {

// Whether the bytes are valid UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(const std::string& s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        std::size_t len = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i < len)
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        const uint32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

}  // namespace

std::string CutPresetName(const std::string& name)
{
    if (name.size() <= kPresetNameMaxLength)
        return name;
    std::size_t n = kPresetNameMaxLength;
    if (IsUtf8(name)) {
        // Back to the first byte of the character that would be split.
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
            --n;
    }
    return name.substr(0, n);
}

void CopyPresetName(char* dst, const std::string& name)
{
    if (!dst)
        return;
    const std::string cut = CutPresetName(name);
    std::memcpy(dst, cut.data(), cut.size());
    dst[cut.size()] = '\0';
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

std::string CPresetList::WholeName(const char* szCurrent) const
{
    const std::string current = szCurrent ? std::string(szCurrent, ::strnlen(szCurrent, kPresetNameSize)) : "";
    // A buffer cut on a character boundary may hold a few bytes less than 259.
    if (current.size() + 4 <= kPresetNameMaxLength || FindIndex(current) >= 0)
        return current;
    for (const auto& item : m_items) {
        const std::string& name = item->GetName();
        if (name.size() > kPresetNameMaxLength && CutPresetName(name) == current)
            return name;
    }
    return current;
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

#pragma once

#include <cstdint>

/**
 * The ten settings values that the main window keeps beside the splitter, that the
 * settings window edits, that a preset holds and that the persisted settings store:
 * the four gap rules in stored form (negative slider positions), the two switches, the
 * audio format and the input device.
 * A plain value; any thread may copy it, but only the window thread uses it.
 */
struct CSettingsValues
{
    int32_t m_nGapSize = -1764;      // Gap Size, stored form (-1764 = 1.00 s)
    int32_t m_nGapLevel = -582;      // Gap Level, stored form (-582 = -35.0 dB)
    int32_t m_nMinSong = -5293;      // Min Song, stored form (-5293 = 30 s)
    int32_t m_nEndGap = -1236;       // End Gap, stored form (-1236 = 7 s)
    int32_t m_bDCBlock = 1;          // 0 or 1
    int32_t m_bIgnoreClicks = 1;     // Smart Gap, 0 or 1
    int32_t m_nSamplesPerSec = 44100;  // Hz: 11025, 22050, 44100 or 48000
    int16_t m_nBitsPerSample = 16;   // 16, or 32 for the choice labelled "24"
    int16_t m_nChannels = 2;         // channel count; 2 in practice
    int32_t m_nWaveInID = -1;        // input device id, -1 for the system default device

    bool operator==(const CSettingsValues& o) const
    {
        return m_nGapSize == o.m_nGapSize && m_nGapLevel == o.m_nGapLevel &&
               m_nMinSong == o.m_nMinSong && m_nEndGap == o.m_nEndGap &&
               m_bDCBlock == o.m_bDCBlock && m_bIgnoreClicks == o.m_bIgnoreClicks &&
               m_nSamplesPerSec == o.m_nSamplesPerSec && m_nBitsPerSample == o.m_nBitsPerSample &&
               m_nChannels == o.m_nChannels && m_nWaveInID == o.m_nWaveInID;
    }
    bool operator!=(const CSettingsValues& o) const { return !(*this == o); }
};

#pragma once
// The level record the LED meters read: per channel the held peak and RMS in whole
// decibels and the clip count of the latest buffer, filled from the song splitter's
// statistics of each buffer.

#include <cstdint>

class CSongSplitter;

// Levels of one channel kept for the LED meters.
struct RecordLevelChannel {
    int32_t nHeldPeak = -100;  // dB re full scale, highest peak since the meter last read it
    int32_t nHeldRms = -100;   // dB re full scale, highest RMS since the meter last read it
    int32_t nClips = 0;        // clipped samples of the latest buffer
    int32_t bRead = 0;         // 1 once the meter has read this channel
};

// Folds the statistics of the buffer the splitter processed last into the two channels'
// records: a channel the meter has read starts afresh, one it has not yet read keeps the
// higher of the old and the new levels. Returns the clipped samples of both channels.
// The caller holds whatever lock guards the record.
int64_t StoreSplitterLevels(const CSongSplitter& splitter, RecordLevelChannel levels[2]);

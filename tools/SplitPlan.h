#pragma once
// cadenzo-split beyond the plain split: one analysing pass over the input (the cuts the
// recorder would make, and the quiet stretches), cuts chosen from a song count or from
// the song lengths, the explanation of a split that cut too little, and the cue sheet
// and label track of the cuts. Single-threaded.

#include "engine/QuietStretches.h"
#include "engine/SongSplitter.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

// One song of a split, in frames of the input.
struct SplitSong {
    int64_t nStart = 0;
    int64_t nEnd = 0;  // exclusive
};

// What one pass over the input found.
struct SplitAnalysis {
    int32_t nRate = 0;
    int16_t nBits = 16;
    int64_t nInputFrames = 0;             // the whole input
    int64_t nSplitFrames = 0;             // what a plain split records: to the end gap, or all
    std::vector<int64_t> splitterCuts;    // frames where a plain split begins a new song
    bool bEndReached = false;             // the end gap ended a plain split
    bool bLastFileLoud = false;           // its last file holds a sample above the gap level
    bool bStopped = false;                // interrupted before the end
    CQuietStretches quiet;                // at the gap level
    CQuietStretches nearlyQuiet;          // up to kNearlyQuietDb above it
    int64_t nBytesFed = 0;                // input bytes analysed so far
    int32_t nGapLevel = 0;                // the splitter's Gap Level position
};

// How far above the gap level a stretch may reach and still be reported as nearly quiet.
constexpr double kNearlyQuietDb = 12.0;
// How far from an expected song end (--lengths) a silence is looked for.
constexpr double kLengthWindowSeconds = 5.0;

// Reads the input as the recording session does (same format, same buffers, the splitter
// set up as given, DC Block applied) and fills *pAnalysis. Stops early when *pbInterrupted
// becomes non-zero (bStopped). False with *pstrError when the input cannot be read.
// fListenSeconds: listening after the end gap, as the session does it.
bool AnalyseInput(const std::string& strInput, const CSongSplitter& settings, int32_t nBufferBytes,
                  const volatile std::sig_atomic_t* pbInterrupted, SplitAnalysis* pAnalysis,
                  std::string* pstrError, double fListenSeconds = 0);

// The same analysis fed from a split as it runs (CRecordSession::SetBufferObserver):
// BeginAnalysis() before it, AnalyseBuffer() with every buffer the splitter judged, in
// order, and FinishAnalysis() after it. A split that ended at its end gap left input
// unread: FinishAnalysis() then analyses the whole input again as AnalyseInput() does.
void BeginAnalysis(const CSongSplitter& settings, SplitAnalysis* pAnalysis);
void AnalyseBuffer(const uint8_t* pData, int32_t nLen, int32_t bCut, int32_t nCutOffset, int32_t bEnd,
                   SplitAnalysis* pAnalysis);
bool FinishAnalysis(const std::string& strInput, const CSongSplitter& settings, int32_t nBufferBytes,
                    const volatile std::sig_atomic_t* pbInterrupted, SplitAnalysis* pAnalysis, std::string* pstrError,
                    double fListenSeconds = 0);

// The songs a plain split leaves, as the session would: the last file is left out when it
// would be removed as nothing but trailing silence.
std::vector<SplitSong> PlainSplitSongs(const SplitAnalysis& a, const CSongSplitter& settings);

// --songs: nSongs - 1 cut frames. False with *pstrError when the input is too short for
// that many songs of Min Song, or when too few silences lie far enough apart.
bool PlanSongCount(const SplitAnalysis& a, const CSongSplitter& settings, int nSongs,
                   std::vector<int64_t>* pCuts, std::string* pstrError);

// --lengths: a cut near each expected song end. *pstrNotes gets one line per end that
// found no silence, saying where it was cut instead. False with *pstrError when the
// input holds no sound or is shorter than the lengths.
bool PlanSongLengths(const SplitAnalysis& a, const CSongSplitter& settings, const std::vector<double>& lengths,
                     std::vector<int64_t>* pCuts, std::string* pstrNotes, std::string* pstrError);

// Songs from cut frames over nFrames frames.
std::vector<SplitSong> SongsFromCuts(const std::vector<int64_t>& cuts, int64_t nFrames);

// True when a split seems to have cut too little: no cut at all, or a song more than
// seven quarters as long as the median of the others (two songs taken for one).
bool LooksUndercut(const std::vector<SplitSong>& songs);

// Lines naming the longest quiet stretches that did not become cuts and the setting that
// would cut there; empty when the split does not look undercut.
std::string ExplainSplit(const SplitAnalysis& a, const CSongSplitter& settings, const std::vector<SplitSong>& songs);

// A line saying which End Gap would have let a split go on when its end gap ended it in
// a silence that sound follows; empty otherwise.
// With listening after the end gap (fListenSeconds), the --listen that would go on.
std::string ExplainEndGap(const SplitAnalysis& a, const CSongSplitter& settings, double fListenSeconds = 0);

// The cue sheet (the input file, one TRACK per song, INDEX 01 at its start in 1/75 s
// frames rounded down) and the label track ("start<TAB>end<TAB>Song n", seconds with six
// decimals). False with *pstrError when the file cannot be written.
bool WriteCueSheet(const std::string& strPath, const std::string& strInput, const std::vector<SplitSong>& songs,
                   int32_t nRate, std::string* pstrError);
bool WriteLabels(const std::string& strPath, const std::vector<SplitSong>& songs, int32_t nRate,
                 std::string* pstrError);

// "mm:ss.cc" of a frame count.
std::string FrameClock(int64_t nFrames, int32_t nRate);

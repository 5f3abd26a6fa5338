#pragma once

#include "engine/BiquadFilter.h"
#include "engine/ClickGate.h"

#include <cstdint>

/**
 * Finds the cuts between songs in a stream of captured buffers, and holds the gap
 * rules and audio format of a recording (the splitter settings).
 *
 * The four gap rules travel outside the splitter in their stored form, a negative
 * integer slider position; the setters convert a position to seconds or decibels and
 * the getters convert back. Out-of-range values are stored all the same and reported
 * through HasError()/GetErrorText(). Every setter and getter clears the error flag
 * first; the error text stays until the next failure ("No error" at construction).
 *
 * Call PrepareForRecording() before each recording, then ProcessBuffer() once per
 * captured buffer, in capture order. Audio is always two interleaved channels, left
 * first: 16-bit signed integers when the bits setting is 16, otherwise 32-bit floats
 * with full scale +-1.0.
 *
 * Not thread-safe: the window thread changes the settings while no recording runs; the
 * recording worker calls ProcessBuffer() while it holds the session lock, and the window
 * reads the statistics under that same lock. No allocation, no I/O, never throws.
 */
class CSongSplitter
{
public:
    CSongSplitter();

    // Gap rules, in stored form (slider positions, negative integers).
    void SetGapSize(int32_t position);   // seconds = -position / 1764;  valid 0.01 .. 5 s
    void SetGapLevel(int32_t position);  // dB = 20 log10(-position / 32768); valid -144 .. -6 dB
    void SetMinSong(int32_t position);   // seconds = -position / 176.4; valid 1 .. 200 s
    void SetEndGap(int32_t position);    // seconds = -position / 176.4; valid 1 .. 30 s
    int32_t GetGapSize() const;
    int32_t GetGapLevel() const;
    int32_t GetMinSong() const;
    int32_t GetEndGap() const;

    // Switches (stored as 0 or 1) and the audio format, stored as given.
    void SetDcBlock(int32_t on);
    void SetIgnoreClicks(int32_t on);  // "Smart Gap"
    void SetSamplesPerSec(int32_t rate);
    void SetBitsPerSample(int16_t bits);  // 16 = 16-bit integer, anything else = 32-bit float
    void SetChannels(int16_t channels);
    int32_t GetDcBlock() const;
    int32_t GetIgnoreClicks() const;
    int32_t GetSamplesPerSec() const;
    int16_t GetBitsPerSample() const;
    int16_t GetChannels() const;

    // Ranges of the settings window's four sliders (positions); they depend on nothing.
    static int32_t GetGapSizeSliderMin() { return -3880; }   // 2.20 s
    static int32_t GetGapSizeSliderMax() { return -353; }    // 0.20 s
    static int32_t GetGapLevelSliderMin() { return -3276; }  // -20.0 dB
    static int32_t GetGapLevelSliderMax() { return -1; }     // -90.3 dB
    static int32_t GetMinSongSliderMin() { return -21168; }  // 120 s
    static int32_t GetMinSongSliderMax() { return -1764; }   // 10 s
    static int32_t GetEndGapSliderMin() { return -5292; }    // 30 s
    static int32_t GetEndGapSliderMax() { return -882; }     // 5 s

    int HasError() const { return m_bError; }
    const char* GetErrorText() const { return m_szError; }

    // Starts a new recording: derives the sample counts and the threshold from the
    // settings, counts the start as both a loud sample and a cut, clears the DC-block
    // state. The click filters keep their state.
    void PrepareForRecording();

    // Analyses one captured buffer of byteCount bytes in place. When DC Block is on the
    // buffer is replaced by the DC-blocked, clamped signal. Sets *cutFound = 1 and
    // *cutOffset = byte offset (a frame boundary in 0 .. byteCount) where the next song
    // starts when the buffer holds a cut (the later one if it holds two); sets
    // *endReached = 1 when a silence has lasted End Gap. Never writes 0 to the flags;
    // the caller clears them. Null pointers are skipped.
    void ProcessBuffer(void* samples, int32_t byteCount, int32_t* cutFound, int32_t* cutOffset,
                       int32_t* endReached);

    // ProcessBuffer() picks the fastest of its loops the processor can run; they give the
    // same bits. With plain on, every splitter runs the loop any x86-64 processor can run,
    // so tests can compare the loops on one machine.
    static void UsePlainLoop(bool plain);

    // True when a file of byteCount sample bytes holds less than End Gap of audio, that
    // is, nothing but the trailing silence of a recording that ended by itself.
    bool IsShorterThanEndGap(int64_t byteCount) const;

    // Detection values derived from the settings by the last PrepareForRecording(), in
    // interleaved samples (two per frame) and in sample units (32768 = full scale for
    // 16-bit, 1.0 for float). They do not touch the error flag.
    int64_t GetGapSamples() const { return m_nGapSamples; }
    int64_t GetMinSongSamples() const { return m_nMinSongSamples; }
    int64_t GetEndGapSamples() const { return m_nEndGapSamples; }
    float GetGapThreshold() const { return m_fGapThreshold; }

    // The silence under way at the end of the buffer processed last: interleaved samples
    // since the last loud sample (or the start of the recording).
    int64_t GetSilenceSamples() const { return -m_nLastLoud; }
    // Sets End Gap in interleaved samples for the buffers that follow, until the next
    // PrepareForRecording(). Lets a silence run on past End Gap without ending the
    // recording, the cut tests going on as for any shorter silence.
    void SetEndGapSamples(int64_t samples) { m_nEndGapSamples = samples; }

    // Statistics of the buffer processed last, per channel (0 = left, 1 = right).
    // Peak: largest magnitude, 1.0 = full scale. Mean square: 0.020006042 times the
    // mean of the squared samples relative to full scale. Clipped: samples at or beyond
    // full scale. Out-of-range channels read 0.
    float GetPeak(int ch) const;
    float GetMeanSquare(int ch) const;
    int32_t GetClipped(int ch) const;

private:
    void ClearError() const { m_bError = 0; }
    void SetError(const char* text);

    // Settings, in physical units.
    float m_fGapSize;          // seconds of silence after the last loud sample before a cut
    float m_fGapLevel;         // dB re full scale at or below which a sample is silent
    float m_fMinSong;          // seconds required between two cuts
    float m_fEndGap;           // seconds of silence after which the recording ends
    int32_t m_bDcBlock;        // 0 or 1
    int32_t m_bIgnoreClicks;   // 0 or 1: detection judges the click-filtered signal
    int16_t m_nBitsPerSample;  // 16, or 32 for float samples
    int16_t m_nChannels;       // channel count of the recording (audio is always read as 2)
    int32_t m_nSamplesPerSec;  // Hz

    CBiquadFilter m_clickFilter[2];  // 2900 Hz low-pass per channel (left, right)

    // DC-block state: first-order high-pass, 60 Hz corner at 44100 Hz.
    float m_fDcCoeff;       // feedback coefficient R
    float m_fDcOut[2];      // previous output per channel
    float m_fDcPrevIn[2];   // previous input per channel

    // Processing state. Positions and durations count interleaved samples (two per frame).
    float m_fSample;            // sample being processed
    float m_fMagnitude;         // magnitude the gap detector judges
    int64_t m_nLastLoud;        // last loud sample, from the start of the current buffer; negative when earlier
    int64_t m_nLastCut;         // last cut (or the start), from the start of the current buffer; negative when earlier
    int64_t m_nGapSamples;      // Gap Size
    int64_t m_nMinSongSamples;  // Min Song
    int64_t m_nEndGapSamples;   // End Gap
    float m_fGapThreshold;      // Gap Level as a magnitude in sample units
    float m_fPeak[2];           // per channel, last buffer, 1.0 = full scale
    float m_fMeanSquare[2];     // per channel, last buffer, scaled mean square
    int32_t m_nClipped[2];      // per channel, last buffer
    float m_fClipLevel;         // 32767.0 for 16-bit, 1.0 for float
    CClickGate m_clickGate;     // Smart Gap: tells clicks in a silence from sound

    mutable int32_t m_bError;  // 1 after an out-of-range setter, cleared by every operation (getters too)
    char m_szError[1024];   // text of the last error
};

#pragma once

#include <cstdint>

/**
 * A second-order Butterworth filter in direct form II, used by the song splitter as
 * the click filter ("Smart Gap"): a 2900 Hz low-pass that keeps short clicks from
 * counting as loud samples when the gap detector looks for silence.
 * Call Design() once, then Process() once per sample of one channel.
 * Never throws: Design() reports an unknown filter type through HasError()/GetErrorText().
 * Not thread-safe: owned and driven by one thread (the recording worker, through the splitter).
 */
class CBiquadFilter
{
public:
    CBiquadFilter();
    virtual ~CBiquadFilter();

    // Designs a "LP" (low-pass) or "HP" (high-pass) filter with its -3 dB corner at
    // cutoffHz for sampleRate and clears the state. Any other type leaves all
    // coefficients at 0 and sets the error.
    void Design(const char* type, int32_t cutoffHz, int32_t sampleRate);

    // One input sample in, one filtered sample out.
    float Process(float x);

    int HasError() const { return m_bError; }
    const char* GetErrorText() const { return m_szError; }

private:
    void DesignLowPass();

    float m_b0, m_b1, m_b2;  // numerator coefficients
    float m_a0, m_a1, m_a2;  // denominator coefficients; m_a0 is not normalised to 1
    float m_w0, m_w1, m_w2;  // last three values of the recursion variable, newest first
    int32_t m_nCutoff;       // corner frequency in Hz, as designed (mirrored for "HP")
    int32_t m_nSampleRate;   // sample rate in Hz the design was made for
    int32_t m_bError;        // 1 after a design of an unknown type
    char m_szError[1024];    // text of that error
};

#pragma once
// What a capture source (the sound card, a file) sees of the capture device, and what the
// capture device asks of a source.

#include "capture/WaveFile.h"

#include <cstdint>
#include <string>

class CWaveIn;

/**
 * The capture device's receiving end. A source calls it from its capture thread (the
 * PortAudio callback, the file reader's thread) between its Start() and Stop().
 */
class CWaveInSink
{
public:
    explicit CWaveInSink(CWaveIn& waveIn) : m_waveIn(waveIn) {}

    // Stores the bytes (whole frames in the device's format), dropping what the ring cannot
    // hold as a counted loss, and completes the blocks that are now full. Never blocks for
    // long: the PortAudio callback calls it. Returns the bytes stored.
    int64_t Push(const void* pData, int64_t nBytes);
    // Stores all the bytes, waiting for room as long as needed. Returns false when the
    // device is being stopped (the rest is not stored).
    bool PushWait(const void* pData, int64_t nBytes);
    // Records nFrames that the source knows it did not deliver at stream position nStreamBytes;
    // bOverflow: the sound system said so (else only the clock did).
    void ReportMissing(int64_t nFrames, int64_t nStreamBytes, bool bOverflow = false);
    // Records nSamples float samples that were not numbers or too large and were replaced before they
    // were pushed; the first of them is the sample at stream position nFirstByte.
    void ReportMended(int64_t nSamples, int64_t nFirstByte);
    // The source cannot go on reading (a damaged or cut-off file): strText says why, naming
    // the input and the position. Call before EndOfStream(); it ends the stream the same way.
    void ReportReadError(const std::string& strText);
    // No more data will come: completes the last, short block.
    void EndOfStream();
    // Bytes stored since Start(): the stream position of the next byte pushed.
    int64_t StreamPosition() const;
    // Test hook: frames the sound card source should throw away (as if the sound server
    // lost them) once it has received nAfter frames; 0 for none.
    void GetTestDiscard(int64_t* pnAfter, int64_t* pnFrames, bool* pbFlagged) const;
    // Called by the capture thread when it begins capturing: names it "cadenzo-capture"
    // (as top and ps show threads) and raises its scheduling priority unless the device
    // was told not to. A refusal is not an error.
    void BeginCaptureThread();

private:
    CWaveIn& m_waveIn;
};

/**
 * A place audio comes from. Called by CWaveIn on the thread that drives it, in the order
 * Query*, Open, (Start, Stop)*, Close. After Stop() returns, the source pushes nothing more.
 */
class IWaveInSource
{
public:
    virtual ~IWaveInSource() = default;
    // Whether this format can be captured from nDevice; opens nothing.
    virtual bool Query(int32_t nDevice, const WaveFormat& format) = 0;
    // Prepares capture in this format; starts nothing. On failure it may set *pstrError
    // (left empty, the caller's own message is used).
    virtual bool Open(int32_t nDevice, const WaveFormat& format, CWaveInSink* pSink,
                      std::string* pstrError) = 0;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual bool Close() = 0;
};

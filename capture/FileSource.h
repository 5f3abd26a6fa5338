#pragma once
// Capture from a recording on disk, read with libsndfile.

#include "capture/WaveInSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

struct WaveInFileInfo;

/**
 * A recording on disk as a capture source. Whatever libsndfile reads (WAV, FLAC, Ogg, ...)
 * with one or two channels, converted to the device's format: 16-bit integers or 32-bit
 * floats, two channels, a mono file doubled. Samples already in the target format pass
 * unchanged; wider samples are rounded to 16 bits with clipping at full scale. Float
 * samples that are not numbers or lie beyond 1000 times full scale are replaced as they are
 * read (NaN by silence, the others by full scale) and reported to the sink. A named pipe or standard input ("-") is opened
 * once and read once.
 *
 * A reader thread pushes the samples, either as fast as the consumer makes room (nothing
 * is dropped) or paced at the file's rate like a sound card (a consumer that falls further
 * behind than the ring loses audio, counted like a sound card's). At the end of the file it
 * ends the stream, which completes a short last block; a file that cannot be read to the
 * end it states (a decoder error, a cut-off file) is reported to the sink first.
 *
 * Query/Open/Start/Stop/Close on the thread that drives the capture device.
 */
class CFileSource : public IWaveInSource
{
public:
    CFileSource(const std::string& strPath, bool bPaced);
    ~CFileSource() override;

    bool Query(int32_t nDevice, const WaveFormat& format) override;
    bool Open(int32_t nDevice, const WaveFormat& format, CWaveInSink* pSink,
              std::string* pstrError) override;
    bool Start() override;
    bool Stop() override;
    bool Close() override;

    // Facts of the file, or false with a one-line message ending in "\n".
    static bool Probe(const std::string& strPath, WaveInFileInfo* pInfo, std::string* pstrError);

private:
    void Run();
    // Reads up to nFrames converted frames into m_pChunk; returns the frames read.
    int64_t ReadFrames(int64_t nFrames);
    // Replaces the samples of pSamples (nFrames of the file's frames) that are not numbers
    // or too large, and reports them.
    void MendChunk(float* pSamples, int64_t nFrames);
    // After a short read: notes in m_strReadError why the input ended early, if it did.
    void CheckEnd(int64_t nRead);

    std::string m_strPath;
    bool m_bPaced;
    void* m_pFile = nullptr;         // SNDFILE
    bool m_bHeld = false;            // a stream held open for the whole process (see .cpp)
    bool m_bSeekable = false;
    int64_t m_nFileFrames = -1;      // length the file states, -1 when unknown
    int64_t m_nFramesRead = 0;       // frames read since the start of the audio
    std::string m_strReadError;      // reader thread: why the input ended early
    int32_t m_nFileChannels = 0;
    bool m_bFloat = false;           // deliver 32-bit floats (else 16-bit integers)
    bool m_bWideSource = false;      // the file's samples are wider than 16 bits
    int32_t m_nRate = 0;
    int32_t m_nFrameBytes = 0;
    CWaveInSink* m_pSink = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::unique_ptr<uint8_t[]> m_pChunk;   // converted frames
    std::unique_ptr<float[]> m_pFloats;    // frames as read, when they need converting
    std::unique_ptr<int16_t[]> m_pShorts;
    int64_t m_nChunkFrames = 0;
};

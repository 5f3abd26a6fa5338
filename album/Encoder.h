#pragma once
// The lossy formats of an export: MP3 (LAME VBR V0 or 320 kbit/s), Ogg Vorbis at quality 6
// and Opus at 160 kbit/s, written through libsndfile from float frames. Opus carries 8, 12,
// 16, 24 and 48 kHz only; other rates are resampled to 48 kHz with libsoxr at its high
// quality, streamed in chunks.

#include <cstdint>
#include <memory>
#include <string>

enum class CExportFormat;

class CLossyEncoder
{
public:
    CLossyEncoder();
    ~CLossyEncoder();  // closes without reporting
    CLossyEncoder(const CLossyEncoder&) = delete;
    CLossyEncoder& operator=(const CLossyEncoder&) = delete;

    // False with "Cannot write PATH: reason." when the file cannot be made in that format.
    bool Open(const std::string& strPath, CExportFormat format, int32_t nChannels, int32_t nRate,
              std::string* pError);
    // Interleaved frames; samples beyond full scale are clamped and counted.
    bool Write(const float* pFrames, int64_t nFrames, std::string* pError);
    // Flushes the resampler and the encoder.
    bool Close(std::string* pError);
    int64_t GetClamped() const;

    // The rate a file of the format carries for a recording of nRate.
    static int32_t OutputRate(CExportFormat format, int32_t nRate);
    static bool IsLossy(CExportFormat format);

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

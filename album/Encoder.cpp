#include "album/Encoder.h"

#include "album/Export.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <vector>

struct CLossyEncoder::Impl {
    SNDFILE* pFile = nullptr;
    soxr_t pResampler = nullptr;
    std::string strPath;
    int32_t nChannels = 0;
    double fRatio = 1.0;  // output rate / input rate
    int64_t nClamped = 0;
    std::vector<float> clamped;
    std::vector<float> resampled;

    bool Fail(std::string* pError, const char* szReason)
    {
        *pError = "Cannot write " + strPath + ": " + szReason + ".";
        return false;
    }
    bool Put(const float* p, int64_t nFrames, std::string* pError)
    {
        if (nFrames > 0 && sf_writef_float(pFile, p, nFrames) != nFrames) return Fail(pError, sf_strerror(pFile));
        return true;
    }
    void Release()
    {
        if (pResampler != nullptr) soxr_delete(pResampler);
        pResampler = nullptr;
        if (pFile != nullptr) sf_close(pFile);
        pFile = nullptr;
    }
};

CLossyEncoder::CLossyEncoder() : m_pImpl(new Impl) {}

CLossyEncoder::~CLossyEncoder() { m_pImpl->Release(); }

bool CLossyEncoder::IsLossy(CExportFormat format)
{
    return format == CExportFormat::Mp3 || format == CExportFormat::Mp3Cbr320 ||
           format == CExportFormat::Ogg || format == CExportFormat::Opus;
}

int32_t CLossyEncoder::OutputRate(CExportFormat format, int32_t nRate)
{
    if (format != CExportFormat::Opus) return nRate;
    for (int32_t nOpus : {8000, 12000, 16000, 24000, 48000})
        if (nRate == nOpus) return nRate;
    return 48000;
}

bool CLossyEncoder::Open(const std::string& strPath, CExportFormat format, int32_t nChannels,
                         int32_t nRate, std::string* pError)
{
    Impl& d = *m_pImpl;
    d.Release();
    d.strPath = strPath;
    d.nChannels = nChannels;
    d.nClamped = 0;
    SF_INFO info{};
    info.channels = nChannels;
    info.samplerate = OutputRate(format, nRate);
    int nMode = SF_BITRATE_MODE_VARIABLE;
    double fLevel = 0.0;  // libsndfile's compression level, 0 the best quality
    switch (format) {
    case CExportFormat::Mp3:  // LAME's VBR quality is ten times the level: V0
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        break;
    case CExportFormat::Mp3Cbr320:  // the level runs from 320 kbit/s down: 320
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        nMode = SF_BITRATE_MODE_CONSTANT;
        break;
    case CExportFormat::Ogg:  // Vorbis quality is one minus the level: 0.6, "quality 6"
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        fLevel = 0.4;
        break;
    case CExportFormat::Opus:
        info.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
        // libsndfile spreads the level over 6 to 256 kbit/s a channel, 0 the highest.
        fLevel = std::clamp(1.0 - (160000.0 / nChannels - 6000.0) / 250000.0, 0.0, 1.0);
        break;
    default:
        return d.Fail(pError, "not a lossy format");
    }
    d.pFile = sf_open(strPath.c_str(), SFM_WRITE, &info);
    if (d.pFile == nullptr) return d.Fail(pError, sf_strerror(nullptr));
    // The mode first: the level's meaning depends on it.
    if (format != CExportFormat::Ogg) sf_command(d.pFile, SFC_SET_BITRATE_MODE, &nMode, sizeof nMode);
    if (sf_command(d.pFile, SFC_SET_COMPRESSION_LEVEL, &fLevel, sizeof fLevel) != SF_TRUE) {
        d.Release();
        return d.Fail(pError, "the encoder refuses its quality");
    }
    if (info.samplerate != nRate) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t error = nullptr;
        d.pResampler = soxr_create(nRate, info.samplerate, static_cast<unsigned>(nChannels), &error, &io,
                                   &quality, nullptr);
        if (d.pResampler == nullptr) {
            d.Release();
            return d.Fail(pError, error ? error : "the resampler cannot start");
        }
        d.fRatio = static_cast<double>(info.samplerate) / nRate;
    }
    return true;
}

bool CLossyEncoder::Write(const float* pFrames, int64_t nFrames, std::string* pError)
{
    Impl& d = *m_pImpl;
    if (d.pFile == nullptr) return d.Fail(pError, "the file is not open");
    const size_t nSamples = static_cast<size_t>(nFrames * d.nChannels);
    d.clamped.resize(nSamples);
    for (size_t i = 0; i < nSamples; ++i) {
        float f = pFrames[i];
        if (!(f >= -1.0f && f <= 1.0f)) {  // NaN too
            if (f > 1.0f || f < -1.0f) ++d.nClamped;
            f = std::isnan(f) ? 0.0f : std::clamp(f, -1.0f, 1.0f);
        }
        d.clamped[i] = f;
    }
    if (d.pResampler == nullptr) return d.Put(d.clamped.data(), nFrames, pError);
    d.resampled.resize(static_cast<size_t>((std::ceil(nFrames * d.fRatio) + 64) * d.nChannels));
    size_t nDone = 0;
    if (soxr_process(d.pResampler, d.clamped.data(), static_cast<size_t>(nFrames), nullptr, d.resampled.data(),
                     d.resampled.size() / static_cast<size_t>(d.nChannels), &nDone) != nullptr)
        return d.Fail(pError, "the resampler failed");
    return d.Put(d.resampled.data(), static_cast<int64_t>(nDone), pError);
}

bool CLossyEncoder::Close(std::string* pError)
{
    Impl& d = *m_pImpl;
    if (d.pFile == nullptr) return d.Fail(pError, "the file is not open");
    bool bOk = true;
    if (d.pResampler != nullptr) {
        // The resampler's tail: what its filter still holds.
        d.resampled.resize(static_cast<size_t>(4096 * d.nChannels));
        for (size_t nDone = 1; bOk && nDone > 0;) {
            nDone = 0;
            if (soxr_process(d.pResampler, nullptr, 0, nullptr, d.resampled.data(), 4096, &nDone) != nullptr)
                bOk = d.Fail(pError, "the resampler failed");
            else
                bOk = d.Put(d.resampled.data(), static_cast<int64_t>(nDone), pError);
        }
        soxr_delete(d.pResampler);
        d.pResampler = nullptr;
    }
    if (sf_close(d.pFile) != 0 && bOk) bOk = d.Fail(pError, "the encoder could not finish");
    d.pFile = nullptr;
    return bOk;
}

int64_t CLossyEncoder::GetClamped() const { return m_pImpl->nClamped; }

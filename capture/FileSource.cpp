#include "capture/FileSource.h"

#include "capture/WaveIn.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::string Format(const char* szFormat, const std::string& strPath, const char* szDetail = "")
{
    char sz[1024];
    std::snprintf(sz, sizeof sz, szFormat, strPath.c_str(), szDetail);
    return sz;
}

// Whether libsndfile hands samples over wider than 16 bits.
bool IsWide(int nFormat, int* pnBits)
{
    *pnBits = 0;
    switch (nFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: *pnBits = 8; return false;
    case SF_FORMAT_PCM_16: *pnBits = 16; return false;
    case SF_FORMAT_PCM_24: *pnBits = 24; return true;
    case SF_FORMAT_PCM_32: *pnBits = 32; return true;
    case SF_FORMAT_FLOAT: *pnBits = 32; return true;
    case SF_FORMAT_DOUBLE: *pnBits = 64; return true;
    case SF_FORMAT_ULAW: case SF_FORMAT_ALAW: case SF_FORMAT_IMA_ADPCM: case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610: case SF_FORMAT_G721_32: case SF_FORMAT_G723_24: case SF_FORMAT_G723_40:
    case SF_FORMAT_DWVW_12: case SF_FORMAT_DWVW_16: case SF_FORMAT_DPCM_8: case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16: case SF_FORMAT_NMS_ADPCM_16: case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32:
        return false;
    case SF_FORMAT_ALAC_20: case SF_FORMAT_ALAC_24: case SF_FORMAT_ALAC_32:
    case SF_FORMAT_DWVW_24:
        return true;
    default:
        return true;  // lossy codecs decode to floats
    }
}

// Opens the file for reading, or explains why not.
SNDFILE* OpenForReading(const std::string& strPath, SF_INFO* pInfo, std::string* pstrError)
{
    struct stat st;
    if (stat(strPath.c_str(), &st) != 0) {
        if (pstrError) *pstrError = Format("Cannot find input file %s.\n", strPath);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        if (pstrError) *pstrError = Format("Cannot read input file %s: it is a folder.\n", strPath);
        return nullptr;
    }
    std::memset(pInfo, 0, sizeof *pInfo);
    SNDFILE* pFile = sf_open(strPath.c_str(), SFM_READ, pInfo);
    if (!pFile) {
        if (pstrError) {
            if (errno == EACCES)
                *pstrError = Format("Cannot read input file %s: permission denied.\n", strPath);
            else
                *pstrError = Format("Cannot read input file %s: %s\n", strPath, sf_strerror(nullptr));
        }
        return nullptr;
    }
    if (pInfo->channels < 1 || pInfo->channels > 2) {
        if (pstrError) {
            char szChannels[32];
            std::snprintf(szChannels, sizeof szChannels, "%d", pInfo->channels);
            *pstrError = Format("Cannot record from %s: it has %s channels; only mono and stereo can be read.\n",
                                strPath, szChannels);
        }
        sf_close(pFile);
        return nullptr;
    }
    if (pInfo->samplerate <= 0) {
        if (pstrError) *pstrError = Format("Cannot record from %s: it has no sample rate.\n", strPath);
        sf_close(pFile);
        return nullptr;
    }
    return pFile;
}

}  // namespace

CFileSource::CFileSource(const std::string& strPath, bool bPaced) : m_strPath(strPath), m_bPaced(bPaced) {}

CFileSource::~CFileSource()
{
    Stop();
    Close();
}

bool CFileSource::Probe(const std::string& strPath, WaveInFileInfo* pInfo, std::string* pstrError)
{
    SF_INFO info;
    SNDFILE* pFile = OpenForReading(strPath, &info, pstrError);
    if (!pFile) return false;
    if (pInfo) {
        pInfo->nRate = info.samplerate;
        pInfo->nChannels = info.channels;
        pInfo->nFrames = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
        pInfo->bWide = IsWide(info.format, &pInfo->nSourceBits);
    }
    sf_close(pFile);
    return true;
}

bool CFileSource::Query(int32_t, const WaveFormat& format)
{
    SF_INFO info;
    SNDFILE* pFile = OpenForReading(m_strPath, &info, nullptr);
    if (!pFile) return false;
    sf_close(pFile);
    const bool bSampleFormat = (format.tag == 1 && format.bitsPerSample == 16) ||
                               (format.tag == 3 && format.bitsPerSample == 32);
    // The file is captured at its own rate: nothing is resampled.
    return bSampleFormat && format.channels == 2 &&
           format.samplesPerSec == static_cast<uint32_t>(info.samplerate);
}

bool CFileSource::Open(int32_t nDevice, const WaveFormat& format, CWaveInSink* pSink,
                       std::string* pstrError)
{
    Close();
    if (!Query(nDevice, format)) {
        // Say what is wrong with the file if anything is; else the device's own message.
        SF_INFO info;
        if (SNDFILE* pFile = OpenForReading(m_strPath, &info, pstrError)) sf_close(pFile);
        return false;
    }
    SF_INFO info;
    SNDFILE* pFile = OpenForReading(m_strPath, &info, pstrError);
    if (!pFile) return false;
    m_pFile = pFile;
    m_nFileChannels = info.channels;
    m_bFloat = format.tag == 3;
    m_nRate = static_cast<int32_t>(format.samplesPerSec);
    m_nFrameBytes = format.blockAlign;
    m_pSink = pSink;
    // Paced: about 20 ms a chunk, the pace of a sound card's periods. As fast as the
    // consumer takes it: 16384 frames a chunk, so the reader takes the hand-out lock and
    // wakes the consumer about once per block rather than a dozen times.
    m_nChunkFrames = m_bPaced ? std::max<int64_t>(256, m_nRate / 50) : 16384;
    m_pChunk.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_nChunkFrames * m_nFrameBytes)]);
    m_pFloats.reset(new (std::nothrow) float[static_cast<size_t>(m_nChunkFrames * 2)]);
    m_pShorts.reset(new (std::nothrow) int16_t[static_cast<size_t>(m_nChunkFrames * 2)]);
    if (!m_pChunk || !m_pFloats || !m_pShorts) {
        Close();
        return false;
    }
    int nBits = 0;
    m_bWideSource = IsWide(info.format, &nBits);
    return true;
}

bool CFileSource::Start()
{
    if (!m_pFile || m_thread.joinable()) return false;
    if (sf_seek(static_cast<SNDFILE*>(m_pFile), 0, SEEK_SET) < 0) return false;
    m_bStop = false;
    try {
        m_thread = std::thread(&CFileSource::Run, this);
    } catch (...) {
        return false;
    }
    return true;
}

bool CFileSource::Stop()
{
    m_bStop = true;
    if (m_thread.joinable()) m_thread.join();
    return m_pFile != nullptr;
}

bool CFileSource::Close()
{
    Stop();
    const bool bWasOpen = m_pFile != nullptr;
    if (m_pFile) sf_close(static_cast<SNDFILE*>(m_pFile));
    m_pFile = nullptr;
    m_pSink = nullptr;
    return bWasOpen;
}

int64_t CFileSource::ReadFrames(int64_t nFrames)
{
    SNDFILE* pFile = static_cast<SNDFILE*>(m_pFile);
    const int nChannels = m_nFileChannels;
    if (m_bFloat) {
        float* pOut = reinterpret_cast<float*>(m_pChunk.get());
        const sf_count_t nRead = sf_readf_float(pFile, m_pFloats.get(), nFrames);
        for (sf_count_t i = 0; i < nRead; ++i) {
            pOut[2 * i] = m_pFloats[static_cast<size_t>(i * nChannels)];
            pOut[2 * i + 1] = m_pFloats[static_cast<size_t>(i * nChannels + nChannels - 1)];
        }
        return nRead;
    }
    int16_t* pOut = reinterpret_cast<int16_t*>(m_pChunk.get());
    if (m_bWideSource) {
        // Wider samples are rounded to 16 bits here, clipped at full scale.
        const sf_count_t nRead = sf_readf_float(pFile, m_pFloats.get(), nFrames);
        for (sf_count_t i = 0; i < nRead * 2; ++i) {
            const float f = m_pFloats[static_cast<size_t>((i / 2) * nChannels + (i % 2 ? nChannels - 1 : 0))];
            const float fScaled = std::nearbyint(f * 32768.0f);
            pOut[i] = static_cast<int16_t>(std::clamp(fScaled, -32768.0f, 32767.0f));
        }
        return nRead;
    }
    const sf_count_t nRead = sf_readf_short(pFile, m_pShorts.get(), nFrames);
    for (sf_count_t i = 0; i < nRead; ++i) {
        pOut[2 * i] = m_pShorts[static_cast<size_t>(i * nChannels)];
        pOut[2 * i + 1] = m_pShorts[static_cast<size_t>(i * nChannels + nChannels - 1)];
    }
    return nRead;
}

void CFileSource::Run()
{
    m_pSink->BeginCaptureThread();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    int64_t nDelivered = 0;
    while (!m_bStop) {
        const int64_t nFrames = ReadFrames(m_nChunkFrames);
        if (nFrames <= 0) break;
        const int64_t nBytes = nFrames * m_nFrameBytes;
        if (m_bPaced) {
            // A sound card hands over each period when it has been recorded.
            nDelivered += nFrames;
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(double(nDelivered) / m_nRate));
            while (!m_bStop && Clock::now() < due)
                std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(20)));
            if (m_bStop) break;
            m_pSink->Push(m_pChunk.get(), nBytes);
        } else if (!m_pSink->PushWait(m_pChunk.get(), nBytes)) {
            break;
        }
    }
    if (!m_bStop) m_pSink->EndOfStream();
}

#include "capture/FileSource.h"

#include "capture/SampleMend.h"
#include "capture/WaveIn.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

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

// "mm:ss.cc" of a frame count at the rate.
std::string Clock(int64_t nFrames, int32_t nRate)
{
    const long long nCentis = nRate > 0 ? static_cast<long long>(nFrames * 100 / nRate) : 0;
    char sz[48];
    std::snprintf(sz, sizeof sz, "%02lld:%02lld.%02lld", nCentis / 6000, nCentis / 100 % 60, nCentis % 100);
    return sz;
}

// An input that can be read only once (a named pipe, standard input) is opened at the
// first look and held open: the probe, the format query and the capture all read the
// one header, instead of opening a pipe again and waiting for a writer that has gone.
// The source that captures from it closes it.
struct HeldStream {
    std::string strPath;
    SNDFILE* pFile;
    SF_INFO info;
};
std::mutex g_mtxHeld;
std::vector<HeldStream> g_held;

// Whether the path is a stream rather than a file that can be opened again; *pbStdin when
// it is this process's standard input ("-", or a name of the same pipe).
bool IsStream(const std::string& strPath, const struct stat& st, bool* pbStdin)
{
    *pbStdin = strPath == "-";
    if (*pbStdin) return true;
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISBLK(st.st_mode)) return false;
    struct stat stIn;
    *pbStdin = ::fstat(STDIN_FILENO, &stIn) == 0 && stIn.st_dev == st.st_dev && stIn.st_ino == st.st_ino;
    return true;
}

// Opens the file for reading, or explains why not. *pbHeld: the handle is a held stream,
// to be given back with Release() rather than closed.
SNDFILE* OpenForReading(const std::string& strPath, SF_INFO* pInfo, std::string* pstrError, bool* pbHeld)
{
    *pbHeld = false;
    struct stat st{};
    if (strPath != "-" && stat(strPath.c_str(), &st) != 0) {
        if (pstrError) *pstrError = Format("Cannot find input file %s.\n", strPath);
        return nullptr;
    }
    if (strPath != "-" && S_ISDIR(st.st_mode)) {
        if (pstrError) *pstrError = Format("Cannot read input file %s: it is a folder.\n", strPath);
        return nullptr;
    }
    bool bStdin = false;
    const bool bStream = IsStream(strPath, st, &bStdin);
    std::unique_lock<std::mutex> lock(g_mtxHeld, std::defer_lock);
    SNDFILE* pFile = nullptr;
    if (bStream) {
        lock.lock();
        for (const HeldStream& held : g_held) {
            if (held.strPath == strPath) {
                *pInfo = held.info;
                *pbHeld = true;
                return held.pFile;
            }
        }
        std::memset(pInfo, 0, sizeof *pInfo);
        pFile = bStdin ? sf_open_fd(STDIN_FILENO, SFM_READ, pInfo, 0) : sf_open(strPath.c_str(), SFM_READ, pInfo);
    } else {
        std::memset(pInfo, 0, sizeof *pInfo);
        pFile = sf_open(strPath.c_str(), SFM_READ, pInfo);
    }
    if (!pFile) {
        if (pstrError) {
            if (errno == EACCES)
                *pstrError = Format("Cannot read input file %s: permission denied.\n", strPath);
            else if (std::strncmp(sf_strerror(nullptr), "Internal error", 14) == 0)
                // libsndfile's words for a header it cannot take (a rate or channel count of 0).
                *pstrError = Format("Cannot read input file %s: its header is damaged or incomplete (no sample "
                                    "rate or no channels).\n",
                                    strPath);
            else if (bStream)
                // libsndfile reads a stream only in formats with a plain header (WAV, say).
                *pstrError = Format("Cannot read input file %s: %s (from a pipe only a plain format such as WAV "
                                    "can be read; give a compressed file by its name).\n",
                                    strPath, sf_strerror(nullptr));
            else
                *pstrError = Format("Cannot read input file %s: %s\n", strPath, sf_strerror(nullptr));
        }
        return nullptr;
    }
    std::string strRefusal;
    if (pInfo->channels < 1 || pInfo->channels > 2) {
        char szChannels[32];
        std::snprintf(szChannels, sizeof szChannels, "%d", pInfo->channels);
        strRefusal = Format("Cannot record from %s: it has %s channels; only mono and stereo can be read.\n",
                            strPath, szChannels);
    } else if (pInfo->samplerate <= 0) {
        strRefusal = Format("Cannot record from %s: it has no sample rate.\n", strPath);
    }
    if (!strRefusal.empty()) {
        if (pstrError) *pstrError = strRefusal;
        sf_close(pFile);
        return nullptr;
    }
    if (bStream) {
        g_held.push_back(HeldStream{strPath, pFile, *pInfo});
        *pbHeld = true;
    }
    return pFile;
}

// Gives back a handle of OpenForReading() after a look: a held stream stays open.
void Release(SNDFILE* pFile, bool bHeld)
{
    if (pFile && !bHeld) sf_close(pFile);
}

// Closes a handle for good, a held stream included.
void CloseForGood(SNDFILE* pFile, bool bHeld)
{
    if (!pFile) return;
    if (bHeld) {
        std::lock_guard<std::mutex> lock(g_mtxHeld);
        for (auto it = g_held.begin(); it != g_held.end(); ++it) {
            if (it->pFile == pFile) {
                g_held.erase(it);
                break;
            }
        }
    }
    sf_close(pFile);
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
    bool bHeld = false;
    SNDFILE* pFile = OpenForReading(strPath, &info, pstrError, &bHeld);
    if (!pFile) return false;
    if (pInfo) {
        pInfo->nRate = info.samplerate;
        pInfo->nChannels = info.channels;
        pInfo->nFrames = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
        pInfo->bWide = IsWide(info.format, &pInfo->nSourceBits);
    }
    Release(pFile, bHeld);
    return true;
}

bool CFileSource::Query(int32_t, const WaveFormat& format)
{
    SF_INFO info;
    bool bHeld = false;
    SNDFILE* pFile = OpenForReading(m_strPath, &info, nullptr, &bHeld);
    if (!pFile) return false;
    Release(pFile, bHeld);
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
        bool bHeld = false;
        Release(OpenForReading(m_strPath, &info, pstrError, &bHeld), bHeld);
        return false;
    }
    SF_INFO info;
    SNDFILE* pFile = OpenForReading(m_strPath, &info, pstrError, &m_bHeld);
    if (!pFile) return false;
    m_pFile = pFile;
    m_bSeekable = info.seekable != 0;
    m_nFileFrames = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
    m_nFramesRead = 0;
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
    // A stream is read once, from where its header ends.
    if (m_nFramesRead != 0) {
        if (!m_bSeekable || sf_seek(static_cast<SNDFILE*>(m_pFile), 0, SEEK_SET) < 0) return false;
        m_nFramesRead = 0;
    }
    m_bStop = false;
    m_strReadError.clear();
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
    CloseForGood(static_cast<SNDFILE*>(m_pFile), m_bHeld);
    m_pFile = nullptr;
    m_bHeld = false;
    m_pSink = nullptr;
    return bWasOpen;
}

int64_t CFileSource::ReadFrames(int64_t nFrames)
{
    SNDFILE* pFile = static_cast<SNDFILE*>(m_pFile);
    const int nChannels = m_nFileChannels;
    sf_count_t nRead = 0;
    if (nChannels == 2 && !m_bFloat && !m_bWideSource) {
        // Stereo 16-bit samples, captured as such: read where they are handed on.
        nRead = sf_readf_short(pFile, reinterpret_cast<int16_t*>(m_pChunk.get()), nFrames);
    } else if (nChannels == 2 && m_bFloat) {
        nRead = sf_readf_float(pFile, reinterpret_cast<float*>(m_pChunk.get()), nFrames);
        MendChunk(reinterpret_cast<float*>(m_pChunk.get()), nRead);
    } else if (m_bFloat || m_bWideSource) {
        nRead = sf_readf_float(pFile, m_pFloats.get(), nFrames);
        MendChunk(m_pFloats.get(), nRead);
    } else {
        nRead = sf_readf_short(pFile, m_pShorts.get(), nFrames);
    }
    if (nChannels == 2 && (m_bFloat || !m_bWideSource)) {
        // Read in place above.
    } else if (m_bFloat) {
        float* pOut = reinterpret_cast<float*>(m_pChunk.get());
        for (sf_count_t i = 0; i < nRead; ++i) {
            pOut[2 * i] = m_pFloats[static_cast<size_t>(i * nChannels)];
            pOut[2 * i + 1] = m_pFloats[static_cast<size_t>(i * nChannels + nChannels - 1)];
        }
    } else if (m_bWideSource) {
        // Wider samples are rounded to 16 bits here, clipped at full scale (all are finite
        // numbers by now).
        int16_t* pOut = reinterpret_cast<int16_t*>(m_pChunk.get());
        for (sf_count_t i = 0; i < nRead * 2; ++i) {
            const float f = m_pFloats[static_cast<size_t>((i / 2) * nChannels + (i % 2 ? nChannels - 1 : 0))];
            const float fScaled = std::nearbyint(f * 32768.0f);
            pOut[i] = static_cast<int16_t>(std::clamp(fScaled, -32768.0f, 32767.0f));
        }
    } else {
        int16_t* pOut = reinterpret_cast<int16_t*>(m_pChunk.get());
        for (sf_count_t i = 0; i < nRead; ++i) {
            pOut[2 * i] = m_pShorts[static_cast<size_t>(i * nChannels)];
            pOut[2 * i + 1] = m_pShorts[static_cast<size_t>(i * nChannels + nChannels - 1)];
        }
    }
    if (nRead == 0 || (nRead < nFrames && sf_error(pFile) != SF_ERR_NO_ERROR)) CheckEnd(nRead);
    m_nFramesRead += nRead;
    return nRead;
}

void CFileSource::MendChunk(float* pSamples, int64_t nFrames)
{
    const SampleMendResult mended = MendFloatSamples(pSamples, nFrames * m_nFileChannels);
    if (mended.nReplaced == 0) return;
    const int64_t nFrame = m_nFramesRead + mended.nFirst / m_nFileChannels;
    const int64_t nChannel = m_nFileChannels == 1 ? 0 : mended.nFirst % m_nFileChannels;
    m_pSink->ReportMended(mended.nReplaced, nFrame * m_nFrameBytes + nChannel * (m_nFrameBytes / 2));
}

void CFileSource::CheckEnd(int64_t nRead)
{
    // Nothing more to read is the end of the file, unless the decoder failed or the file
    // ends before the length its header states (a cut-off or damaged compressed file).
    SNDFILE* pFile = static_cast<SNDFILE*>(m_pFile);
    const int64_t nAt = m_nFramesRead + nRead;
    std::string strWhy;
    if (sf_error(pFile) != SF_ERR_NO_ERROR) {
        // The decoder's words, without their "Error : " and final stop.
        strWhy = sf_strerror(pFile);
        if (strWhy.rfind("Error : ", 0) == 0) strWhy.erase(0, 8);
        while (!strWhy.empty() && (strWhy.back() == '.' || strWhy.back() == '\n')) strWhy.pop_back();
        strWhy += "; the file is damaged or cut off";
    } else if (m_nFileFrames >= 0 && nAt < m_nFileFrames) {
        strWhy = "the audio stops " + Clock(m_nFileFrames - nAt, m_nRate) +
                 " before the end its header states; the file is damaged or cut off";
    } else {
        return;
    }
    m_strReadError = "Cannot read input file " + m_strPath + " at " + Clock(nAt, m_nRate) + ": " + strWhy + ".\n";
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
        if (!m_strReadError.empty()) break;  // what was read before the damage is delivered
    }
    if (!m_bStop && !m_strReadError.empty()) m_pSink->ReportReadError(m_strReadError);
    if (!m_bStop) m_pSink->EndOfStream();
}

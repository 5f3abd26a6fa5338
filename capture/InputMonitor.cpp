#include "capture/InputMonitor.h"

#include "capture/WaveIn.h"

#include <algorithm>
#include <chrono>
#include <cmath>

CInputMonitor::CInputMonitor(IMonitorWindow& window, CWaveIn& waveIn)
    : m_window(window), m_waveIn(waveIn)
{
}

CInputMonitor::~CInputMonitor()
{
    Stop();
}

bool CInputMonitor::Start(const CSongSplitter& settings, int32_t nBufferSize)
{
    Stop();
    m_strError.clear();
    m_splitter = settings;
    m_splitter.PrepareForRecording();

    const int32_t nRate = settings.GetSamplesPerSec();
    const bool b16 = settings.GetBitsPerSample() == 16;
    WaveFormat format;
    format.tag = b16 ? 1 : 3;
    format.channels = 2;
    format.bitsPerSample = b16 ? 16 : 32;
    format.samplesPerSec = static_cast<uint32_t>(nRate > 0 ? nRate : 0);
    format.blockAlign = static_cast<uint16_t>(format.channels * format.bitsPerSample / 8);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;

    // The same steps, and so the same messages, as the start of a recording.
    auto failed = [this] {
        m_strError = m_waveIn.GetErrorText();
        m_waveIn.Close();
        return false;
    };
    m_waveIn.QueryFormat(format);
    if (m_waveIn.HasError()) return failed();
    m_waveIn.Open(format, WaveInNotify, &m_evBufferReady, CALLBACK_FUNCTION);
    if (m_waveIn.HasError()) return failed();
    m_evBufferReady.Reset();
    m_waveIn.AllocateBuffers(nBufferSize);
    if (m_waveIn.HasError()) return failed();
    m_nBufferSize = nBufferSize;
    m_pBuffer.reset(new uint8_t[static_cast<size_t>(nBufferSize)]);
    {
        std::lock_guard<std::mutex> lock(m_csLevels);
        for (RecordLevelChannel& level : m_levels) level = RecordLevelChannel();
        m_recentPeaks.clear();
    }
    m_waveIn.Start();
    if (m_waveIn.HasError()) return failed();

    m_bStop = false;
    m_strFailure.clear();
    m_bRunning = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CInputMonitor::Run()
{
    while (!m_bStop) {
        // Wake now and then so a stop is seen even when the input has stalled.
        if (!m_evBufferReady.WaitFor(std::chrono::milliseconds(250))) continue;
        if (m_bStop) break;
        const int32_t nBytes = m_waveIn.GetNextBuffer(m_pBuffer.get());
        if (m_waveIn.HasError()) {
            m_strFailure = m_waveIn.GetErrorText();
            m_window.PostMonitorEnded();
            return;
        }
        if (nBytes > 0) {
            m_splitter.ProcessBuffer(m_pBuffer.get(), nBytes, nullptr, nullptr, nullptr);
            const double fBytesPerSec = static_cast<double>(m_splitter.GetSamplesPerSec()) *
                                        (m_splitter.GetBitsPerSample() == 16 ? 4 : 8);
            std::lock_guard<std::mutex> lock(m_csLevels);
            StoreSplitterLevels(m_splitter, m_levels);
            // Keep the blocks of the last few seconds (and always the newest one).
            m_recentPeaks.emplace_back(std::max(m_splitter.GetPeak(0), m_splitter.GetPeak(1)),
                                       fBytesPerSec > 0 ? nBytes / fBytesPerSec : 0.0);
            double fSeconds = 0;
            for (const auto& block : m_recentPeaks) fSeconds += block.second;
            while (m_recentPeaks.size() > 1 && fSeconds - m_recentPeaks.front().second >= kRecentPeakSeconds) {
                fSeconds -= m_recentPeaks.front().second;
                m_recentPeaks.pop_front();
            }
        }
        if (nBytes < m_nBufferSize) {
            // A recording on disk has come to its end: nothing more will come.
            m_window.PostMonitorEnded();
            return;
        }
    }
}

void CInputMonitor::CloseDevice()
{
    if (m_thread.joinable()) m_thread.join();
    if (!m_bRunning) return;
    m_bRunning = false;
    m_waveIn.Stop(m_pBuffer.get());
    m_waveIn.Close();
    std::lock_guard<std::mutex> lock(m_csLevels);
    for (RecordLevelChannel& level : m_levels) level = RecordLevelChannel();
}

void CInputMonitor::Stop()
{
    m_bStop = true;
    m_evBufferReady.Set();
    CloseDevice();
}

std::string CInputMonitor::OnMonitorEnded()
{
    if (!m_bRunning) return std::string();
    CloseDevice();
    return m_strFailure;
}

bool CInputMonitor::GetRecentPeakDb(double* pfDb) const
{
    std::lock_guard<std::mutex> lock(m_csLevels);
    if (m_recentPeaks.empty()) return false;
    float fPeak = 0;
    for (const auto& block : m_recentPeaks) fPeak = std::max(fPeak, block.first);
    *pfDb = 20.0 * std::log10(std::max(static_cast<double>(fPeak), 1e-12));
    return true;
}

bool CInputMonitor::GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips,
                                     const std::atomic<bool>& bStopping)
{
    std::unique_lock<std::mutex> lock(m_csLevels, std::defer_lock);
    while (!lock.try_lock()) {
        if (bStopping) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    RecordLevelChannel& level = m_levels[nChannel == 1 ? 1 : 0];
    *pnRms = level.nHeldRms;
    *pnPeak = level.nHeldPeak;
    *pnClips = level.nClips;
    level.bRead = 1;
    return true;
}

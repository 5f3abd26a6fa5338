#pragma once
// Watching the input before a recording: the capture device runs and its audio feeds the
// LED meters, with nothing written anywhere, so the user can set the input gain.

#include "capture/AutoResetEvent.h"
#include "capture/LevelRecord.h"
#include "engine/SongSplitter.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <utility>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CWaveIn;

// What the monitor needs of the main window.
class IMonitorWindow {
public:
    virtual ~IMonitorWindow() = default;
    // Monitor thread, must not block: watching ended by itself (the device failed, or a
    // recording on disk reached its end). The window answers with
    // CInputMonitor::OnMonitorEnded() on its own thread.
    virtual void PostMonitorEnded() = 0;
};

/**
 * Runs the capture device while no recording runs and keeps a level record of what it
 * delivers, in the same units and with the same statistics as a recording (a private
 * copy of the song splitter measures each block), for the meters to read.
 *
 * The device is open only between Start() and Stop() (or the end the monitor posts):
 * never without the user asking. The main window owns one monitor beside the recording
 * session; both drive the same capture device, one at a time, so the window stops the
 * monitor before a recording starts.
 *
 * Window thread: Start, Stop, OnMonitorEnded, IsRunning. Monitor thread: the capture
 * loop. Meter thread: GetChannelLevels.
 */
class CInputMonitor {
public:
    CInputMonitor(IMonitorWindow& window, CWaveIn& waveIn);
    ~CInputMonitor();
    CInputMonitor(const CInputMonitor&) = delete;
    CInputMonitor& operator=(const CInputMonitor&) = delete;

    // Opens the device in the format the splitter settings name (rate, bits, two
    // channels) and starts watching. On failure returns false, leaves the device closed
    // and keeps the device's message in GetErrorText().
    bool Start(const CSongSplitter& settings, int32_t nBufferSize);
    // Ends watching and closes the device. Nothing is shown.
    void Stop();
    // In answer to PostMonitorEnded: closes the device and returns the message of the
    // failure that ended watching, empty when the input simply came to its end.
    std::string OnMonitorEnded();

    // True from a successful Start() until Stop() or OnMonitorEnded().
    bool IsRunning() const { return m_bRunning; }
    const std::string& GetErrorText() const { return m_strError; }

    // Level callback of the LED meters while watching: as the recording session's.
    // Gives up (returns false) once bStopping is set.
    bool GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips,
                          const std::atomic<bool>& bStopping);

    // The highest sample of either channel over the last kRecentPeakSeconds of audio
    // watched, in dB re full scale (0 = full scale). False before any audio has come.
    // Window thread.
    static constexpr double kRecentPeakSeconds = 3.0;
    bool GetRecentPeakDb(double* pfDb) const;

private:
    void Run();
    void CloseDevice();

    IMonitorWindow& m_window;
    CWaveIn& m_waveIn;
    CSongSplitter m_splitter;          // measures the blocks; its settings copied at Start
    CAutoResetEvent m_evBufferReady;
    std::thread m_thread;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    int32_t m_nBufferSize = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRunning{false};
    std::string m_strError;            // window thread
    std::string m_strFailure;          // written by the monitor thread before it posts its end

    mutable std::mutex m_csLevels;
    RecordLevelChannel m_levels[2];
    std::deque<std::pair<float, double>> m_recentPeaks;  // per block: peak (1.0 = full scale), seconds
};

#pragma once
// Shared pieces of the session tests: a window that records what the session told it
// and queues the posted events, a prompt that answers from a script, a rig that wires
// a real splitter, writer and capture device to a session, and WAV helpers on libsndfile.

#include "capture/RecordSession.h"
#include "capture/WaveFile.h"
#include "capture/WaveIn.h"
#include "engine/SongSplitter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace sessiontest {

namespace fs = std::filesystem;

// One message box the session (or the worker, through the window) showed.
struct ShownBox {
    std::string strText;
    std::string strCaption;
    PromptButtons buttons;
    PromptIcon icon;
    bool bWhileRecording = false;  // the session was still recording when it was shown
};

class CScriptedPrompt : public IPrompt {
public:
    PromptAnswer MessageBox(const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon) override
    {
        m_boxes.push_back({text, caption, buttons, icon, m_pSession && m_pSession->IsRecording()});
        if (m_onBox) {
            const std::function<void()> onBox = m_onBox;  // the hook may clear itself
            onBox();
        }
        if (buttons == PromptButtons::Ok) return PromptAnswer::Ok;
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return PromptAnswer::No;
        }
        PromptAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    bool SaveFileDialog(const std::string&, const std::string&, const std::vector<PromptFileFilter>&,
                        std::string*, std::string*) override
    {
        ADD_FAILURE() << "the session never shows the file dialog itself";
        return false;
    }

    std::vector<ShownBox> m_boxes;
    std::deque<PromptAnswer> m_answers;
    const CRecordSession* m_pSession = nullptr;  // tells whether a box came while recording
    std::function<void()> m_onBox;               // runs while a box is open (its event loop)
};

// The main window as the session sees it. Posted events wait in a queue until Pump()
// hands them to the session on the test's thread, as the real window's event loop does.
class CFakeWindow : public IRecordWindow {
public:
    struct Event {
        enum Kind { Progress, Done, ErrorBox } kind;
        int64_t nBytes = 0;
        bool bCut = false;
        std::string strText, strCaption;
    };

    // worker thread
    void PostRecordProgress(int64_t nBytes, bool bCut) override { Push({Event::Progress, nBytes, bCut, {}, {}}); }
    void PostRecordDone() override { Push({Event::Done, 0, false, {}, {}}); }
    void PostErrorBox(const std::string& strText, const std::string& strCaption) override
    {
        Push({Event::ErrorBox, 0, false, strText, strCaption});
    }

    // window thread
    void EnableRecordingControls(bool bRecording) override { m_controls.push_back(bRecording); }
    void SetStatusText(RecordStatusField field, const std::string& strText) override { m_status[field] = strText; }
    void SetStatusPicture(bool bActive) override { m_pictures.push_back(bActive); }
    bool IsMinimised() const override { return m_bMinimised; }
    void SetWindowTitle(const std::string& strTitle) override { m_titles.push_back(strTitle); }
    void SetWaitCursor(bool bWait) override { m_waitCursor.push_back(bWait); }
    void FocusBaseFileName() override { ++m_nFocusMoves; }
    void RunNewCommand() override { ++m_nNewCommands; }
    std::string GetBaseFileText() const override { return m_strBaseText; }
    std::string GetBaseFilePath() const override { return m_strBasePath; }

    // Takes the next posted event, waiting for the worker if need be. A hang guard, not
    // a timing check: a minute without any event means the worker is stuck.
    bool Next(Event* pEvent, std::chrono::seconds guard = std::chrono::seconds(120))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, guard, [this] { return !m_events.empty(); })) return false;
        *pEvent = m_events.front();
        m_events.pop_front();
        return true;
    }

    // Hands posted events to the session until it is idle again, calling onEvent after
    // each one has been handled.
    void Pump(CRecordSession& session, CScriptedPrompt& prompt,
              const std::function<void(const Event&)>& onEvent = nullptr)
    {
        prompt.m_pSession = &session;
        while (session.IsRecording()) {
            Event ev;
            if (!Next(&ev)) {
                ADD_FAILURE() << "the recording worker posted nothing for two minutes";
                return;
            }
            switch (ev.kind) {
            case Event::Progress:
                m_progress.push_back({ev.nBytes, ev.bCut});
                session.OnRecordProgress(ev.nBytes, ev.bCut);
                break;
            case Event::ErrorBox:
                session.ShowWorkerError(ev.strText, ev.strCaption);
                break;
            case Event::Done:
                session.OnRecordDone();
                break;
            }
            if (onEvent) onEvent(ev);
        }
    }

    std::vector<bool> m_controls;        // true: recording state, false: idle state
    std::map<RecordStatusField, std::string> m_status;
    std::vector<bool> m_pictures;        // true: active picture
    std::vector<std::string> m_titles;
    std::vector<bool> m_waitCursor;
    std::vector<std::pair<int64_t, bool>> m_progress;
    int m_nFocusMoves = 0;
    int m_nNewCommands = 0;
    bool m_bMinimised = false;
    std::string m_strBaseText, m_strBasePath;

private:
    void Push(const Event& ev)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(ev);
        }
        m_cv.notify_one();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Event> m_events;
};

// A real splitter, writer and capture device around one session, with the waits that
// only slow tests down set to 0. Members are declared so the session goes first.
struct SessionRig {
    CSongSplitter splitter;
    CWaveFile waveFile;
    CWaveIn waveIn;
    CFakeWindow window;
    CScriptedPrompt prompt;
    CRecordSession session{window, prompt, splitter, waveFile, waveIn};

    SessionRig()
    {
        prompt.m_pSession = &session;
        session.SetBufferSize(65536);
        session.SetOverwriteWaitMs(0);
        session.SetStopWaitMs(0);
        session.SetRaisePriority(false);
        // Exact detection for the tests: no DC removal, no click filter.
        splitter.SetDcBlock(0);
        splitter.SetIgnoreClicks(0);
    }

    // What the New command and the Base File Name combo box would leave behind.
    void ChooseBase(const std::string& strPath)
    {
        waveFile.SetFileName(strPath.c_str());
        window.m_strBasePath = strPath;
        window.m_strBaseText = fs::path(strPath).filename().string();
    }

    // Starts recording, from the file-fed source when strInput is given, else from the
    // chosen device. False (and a test failure) when the session did not start.
    bool Start(const std::string& strInput = "", bool bPaced = false)
    {
        if (!strInput.empty()) {
            waveIn.UseFileSource(strInput.c_str(), bPaced);
            if (waveIn.HasError()) {
                ADD_FAILURE() << waveIn.GetErrorText();
                return false;
            }
        }
        session.OnRecord();
        if (session.IsRecording()) return true;
        ADD_FAILURE() << "not recording: " << (prompt.m_boxes.empty() ? "" : prompt.m_boxes.back().strText);
        return false;
    }

    // Records the whole recording at strInput through the file-fed source.
    void RecordFile(const std::string& strInput, bool bPaced = false)
    {
        if (Start(strInput, bPaced)) window.Pump(session, prompt);
    }
};

// A private folder under the test's temporary directory, removed afterwards.
class CTempDir {
public:
    CTempDir()
    {
        std::string strTemplate = (fs::temp_directory_path() / "cadenzo-session-XXXXXX").string();
        std::vector<char> sz(strTemplate.begin(), strTemplate.end());
        sz.push_back('\0');
        m_path = ::mkdtemp(sz.data());
    }
    ~CTempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }
    std::string operator/(const std::string& strName) const { return (m_path / strName).string(); }

private:
    fs::path m_path;
};

// --- audio ------------------------------------------------------------------------

// An album as interleaved stereo samples: loud square-wave songs (every sample well
// above the gap level) separated by digital silence.
struct Segment {
    double fSeconds;
    bool bLoud;
};

template <typename T>
std::vector<T> MakeAlbum(int nRate, const std::vector<Segment>& segments)
{
    const T amp = std::is_same_v<T, float> ? T(0.25f) : T(8000);
    std::vector<T> samples;
    int64_t nFrame = 0;
    for (const Segment& seg : segments) {
        int64_t nFrames = static_cast<int64_t>(seg.fSeconds * nRate + 0.5);
        for (int64_t f = 0; f < nFrames; ++f, ++nFrame) {
            T v = 0;
            if (seg.bLoud) v = ((nFrame / 20) % 2) ? amp : static_cast<T>(-amp);
            samples.push_back(v);
            samples.push_back(static_cast<T>(-v / 2));
        }
    }
    return samples;
}

// Writes interleaved samples with libsndfile; nFormat e.g. SF_FORMAT_WAV | SF_FORMAT_PCM_16.
template <typename T>
inline void WriteSound(const std::string& strPath, int nRate, int nChannels, int nFormat,
                       const std::vector<T>& samples)
{
    SF_INFO info{};
    info.samplerate = nRate;
    info.channels = nChannels;
    info.format = nFormat;
    SNDFILE* pFile = sf_open(strPath.c_str(), SFM_WRITE, &info);
    ASSERT_NE(pFile, nullptr) << sf_strerror(nullptr);
    sf_count_t nItems = static_cast<sf_count_t>(samples.size());
    if constexpr (std::is_same_v<T, int16_t>)
        ASSERT_EQ(sf_write_short(pFile, samples.data(), nItems), nItems);
    else
        ASSERT_EQ(sf_write_float(pFile, samples.data(), nItems), nItems);
    sf_close(pFile);
}

// An album written as a stereo WAV file (16-bit, or float for float samples); returns its samples.
template <typename T>
std::vector<T> WriteAlbum(const std::string& strPath, int nRate, const std::vector<Segment>& segments)
{
    std::vector<T> samples = MakeAlbum<T>(nRate, segments);
    const int nFormat = SF_FORMAT_WAV | (std::is_same_v<T, float> ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    WriteSound(strPath, nRate, 2, nFormat, samples);
    return samples;
}

// A WAV file as an independent reader sees it.
struct ReadBack {
    bool bOk = false;
    int nRate = 0, nChannels = 0, nFormat = 0;
    int64_t nFrames = 0;
    std::vector<int16_t> samples16;
    std::vector<float> samplesFloat;
};

inline ReadBack ReadSound(const std::string& strPath, bool bFloat = false)
{
    ReadBack rb;
    SF_INFO info{};
    SNDFILE* pFile = sf_open(strPath.c_str(), SFM_READ, &info);
    if (!pFile) return rb;
    rb.bOk = true;
    rb.nRate = info.samplerate;
    rb.nChannels = info.channels;
    rb.nFormat = info.format;
    rb.nFrames = info.frames;
    size_t nItems = static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels);
    if (bFloat) {
        rb.samplesFloat.resize(nItems);
        rb.samplesFloat.resize(static_cast<size_t>(sf_read_float(pFile, rb.samplesFloat.data(), static_cast<sf_count_t>(nItems))));
    } else {
        rb.samples16.resize(nItems);
        rb.samples16.resize(static_cast<size_t>(sf_read_short(pFile, rb.samples16.data(), static_cast<sf_count_t>(nItems))));
    }
    sf_close(pFile);
    return rb;
}

inline int64_t FileSize(const std::string& strPath)
{
    struct stat st;
    if (::stat(strPath.c_str(), &st) != 0) return -1;
    return st.st_size;
}

inline bool Exists(const std::string& strPath)
{
    struct stat st;
    return ::stat(strPath.c_str(), &st) == 0;
}

inline std::string ReadAll(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The samples of the numbered song files base1, base2, ... that exist, in order. With
// bExactSize, each file must be its header (44 bytes, 46 for float) and the samples only.
template <typename T>
std::vector<std::vector<T>> ReadSongs(const std::string& strBase, bool bExactSize = false)
{
    const bool bFloat = std::is_same_v<T, float>;
    std::vector<std::vector<T>> songs;
    for (int n = 1;; ++n) {
        const std::string strPath = CRecordSession::NumberedName(strBase, n);
        if (!Exists(strPath)) break;
        ReadBack rb = ReadSound(strPath, bFloat);
        EXPECT_TRUE(rb.bOk) << strPath << " is not a readable WAV";
        EXPECT_EQ(rb.nChannels, 2) << strPath;
        std::vector<T> samples;
        if constexpr (std::is_same_v<T, float>) {
            samples = rb.samplesFloat;
        } else {
            samples = rb.samples16;
        }
        const int64_t nExpected = (bFloat ? 46 : 44) + static_cast<int64_t>(samples.size() * sizeof(T));
        EXPECT_TRUE(!bExactSize || FileSize(strPath) == nExpected) << strPath << " has " << FileSize(strPath)
                                                                  << " bytes, not " << nExpected;
        songs.push_back(samples);
    }
    return songs;
}

template <typename T>
std::vector<T> Joined(const std::vector<std::vector<T>>& songs)
{
    std::vector<T> joined;
    for (const std::vector<T>& song : songs) joined.insert(joined.end(), song.begin(), song.end());
    return joined;
}

template <typename T>
bool IsPrefix(const std::vector<T>& part, const std::vector<T>& whole)
{
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// A tmpfs mounted on a folder (created if need be) for as long as the object lives.
class CTmpfs {
public:
    CTmpfs(const std::string& strDir, const char* szOptions, unsigned long nFlags = 0) : m_strDir(strDir)
    {
        fs::create_directories(strDir);
        m_bMounted = ::mount("tmpfs", strDir.c_str(), "tmpfs", nFlags, szOptions) == 0;
    }
    ~CTmpfs()
    {
        if (m_bMounted) ::umount2(m_strDir.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return m_bMounted; }

private:
    std::string m_strDir;
    bool m_bMounted = false;
};

// While the object lives, no file this process writes may grow past nBytes: a write beyond
// fails ("File too large") as on a full disk.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t nBytes) : m_pfnOld(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = nBytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~CFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_pfnOld);
    }

private:
    void (*m_pfnOld)(int);
    rlimit m_old{};
};

// Gap rules in the units a user thinks in, through the splitter's own stored forms.
inline void SetGapRules(CSongSplitter& splitter, int32_t nGapPos, int32_t nMinSongPos, int32_t nEndGapPos)
{
    splitter.SetGapSize(nGapPos);
    splitter.SetMinSong(nMinSongPos);
    splitter.SetEndGap(nEndGapPos);
}

}  // namespace sessiontest

#pragma once
// The recording session's window and prompt for a terminal: posted events wait in a
// queue for the main thread, status goes to the terminal, boxes become messages on
// standard error.

#include "capture/Prompt.h"
#include "capture/RecordSession.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

/**
 * IRecordWindow for cadenzo-split. The worker posts into a queue (any thread); the main
 * thread takes events with Next() and hands them to the session. The window-thread
 * functions do nothing a terminal has no use for.
 */
class CConsoleWindow : public IRecordWindow {
public:
    struct Event {
        enum Kind { Progress, Done, ErrorBox } kind = Done;
        int64_t nBytes = 0;
        bool bCut = false;
        std::string strText, strCaption;
    };

    CConsoleWindow(std::string strBaseText, std::string strBasePath)
        : m_strBaseText(std::move(strBaseText)), m_strBasePath(std::move(strBasePath)) {}

    void PostRecordProgress(int64_t nBytes, bool bCut) override;
    void PostRecordDone() override;
    void PostErrorBox(const std::string& strText, const std::string& strCaption) override;

    void EnableRecordingControls(bool) override {}
    void SetStatusText(RecordStatusField, const std::string&) override {}
    void SetStatusPicture(bool) override {}
    bool IsMinimised() const override { return false; }
    void SetWindowTitle(const std::string&) override {}
    void SetWaitCursor(bool) override {}
    void FocusBaseFileName() override {}
    void RunNewCommand() override {}
    std::string GetBaseFileText() const override { return m_strBaseText; }
    std::string GetBaseFilePath() const override { return m_strBasePath; }

    // Main thread: the next event, or false when none came within the wait. Progress
    // events may arrive merged (their bytes added up) and up to the wait late.
    bool Next(Event* pEvent, std::chrono::milliseconds wait);

    // The shortest time between two wake-ups of the main thread for progress alone.
    static constexpr std::chrono::milliseconds kProgressWake{50};

private:
    void Push(Event ev);

    std::string m_strBaseText, m_strBasePath;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Event> m_events;
    std::chrono::steady_clock::time_point m_lastProgressWake{};
};

/**
 * IPrompt for cadenzo-split: every box is a message on standard error ("cadenzo-split: "
 * and the text); questions are answered with the given answer. Counts the error boxes.
 */
class CConsolePrompt : public IPrompt {
public:
    explicit CConsolePrompt(bool bAnswerYes) : m_bAnswerYes(bAnswerYes) {}

    PromptAnswer MessageBox(const std::string& text, const std::string& caption, PromptButtons buttons,
                            PromptIcon icon) override;
    bool SaveFileDialog(const std::string&, const std::string&, const std::vector<PromptFileFilter>&,
                        std::string*, std::string*) override { return false; }

    int ErrorCount() const { return m_nErrors; }
    // Called before a message, so a progress bar can make room for it.
    void SetBeforeMessage(void (*pfn)()) { m_pfnBeforeMessage = pfn; }

private:
    bool m_bAnswerYes;
    int m_nErrors = 0;
    void (*m_pfnBeforeMessage)() = nullptr;
};

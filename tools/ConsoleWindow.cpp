#include "tools/ConsoleWindow.h"

#include <cstdio>

void CConsoleWindow::PostRecordProgress(int64_t nBytes, bool bCut)
{
    Event ev;
    ev.kind = Event::Progress;
    ev.nBytes = nBytes;
    ev.bCut = bCut;
    Push(std::move(ev));
}

void CConsoleWindow::PostRecordDone()
{
    Event ev;
    ev.kind = Event::Done;
    Push(std::move(ev));
}

void CConsoleWindow::PostErrorBox(const std::string& strText, const std::string& strCaption)
{
    Event ev;
    ev.kind = Event::ErrorBox;
    ev.strText = strText;
    ev.strCaption = strCaption;
    Push(std::move(ev));
}

void CConsoleWindow::Push(Event ev)
{
    bool bWake = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (ev.kind == Event::Progress) {
            // Progress comes with every buffer, hundreds of times a second when the input
            // is a file. Bytes that follow a waiting progress event join it (a cut starts
            // an event of its own: the counts after it restart), and the main thread is
            // woken for progress at most every kProgressWake; Next() finds it anyway
            // within its wait. Each wake-up costs both threads a switch and a turn at the
            // session lock.
            if (!ev.bCut && !m_events.empty() && m_events.back().kind == Event::Progress)
                m_events.back().nBytes += ev.nBytes;
            else
                m_events.push_back(std::move(ev));
            const auto now = std::chrono::steady_clock::now();
            bWake = now - m_lastProgressWake >= kProgressWake;
            if (bWake) m_lastProgressWake = now;
        } else {
            m_events.push_back(std::move(ev));
        }
    }
    if (bWake) m_cv.notify_one();
}

bool CConsoleWindow::Next(Event* pEvent, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, wait, [this] { return !m_events.empty(); })) return false;
    *pEvent = std::move(m_events.front());
    m_events.pop_front();
    return true;
}

PromptAnswer CConsolePrompt::MessageBox(const std::string& text, const std::string& caption,
                                        PromptButtons buttons, PromptIcon icon)
{
    if (buttons == PromptButtons::YesNo) return m_bAnswerYes ? PromptAnswer::Yes : PromptAnswer::No;
    if (m_pfnBeforeMessage) m_pfnBeforeMessage();
    std::string strText = text;
    while (!strText.empty() && strText.back() == '\n') strText.pop_back();
    if (icon == PromptIcon::Stop) ++m_nErrors;
    const char* szKind = icon == PromptIcon::Stop ? "" : "warning: ";
    (void)caption;
    std::fprintf(stderr, "cadenzo-split: %s%s\n", szKind, strText.c_str());
    std::fflush(stderr);
    return PromptAnswer::Ok;
}

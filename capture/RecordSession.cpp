#include "capture/RecordSession.h"

// Placeholder so the session links while its implementation is written.

CRecordSession::CRecordSession(IRecordWindow& window, IPrompt& prompt, CSongSplitter& splitter,
                               CWaveFile& waveFile, CWaveIn& waveIn)
    : m_window(window), m_prompt(prompt), m_splitter(splitter), m_waveFile(waveFile),
      m_waveIn(waveIn), m_nFileDataLimit(0xFFFFFFFFLL - 64)
{
}

CRecordSession::~CRecordSession()
{
    if (m_hRecordThread.joinable()) m_hRecordThread.join();
}

void CRecordSession::SetBufferSize(int32_t nBytes) { m_nBufferSize = nBytes; }
void CRecordSession::OnRecord() {}
void CRecordSession::OnStop() {}
void CRecordSession::OnRecordProgress(int64_t, bool) {}
void CRecordSession::OnRecordDone() {}
bool CRecordSession::IsRecording() const { return m_bRecording != 0; }

void CRecordSession::GetChannelLevels(int nChannel, int32_t* pnRms, int32_t* pnPeak, int32_t* pnClips)
{
    std::lock_guard<std::mutex> lock(m_csSession);
    RecordLevelChannel& ch = m_levels[nChannel == 1 ? 1 : 0];
    *pnRms = ch.nHeldRms;
    *pnPeak = ch.nHeldPeak;
    *pnClips = ch.nClips;
    ch.bRead = 1;
}

std::string CRecordSession::GetCurFileText() const { return {}; }
std::string CRecordSession::GetSongTimeText() const { return {}; }
std::string CRecordSession::GetTotalTimeText() const { return {}; }
std::string CRecordSession::GetClippedText() const { return {}; }
int64_t CRecordSession::GetTotalBytes() const { return 0; }
int64_t CRecordSession::GetSongBytes() const { return 0; }
std::vector<RecordSongFile> CRecordSession::GetSongFiles() const { return {}; }
std::string CRecordSession::NumberedName(const std::string& strBase, int) { return strBase; }

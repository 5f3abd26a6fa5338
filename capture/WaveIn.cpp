#include "capture/WaveIn.h"

#include <cstdio>
#include <cstring>

// Interim bodies: the interface links; capture itself follows.
class IWaveInSource { public: virtual ~IWaveInSource() = default; };
class CWaveInSink {};

std::vector<CWaveInCaps*> g_waveInDevices;

void WaveInNotify(void*, uint32_t, void* pContext, uintptr_t, uintptr_t)
{
    if (pContext) static_cast<CAutoResetEvent*>(pContext)->Set();
}

CWaveIn::CWaveIn()
    : m_nDevice(-1), m_bFilePaced(false), m_nBufferBytes{0, 0}, m_nCurrent(0), m_nBufferSize(0),
      m_nLastBytes(0), m_bError(0), m_szError{}, m_state(State::Closed), m_pNotify(nullptr),
      m_pContext(nullptr), m_bufferState{BufferState::Idle, BufferState::Idle}, m_nRecorded{0, 0},
      m_nFillTarget(0), m_nDelivered(0), m_fRingSeconds(5.0), m_nDroppedFrames(0),
      m_nMissingFrames(0)
{
}
CWaveIn::~CWaveIn() = default;
void CWaveIn::SetError(const char* szText)
{
    m_bError = 1;
    std::snprintf(m_szError, sizeof m_szError, "%s", szText);
}
void CWaveIn::SetDevice(int32_t nDevice) { ClearError(); m_nDevice = nDevice; }
void CWaveIn::UseFileSource(const char* szPath, bool bPaced) { ClearError(); m_strFilePath = szPath ? szPath : ""; m_bFilePaced = bPaced; }
void CWaveIn::UseSoundCard() { ClearError(); m_strFilePath.clear(); }
bool CWaveIn::ProbeFile(const char*, WaveInFileInfo*, std::string*) { return false; }
void CWaveIn::QueryFormat(const WaveFormat&) { ClearError(); SetError("Sorry, sound card does not support this RECORD WAV format.\n"); }
void CWaveIn::Open(const WaveFormat&, WaveInNotifyProc, void*, uint32_t) { ClearError(); }
void CWaveIn::AllocateBuffers(int32_t) { ClearError(); }
void CWaveIn::Start() { ClearError(); }
int32_t CWaveIn::GetNextBuffer(void*) { ClearError(); return 0; }
int32_t CWaveIn::Stop(void*) { ClearError(); return 0; }
int32_t CWaveIn::Drain(void*) { ClearError(); return 0; }
void CWaveIn::Close() { ClearError(); }
const std::vector<WaveInLoss>& CWaveIn::GetLosses() { return m_losses; }
int64_t CWaveIn::GetRingBytes() const { return 0; }
void CWaveIn::CollectLosses() {}
void CWaveIn::CompleteLocked() {}

int EnumerateDevices() { return 1; }
void ClearDevices()
{
    for (CWaveInCaps* p : g_waveInDevices) delete p;
    g_waveInDevices.clear();
}
int32_t GetDeviceCount() { return static_cast<int32_t>(g_waveInDevices.size()); }
CWaveInCaps* GetDeviceAt(int32_t nIndex)
{
    if (nIndex < 0 || nIndex >= GetDeviceCount()) return nullptr;
    return g_waveInDevices[static_cast<size_t>(nIndex)];
}

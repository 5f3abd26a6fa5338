#include "capture/WaveFile.h"

#include <cstring>

CWaveFile::CWaveFile()
    : m_bNameTooLong(false), m_hFile(-1), m_nHeaderBytes(0), m_nDataBytes(0),
      m_nDiskDataBytes(0), m_bWriteFailed(false), m_pBuffer(nullptr), m_nBufferSize(0),
      m_nBufferFill(0), m_bError(0)
{
    m_szFileName[0] = '\0';
    std::strcpy(m_szError, "No error");
}
CWaveFile::~CWaveFile() {}
void CWaveFile::SetFileName(const char*) {}
void CWaveFile::Create() {}
void CWaveFile::WriteHeader(int16_t, int32_t, int16_t, int32_t) {}
int32_t CWaveFile::Write(const void*, int32_t) { return 0; }
void CWaveFile::Close() {}
int64_t CWaveFile::GetMaxDataBytes() const { return 0; }

#include "capture/CaptureRing.h"

#include <algorithm>
#include <cstring>
#include <new>

bool CCaptureRing::Allocate(int64_t nBytes, int32_t nFrameBytes)
{
    if (nFrameBytes <= 0) nFrameBytes = 1;
    int64_t nCapacity = nBytes - nBytes % nFrameBytes;
    if (nCapacity <= 0) return false;
    if (nCapacity > m_nStorage) {
        m_pData.reset(new (std::nothrow) uint8_t[static_cast<size_t>(nCapacity)]);
        if (!m_pData) {
            m_nStorage = m_nCapacity = 0;
            return false;
        }
        m_nStorage = nCapacity;
    }
    m_nCapacity = nCapacity;
    m_nFrameBytes = nFrameBytes;
    Reset();
    return true;
}

void CCaptureRing::Reset()
{
    m_nWritten.store(0, std::memory_order_release);
    m_nRead.store(0, std::memory_order_release);
}

int64_t CCaptureRing::Available() const
{
    return m_nWritten.load(std::memory_order_acquire) - m_nRead.load(std::memory_order_acquire);
}

int64_t CCaptureRing::Free() const { return m_nCapacity - Available(); }

int64_t CCaptureRing::Write(const void* pData, int64_t nBytes)
{
    if (m_nCapacity <= 0 || nBytes <= 0) return 0;
    const int64_t nWritten = m_nWritten.load(std::memory_order_relaxed);
    const int64_t nFree = m_nCapacity - (nWritten - m_nRead.load(std::memory_order_acquire));
    int64_t nTake = std::min(nBytes, nFree);
    nTake -= nTake % m_nFrameBytes;
    if (nTake <= 0) return 0;
    const int64_t nAt = nWritten % m_nCapacity;
    const int64_t nFirst = std::min(nTake, m_nCapacity - nAt);
    const uint8_t* pSrc = static_cast<const uint8_t*>(pData);
    std::memcpy(m_pData.get() + nAt, pSrc, static_cast<size_t>(nFirst));
    if (nTake > nFirst) std::memcpy(m_pData.get(), pSrc + nFirst, static_cast<size_t>(nTake - nFirst));
    m_nWritten.store(nWritten + nTake, std::memory_order_release);
    return nTake;
}

void CCaptureRing::Read(void* pDest, int64_t nBytes)
{
    const int64_t nRead = m_nRead.load(std::memory_order_relaxed);
    nBytes = std::min(nBytes, m_nWritten.load(std::memory_order_acquire) - nRead);
    if (nBytes <= 0) return;
    const int64_t nAt = nRead % m_nCapacity;
    const int64_t nFirst = std::min(nBytes, m_nCapacity - nAt);
    uint8_t* pOut = static_cast<uint8_t*>(pDest);
    std::memcpy(pOut, m_pData.get() + nAt, static_cast<size_t>(nFirst));
    if (nBytes > nFirst) std::memcpy(pOut + nFirst, m_pData.get(), static_cast<size_t>(nBytes - nFirst));
    m_nRead.store(nRead + nBytes, std::memory_order_release);
}

#pragma once
// A byte ring between one producer (the capture thread) and one consumer (whoever
// completes blocks, serialised by the capture device's own lock).

#include <atomic>
#include <cstdint>
#include <memory>

/**
 * Fixed-capacity single-producer, single-consumer byte ring of whole frames.
 * Allocate() before use (not while either side runs). Write() runs on the producer
 * thread, Read()/Skip() on one consumer at a time; Available()/Free() on either.
 * Positions count bytes since the last Reset() and never wrap.
 */
class CCaptureRing
{
public:
    CCaptureRing() = default;
    CCaptureRing(const CCaptureRing&) = delete;
    CCaptureRing& operator=(const CCaptureRing&) = delete;

    // Makes room for nBytes (rounded down to whole frames of nFrameBytes) and empties the
    // ring. Keeps the storage when it is large enough. Returns false when out of memory.
    bool Allocate(int64_t nBytes, int32_t nFrameBytes);
    // Empties the ring and sets both positions to 0.
    void Reset();

    // Appends as many whole frames of pData as fit; returns the bytes taken.
    int64_t Write(const void* pData, int64_t nBytes);
    // Copies nBytes (at most Available()) to pDest and frees them.
    void Read(void* pDest, int64_t nBytes);

    int64_t Available() const;
    int64_t Free() const;
    int64_t Capacity() const { return m_nCapacity; }
    int64_t WritePosition() const { return m_nWritten.load(std::memory_order_acquire); }
    int64_t ReadPosition() const { return m_nRead.load(std::memory_order_acquire); }

private:
    std::unique_ptr<uint8_t[]> m_pData;
    int64_t m_nStorage = 0;                 // bytes allocated
    int64_t m_nCapacity = 0;                // bytes in use: whole frames
    int32_t m_nFrameBytes = 1;
    std::atomic<int64_t> m_nWritten{0};     // bytes ever written (producer)
    std::atomic<int64_t> m_nRead{0};        // bytes ever read (consumer)
};

#pragma once
// Hands loss reports from the capture thread to the thread that drives the capture device.

#include "capture/WaveIn.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

/**
 * A fixed single-producer, single-consumer queue of loss reports: Push() on the capture
 * thread (no allocation, no lock), Pop() on the driving thread. When it is full, Push()
 * keeps the frames in a spill count per kind, placed at the first spilled position, which
 * Pop() hands over as one report: no lost frame ever goes unreported.
 */
class CLossQueue
{
public:
    CLossQueue() { Clear(); }

    void Clear()
    {
        m_nHead.store(0, std::memory_order_relaxed);
        m_nTail.store(0, std::memory_order_relaxed);
        for (auto& n : m_nSpill) n.store(0, std::memory_order_relaxed);
        for (auto& n : m_nSpillAt) n.store(-1, std::memory_order_relaxed);
    }

    void Push(WaveInLossKind kind, int64_t nStreamBytes, int64_t nFrames)
    {
        const uint32_t nTail = m_nTail.load(std::memory_order_relaxed);
        if (nTail - m_nHead.load(std::memory_order_acquire) >= kSize) {
            const int k = static_cast<int>(kind);
            int64_t nExpected = -1;
            m_nSpillAt[k].compare_exchange_strong(nExpected, nStreamBytes, std::memory_order_relaxed);
            m_nSpill[k].fetch_add(nFrames, std::memory_order_release);
            return;
        }
        m_items[nTail % kSize] = WaveInLoss{kind, nStreamBytes, nFrames};
        m_nTail.store(nTail + 1, std::memory_order_release);
    }

    // Takes the oldest report; false when there is none.
    bool Pop(WaveInLoss* pLoss)
    {
        const uint32_t nHead = m_nHead.load(std::memory_order_relaxed);
        if (nHead != m_nTail.load(std::memory_order_acquire)) {
            *pLoss = m_items[nHead % kSize];
            m_nHead.store(nHead + 1, std::memory_order_release);
            return true;
        }
        for (int i = 0; i < kKinds; ++i) {
            const int64_t nFrames = m_nSpill[i].exchange(0, std::memory_order_acquire);
            if (nFrames > 0) {
                const int64_t nAt = m_nSpillAt[i].exchange(-1, std::memory_order_relaxed);
                *pLoss = WaveInLoss{static_cast<WaveInLossKind>(i), std::max<int64_t>(nAt, 0), nFrames};
                return true;
            }
        }
        return false;
    }

private:
    static constexpr uint32_t kSize = 256;
    static constexpr int kKinds = static_cast<int>(WaveInLossKind::Overflow) + 1;
    WaveInLoss m_items[kSize];
    std::atomic<uint32_t> m_nHead{0};
    std::atomic<uint32_t> m_nTail{0};
    std::atomic<int64_t> m_nSpill[kKinds];
    std::atomic<int64_t> m_nSpillAt[kKinds];  // stream position of the first spilled report, -1: none
};

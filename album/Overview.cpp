#include "album/Overview.h"

#include <algorithm>
#include <mutex>
#include <thread>

namespace {
const int64_t kChunkFrames = 64 * 1024;
}

struct COverview::Impl {
    std::thread thread;
    std::atomic<bool> bRunning{false};
    std::atomic<bool> bFinished{false};
    std::atomic<bool> bCancel{false};
    std::atomic<bool> bCancelled{false};
    std::atomic<double> fProgress{0.0};
    mutable std::mutex mutex;  // guards columns and strError
    std::vector<COverviewColumn> columns;
    std::string strError;
    int64_t nFirst = 0;
    int64_t nCount = 0;

    void Run(CAlbumLayout layout, int32_t nColumns, std::function<void()> fnProgress);
};

void COverview::Impl::Run(CAlbumLayout layout, int32_t nColumns, std::function<void()> fnProgress)
{
    CAlbumReader reader(layout);
    const int64_t nChannels = std::max(1, layout.format.nChannels);
    std::vector<float> buffer(static_cast<size_t>(kChunkFrames * nChannels));
    auto boundary = [&](int64_t i) {
        return nFirst + static_cast<int64_t>((static_cast<__int128>(i) * nCount) / nColumns);
    };
    int32_t nCol = 0;
    int64_t nColEnd = boundary(1);
    float fMin = 0.0f, fMax = 0.0f;
    bool bAny = false;
    int nLastPercent = -1;
    const int64_t nEnd = nFirst + nCount;
    for (int64_t nPos = nFirst; nPos < nEnd && nCol < nColumns;) {
        if (bCancel.load(std::memory_order_relaxed)) {
            bCancelled = true;
            break;
        }
        int64_t nWant = std::min(kChunkFrames, nEnd - nPos);
        int64_t nGot = reader.ReadFloat(nPos, nWant, buffer.data());
        if (nGot < nWant) {
            if (!reader.GetErrorText().empty()) {
                std::lock_guard<std::mutex> lock(mutex);
                strError = reader.GetErrorText();
                break;
            }
            std::fill(buffer.begin() + nGot * nChannels, buffer.begin() + nWant * nChannels, 0.0f);
        }
        const float* p = buffer.data();
        int64_t nAt = nPos;
        while (nAt < nPos + nWant) {
            int64_t nStop = std::min(nColEnd, nPos + nWant);
            const float* pEnd = p + (nStop - nAt) * nChannels;
            if (p < pEnd && !bAny) {
                fMin = fMax = *p;
                bAny = true;
            }
            for (; p < pEnd; ++p) {
                fMin = std::min(fMin, *p);
                fMax = std::max(fMax, *p);
            }
            nAt = nStop;
            while (nAt >= nColEnd && nCol < nColumns) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    columns[static_cast<size_t>(nCol)] = {fMin, fMax};
                }
                ++nCol;
                nColEnd = boundary(nCol + 1);
                bAny = false;
                fMin = fMax = 0.0f;
            }
        }
        nPos += nWant;
        fProgress = static_cast<double>(nPos - nFirst) / static_cast<double>(nCount);
        int nPercent = static_cast<int>(fProgress * 100.0);
        if (nPercent != nLastPercent) {
            nLastPercent = nPercent;
            if (fnProgress) fnProgress();
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        bFinished = !bCancelled && strError.empty();
    }
    bRunning = false;
    if (fnProgress) fnProgress();
}

COverview::COverview() : m_pImpl(new Impl) {}

COverview::~COverview()
{
    Cancel();
    Wait();
}

bool COverview::Start(const CAlbumLayout& layout, int64_t nFirst, int64_t nCount,
                      int32_t nColumns, std::function<void()> fnProgress)
{
    Impl& d = *m_pImpl;
    if (d.bRunning) {
        std::lock_guard<std::mutex> lock(d.mutex);
        d.strError = "The overview is still being computed.";
        return false;
    }
    Wait();
    std::lock_guard<std::mutex> lock(d.mutex);
    if (nCount <= 0 || nFirst < 0 || nColumns < 1) {
        d.strError = "The overview needs at least one frame and one column.";
        return false;
    }
    d.strError.clear();
    d.columns.assign(static_cast<size_t>(nColumns), COverviewColumn{});
    d.nFirst = nFirst;
    d.nCount = nCount;
    d.fProgress = 0.0;
    d.bCancel = false;
    d.bCancelled = false;
    d.bFinished = false;
    d.bRunning = true;
    d.thread = std::thread(&Impl::Run, &d, layout, nColumns, std::move(fnProgress));
    return true;
}

void COverview::Cancel() { m_pImpl->bCancel = true; }

void COverview::Wait()
{
    if (m_pImpl->thread.joinable()) m_pImpl->thread.join();
}

bool COverview::IsRunning() const { return m_pImpl->bRunning; }
bool COverview::IsFinished() const { return m_pImpl->bFinished; }
bool COverview::IsCancelled() const { return m_pImpl->bCancelled; }
double COverview::GetProgress() const { return m_pImpl->fProgress; }
int64_t COverview::GetFirst() const { return m_pImpl->nFirst; }
int64_t COverview::GetCount() const { return m_pImpl->nCount; }

std::vector<COverviewColumn> COverview::GetColumns() const
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->columns;
}

bool COverview::HasError() const
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return !m_pImpl->strError.empty();
}

std::string COverview::GetErrorText() const
{
    std::lock_guard<std::mutex> lock(m_pImpl->mutex);
    return m_pImpl->strError;
}

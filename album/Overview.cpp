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

namespace {

// The range of samples [p, pEnd) merged into fMin/fMax, full scale 1.0. 16-bit and float
// samples are scanned as they are on disk (the common formats, and the fast way through an
// hour of audio); other widths arrive as floats.
template <typename T>
void Merge(const T* p, const T* pEnd, float fScale, float* pMin, float* pMax)
{
    if (p >= pEnd) return;
    T lo = *p, hi = *p;
    for (; p < pEnd; ++p) {
        lo = *p < lo ? *p : lo;
        hi = *p > hi ? *p : hi;
    }
    *pMin = std::min(*pMin, static_cast<float>(lo) * fScale);
    *pMax = std::max(*pMax, static_cast<float>(hi) * fScale);
}

}  // namespace

void COverview::Impl::Run(CAlbumLayout layout, int32_t nColumns, std::function<void()> fnProgress)
{
    CAlbumReader reader(layout);
    const int64_t nChannels = std::max(1, layout.format.nChannels);
    const bool b16 = !layout.format.bFloat && layout.format.nBits == 16;
    const bool bRawFloat = layout.format.bFloat && layout.format.nBits == 32;
    std::vector<float> floats(static_cast<size_t>(kChunkFrames * nChannels));
    std::vector<int16_t> shorts(b16 ? floats.size() : 0);
    auto boundary = [&](int64_t i) {
        return nFirst + static_cast<int64_t>((static_cast<__int128>(i) * nCount) / nColumns);
    };
    int32_t nCol = 0;
    int64_t nColEnd = boundary(1);
    // The column being gathered; starts "empty" (min above max).
    float fMin = 2.0f, fMax = -2.0f;
    int nLastPercent = -1;
    const int64_t nEnd = nFirst + nCount;
    for (int64_t nPos = nFirst; nPos < nEnd && nCol < nColumns;) {
        if (bCancel.load(std::memory_order_relaxed)) {
            bCancelled = true;
            break;
        }
        int64_t nWant = std::min(kChunkFrames, nEnd - nPos);
        int64_t nGot = b16 ? reader.ReadRaw(nPos, nWant, shorts.data())
                       : bRawFloat ? reader.ReadRaw(nPos, nWant, floats.data())
                                   : reader.ReadFloat(nPos, nWant, floats.data());
        if (nGot < nWant) {
            if (!reader.GetErrorText().empty()) {
                std::lock_guard<std::mutex> lock(mutex);
                strError = reader.GetErrorText();
                break;
            }
            // Past the end of the recording: silence.
            std::fill(floats.begin() + nGot * nChannels, floats.begin() + nWant * nChannels, 0.0f);
            if (b16)
                std::fill(shorts.begin() + nGot * nChannels, shorts.begin() + nWant * nChannels, 0);
        }
        int64_t nAt = nPos;
        while (nAt < nPos + nWant) {
            int64_t nStop = std::min(nColEnd, nPos + nWant);
            size_t nFrom = static_cast<size_t>((nAt - nPos) * nChannels);
            size_t nTo = static_cast<size_t>((nStop - nPos) * nChannels);
            if (b16)
                Merge(shorts.data() + nFrom, shorts.data() + nTo, 1.0f / 32768.0f, &fMin, &fMax);
            else
                Merge(floats.data() + nFrom, floats.data() + nTo, 1.0f, &fMin, &fMax);
            nAt = nStop;
            while (nAt >= nColEnd && nCol < nColumns) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    columns[static_cast<size_t>(nCol)] =
                        fMin <= fMax ? COverviewColumn{fMin, fMax} : COverviewColumn{};
                }
                ++nCol;
                nColEnd = boundary(nCol + 1);
                fMin = 2.0f;
                fMax = -2.0f;
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

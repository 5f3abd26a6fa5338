#include "album/Repair.h"

#include <algorithm>
#include <cstring>

namespace {

const int64_t kChunkFrames = 64 * 1024;

}  // namespace

CRepairStream::CRepairStream(CAlbumReader& reader, int64_t nFirst, int64_t nEnd, const CDeclickLevel* pLevel)
    : m_reader(reader), m_nIn(nFirst), m_nOut(nFirst), m_nEnd(std::max(nFirst, nEnd)),
      m_nChannels(std::max<int32_t>(1, reader.GetLayout().format.nChannels))
{
    if (pLevel == nullptr) return;
    m_pDeclicker = std::make_unique<CDeclicker>(m_nChannels, reader.GetLayout().format.nRate, *pLevel);
    const size_t nChannels = static_cast<size_t>(m_nChannels);
    m_in.resize(static_cast<size_t>(kChunkFrames) * nChannels);
    m_out.resize(static_cast<size_t>(kChunkFrames + m_pDeclicker->Latency()) * nChannels);
    m_marks.resize(m_out.size());
}

CRepairStream::~CRepairStream() = default;

int64_t CRepairStream::Read(float* pOut, int64_t nMax, uint8_t* pMarks)
{
    const size_t nChannels = static_cast<size_t>(m_nChannels);
    if (!m_pDeclicker) {
        const int64_t n = std::min(nMax, m_nEnd - m_nOut);
        if (n <= 0) return 0;
        if (m_reader.ReadFloat(m_nOut, n, pOut) != n) return -1;
        if (pMarks) std::memset(pMarks, 0, static_cast<size_t>(n) * nChannels);
        m_nOut += n;
        return n;
    }
    int64_t nGiven = 0;
    while (nGiven < nMax) {
        if (m_nOutCount == 0) {
            if (m_bFinished) break;
            m_nOutAt = 0;
            if (m_nIn < m_nEnd) {
                const int64_t n = std::min(kChunkFrames, m_nEnd - m_nIn);
                if (m_reader.ReadFloat(m_nIn, n, m_in.data()) != n) return -1;
                m_nIn += n;
                m_nOutCount = m_pDeclicker->Process(m_in.data(), static_cast<size_t>(n), m_out.data(), m_marks.data());
            } else {
                m_nOutCount = m_pDeclicker->Finish(m_out.data(), m_marks.data());
                m_bFinished = true;
            }
            continue;
        }
        const size_t n = std::min(m_nOutCount, static_cast<size_t>(nMax - nGiven));
        const size_t nFrom = m_nOutAt * nChannels, nTo = static_cast<size_t>(nGiven) * nChannels;
        std::copy_n(&m_out[nFrom], n * nChannels, pOut + nTo);
        if (pMarks) std::copy_n(&m_marks[nFrom], n * nChannels, pMarks + nTo);
        for (size_t f = 0; f < n; ++f) {
            const uint8_t* pFrame = &m_marks[nFrom + f * nChannels];
            const bool bMarked = std::any_of(pFrame, pFrame + nChannels, [](uint8_t m) { return m != 0; });
            if (bMarked && !m_bInClick) ++m_nClicks;
            m_bInClick = bMarked;
        }
        m_nOutAt += n;
        m_nOutCount -= n;
        nGiven += static_cast<int64_t>(n);
    }
    m_nOut += nGiven;
    return nGiven;
}

bool CRepairStream::Preview(CAlbumReader& reader, int64_t nFirst, int64_t nLast, CDeclickLevel level,
                            std::vector<float>* pSamples, std::vector<uint8_t>* pMarks)
{
    const CAlbumLayout& layout = reader.GetLayout();
    const size_t nChannels = static_cast<size_t>(std::max<int32_t>(1, layout.format.nChannels));
    nFirst = std::max<int64_t>(0, nFirst);
    nLast = std::min(layout.TotalFrames(), nLast);
    const size_t nFrames = static_cast<size_t>(std::max<int64_t>(0, nLast - nFirst));
    pSamples->assign(nFrames * nChannels, 0.0f);
    pMarks->assign(nFrames * nChannels, 0);
    // Enough before for the models and the levels to be those of the whole song's run,
    // enough after for every click the stretch holds to be found and restored whole.
    const int64_t nLatency = CDeclicker(static_cast<int32_t>(nChannels), layout.format.nRate, level).Latency();
    const int64_t nBefore = std::max<int64_t>(layout.format.nRate, 4 * CDeclicker::kModelWindow);
    const int64_t nAfter = 2 * nLatency + CDeclicker::kStep;
    std::vector<float> samples;
    std::vector<uint8_t> marks;
    for (int32_t k = std::max(1, layout.SongAt(nFirst)); k <= static_cast<int32_t>(layout.songs.size()); ++k) {
        const int64_t nSong = layout.SongStart(k), nSongEnd = layout.SongStart(k + 1);
        const int64_t a = std::max(nFirst, nSong), b = std::min(nLast, nSongEnd);
        if (a >= nLast) break;
        if (a >= b) continue;
        const int64_t nFrom = nSong + std::max<int64_t>(0, (a - nBefore - nSong) / CDeclicker::kStep) * CDeclicker::kStep;
        const int64_t nTo = std::min(nSongEnd, b + nAfter);
        CRepairStream stream(reader, nFrom, nTo, &level);
        samples.resize(static_cast<size_t>(nTo - nFrom) * nChannels);
        marks.resize(samples.size());
        for (int64_t nDone = 0; nDone < nTo - nFrom;) {
            const int64_t n = stream.Read(&samples[static_cast<size_t>(nDone) * nChannels], nTo - nFrom - nDone,
                                          &marks[static_cast<size_t>(nDone) * nChannels]);
            if (n <= 0) return false;
            nDone += n;
        }
        const size_t nSkip = static_cast<size_t>(a - nFrom) * nChannels, nCount = static_cast<size_t>(b - a) * nChannels;
        const size_t nAt = static_cast<size_t>(a - nFirst) * nChannels;
        std::copy_n(&samples[nSkip], nCount, pSamples->begin() + static_cast<ptrdiff_t>(nAt));
        std::copy_n(&marks[nSkip], nCount, pMarks->begin() + static_cast<ptrdiff_t>(nAt));
    }
    return true;
}

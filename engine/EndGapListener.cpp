#include "engine/EndGapListener.h"

#include <limits>

void CEndGapListener::Start(CSongSplitter* pSplitter, double listenSeconds)
{
    m_pSplitter = pSplitter;
    m_state = State::Recording;
    const double samples = listenSeconds * pSplitter->GetSamplesPerSec() * 2.0;
    m_nListenSamples = samples > 0 ? static_cast<int64_t>(samples) : 0;
    m_nFed = 0;
    m_nSilenceStart = 0;
    m_bEndedListening = false;
    m_held.clear();
    m_resumes.clear();
}

int64_t CEndGapListener::SamplesIn(int32_t nBytes) const
{
    return nBytes <= 0 ? 0 : nBytes / (m_pSplitter->GetBitsPerSample() == 16 ? 2 : 4);
}

bool CEndGapListener::HandOn(uint8_t* pData, int32_t nBytes, bool bPastEnd, const Sink& sink)
{
    Piece piece;
    piece.pData = pData;
    piece.nBytes = nBytes;
    piece.bPastEnd = bPastEnd;
    m_pSplitter->ProcessBuffer(pData, nBytes, &piece.bCut, &piece.nCutOffset, &piece.bEnd);
    return sink(piece);
}

bool CEndGapListener::Feed(uint8_t* pData, int32_t nBytes, const Sink& sink)
{
    const int64_t n = SamplesIn(nBytes);
    switch (m_state) {
    case State::Ended:
        m_nFed += n;
        return HandOn(pData, nBytes, true, sink);

    case State::Recording: {
        // End Gap can only fall in this buffer if the silence so far and the buffer reach it.
        const int64_t silence0 = m_pSplitter->GetSilenceSamples();
        if (m_nListenSamples <= 0 || n == 0 || silence0 + n < m_pSplitter->GetEndGapSamples()) {
            m_nFed += n;
            return HandOn(pData, nBytes, false, sink);
        }
        m_before = *m_pSplitter;
        std::vector<uint8_t> raw(pData, pData + nBytes);
        Piece piece;
        piece.pData = pData;
        piece.nBytes = nBytes;
        m_pSplitter->ProcessBuffer(pData, nBytes, &piece.bCut, &piece.nCutOffset, &piece.bEnd);
        if (!piece.bEnd) {
            m_nFed += n;
            return sink(piece);
        }
        // End Gap: hold this buffer back and listen.
        m_nSilenceStart = m_nFed - silence0;
        m_held.clear();
        m_held.push_back(std::move(raw));
        m_state = State::Listening;
        break;
    }

    case State::Listening:
        if (n == 0) return true;
        m_held.emplace_back(pData, pData + nBytes);
        m_pSplitter->ProcessBuffer(pData, nBytes, nullptr, nullptr, nullptr);
        break;
    }

    // Listening, the buffer just processed held back. Sound has come back when the last
    // loud sample moved on in it and lies past the point where End Gap was reached.
    const int64_t silence0 = m_nFed - m_nSilenceStart;
    m_nFed += n;
    const int64_t silence1 = m_pSplitter->GetSilenceSamples();
    const int64_t endGap = m_before.GetEndGapSamples();
    if (silence1 < silence0 + n && silence1 < endGap) {
        m_resumes.push_back({m_nSilenceStart, m_nFed - silence1});
        // Again from before the held audio, as if End Gap were longer than this silence.
        *m_pSplitter = m_before;
        m_pSplitter->SetEndGapSamples(std::numeric_limits<int64_t>::max() / 4);
        m_state = State::Recording;
        bool bOk = true;
        for (std::vector<uint8_t>& held : m_held) {
            bOk = HandOn(held.data(), static_cast<int32_t>(held.size()), false, sink);
            if (!bOk) break;
        }
        m_pSplitter->SetEndGapSamples(endGap);
        m_held.clear();
        return bOk;
    }
    if (silence1 >= endGap + m_nListenSamples) return Finish(sink);
    // Finish() looks at this silence from the splitter set back; keep it for the next buffer.
    m_nSilenceStart = m_nFed - silence1;
    return true;
}

bool CEndGapListener::Finish(const Sink& sink)
{
    if (m_state != State::Listening) return true;
    *m_pSplitter = m_before;
    m_state = State::Ended;
    m_bEndedListening = true;
    bool bOk = true;
    for (size_t i = 0; i < m_held.size() && bOk; ++i)
        bOk = HandOn(m_held[i].data(), static_cast<int32_t>(m_held[i].size()), i > 0, sink);
    m_held.clear();
    return bOk;
}

double CEndGapListener::ListenSecondsLeft() const
{
    if (m_state != State::Listening) return 0;
    const double rate = m_pSplitter->GetSamplesPerSec();
    if (rate <= 0) return 0;
    const int64_t left = m_before.GetEndGapSamples() + m_nListenSamples - m_pSplitter->GetSilenceSamples();
    return left > 0 ? static_cast<double>(left) / (2.0 * rate) : 0;
}

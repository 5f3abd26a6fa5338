#pragma once

#include "engine/SongSplitter.h"

#include <cstdint>
#include <functional>
#include <vector>

/**
 * Keeps End Gap from cutting a recording short when sound comes back soon after it:
 * between the movements of a piece, in a long fade, before a quiet intro.
 *
 * Feed() runs every captured buffer through the splitter and hands it on, processed, with
 * the splitter's verdict. When the splitter reports End Gap, that buffer and the ones after
 * it are held back and the listener listens, for up to the listening time past End Gap:
 *  - sound above Gap Level comes back: the splitter is set back to where it stood before
 *    the held audio and runs it again as if End Gap had been longer, and every held buffer
 *    is handed on in order with the cuts that gives. The recording goes on; no sample is
 *    lost or doubled. Resumes() tells where.
 *  - nothing comes back, or Finish() is called (Stop, end of the input): the splitter is set
 *    back and the buffer holding End Gap is handed on exactly as it was first processed,
 *    end flag and all, which is where the recording ends without listening. The held
 *    audio after it follows marked past the end, and so does any buffer fed afterwards.
 * With a listening time of 0 every buffer is handed on at once, as the splitter gives it.
 *
 * Held audio is kept raw: for 30 s of listening, 30 s of the recording's format in memory.
 * Not thread-safe: the recording worker calls it while it holds the session lock.
 */
class CEndGapListener
{
public:
    // One processed buffer handed on.
    struct Piece {
        uint8_t* pData = nullptr;  // processed in place (DC Block)
        int32_t nBytes = 0;
        int32_t bCut = 0;          // the splitter's verdict, as ProcessBuffer() gives it
        int32_t nCutOffset = 0;
        int32_t bEnd = 0;
        bool bPastEnd = false;     // audio after the end of the recording
    };
    // Receives the pieces in capture order; returns false to stop (a write failed): the
    // pieces not yet handed on are dropped.
    using Sink = std::function<bool(const Piece&)>;

    // Where sound came back and the recording went on past End Gap.
    struct Resume {
        int64_t nSilenceStart = 0;  // last loud sample before the silence, interleaved samples from the start
        int64_t nSoundAt = 0;       // a loud sample that ended it (the last one of its buffer)
    };

    // Starts a recording, after splitter.PrepareForRecording(). listenSeconds: how long
    // past End Gap to listen (0: not at all).
    void Start(CSongSplitter* pSplitter, double listenSeconds);
    // Hands every buffer on at once from now on (a stop drains the capture).
    void StopListening() { m_nListenSamples = 0; }

    // One captured buffer of nBytes bytes; pData is processed in place and may be handed
    // on. Returns false when the sink did.
    bool Feed(uint8_t* pData, int32_t nBytes, const Sink& sink);
    // Listening ends with nothing heard: hands on the buffer with the end, then the rest
    // past the end. Nothing to do unless listening.
    bool Finish(const Sink& sink);

    bool IsListening() const { return m_state == State::Listening; }
    // The recording has ended at End Gap after listening (nothing came back, or Finish()).
    bool EndedAfterListening() const { return m_bEndedListening; }
    // Seconds of listening left (0 when not listening).
    double ListenSecondsLeft() const;
    const std::vector<Resume>& Resumes() const { return m_resumes; }

private:
    enum class State { Recording, Listening, Ended };
    bool HandOn(uint8_t* pData, int32_t nBytes, bool bPastEnd, const Sink& sink);
    int64_t SamplesIn(int32_t nBytes) const;

    CSongSplitter* m_pSplitter = nullptr;
    State m_state = State::Recording;
    int64_t m_nListenSamples = 0;       // interleaved samples past End Gap
    int64_t m_nFed = 0;                 // interleaved samples fed so far
    int64_t m_nSilenceStart = 0;        // last loud sample before the silence being listened to
    bool m_bEndedListening = false;
    CSongSplitter m_before;             // the splitter before the first held buffer
    std::vector<std::vector<uint8_t>> m_held;  // raw held buffers, the one with End Gap first
    std::vector<Resume> m_resumes;
};

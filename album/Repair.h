#pragma once
// The frames of one song as an export writes them: read in order from the album, and with
// click repair through the declicker, which gives them back Latency() frames late and
// changes only the samples it marks. The recorded song files are only ever read.

#include "album/Album.h"
#include "engine/Declicker.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/**
 * Reads the frames [nFirst, nEnd) of a reader's album in order, repaired by a declicker of
 * the given level when pLevel is set. The repaired stream has exactly as many frames as the
 * stretch; only marked samples differ from the recording's.
 *
 *   CRepairStream stream(reader, nFirst, nEnd, &level);
 *   while ((n = stream.Read(buffer, nMax, marks)) > 0) ...   // -1 when a file cannot be read
 *
 * Not thread-safe; the reader is used by this object only while it reads.
 */
class CRepairStream
{
public:
    CRepairStream(CAlbumReader& reader, int64_t nFirst, int64_t nEnd, const CDeclickLevel* pLevel);
    ~CRepairStream();
    CRepairStream(const CRepairStream&) = delete;
    CRepairStream& operator=(const CRepairStream&) = delete;

    // The next frames, at most nMax, into pOut (interleaved, full scale +-1.0) and, when
    // given, one mark per sample into pMarks (1 where the sample was restored). Returns
    // how many; 0 at the end, -1 when the album cannot be read (the reader's error text).
    int64_t Read(float* pOut, int64_t nMax, uint8_t* pMarks = nullptr);

    int64_t GetPosition() const { return m_nOut; }  // album frame the next Read gives first
    // Clicks repaired in the frames given so far: stretches of frames with a restored
    // sample, on any channel (a click on both channels at once counts once), as the Songs
    // window marks them; 0 without repair.
    int64_t Clicks() const { return m_nClicks; }
    const std::string& GetErrorText() const { return m_reader.GetErrorText(); }

    // The frames [nFirst, nLast) repaired as the export of each song repairs it, without
    // running the declicker over whole songs: each song's part is read from a little
    // before it (from a whole number of the declicker's steps after the song's start, so
    // its models are fitted to the same stretches) to a little after. Fills pSamples and
    // pMarks (nLast - nFirst frames); false with the reader's error text when the album
    // cannot be read.
    static bool Preview(CAlbumReader& reader, int64_t nFirst, int64_t nLast, CDeclickLevel level,
                        std::vector<float>* pSamples, std::vector<uint8_t>* pMarks);

private:
    CAlbumReader& m_reader;
    int64_t m_nIn;   // next album frame to read
    int64_t m_nOut;  // next album frame to give
    int64_t m_nEnd;
    int32_t m_nChannels;
    std::unique_ptr<CDeclicker> m_pDeclicker;
    bool m_bFinished = false;
    int64_t m_nClicks = 0;
    bool m_bInClick = false;  // the last frame given had a restored sample
    std::vector<float> m_in;
    std::vector<float> m_out;      // repaired frames not yet given, from m_nOutAt on
    std::vector<uint8_t> m_marks;
    size_t m_nOutAt = 0, m_nOutCount = 0;  // frames
};

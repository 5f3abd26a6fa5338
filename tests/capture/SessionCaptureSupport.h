#pragma once
// Whole recordings through the recording session from a real PortAudio device: the song
// files, read back with libsndfile and put end to end, must be the input's bytes.

#include "CaptureTestUtil.h"
#include "SessionTestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

namespace capturetest {

// The sample bytes of every song file that is still on disk, in order.
inline std::vector<uint8_t> KeptSongBytes(const std::vector<RecordSongFile>& files, int* pnKept, bool bFloat = false)
{
    std::vector<uint8_t> bytes;
    *pnKept = 0;
    for (const RecordSongFile& file : files) {
        if (file.bDeleted) continue;
        const sessiontest::ReadBack rb = sessiontest::ReadSound(file.strPath, bFloat);
        EXPECT_TRUE(rb.bOk) << file.strPath;
        const uint8_t* p = bFloat ? reinterpret_cast<const uint8_t*>(rb.samplesFloat.data())
                                  : reinterpret_cast<const uint8_t*>(rb.samples16.data());
        bytes.insert(bytes.end(), p, p + (bFloat ? rb.samplesFloat.size() * 4 : rb.samples16.size() * 2));
        ++*pnKept;
    }
    return bytes;
}

template <typename T = int16_t>
std::vector<uint8_t> AlbumBytes(int nRate, const std::vector<sessiontest::Segment>& segments)
{
    const std::vector<T> samples = sessiontest::MakeAlbum<T>(nRate, segments);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(samples.data());
    return std::vector<uint8_t>(p, p + samples.size() * sizeof(T));
}

inline bool ShowedBox(const sessiontest::CScriptedPrompt& prompt, const std::string& strCaption)
{
    return std::any_of(prompt.m_boxes.begin(), prompt.m_boxes.end(),
                       [&](const sessiontest::ShownBox& box) { return box.strCaption == strCaption; });
}

}  // namespace capturetest

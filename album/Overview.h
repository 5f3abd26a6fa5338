#pragma once
// The waveform overview of an album: the lowest and highest sample in each pixel column.

#include "album/Album.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The range of the samples of one column, over all channels, full scale -1.0 .. +1.0.
struct COverviewColumn {
    float fMin = 0.0f;
    float fMax = 0.0f;
};

/**
 * Computes the overview of frames [nFirst, nFirst + nCount) of an album layout in
 * nColumns columns on a thread of its own: column i covers frames
 * [nFirst + i * nCount / nColumns, nFirst + (i + 1) * nCount / nColumns). A window asks for
 * the whole recording (nFirst = 0, nCount = TotalFrames()) at its width, and for a few
 * seconds around a cut when it zooms; several overviews may run at once.
 *
 * Start() returns at once. fnProgress, when given, is called on the overview's thread
 * each time about one percent more is done, and once more at the end (finished, cancelled
 * or failed); it must return quickly (a window posts an event). GetColumns() may be read
 * at any time from any thread: columns not reached yet are zero, so a window can draw as
 * the overview grows. Cancel() asks the thread to stop and returns at once; the destructor
 * cancels and waits.
 *
 * Start() and Wait() belong to the thread that owns the object; Cancel() and the getters may
 * be called from any thread, the progress function included.
 */
class COverview
{
public:
    COverview();
    ~COverview();
    COverview(const COverview&) = delete;
    COverview& operator=(const COverview&) = delete;

    // False (with GetErrorText()) when a computation is still running or the range is
    // empty. nColumns >= 1; frames past the end of the recording count as silence. With
    // more columns than frames, a column that covers no frame stays zero: a window zoomed
    // that far draws the samples themselves (CAlbumReader).
    bool Start(const CAlbumLayout& layout, int64_t nFirst, int64_t nCount, int32_t nColumns,
               std::function<void()> fnProgress = {});
    void Cancel();
    void Wait();

    bool IsRunning() const;     // started and not yet at its end
    bool IsFinished() const;    // reached the end with every column computed
    bool IsCancelled() const;
    double GetProgress() const; // 0.0 .. 1.0
    std::vector<COverviewColumn> GetColumns() const;
    int64_t GetFirst() const;
    int64_t GetCount() const;
    bool HasError() const;
    std::string GetErrorText() const;  // a file that could not be read, named

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// The overview: each column's lowest and highest sample over the frames it covers, across
// song files, for every format; cancel stops it.

#include "AlbumTestSupport.h"

#include "album/Overview.h"

#include <atomic>

using namespace albumtest;

TEST(AlbumOverview, Columns_HoldTheLowestAndHighestSampleOfTheirFrames)
{
    for (int nBits : {16, 24, 32}) {
        SCOPED_TRACE("bits " + std::to_string(nBits));
        std::mt19937 rng(31);
        TempFolder dir;
        MakeAlbum(dir / "O.wav", {1000, 70001, 333}, nBits, rng);
        CAlbum album;
        ASSERT_TRUE(album.Open(dir / "O.wav"));
        CAlbumReader reader(album.GetLayout());
        std::vector<float> all(static_cast<size_t>(album.GetTotalFrames() * 2));
        ASSERT_EQ(reader.ReadFloat(0, album.GetTotalFrames(), all.data()), album.GetTotalFrames());

        // A range across all three songs that runs past the end (silence there).
        const int64_t nFirst = 700, nCount = album.GetTotalFrames(), nColumns = 97;
        std::atomic<int> nCalls{0};
        COverview overview;
        ASSERT_TRUE(overview.Start(album.GetLayout(), nFirst, nCount, nColumns, [&] { ++nCalls; }));
        overview.Wait();
        ASSERT_TRUE(overview.IsFinished()) << overview.GetErrorText();
        EXPECT_DOUBLE_EQ(overview.GetProgress(), 1.0);
        EXPECT_GE(nCalls.load(), 2);
        std::vector<COverviewColumn> columns = overview.GetColumns();
        ASSERT_EQ(columns.size(), static_cast<size_t>(nColumns));
        for (int64_t i = 0; i < nColumns; ++i) {
            int64_t a = nFirst + i * nCount / nColumns, b = nFirst + (i + 1) * nCount / nColumns;
            float fMin = 2.0f, fMax = -2.0f;
            for (int64_t f = a; f < b; ++f)
                for (int c = 0; c < 2; ++c) {
                    float v = f < album.GetTotalFrames() ? all[static_cast<size_t>(f * 2 + c)] : 0.0f;
                    fMin = std::min(fMin, v);
                    fMax = std::max(fMax, v);
                }
            ASSERT_EQ(columns[static_cast<size_t>(i)].fMin, fMin) << "column " << i;
            ASSERT_EQ(columns[static_cast<size_t>(i)].fMax, fMax) << "column " << i;
        }

        COverview cancelled;
        ASSERT_TRUE(cancelled.Start(album.GetLayout(), 0, album.GetTotalFrames(), 10,
                                    [&cancelled] { cancelled.Cancel(); }));
        cancelled.Wait();
        EXPECT_TRUE(cancelled.IsCancelled());
        EXPECT_FALSE(cancelled.IsFinished());
    }
}

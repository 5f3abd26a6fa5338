// Export with click repair: the exported files differ from the songs only at the clicks,
// which are mended; the songs stay as they were; ReplayGain measures the repaired sound;
// the Songs window's preview of a stretch is what the export writes there.

#include "AlbumTestSupport.h"
#include "ClickTestSupport.h"
#include "ExportTestSupport.h"

#include "album/Repair.h"

#include <cmath>

using namespace albumtest;
using namespace clicktest;

namespace {

const int kRate = 44100;

// Two songs of a quiet chord with a little noise, in the given WAV width; clicks (short
// decaying bursts, 0.5 full scale) at the frames given, the last on both channels at
// once, the others on the left channel only.
struct ClickyAlbum {
    std::vector<double> clean;  // interleaved, both songs
    std::vector<int64_t> clicks;
    std::vector<int64_t> lengths{3 * kRate, 4 * kRate};

    ClickyAlbum(const std::string& strBase, int nBits)
    {
        clicks = {kRate / 2, 2 * kRate + 30000, 3 * kRate + 20000, 3 * kRate + 2 * kRate + 12345};
        const int64_t nTotal = lengths[0] + lengths[1];
        std::mt19937 rng(5);
        std::normal_distribution<double> noise(0.0, 0.001);
        clean.resize(static_cast<size_t>(2 * nTotal));
        for (int64_t i = 0; i < nTotal; ++i)
            for (int ch = 0; ch < 2; ++ch)
                clean[static_cast<size_t>(2 * i + ch)] =
                    0.15 * std::sin(2 * M_PI * (220 + 110 * ch) * i / kRate) +
                    0.1 * std::sin(2 * M_PI * 555 * i / kRate) + noise(rng);
        std::vector<double> x = clean;
        for (int64_t c : clicks)
            for (int ch = 0; ch < (c == clicks.back() ? 2 : 1); ++ch) PlantClick(x, c, ch);
        // Song files in the recorder's format, from the clicky samples.
        const std::string strPrefix = strBase.substr(0, strBase.size() - 4);
        int64_t nAt = 0;
        for (size_t k = 0; k < lengths.size(); ++k) {
            std::vector<uint8_t> bytes;
            const double fScale = std::ldexp(1.0, nBits - 1);
            for (int64_t i = 2 * nAt; i < 2 * (nAt + lengths[k]); ++i) {
                const double v = x[static_cast<size_t>(i)];
                if (nBits == 32) {
                    const float f = static_cast<float>(v);
                    const auto* p = reinterpret_cast<const uint8_t*>(&f);
                    bytes.insert(bytes.end(), p, p + 4);
                } else {
                    const auto n = static_cast<int32_t>(std::lround(v * fScale));
                    for (int b = 0; b < nBits / 8; ++b) bytes.push_back(static_cast<uint8_t>(n >> (8 * b)));
                }
            }
            WriteSong(strPrefix + std::to_string(k + 1) + ".wav", bytes, nBits);
            nAt += lengths[k];
        }
    }

    bool NearClick(int64_t nFrame, int nChannel = 0) const
    {
        for (int64_t c : clicks)
            if (nFrame >= c - 40 && nFrame < c + 40 && (nChannel == 0 || c == clicks.back())) return true;
        return false;
    }
};

}  // namespace

// For 16-bit FLAC, 24-bit WAV and float WAV: every sample away from a click is the song's
// own, the clicks are mended, the report counts them per song, the songs are untouched,
// and the FLAC files' ReplayGain peaks are those of the repaired music, not of the clicks.
TEST(AlbumExportRepair, ExportedFiles_DifferFromTheSongsOnlyAtTheMendedClicks)
{
    const struct {
        int nBits;
        CExportFormat format;
    } cases[] = {{16, CExportFormat::Flac}, {24, CExportFormat::Wav}, {32, CExportFormat::Wav}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nBits);
        TempFolder dir;
        const std::string strBase = dir / "Side A.wav";
        const ClickyAlbum clicky(strBase, c.nBits);
        const std::map<std::string, std::string> songsBefore = FolderBytes(dir.path);  // the songs alone
        CAlbum album;
        ASSERT_TRUE(album.Open(strBase));
        CExportOptions options = ExportTo(dir / "out", c.format);
        options.bDeclick = true;
        const CExportReport report = RunExport(album, options);
        ASSERT_EQ(report.files.size(), 2u);
        EXPECT_EQ(report.clicks, (std::vector<int64_t>{2, 2}));
        for (const auto& song : songsBefore) {
            std::ifstream in(dir.path / song.first, std::ios::binary);
            EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == song.second) << song.first;
        }

        int64_t nAt = 0, nChanged = 0;
        for (size_t k = 0; k < 2; ++k) {
            ASSERT_NO_FATAL_FAILURE(ExpectMendedOnlyAtClicks(
                Decode(album.GetSongs()[k].strPath), Decode(report.files[k]), clicky.clean, nAt,
                [&clicky](int64_t nFrame, int nChannel) { return clicky.NearClick(nFrame, nChannel); }, 0.02,
                &nChanged));
            nAt += clicky.lengths[k];
        }
        EXPECT_GE(nChanged, 5 * 6);
        if (c.format == CExportFormat::Flac) {
            ASSERT_TRUE(report.bReplayGain);
            for (const CGain& gain : report.gain.tracks) EXPECT_LT(gain.fPeak, 0.3);
            EXPECT_LT(report.gain.album.fPeak, 0.3);
        }
    }
}

// The preview the Songs window marks and plays is, sample for sample, what the export
// writes: across a cut (each song repaired on its own) and in the middle of a song (read
// from a little before, its models fitted to the same stretches as the export's).
TEST(AlbumExportRepair, Preview_IsWhatTheExportWrites)
{
    TempFolder dir;
    const std::string strBase = dir / "Side A.wav";
    const ClickyAlbum clicky(strBase, 16);
    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    CExportOptions options = ExportTo(dir / "out", CExportFormat::Wav);
    options.bDeclick = true;
    const CExportReport report = RunExport(album, options);
    ASSERT_EQ(report.files.size(), 2u);
    std::vector<double> written = Decode(report.files[0]);
    const std::vector<double> second = Decode(report.files[1]);
    written.insert(written.end(), second.begin(), second.end());

    CAlbumReader reader(album.GetLayout());
    const int64_t nCut = clicky.lengths[0];
    for (const auto& range : {std::make_pair(nCut - kRate + 7, nCut + kRate / 2),
                              std::make_pair(nCut + 2 * kRate - 3, nCut + 3 * kRate + 1)}) {
        SCOPED_TRACE(range.first);
        std::vector<float> samples;
        std::vector<uint8_t> marks;
        ASSERT_TRUE(CRepairStream::Preview(reader, range.first, range.second, CDeclickLevel::Normal, &samples, &marks));
        ASSERT_EQ(samples.size(), static_cast<size_t>(2 * (range.second - range.first)));
        int nMarked = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const size_t nAt = static_cast<size_t>(2 * range.first) + i;
            ASSERT_EQ(std::nearbyint(samples[i] * 32768.0) / 32768.0, written[nAt]) << "sample " << nAt;
            nMarked += marks[i];
            if (marks[i]) {
                EXPECT_TRUE(clicky.NearClick(static_cast<int64_t>(nAt / 2), static_cast<int>(i % 2)));
            }
        }
        EXPECT_GE(nMarked, 6);
    }
}

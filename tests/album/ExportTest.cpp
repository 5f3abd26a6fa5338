// Export: FLAC that decodes to the recording's samples, tags, names, clamping, trimming,
// and a cancel that leaves no half-written file.

#include "AlbumTestSupport.h"
#include "ExportTestSupport.h"

#include <taglib/flacfile.h>
#include <taglib/xiphcomment.h>

#include <cmath>

using namespace albumtest;

TEST(AlbumExport, SixteenBitFlac_DecodesToTheSameSamplesWithTags)
{
    std::mt19937 rng(11);
    TempFolder dir;
    const std::string strBase = dir / "Side A.wav";
    std::vector<uint8_t> all = MakeAlbum(strBase, {3000, 70000, 500}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    ASSERT_TRUE(album.SetTitle(1, "Intro: \"Why?\" / <Now>"));
    ASSERT_TRUE(album.SetTitle(2, "Café"));
    ASSERT_TRUE(album.SetTitle(3, "Caf\xe9 au lait"));  // Latin-1: converted, never dropped

    CExportOptions options = ExportTo(dir / "out");
    options.info = {"The Album", "The Artist", "1979"};
    CExportReport report = RunExport(album, options);
    ASSERT_EQ(report.files, (std::vector<std::string>{dir / "out/01 Intro_ 'Why_' _ _Now_.flac",
                                                      dir / "out/02 Café.flac",
                                                      dir / "out/03 Caf\xe9 au lait.flac"}));
    EXPECT_EQ(report.nLatin1Tags, 1);
    EXPECT_EQ(FolderBytes(dir.path / "out").size(), 3u);

    std::vector<uint8_t> decoded;
    for (size_t i = 0; i < report.files.size(); ++i) {
        SF_INFO info{};
        SNDFILE* p = sf_open(report.files[i].c_str(), SFM_READ, &info);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
        sf_readf_short(p, samples.data(), info.frames);
        sf_close(p);
        auto* b = reinterpret_cast<const uint8_t*>(samples.data());
        decoded.insert(decoded.end(), b, b + samples.size() * 2);

        TagLib::FLAC::File file(report.files[i].c_str());
        const TagLib::Ogg::FieldListMap& tags = file.xiphComment()->fieldListMap();
        auto tag = [&](const char* sz) {
            return tags.contains(sz) ? tags[sz].toString().to8Bit(true) : std::string("(none)");
        };
        EXPECT_EQ(tag("TITLE"), i == 2 ? "Café au lait" : album.GetSongs()[i].strTitle);
        EXPECT_EQ(tag("ARTIST"), "The Artist");
        EXPECT_EQ(tag("ALBUM"), "The Album");
        EXPECT_EQ(tag("DATE"), "1979");
        EXPECT_EQ(tag("TRACKNUMBER"), std::to_string(i + 1));
        EXPECT_EQ(tag("TRACKTOTAL"), "3");
    }
    EXPECT_TRUE(decoded == all);
}

TEST(AlbumExport, FloatBeyondFullScale_Becomes24BitClampedAndCounted)
{
    std::mt19937 rng(12);
    TempFolder dir;
    const std::string strBase = dir / "Loud.wav";
    std::vector<uint8_t> bytes = RandomFrames(rng, 5000, 32, 2, 1.5f);
    // Full scale exactly, both ways, and the steps either side: the clamp's last step.
    const float edges[] = {1.0f, -1.0f, std::nextafter(1.0f, 0.0f), std::nextafter(-1.0f, 0.0f)};
    std::memcpy(bytes.data(), edges, sizeof edges);
    WriteSong(dir / "Loud1.wav", bytes, 32);
    std::vector<float> source(bytes.size() / 4);
    std::memcpy(source.data(), bytes.data(), bytes.size());
    int64_t nBeyond = std::count_if(source.begin(), source.end(),
                                    [](float f) { return f > 1.0f || f < -1.0f; });
    ASSERT_GT(nBeyond, 1000);

    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    CExportReport report = RunExport(album, ExportTo(dir / "out"));
    EXPECT_EQ(report.nClamped, nBeyond);
    ASSERT_EQ(report.files.size(), 1u);
    SF_INFO info{};
    SNDFILE* p = sf_open(report.files[0].c_str(), SFM_READ, &info);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    std::vector<int> decoded(source.size());
    sf_readf_int(p, decoded.data(), info.frames);
    sf_close(p);
    for (size_t i = 0; i < source.size(); ++i) {
        double v = std::clamp(std::nearbyint(source[i] * 8388608.0), -8388608.0, 8388607.0);
        ASSERT_EQ(decoded[i] >> 8, static_cast<int>(v)) << "sample " << i << " of " << source[i];
    }
}

TEST(AlbumExport, FileNames_CutLongTitlesBetweenCharacters)
{
    const std::string strLong(199, 'a');
    struct Case {
        std::string strTitle, strName;
    } const cases[] = {
        {strLong + "\xc3\xa9" + "bc", "01 " + strLong + ".flac"},  // 'é' across byte 200
        {strLong + "b\xc3\xa9", "01 " + strLong + "b.flac"},
        {"Why? A/B: \"C\" <D>|", "01 Why_ A_B_ _C_ _D__.flac"},
        {"", "01 Side A1.flac"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CExportJob::FileName(1, c.strTitle, "Side A1", CExportFormat::Flac), c.strName);
}

TEST(AlbumExport, FilesInTheWay_AreReplacedOnlyWhenAskedAndSongsOfARecordingNever)
{
    std::mt19937 rng(15);
    TempFolder dir;
    const std::string strBase = dir / "01 Intro.wav";
    MakeAlbum(strBase, {1000, 2000}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(strBase));
    ASSERT_TRUE(album.SetTitle(1, "Intro1"));  // exported as "01 Intro1.wav": song 1 itself
    std::ofstream(dir / "02 01 Intro2.wav") << "an older copy";
    TempFolder out;
    struct Case {
        std::string strFolder;
        bool bOverwrite;
        std::string strError;
    } const cases[] = {
        {dir.path.string(), true,
         dir / "01 Intro1.wav" + " is a song of a recording: an export never writes over it. Export to another folder."},
        {dir.path.string(), false,
         dir / "01 Intro1.wav" + " is a song of a recording: an export never writes over it. Export to another folder."},
        {out.path.string(), false, ""},
        {out.path.string(), false, out / "01 Intro1.wav" + " exists already. Nothing was exported."},
        {out.path.string(), true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.strFolder + (c.bOverwrite ? " overwrite" : ""));
        const auto before = FolderBytes(dir.path);
        CExportOptions options = ExportTo(c.strFolder, CExportFormat::Wav);
        options.bOverwrite = c.bOverwrite;
        CExportJob job;
        ASSERT_TRUE(job.Start(album.GetLayout(), options));
        job.Wait();
        EXPECT_EQ(job.GetReport().strError, c.strError);
        EXPECT_EQ(job.GetReport().files.size(), c.strError.empty() ? 2u : 0u);
        if (!c.strError.empty()) {
            EXPECT_EQ(FolderBytes(dir.path), before);
        }
    }
    EXPECT_EQ(CExportJob::ExistingFiles(album.GetLayout(), ExportTo(dir.path.string(), CExportFormat::Wav)),
              (std::vector<std::string>{dir / "01 Intro1.wav", dir / "02 01 Intro2.wav"}));
}

TEST(AlbumExport, TrimmedWav_KeepsHalfASecondOfTheOuterSilences)
{
    // The silences digital zero, and half of their samples a step of one either way (the
    // tail of a decoded song): such steps are floor, not sound.
    for (const bool bDither : {false, true}) {
        SCOPED_TRACE(bDither ? "steps of one" : "digital zero");
        std::mt19937 rng(13);
        TempFolder dir;
        const int64_t nRate = 44100;
        auto silence = [&](int64_t nSeconds) {
            std::vector<uint8_t> bytes(static_cast<size_t>(nSeconds * nRate * 4), 0);
            for (size_t i = 0; bDither && i < bytes.size(); i += 2) {
                const int v = rng() % 2 != 0 ? 0 : rng() % 2 != 0 ? 1 : -1;
                bytes[i] = static_cast<uint8_t>(v & 0xFF);
                bytes[i + 1] = static_cast<uint8_t>(v < 0 ? 0xFF : 0);
            }
            return bytes;
        };
        // Song 1: 2 s of silence, then sound; song 2: sound, then 3 s of silence.
        std::vector<uint8_t> song1 = silence(2);
        std::vector<uint8_t> loud = RandomFrames(rng, 1000, 16, 2);
        for (size_t i = 1; i < loud.size(); i += 2) loud[i] |= 0x40;  // well above the trim level
        song1.insert(song1.end(), loud.begin(), loud.end());
        std::vector<uint8_t> song2 = loud;
        const std::vector<uint8_t> tail = silence(3);
        song2.insert(song2.end(), tail.begin(), tail.end());
        WriteSong(dir / "T1.wav", song1, 16);
        WriteSong(dir / "T2.wav", song2, 16);
        CAlbum album;
        ASSERT_TRUE(album.Open(dir / "T.wav"));

        CExportOptions options = ExportTo(dir / "out", CExportFormat::Wav);
        options.bTrim = true;
        CExportReport report = RunExport(album, options);
        ASSERT_EQ(report.files.size(), 2u);
        EXPECT_EQ(report.nTrimmedFrames, (2 * nRate - nRate / 2) + (3 * nRate - nRate / 2));
        EXPECT_TRUE(SampleBytes(report.files[0]) ==
                    std::vector<uint8_t>(song1.begin() + (2 * nRate - nRate / 2) * 4, song1.end()));
        EXPECT_TRUE(SampleBytes(report.files[1]) ==
                    std::vector<uint8_t>(song2.begin(), song2.end() - (3 * nRate - nRate / 2) * 4));
    }
}

TEST(AlbumExport, Cancelled_LeavesNoHalfWrittenFile)
{
    std::mt19937 rng(14);
    TempFolder dir;
    MakeAlbum(dir / "C.wav", {300000, 1000}, 16, rng);
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "C.wav"));
    // Parts an earlier export left when it was killed go too.
    fs::create_directory(dir / "out");
    std::ofstream(dir / "out/.02 C2.flac.cadenzo-part") << "killed";
    for (CExportFormat format : {CExportFormat::Flac, CExportFormat::Wav}) {
        CExportJob job;
        ASSERT_TRUE(job.Start(album.GetLayout(), ExportTo(dir / "out", format), [&job] { job.Cancel(); }));
        job.Wait();
        CExportReport report = job.GetReport();
        EXPECT_TRUE(report.bCancelled);
        EXPECT_TRUE(report.files.empty());
        EXPECT_LT(job.GetProgress(), 1.0);
        EXPECT_TRUE(FolderBytes(dir.path / "out").empty());
    }
}

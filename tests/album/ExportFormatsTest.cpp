// Export in every format: decodable files with their tags, ReplayGain values of known
// loudness, the cover embedded and beside the songs, and covers that are refused.

#include "AlbumTestSupport.h"
#include "ExportTestSupport.h"
#include "album/ExportTags.h"

#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <tuple>

using namespace albumtest;

namespace {

// A 997 Hz sine in both channels, dBFS peak; EBU R128 measures it at the same level in LUFS.
std::vector<uint8_t> Sine(double fDb, double fSeconds, int nRate = 44100)
{
    const double fAmp = std::pow(10.0, fDb / 20.0) * 32767.0;
    std::vector<uint8_t> bytes;
    for (int64_t i = 0; i < static_cast<int64_t>(fSeconds * nRate); ++i) {
        auto v = static_cast<int16_t>(std::lround(fAmp * std::sin(2.0 * M_PI * 997.0 * i / nRate)));
        for (int c = 0; c < 2; ++c) {
            bytes.push_back(static_cast<uint8_t>(v & 0xff));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
        }
    }
    return bytes;
}

// The highest sample of 16-bit bytes as ReplayGain writes it.
std::string PeakOf(const std::vector<uint8_t>& bytes)
{
    int nPeak = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        nPeak = std::max(nPeak, std::abs(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8)));
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.6f", nPeak / 32768.0);
    return sz;
}

// A PNG's signature and the start of its header: all an export looks at.
// A PNG's signature and header: 16 by 32 pixels, 8-bit RGB.
const char kPng[] = "\x89PNG\r\n\x1A\n\0\0\0\rIHDR\0\0\0\x10\0\0\0\x20\x08\x02\0\0\0";

std::string Tag(const TagLib::PropertyMap& tags, const char* sz)
{
    return tags.contains(sz) ? tags[sz].toString().to8Bit(true) : std::string("(none)");
}

}  // namespace

TEST(AlbumExportFormats, EveryFormat_DecodesWithTagsGainsAndCover)
{
    TempFolder dir;
    // Song 1 at -20 LUFS, song 2 at -30, song 3 digital silence.
    const std::vector<uint8_t> loud = Sine(-20.0, 4.0), quiet = Sine(-30.0, 4.0);
    WriteSong(dir / "R1.wav", loud, 16);
    WriteSong(dir / "R2.wav", quiet, 16);
    WriteSong(dir / "R3.wav", std::vector<uint8_t>(44100 * 4 * 4, 0), 16);
    std::ofstream(dir / "front.png", std::ios::binary).write(kPng, sizeof kPng - 1);
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "R.wav"));
    ASSERT_TRUE(album.SetTitle(1, "Ballade"));

    struct Case {
        CExportFormat format;
        int nRate;
        int nBitrate;  // kbit/s, 0 when it varies
        bool bId3;
    };
    for (const Case& c : {Case{CExportFormat::Flac, 44100, 0, false}, Case{CExportFormat::Mp3, 44100, 0, true},
                          Case{CExportFormat::Mp3Cbr320, 44100, 320, true}, Case{CExportFormat::Ogg, 44100, 0, false},
                          Case{CExportFormat::Opus, 48000, 0, false}}) {
        const std::string strExt = CExportJob::Extension(c.format);
        SCOPED_TRACE(strExt + (c.nBitrate ? " 320" : ""));
        CExportOptions options = ExportTo(dir / ("out-" + std::to_string(static_cast<int>(c.format))), c.format);
        options.info = {"Nocturnes", "Ana Ruiz", "2024-05-01"};
        options.strCover = dir / "front.png";
        options.subfolder = CExportSubfolder::ArtistAlbum;
        const CExportReport report = RunExport(album, options);
        const std::string strFolder = options.strFolder + "/Ana Ruiz/Nocturnes";
        ASSERT_EQ(report.files.size(), 3u);
        EXPECT_EQ(report.files[0], strFolder + "/01 Ballade." + strExt);
        std::ifstream cover(strFolder + "/cover.png", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(cover), {}), std::string(kPng, sizeof kPng - 1));

        // Gains in dB (NAN: no tag) and peaks as written.
        const double gains[3] = {2.0, 12.0, NAN};
        const std::string peaks[3] = {PeakOf(loud), PeakOf(quiet), "0.000000"};
        auto near = [](const std::string& strTag, double fWant, double fScale, const char* szUnit) {
            if (std::isnan(fWant)) return strTag == "(none)";
            char* pEnd = nullptr;
            const double f = std::strtod(strTag.c_str(), &pEnd) / fScale;
            return std::fabs(f - fWant) < 0.02 && std::string(pEnd) == szUnit && (strTag[0] == '+' || strTag[0] == '-' || fScale > 1);
        };
        for (size_t i = 0; i < 3; ++i) {
            SF_INFO info{};
            SNDFILE* p = sf_open(report.files[i].c_str(), SFM_READ, &info);
            ASSERT_NE(p, nullptr) << sf_strerror(nullptr);
            EXPECT_EQ(info.samplerate, c.nRate);
            // Encoders pad; none may lose or add more than a fraction of a second.
            EXPECT_NEAR(static_cast<double>(info.frames) / info.samplerate, 4.0, 0.1);
            std::vector<float> samples(static_cast<size_t>(info.frames * 2));
            sf_readf_float(p, samples.data(), info.frames);
            sf_close(p);
            float fPeak = 0.0f;
            for (float f : samples) fPeak = std::max(fPeak, std::fabs(f));
            EXPECT_NEAR(fPeak, i == 0 ? 0.1 : i == 1 ? 0.0316 : 0.0, 0.006);

            TagLib::FileRef file(report.files[i].c_str());
            ASSERT_FALSE(file.isNull());
            const TagLib::PropertyMap tags = file.file()->properties();
            EXPECT_EQ(Tag(tags, "TITLE"), i == 0 ? "Ballade" : "(none)");
            EXPECT_EQ(Tag(tags, "ARTIST"), "Ana Ruiz");
            EXPECT_EQ(Tag(tags, "ALBUMARTIST"), "Ana Ruiz");
            EXPECT_EQ(Tag(tags, "ALBUM"), "Nocturnes");
            EXPECT_EQ(Tag(tags, "DATE"), "2024-05-01");
            EXPECT_EQ(Tag(tags, "TRACKNUMBER"), std::to_string(i + 1) + (c.bId3 ? "/3" : ""));
            EXPECT_EQ(Tag(tags, "TRACKTOTAL"), c.bId3 ? "(none)" : "3");
            EXPECT_PRED4(near, Tag(tags, "REPLAYGAIN_TRACK_GAIN"), gains[i], 1.0, " dB");
            EXPECT_EQ(Tag(tags, "REPLAYGAIN_TRACK_PEAK"), peaks[i]);
            // Both sines pass the relative gate: the album is their mean energy, -22.60 LUFS.
            EXPECT_PRED4(near, Tag(tags, "REPLAYGAIN_ALBUM_GAIN"), 4.596, 1.0, " dB");
            EXPECT_EQ(Tag(tags, "REPLAYGAIN_ALBUM_PEAK"), PeakOf(loud));
            if (c.format == CExportFormat::Opus) {
                // Q7.8 relative to -23 LUFS.
                EXPECT_PRED4(near, Tag(tags, "R128_TRACK_GAIN"), gains[i] - 5.0, 256.0, "");
                EXPECT_PRED4(near, Tag(tags, "R128_ALBUM_GAIN"), 4.596 - 5.0, 256.0, "");
            }
            if (c.nBitrate) {
                EXPECT_NEAR(file.audioProperties()->bitrate(), c.nBitrate, 3);  // the tags count in
            }

            // The front cover, as each format carries it.
            TagLib::ByteVector picture;
            std::string strMime;
            if (c.bId3) {
                TagLib::MPEG::File mp3(report.files[i].c_str());
                ASSERT_TRUE(mp3.hasID3v2Tag());
                EXPECT_EQ(mp3.ID3v2Tag()->header()->majorVersion(), 4u);
                auto frames = mp3.ID3v2Tag()->frameListMap()["APIC"];
                ASSERT_EQ(frames.size(), 1u);
                picture = frames.front()->render();
                EXPECT_NE(picture.find(TagLib::ByteVector(kPng, sizeof kPng - 1)), -1);
                continue;
            }
            TagLib::List<TagLib::FLAC::Picture*> pictures;
            std::unique_ptr<TagLib::File> pFile;
            if (c.format == CExportFormat::Flac) {
                auto* pFlac = new TagLib::FLAC::File(report.files[i].c_str());
                pFile.reset(pFlac);
                pictures = pFlac->pictureList();
            } else {
                auto* pOgg = c.format == CExportFormat::Ogg
                                 ? static_cast<TagLib::Ogg::File*>(new TagLib::Ogg::Vorbis::File(report.files[i].c_str()))
                                 : new TagLib::Ogg::Opus::File(report.files[i].c_str());
                pFile.reset(pOgg);
                pictures = static_cast<TagLib::Ogg::XiphComment*>(pOgg->tag())->pictureList();
            }
            ASSERT_EQ(pictures.size(), 1u);
            EXPECT_EQ(pictures.front()->type(), TagLib::FLAC::Picture::FrontCover);
            EXPECT_EQ(pictures.front()->mimeType(), "image/png");
            EXPECT_EQ(pictures.front()->data(), TagLib::ByteVector(kPng, sizeof kPng - 1));
            EXPECT_EQ(std::make_tuple(pictures.front()->width(), pictures.front()->height(),
                                      pictures.front()->colorDepth()),
                      std::make_tuple(16, 32, 24));
        }
    }
}

// A song file cut short by another program while a lossy export reads it: the export fails
// and leaves no file of that song.
TEST(AlbumExportFormats, ASongFileCutShortDuringALossyExport_FailsIt)
{
    TempFolder dir;
    WriteSong(dir / "C1.wav", Sine(-20.0, 4.0), 16);
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "C.wav"));
    CExportOptions options = ExportTo(dir / "out", CExportFormat::Ogg);
    options.bReplayGain = false;
    std::atomic<bool> bCut{false};
    CExportJob job;
    ASSERT_TRUE(job.Start(album.GetLayout(), options, [&] {
        if (!bCut.exchange(true)) {
            ASSERT_EQ(::truncate((dir / "C1.wav").c_str(), 44), 0);
        }
    }));
    job.Wait();
    EXPECT_NE(job.GetReport().strError, "");
    EXPECT_TRUE(job.GetReport().files.empty());
    EXPECT_FALSE(fs::exists(dir / "out/01 C1.ogg"));
}

// The picture block carries the size the picture's own header gives.
TEST(AlbumExportFormats, CoverSize_IsReadFromThePicturesHeader)
{
    TempFolder dir;
    // A JPEG: start of image, an APP0 segment of 16 bytes, then a baseline frame of 3
    // components, 30 lines of 40 pixels.
    const std::string strJpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10", 6) + std::string(14, 'j') +
                                std::string("\xFF\xC0\x00\x11\x08\x00\x1E\x00\x28\x03", 10) +
                                std::string(12, '\0');
    const struct {
        const char* szName;
        std::string strBytes;
        std::tuple<int, int, int, int> size;  // width, height, bits a pixel, palette colours
    } covers[] = {
        {"front.png", std::string(kPng, sizeof kPng - 1), {16, 32, 24, 0}},
        // Two colours of a palette: its entries are 8-bit RGB.
        {"palette.png", std::string(kPng, 24) + std::string("\x01\x03\0\0\0", 5), {16, 32, 24, 2}},
        {"front.jpg", strJpeg, {40, 30, 24, 0}},
        {"cut.jpg", strJpeg.substr(0, 24), {0, 0, 0, 0}},  // ends before its frame's size
    };
    for (const auto& c : covers) {
        std::ofstream(dir / c.szName, std::ios::binary) << c.strBytes;
        CCover cover;
        std::string strError;
        ASSERT_TRUE(ExportTags::LoadCover(dir / c.szName, &cover, &strError)) << strError;
        EXPECT_EQ(std::make_tuple(cover.nWidth, cover.nHeight, cover.nDepth, cover.nColors), c.size) << c.szName;
    }
}

TEST(AlbumExportFormats, CoverThatIsNoImage_IsRefusedWithTheReason)
{
    std::mt19937 rng(21);
    TempFolder dir;
    MakeAlbum(dir / "C.wav", {1000}, 16, rng);
    std::ofstream(dir / "notes.jpg") << "GIF89a, not what its name says";
    std::ofstream(dir / "empty.png");
    fs::create_directory(dir.path / "folder.png");
    CAlbum album;
    ASSERT_TRUE(album.Open(dir / "C.wav"));
    const std::pair<std::string, std::string> cases[] = {
        {dir / "notes.jpg", dir / "notes.jpg is not a JPEG or PNG image."},
        {dir / "empty.png", dir / "empty.png is not a JPEG or PNG image."},
        {dir / "folder.png", dir / "folder.png is not a JPEG or PNG image: it is not a file."},
        {dir / "gone.jpg", "Cannot read " + dir / "gone.jpg" + ": No such file or directory."},
    };
    for (const auto& c : cases) {
        CExportJob job;
        CExportOptions options = ExportTo(dir / "out");
        options.strCover = c.first;
        EXPECT_FALSE(job.Start(album.GetLayout(), options));
        EXPECT_EQ(job.GetReport().strError, c.second);
    }
    EXPECT_FALSE(fs::exists(dir.path / "out"));  // nothing made for a refused export
}

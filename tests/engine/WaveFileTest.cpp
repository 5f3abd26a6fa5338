// The WAV writer: exact header bytes, pad byte, buffering, every error path with its
// text, and files read back by independent readers (libsndfile, python3's wave module).
#include "capture/WaveFile.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const uint8_t kFour[4] = {1, 2, 3, 4};

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// Sample bytes with a recognisable pattern: 16-bit or float ramps per channel.
std::vector<uint8_t> Pcm16(size_t frames)
{
    std::vector<uint8_t> bytes(frames * 4);
    for (size_t f = 0; f < frames; ++f) {
        const int16_t l = static_cast<int16_t>((f * 7) % 65536 - 32768);
        const int16_t r = static_cast<int16_t>(32767 - (f * 13) % 65536);
        std::memcpy(&bytes[f * 4], &l, 2);
        std::memcpy(&bytes[f * 4 + 2], &r, 2);
    }
    return bytes;
}

std::vector<uint8_t> Float32(size_t frames)
{
    std::vector<uint8_t> bytes(frames * 8);
    for (size_t f = 0; f < frames; ++f) {
        const float l = static_cast<float>(f % 1000) / 1000.0f - 0.5f;
        const float r = -static_cast<float>(f % 777) / 777.0f;
        std::memcpy(&bytes[f * 8], &l, 4);
        std::memcpy(&bytes[f * 8 + 4], &r, 4);
    }
    return bytes;
}

struct SndInfo {
    bool opened = false;
    sf_count_t frames = 0;
    int channels = 0, rate = 0, format = 0;
    std::vector<uint8_t> data;  // the samples as read, in the file's own sample format
};

SndInfo ReadWithSndfile(const std::string& path)
{
    SndInfo out;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return out;
    out.opened = true;
    out.frames = info.frames;
    out.channels = info.channels;
    out.rate = info.samplerate;
    out.format = info.format;
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        std::vector<float> s(static_cast<size_t>(info.frames * info.channels));
        sf_readf_float(f, s.data(), info.frames);
        out.data.resize(s.size() * 4);
        if (!s.empty()) std::memcpy(out.data.data(), s.data(), out.data.size());
    } else {
        std::vector<int16_t> s(static_cast<size_t>(info.frames * info.channels));
        sf_readf_short(f, s.data(), info.frames);
        out.data.resize(s.size() * 2);
        if (!s.empty()) std::memcpy(out.data.data(), s.data(), out.data.size());
    }
    sf_close(f);
    return out;
}

// python3's wave module reads a PCM file and compares its frames with the raw bytes
// expected; prints "channels sampwidth rate frames same" or the error.
std::string ReadWithPythonWave(const std::string& path, const std::vector<uint8_t>& expected)
{
    static int counter = 0;
    const std::string raw =
        "/tmp/cadenzo-expected-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".raw";
    {
        std::ofstream out(raw, std::ios::binary);
        out.write(reinterpret_cast<const char*>(expected.data()), static_cast<std::streamsize>(expected.size()));
    }
    const std::string cmd =
        "python3 -c 'import sys, wave\n"
        "try:\n"
        "    w = wave.open(sys.argv[1], \"rb\")\n"
        "    d = w.readframes(w.getnframes())\n"
        "    print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(),\n"
        "          d == open(sys.argv[2], \"rb\").read())\n"
        "except Exception as e:\n"
        "    print(\"error\", e)\n' '" +
        path + "' '" + raw + "' 2>&1";
    std::string result;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, p)) result += line;
        ::pclose(p);
    }
    fs::remove(raw);
    while (!result.empty() && result.back() == '\n') result.pop_back();
    return result;
}

// Names the file, creates it and writes a stereo header.
void Open(CWaveFile& w, const std::string& path, int16_t bits, int32_t rate, int32_t ioBufferSize = 65536)
{
    w.SetFileName(path.c_str());
    w.Create();
    w.WriteHeader(bits, rate, 2, ioBufferSize);
}

class WaveFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/cadenzo-wave-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        m_dir = pattern;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }

    // Create + header + writes in the given chunk sizes + Close, expecting no error.
    void WriteFile(const std::string& path, int16_t bits, int32_t rate, const std::vector<uint8_t>& data,
                   size_t chunk, int32_t ioBufferSize = 65536)
    {
        CWaveFile w;
        w.SetFileName(path.c_str());
        w.Create();
        ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
        w.WriteHeader(bits, rate, 2, ioBufferSize);
        ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
        for (size_t at = 0; at < data.size(); at += chunk) {
            const int32_t n = static_cast<int32_t>(std::min(chunk, data.size() - at));
            ASSERT_EQ(n, w.Write(data.data() + at, n));
            ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
        }
        EXPECT_EQ(static_cast<int64_t>(data.size()), w.GetDataBytes());
        w.Close();
        ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
        EXPECT_FALSE(w.IsOpen());
    }

    std::string m_dir;
};

TEST_F(WaveFileTest, EmptyFiles_AreExactlyTheHeaderForPcmAndFloat)
{
    WriteFile(Path("empty.wav"), 16, 44100, {}, 1);
    const std::vector<uint8_t> pcm = {
        'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
        0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00, 0x04, 0x00, 0x10, 0x00,
        'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(pcm, ReadBytes(Path("empty.wav")));
    const SndInfo info = ReadWithSndfile(Path("empty.wav"));
    ASSERT_TRUE(info.opened);
    EXPECT_EQ(0, info.frames);
    EXPECT_EQ("2 2 44100 0 True", ReadWithPythonWave(Path("empty.wav"), {}));

    CWaveFile w;
    Open(w, Path("empty-float.wav"), 32, 48000);
    w.Close();
    ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
    const std::vector<uint8_t> flt = {
        'R', 'I', 'F', 'F', 38, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 18, 0, 0, 0,
        0x03, 0x00, 0x02, 0x00, 0x80, 0xBB, 0x00, 0x00, 0x00, 0xDC, 0x05, 0x00, 0x08, 0x00, 0x20, 0x00,
        0x00, 0x00, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(flt, ReadBytes(Path("empty-float.wav")));
    // The format survives Close for the next file.
    EXPECT_EQ(3, w.GetFormat().tag);
    EXPECT_EQ(384000u, w.GetFormat().avgBytesPerSec);
}

TEST_F(WaveFileTest, OddDataSize_IsFollowedByAZeroPadByte)
{
    const std::string path = Path("odd.wav");
    WriteFile(path, 16, 44100, {0x11, 0x22, 0x33}, 3);
    const std::vector<uint8_t> b = ReadBytes(path);
    ASSERT_EQ(48u, b.size());
    EXPECT_EQ(40u, U32(b, 4));
    EXPECT_EQ(3u, U32(b, 40));
    EXPECT_EQ(0x11, b[44]);
    EXPECT_EQ(0x33, b[46]);
    EXPECT_EQ(0, b[47]);

    const std::string fpath = Path("odd-float.wav");
    WriteFile(fpath, 32, 22050, std::vector<uint8_t>(13, 0x5A), 5);
    const std::vector<uint8_t> f = ReadBytes(fpath);
    ASSERT_EQ(46u + 14u, f.size());
    EXPECT_EQ(38u + 14u, U32(f, 4));
    EXPECT_EQ(13u, U32(f, 42));
    EXPECT_EQ(0, f.back());
}

TEST_F(WaveFileTest, HeaderFields_ForEveryAcceptedDepth)
{
    struct Case {
        int16_t bits;
        uint16_t tag;
        uint32_t header;
    };
    for (const Case& c : {Case{8, 1, 44}, Case{16, 1, 44}, Case{24, 1, 44}, Case{32, 3, 46}, Case{64, 3, 46}}) {
        const std::string path = Path("depth" + std::to_string(c.bits) + ".wav");
        WriteFile(path, c.bits, 11025, {}, 1);
        const std::vector<uint8_t> b = ReadBytes(path);
        ASSERT_EQ(c.header, b.size()) << c.bits;
        EXPECT_EQ(c.tag, b[20]);
        EXPECT_EQ(c.header - 28, U32(b, 16));                          // fmt size 16 or 18
        EXPECT_EQ(uint32_t(c.bits / 8) * 11025 * 2, U32(b, 28));       // bytes per second
        EXPECT_EQ(uint32_t(2 * c.bits / 8), uint32_t(b[32] | b[33] << 8));  // block align
    }
}

TEST_F(WaveFileTest, Recordings_ReadBackInLibsndfileAndPythonWave)
{
    struct Case {
        int16_t bits;
        int32_t rate;
        std::vector<uint8_t> data;
        size_t chunk;  // odd sizes cross the buffer boundary at every possible alignment
        int format;
    };
    const Case cases[] = {{16, 44100, Pcm16(44100 * 3 + 17), 65536 + 3, SF_FORMAT_PCM_16},
                          {32, 48000, Float32(48000 * 2 + 5), 4099, SF_FORMAT_FLOAT}};
    for (const Case& c : cases) {
        const std::string path = Path("song" + std::to_string(c.bits) + ".wav");
        WriteFile(path, c.bits, c.rate, c.data, c.chunk);
        const SndInfo info = ReadWithSndfile(path);
        ASSERT_TRUE(info.opened);
        EXPECT_EQ(SF_FORMAT_WAV | c.format, info.format);
        EXPECT_EQ(2, info.channels);
        EXPECT_EQ(c.rate, info.rate);
        EXPECT_EQ(static_cast<sf_count_t>(c.data.size() / (c.bits / 4)), info.frames);
        EXPECT_TRUE(info.data == c.data);
        const std::vector<uint8_t> b = ReadBytes(path);
        EXPECT_EQ(b.size() - 8, U32(b, 4));
        EXPECT_EQ(c.data.size(), U32(b, b.size() - c.data.size() - 4));
    }
    EXPECT_EQ("2 2 44100 132317 True", ReadWithPythonWave(Path("song16.wav"), Pcm16(44100 * 3 + 17)));
}

TEST_F(WaveFileTest, WritesLargerThanTheBuffer_AndOddBufferSizes_GiveTheSameFile)
{
    const std::vector<uint8_t> data = Pcm16(30001);
    WriteFile(Path("ref.wav"), 16, 22050, data, data.size(), 65536);
    const std::vector<uint8_t> reference = ReadBytes(Path("ref.wav"));
    ASSERT_EQ(44u + data.size(), reference.size());
    struct Case {
        int32_t buffer;
        size_t chunk;
    };
    for (const Case& c : {Case{1000, 10000}, Case{1000, 999}, Case{1000, 1}, Case{4096, 4096}, Case{0, 777},
                          Case{1, 65536}, Case{-5, 3}, Case{INT32_MAX, 65536}}) {
        const std::string path = Path("b" + std::to_string(c.buffer) + "-" + std::to_string(c.chunk) + ".wav");
        WriteFile(path, 16, 22050, data, c.chunk, c.buffer);
        EXPECT_TRUE(reference == ReadBytes(path)) << "buffer " << c.buffer << ", chunk " << c.chunk;
    }
}

// Each time the buffer goes to disk the sizes follow, so a writer killed mid-file
// leaves a valid WAV of everything flushed.
TEST_F(WaveFileTest, KilledWriter_LeavesAValidWavOfEverythingFlushed)
{
    const std::string path = Path("killed.wav");
    const std::vector<uint8_t> data = Pcm16(50000);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CWaveFile w;
        Open(w, path, 16, 44100);
        for (size_t at = 0; at < 200000; at += 1000) w.Write(data.data() + at, 1000);
        ::raise(SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    const size_t flushed = 3 * 65536;
    const std::vector<uint8_t> b = ReadBytes(path);
    ASSERT_EQ(44 + flushed, b.size());
    EXPECT_EQ(36 + flushed, U32(b, 4));
    EXPECT_EQ(flushed, U32(b, 40));
    const SndInfo info = ReadWithSndfile(path);
    EXPECT_EQ(static_cast<sf_count_t>(flushed / 4), info.frames);
    EXPECT_TRUE(std::equal(info.data.begin(), info.data.end(), data.begin()));
    EXPECT_EQ("2 2 44100 49152 True",
              ReadWithPythonWave(path, std::vector<uint8_t>(data.begin(), data.begin() + flushed)));
}

TEST_F(WaveFileTest, OneObject_WritesFileAfterFile)
{
    CWaveFile w;
    const std::vector<uint8_t> a = Pcm16(1000), f = Float32(300);
    // A file left open is closed by the next Create with what it holds.
    Open(w, Path("1.wav"), 16, 44100);
    w.Write(a.data(), static_cast<int32_t>(a.size()));
    w.SetFileName(Path("2.wav").c_str());
    w.Create();
    ASSERT_EQ(0, w.HasError());
    EXPECT_EQ(0, w.GetDataBytes());
    w.WriteHeader(32, 48000, 2, 65536);
    w.Write(f.data(), static_cast<int32_t>(f.size()));
    w.Close();
    ASSERT_EQ(0, w.HasError());
    EXPECT_TRUE(ReadWithSndfile(Path("1.wav")).data == a);
    EXPECT_TRUE(ReadWithSndfile(Path("2.wav")).data == f);
    EXPECT_STREQ(Path("2.wav").c_str(), w.GetFileName());

    // Create truncates an existing file.
    w.Create();
    w.WriteHeader(16, 11025, 2, 65536);
    w.Close();
    EXPECT_EQ(44u, ReadBytes(Path("2.wav")).size());
}

// ---- Errors: every path with its exact text, naming the file.

TEST_F(WaveFileTest, Create_FailsWithItsMessageWhereNoFileCanBeMade)
{
    CWaveFile w;
    EXPECT_STREQ("", w.GetFileName());
    EXPECT_STREQ("No error", w.GetErrorText());
    for (const std::string& path : {Path("missing/dir/song.wav"), m_dir, std::string()}) {
        w.SetFileName(path.c_str());
        w.Create();
        EXPECT_EQ(1, w.HasError()) << path;
        EXPECT_EQ("Cannot create output file " + path + ".\nProbably in use by another program!\n",
                  std::string(w.GetErrorText()));
        EXPECT_FALSE(w.IsOpen());
    }
    w.SetFileName(nullptr);
    EXPECT_STREQ("", w.GetFileName());
}

TEST_F(WaveFileTest, Create_WaitsOutABriefLockAndNeverRecordsUnlocked)
{
    const std::string path = Path("held.wav");
    std::ofstream(path) << "x";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // Another program looks at the file for a moment (as the album does): Create waits
    // and then holds the lock for the recording.
    ASSERT_EQ(0, ::flock(fd, LOCK_SH));
    std::thread release([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::flock(fd, LOCK_UN);
    });
    {
        CWaveFile w;
        w.SetFileName(path.c_str());
        w.Create();
        release.join();
        EXPECT_EQ(0, w.HasError()) << w.GetErrorText();
        EXPECT_NE(0, ::flock(fd, LOCK_SH | LOCK_NB));
    }
    // A lock that stays: nothing is recorded into the file unprotected.
    ASSERT_EQ(0, ::flock(fd, LOCK_SH));
    CWaveFile w;
    w.SetFileName(path.c_str());
    w.Create();
    EXPECT_EQ(1, w.HasError());
    EXPECT_EQ("Cannot create output file " + path + ".\nProbably in use by another program!\n",
              std::string(w.GetErrorText()));
    EXPECT_FALSE(w.IsOpen());
    ::close(fd);
}

TEST_F(WaveFileTest, LongPaths_AreCreatedWholeAndNamedWholeWhenTheSystemRefusesThem)
{
    // Paths far beyond 259 characters, as Linux allows (255 bytes per name).
    CWaveFile w;
    const std::string folder = m_dir + "/" + std::string(200, 'a') + "/" + std::string(200, 'b');
    fs::create_directories(folder);
    const std::string deep = folder + "/" + std::string(200, 'c') + ".wav";
    ASSERT_GT(deep.size(), 600u);
    w.SetFileName(deep.c_str());
    EXPECT_EQ(deep, w.GetFileName());
    w.Create();
    EXPECT_EQ(0, w.HasError()) << w.GetErrorText();
    w.WriteHeader(16, 44100, 2, 65536);
    w.Close();
    EXPECT_TRUE(fs::exists(deep));

    // A name the system refuses is shown whole, never cut, and nothing else is created.
    const std::string longer = m_dir + "/" + std::string(400, 'b') + ".wav";
    w.SetFileName(longer.c_str());
    EXPECT_EQ(longer, w.GetFileName());
    w.Create();
    EXPECT_EQ(1, w.HasError());
    EXPECT_EQ(ENAMETOOLONG, w.GetErrorNumber());
    EXPECT_EQ("Cannot create output file " + longer + ".\nProbably in use by another program!\n",
              std::string(w.GetErrorText()));
    EXPECT_FALSE(fs::exists(longer.substr(0, 259)));
}

TEST_F(WaveFileTest, WriteHeader_RefusesOtherDepthsAndWritesNothing)
{
    const std::string path = Path("bits.wav");
    CWaveFile w;
    w.SetFileName(path.c_str());
    w.Create();
    for (int16_t bits : {20, 0, -16, 12, 48, SHRT_MAX}) {
        w.WriteHeader(bits, 44100, 2, 65536);
        EXPECT_EQ(1, w.HasError()) << bits;
        EXPECT_STREQ("Not an acceptable number of bits per sample.\n", w.GetErrorText());
    }
    EXPECT_EQ(0u, fs::file_size(path));
    // Nothing to write into without a header.
    EXPECT_EQ(0, w.Write(kFour, 4));
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
}

TEST_F(WaveFileTest, OperationsWithoutAnOpenFile_FailWithTheirMessages)
{
    const std::string path = Path("never.wav");
    CWaveFile w;
    w.SetFileName(path.c_str());
    w.WriteHeader(16, 44100, 2, 65536);
    EXPECT_EQ(1, w.HasError());
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    EXPECT_EQ(0, w.Write(kFour, 4));
    EXPECT_EQ("Cannot read from " + path + "\n", std::string(w.GetErrorText()));
    w.Close();
    EXPECT_EQ(1, w.HasError());
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(WaveFileTest, BadWriteArguments_AreRefusedWithoutTouchingTheFile)
{
    const std::string path = Path("args.wav");
    CWaveFile w;
    Open(w, path, 16, 44100);
    EXPECT_EQ(0, w.Write(kFour, 0));
    EXPECT_EQ(0, w.HasError());
    EXPECT_EQ(0, w.Write(nullptr, 4));
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    EXPECT_EQ(0, w.Write(kFour, -4));
    EXPECT_EQ(1, w.HasError());
    EXPECT_EQ(4, w.Write(kFour, 4));
    EXPECT_EQ(0, w.HasError());
    w.Close();
    EXPECT_EQ(0, w.HasError());
    EXPECT_EQ(48u, fs::file_size(path));
}

TEST_F(WaveFileTest, HeaderToAFullDevice_FailsWithCannotWrite)
{
    const std::string path = Path("full.wav");
    fs::create_symlink("/dev/full", path);
    CWaveFile w;
    w.SetFileName(path.c_str());
    w.Create();
    ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
    w.WriteHeader(16, 44100, 2, 65536);
    EXPECT_EQ(1, w.HasError());
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    w.Close();
    EXPECT_EQ(1, w.HasError());
    EXPECT_FALSE(w.IsOpen());
}

// Writes until the disk refuses, then checks what a reader finds: a valid WAV of the
// whole frames that reached the disk, and Write() having told the truth about them.
void FillUntilFull(const std::string& path, int32_t chunk, int32_t ioBufferSize)
{
    const std::vector<uint8_t> data = Pcm16(1 << 20);
    CWaveFile w;
    w.SetFileName(path.c_str());
    w.Create();
    ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
    w.WriteHeader(16, 44100, 2, ioBufferSize);
    ASSERT_EQ(0, w.HasError()) << w.GetErrorText();
    int64_t reported = 0;
    size_t at = 0;
    for (; at + chunk <= data.size(); at += chunk) {
        const int32_t n = w.Write(data.data() + at, chunk);
        reported += n;
        if (w.HasError()) {
            EXPECT_LT(n, chunk);
            break;
        }
        ASSERT_EQ(chunk, n);
    }
    ASSERT_EQ(1, w.HasError()) << "the disk never filled";
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    // The file stops there: no later data slips in behind a hole.
    EXPECT_EQ(0, w.Write(data.data(), 4));
    EXPECT_EQ(1, w.HasError());
    const int64_t onDisk = w.GetDataBytes();
    w.Close();
    EXPECT_EQ(1, w.HasError());  // the loss is reported again when the file is completed
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    EXPECT_FALSE(w.IsOpen());

    const std::vector<uint8_t> b = ReadBytes(path);
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(static_cast<uint64_t>(onDisk), b.size() - 44);
    EXPECT_EQ(0u, (b.size() - 44) % 4);
    EXPECT_EQ(b.size() - 8, U32(b, 4));
    EXPECT_EQ(b.size() - 44, U32(b, 40));
    const SndInfo info = ReadWithSndfile(path);
    ASSERT_TRUE(info.opened);
    EXPECT_EQ(static_cast<sf_count_t>((b.size() - 44) / 4), info.frames);
    EXPECT_TRUE(std::equal(info.data.begin(), info.data.end(), data.begin()));
    EXPECT_EQ("2 2 44100 " + std::to_string(info.frames) + " True",
              ReadWithPythonWave(path, std::vector<uint8_t>(data.begin(), data.begin() + (b.size() - 44))));
    if (chunk >= ioBufferSize) EXPECT_EQ(onDisk, reported);  // nothing was held back in the buffer
    else EXPECT_LE(onDisk, reported);
}

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

TEST_F(WaveFileTest, FileSizeLimit_StopsTheFileAtWholeFramesAndItStaysValid)
{
    {
        FileSizeLimit limit(44 + 100003);
        FillUntilFull(Path("limit-direct.wav"), 65536, 65536);
    }
    {
        FileSizeLimit limit(44 + 70001);
        FillUntilFull(Path("limit-buffered.wav"), 1000, 65536);
    }
}

TEST_F(WaveFileTest, DiskFull_StopsTheFileAndItStaysValid)
{
    const std::string mnt = Path("small");
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string dir;
        ~Unmount() { ::umount(dir.c_str()); }
    } unmount{mnt};
    FillUntilFull(mnt + "/direct.wav", 65536, 65536);
    fs::remove(mnt + "/direct.wav");
    FillUntilFull(mnt + "/buffered.wav", 4000, 65536);
}

// A file whose data would pass the 32-bit size fields is refused instead of wrapped.
// /dev/null takes the 4 GiB quickly.
TEST_F(WaveFileTest, DataPastTheRiffSizeLimit_IsRefusedNotWrapped)
{
    const std::string path = Path("huge.wav");
    fs::create_symlink("/dev/null", path);
    CWaveFile w;
    Open(w, path, 32, 48000);
    EXPECT_EQ(4294967256ll, w.GetMaxDataBytes());  // 38 + data + pad <= 0xFFFFFFFF
    w.WriteHeader(16, 44100, 2, 65536);             // only one header per file
    EXPECT_EQ(1, w.HasError());
    w.Create();
    w.WriteHeader(16, 44100, 2, 65536);
    const int64_t max = w.GetMaxDataBytes();
    EXPECT_EQ(4294967258ll, max);  // 36 + data + pad <= 0xFFFFFFFF

    const std::vector<uint8_t> chunk(64 << 20, 0);
    const int32_t chunkSize = static_cast<int32_t>(chunk.size());
    while (w.GetDataBytes() + chunkSize <= max - 2) {
        ASSERT_EQ(chunkSize, w.Write(chunk.data(), chunkSize));
    }
    const int32_t rest = static_cast<int32_t>(max - 2 - w.GetDataBytes());
    ASSERT_EQ(rest, w.Write(chunk.data(), rest));
    ASSERT_EQ(max - 2, w.GetDataBytes());
    // Four bytes would cross the limit: refused whole, the file still usable.
    EXPECT_EQ(0, w.Write(chunk.data(), 4));
    EXPECT_EQ("Cannot write to " + path + ".\n", std::string(w.GetErrorText()));
    EXPECT_EQ(max - 2, w.GetDataBytes());
    EXPECT_EQ(2, w.Write(chunk.data(), 2));
    EXPECT_EQ(0, w.HasError());
    EXPECT_EQ(0, w.Write(chunk.data(), 1));
    EXPECT_EQ(1, w.HasError());
    w.Close();
    EXPECT_EQ(0, w.HasError()) << w.GetErrorText();
}

}  // namespace

#pragma once
// Albums made on disk for the album tests: song files written by the recorder's own WAV
// writer, read back with libsndfile.

#include "album/Album.h"
#include "capture/WaveFile.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace albumtest {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with the object.
struct TempFolder {
    fs::path path;
    TempFolder()
    {
        std::string strTemplate = (fs::temp_directory_path() / "cadenzo-album-XXXXXX").string();
        path = ::mkdtemp(strTemplate.data());
    }
    ~TempFolder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& strName) const { return (path / strName).string(); }
};

// Random sample bytes of the given width; float samples stay within full scale unless
// fLoud is larger than 1.
inline std::vector<uint8_t> RandomFrames(std::mt19937& rng, int64_t nFrames, int nBits,
                                         int nChannels, float fLoud = 0.9f)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(nFrames * nChannels * (nBits / 8)));
    if (nBits == 32) {
        std::uniform_real_distribution<float> dist(-fLoud, fLoud);
        for (size_t i = 0; i < bytes.size(); i += 4) {
            float f = dist(rng);
            std::memcpy(&bytes[i], &f, 4);
        }
    } else {
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    }
    return bytes;
}

// Writes BASE<n>.wav for each part, with the recorder's writer.
inline void WriteSong(const std::string& strPath, const std::vector<uint8_t>& bytes, int nBits,
                      int nChannels = 2, int nRate = 44100)
{
    CWaveFile writer;
    writer.SetFileName(strPath.c_str());
    writer.Create();
    writer.WriteHeader(static_cast<int16_t>(nBits), nRate, static_cast<int16_t>(nChannels), 65536);
    if (!bytes.empty()) writer.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    writer.Close();
    ASSERT_FALSE(writer.HasError()) << writer.GetErrorText();
}

// The sample bytes of a WAV file, read with libsndfile.
inline std::vector<uint8_t> SampleBytes(const std::string& strPath)
{
    SF_INFO info{};
    SNDFILE* p = sf_open(strPath.c_str(), SFM_READ, &info);
    EXPECT_NE(p, nullptr) << strPath << ": " << sf_strerror(nullptr);
    if (p == nullptr) return {};
    std::vector<uint8_t> bytes(786432);  // whole frames of every width
    std::vector<uint8_t> all;
    for (sf_count_t n; (n = sf_read_raw(p, bytes.data(), static_cast<sf_count_t>(bytes.size()))) > 0;)
        all.insert(all.end(), bytes.begin(), bytes.begin() + n);
    sf_close(p);
    return all;
}

// Every file of a folder and its bytes.
inline std::map<std::string, std::string> FolderBytes(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// Song i + 1 has lengths[i] frames of random samples; returns all bytes in order.
inline std::vector<uint8_t> MakeAlbum(const std::string& strBase, const std::vector<int64_t>& lengths,
                                      int nBits, std::mt19937& rng)
{
    std::vector<uint8_t> all;
    std::string strPrefix = strBase.substr(0, strBase.size() - 4);
    for (size_t i = 0; i < lengths.size(); ++i) {
        std::vector<uint8_t> bytes = RandomFrames(rng, lengths[i], nBits, 2);
        WriteSong(strPrefix + std::to_string(i + 1) + ".wav", bytes, nBits);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

// Two sides of a test record made of the same 30 s of 16-bit stereo: pieces of noise (true)
// and digital silence with its dither (false: a quarter of the samples one step off 0),
// each a number of units of nUnit frames; side A is cut at
// 12 s, side B at 10 and 20 s (A1, A2; B1, B2, B3 in dir).
inline void WriteTwoSides(const TempFolder& dir, std::mt19937& rng, int64_t nUnit,
                          std::initializer_list<std::pair<int, bool>> pieces)
{
    std::vector<uint8_t> side;
    for (auto piece : pieces) {
        std::vector<uint8_t> bytes = RandomFrames(rng, piece.first * nUnit, 16, 2);
        for (size_t i = 0; !piece.second && i < bytes.size(); i += 2) {
            const int16_t nDither = rng() % 4 != 0 ? 0 : rng() % 2 ? 1 : -1;
            std::memcpy(&bytes[i], &nDither, 2);
        }
        side.insert(side.end(), bytes.begin(), bytes.end());
    }
    auto part = [&](int64_t nFrom, int64_t nTo) {  // whole seconds of 44100 frames of 4 bytes
        return std::vector<uint8_t>(side.begin() + nFrom * 176400, side.begin() + nTo * 176400);
    };
    WriteSong(dir / "A1.wav", part(0, 12), 16);
    WriteSong(dir / "A2.wav", part(12, 30), 16);
    WriteSong(dir / "B1.wav", part(0, 10), 16);
    WriteSong(dir / "B2.wav", part(10, 20), 16);
    WriteSong(dir / "B3.wav", part(20, 30), 16);
}

}  // namespace albumtest

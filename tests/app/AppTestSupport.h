#pragma once
// Shared pieces of the main window tests: a private settings store and preset folder
// per test, preset files written with the real writer, and recordings on disk for the
// file-fed capture source written with the real WAV writer.

#include "capture/WaveFile.h"
#include "settings/PresetFile.h"
#include "settings/Presets.h"

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CAppTestPlace {
    QTemporaryDir dir;
    std::unique_ptr<QSettings> store;

    CAppTestPlace() { OpenStore(); }
    // A fresh QSettings on the same file (as a second run of the program sees it).
    void OpenStore()
    {
        store.reset();
        store = std::make_unique<QSettings>(dir.filePath("Cadenzio.conf"), QSettings::IniFormat);
    }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }
    std::string Dir() const { return dir.path().toStdString(); }
};

inline CSettingsValues DefaultValues()
{
    return CSettingsValues();
}

// Writes "Tunex1.pre" in folder with presets of these names and values.
inline void WritePresetFile(const std::string& folder,
                            const std::vector<std::pair<std::string, CSettingsValues>>& presets)
{
    CPresetList list;
    for (const auto& p : presets) list.Add(p.first, p.second);
    std::string error;
    CPresetFile::WriteFileDurably(list, folder + "/Temp.pre", folder + "/Tunex1.pre", &error);
}

// Stereo 16-bit samples at 44100 Hz: a sequence of (seconds, amplitude) pieces of a
// 440 Hz tone (amplitude 0 is digital silence).
inline std::vector<int16_t> MakeSong(const std::vector<std::pair<double, double>>& pieces)
{
    std::vector<int16_t> samples;
    const double rate = 44100.0;
    int64_t n = 0;
    for (const auto& piece : pieces) {
        const int64_t frames = static_cast<int64_t>(piece.first * rate);
        for (int64_t i = 0; i < frames; ++i, ++n) {
            // Amplitudes above 1 clip at full scale, as an overdriven input does.
            const double v = std::max(-32768.0, std::min(32767.0,
                piece.second * 32767.0 * std::sin(2.0 * M_PI * 440.0 * n / rate)));
            samples.push_back(static_cast<int16_t>(v));
            samples.push_back(static_cast<int16_t>(v * 0.5));
        }
    }
    return samples;
}

inline bool WriteWav(const std::string& path, const std::vector<int16_t>& samples)
{
    CWaveFile file;
    file.SetFileName(path.c_str());
    file.Create();
    file.WriteHeader(16, 44100, 2, 65536);
    file.Write(samples.data(), static_cast<int32_t>(samples.size() * sizeof(int16_t)));
    file.Close();
    return !file.HasError();
}

// Size of the sample data that a WAV file's header declares, or -1.
inline int64_t WavDataBytes(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    unsigned char h[44];
    const size_t n = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    if (n < 44) return -1;
    return static_cast<int64_t>(h[40]) | (static_cast<int64_t>(h[41]) << 8) |
           (static_cast<int64_t>(h[42]) << 16) | (static_cast<int64_t>(h[43]) << 24);
}

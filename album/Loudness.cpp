#include "album/Loudness.h"

#include "album/Album.h"
#include "album/Repair.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

struct CLoudnessMeter::Impl {
    ebur128_state* pState = nullptr;
    int32_t nChannels = 0;
};

CLoudnessMeter::CLoudnessMeter(int32_t nChannels, int32_t nRate) : m_pImpl(new Impl)
{
    m_pImpl->nChannels = nChannels;
    if (nChannels > 0 && nRate > 0)
        m_pImpl->pState = ebur128_init(static_cast<unsigned>(nChannels), static_cast<unsigned long>(nRate),
                                       EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK);
}

CLoudnessMeter::~CLoudnessMeter()
{
    if (m_pImpl->pState != nullptr) ebur128_destroy(&m_pImpl->pState);
}

bool CLoudnessMeter::IsValid() const { return m_pImpl->pState != nullptr; }

void CLoudnessMeter::Add(const float* pFrames, int64_t nFrames)
{
    if (m_pImpl->pState != nullptr && nFrames > 0)
        ebur128_add_frames_float(m_pImpl->pState, pFrames, static_cast<size_t>(nFrames));
}

namespace {

CGain FromLoudness(double fLoudness, double fPeak)
{
    CGain gain;
    gain.fPeak = fPeak;
    // Silence and audio below the absolute gate measure as minus infinity.
    if (std::isfinite(fLoudness)) {
        gain.bMeasured = true;
        gain.fLoudness = fLoudness;
        gain.fGainDb = Loudness::kReferenceLufs - fLoudness;
    }
    return gain;
}

double Peak(ebur128_state* pState, int32_t nChannels)
{
    double fPeak = 0.0;
    for (int32_t c = 0; c < nChannels; ++c) {
        double f = 0.0;
        if (ebur128_sample_peak(pState, static_cast<unsigned>(c), &f) == EBUR128_SUCCESS)
            fPeak = std::max(fPeak, f);
    }
    return fPeak;
}

}  // namespace

CGain CLoudnessMeter::GetGain() const
{
    if (m_pImpl->pState == nullptr) return CGain{};
    double fLoudness = -HUGE_VAL;
    if (ebur128_loudness_global(m_pImpl->pState, &fLoudness) != EBUR128_SUCCESS) fLoudness = -HUGE_VAL;
    return FromLoudness(fLoudness, Peak(m_pImpl->pState, m_pImpl->nChannels));
}

CGain CLoudnessMeter::AlbumGain(const std::vector<const CLoudnessMeter*>& meters)
{
    std::vector<ebur128_state*> states;
    double fPeak = 0.0;
    for (const CLoudnessMeter* pMeter : meters)
        if (pMeter->m_pImpl->pState != nullptr) {
            states.push_back(pMeter->m_pImpl->pState);
            fPeak = std::max(fPeak, Peak(pMeter->m_pImpl->pState, pMeter->m_pImpl->nChannels));
        }
    double fLoudness = -HUGE_VAL;
    if (states.empty() ||
        ebur128_loudness_global_multiple(states.data(), states.size(), &fLoudness) != EBUR128_SUCCESS)
        fLoudness = -HUGE_VAL;
    return FromLoudness(fLoudness, fPeak);
}

namespace Loudness {

bool Measure(CAlbumReader& reader, const std::vector<std::pair<int64_t, int64_t>>& ranges,
             const CDeclickLevel* pRepair, const std::atomic<bool>& bCancel, const std::function<void(int64_t)>& fnFrames,
             CReplayGain* pGain, std::string* pError)
{
    const CAlbumFormat& format = reader.GetLayout().format;
    const int64_t kChunk = 64 * 1024;
    std::vector<float> buffer(static_cast<size_t>(kChunk * format.nChannels));
    std::vector<std::unique_ptr<CLoudnessMeter>> meters;
    std::vector<const CLoudnessMeter*> all;
    pGain->tracks.clear();
    for (const auto& range : ranges) {
        meters.emplace_back(new CLoudnessMeter(format.nChannels, format.nRate));
        CLoudnessMeter& meter = *meters.back();
        if (!meter.IsValid()) {
            *pError = "Cannot measure the loudness of " + std::to_string(format.nChannels) +
                      " channels at " + std::to_string(format.nRate) + " Hz.";
            return false;
        }
        CRepairStream stream(reader, range.first, range.second, pRepair);
        for (int64_t nGot; (nGot = stream.Read(buffer.data(), kChunk)) != 0;) {
            if (bCancel) return false;
            if (nGot < 0) {
                *pError = reader.GetErrorText();
                return false;
            }
            meter.Add(buffer.data(), nGot);
            if (fnFrames) fnFrames(nGot);
        }
        pGain->tracks.push_back(meter.GetGain());
        all.push_back(&meter);
    }
    pGain->album = CLoudnessMeter::AlbumGain(all);
    return true;
}

std::string GainText(double fGainDb)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%+.2f dB", fGainDb);
    return sz;
}

std::string PeakText(double fPeak)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.6f", fPeak);
    return sz;
}

std::string R128Text(double fGainDb)
{
    // ReplayGain's reference is -18 LUFS, Opus's -23: 5 dB less gain, in 1/256 dB.
    const double fQ78 = std::nearbyint((fGainDb - 5.0) * 256.0);
    return std::to_string(static_cast<int>(std::clamp(fQ78, -32768.0, 32767.0)));
}

}  // namespace Loudness

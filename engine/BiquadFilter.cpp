#include "engine/BiquadFilter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

const float kTwoPi = 6.2831855f;       // 2 pi as float32
const float kTwoSqrtTwo = 2.828428f;   // 2 sqrt(2) as float32

// Cutoff and rate arrive as any int32; keep arithmetic on them in range.
int32_t ClampToInt32(int64_t v)
{
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

CBiquadFilter::CBiquadFilter()
    : m_b0(0), m_b1(0), m_b2(0), m_a0(0), m_a1(0), m_a2(0), m_w0(0), m_w1(0), m_w2(0),
      m_nCutoff(0), m_nSampleRate(0), m_bError(0)
{
    std::strcpy(m_szError, "No error");
}

CBiquadFilter::~CBiquadFilter() = default;

void CBiquadFilter::Design(const char* type, int32_t cutoffHz, int32_t sampleRate)
{
    m_bError = 0;
    m_b0 = m_b1 = m_b2 = 0;
    m_a0 = m_a1 = m_a2 = 0;
    m_w0 = m_w1 = m_w2 = 0;
    m_nCutoff = cutoffHz;
    m_nSampleRate = sampleRate;

    if (type != nullptr && std::strcmp(type, "LP") == 0) {
        DesignLowPass();
    } else if (type != nullptr && std::strcmp(type, "HP") == 0) {
        // A high-pass is the low-pass at the mirrored corner fs/2 - fc, with every other
        // coefficient's sign flipped (z -> -z).
        m_nCutoff = ClampToInt32(static_cast<int64_t>(sampleRate / 2) - cutoffHz);
        DesignLowPass();
        m_b1 = -m_b1;
        m_a1 = -m_a1;
    } else {
        m_bError = 1;
        std::snprintf(m_szError, sizeof m_szError,
                      "You asked for the filter type, %s, and it does not exist.",
                      type != nullptr ? type : "");
    }
}

// Second-order Butterworth prototype (corner 1 rad/s), bilinear transform, then the
// low-pass-to-low-pass transformation that moves the corner to m_nCutoff. The
// coefficients stay unnormalised; Process() divides by m_a0.
void CBiquadFilter::DesignLowPass()
{
    if (m_nSampleRate <= 0) return;  // no such rate: the coefficients stay 0
    const double T = 1.0 / static_cast<double>(m_nSampleRate);
    const double thetaP = 2.0 * std::atan(T / 2.0);
    const double omegaC = static_cast<double>(kTwoPi) * m_nCutoff * T;
    const float alpha =
        static_cast<float>(std::sin((thetaP - omegaC) / 2.0) / std::sin((thetaP + omegaC) / 2.0));

    const double a = alpha;
    const double q = T * T * (1.0 - a) * (1.0 - a);
    const double m = static_cast<double>(kTwoSqrtTwo) * T * (1.0 - a * a);
    const double d = 4.0 * (1.0 + a) * (1.0 + a);

    m_b0 = static_cast<float>(q);
    m_b1 = static_cast<float>(2.0 * q);
    m_b2 = static_cast<float>(q);
    m_a0 = static_cast<float>(q + m + d);
    m_a1 = static_cast<float>(2.0 * q - 2.0 * d);
    m_a2 = static_cast<float>(q - m + d);
}

float CBiquadFilter::Process(float x)
{
    m_w2 = m_w1;
    m_w1 = m_w0;
    const float w = static_cast<float>(
        (static_cast<double>(x) - static_cast<double>(m_a1) * m_w1 - static_cast<double>(m_a2) * m_w2) /
        m_a0);
    const float y = static_cast<float>(static_cast<double>(m_b0) * w + static_cast<double>(m_b1) * m_w1 +
                                       static_cast<double>(m_b2) * m_w2);
    m_w0 = w;
    return y;
}

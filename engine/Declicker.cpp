#include "engine/Declicker.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>

namespace {

// On x86-64 the loops that carry most of the work are compiled twice, the second time for
// AVX2, and the one the processor can run is picked as the program loads: twice as many
// lanes per instruction, each output summed as before (AVX2 brings no fused multiply-add),
// so that the output is the same on every processor. Not in the sanitizers' builds: the
// loader picks the clone before the thread sanitizer's runtime is up, and a program that
// links it crashes at once.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define WIDE_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_LOOP
#endif

constexpr int kP = CDeclicker::kOrder;
constexpr int kS = CDeclicker::kStretch;
constexpr int kK = CDeclicker::kStretchesAside;
constexpr int kGrid = CDeclicker::kModelWindow / CDeclicker::kStep;  // blocks in the model window
constexpr int kMaxUnknowns = 512;   // samples restored together at most
constexpr int kBandLowHz = 800;    // the pop band: the upper part of a scratch pop's
constexpr int kBandHighHz = 3000;  // spectrum, where music is seldom loud for so short a time
constexpr int kBandWindow = 24;    // samples over which the pop band's energy is summed
constexpr int kMaxPending = 512;    // frames a chain of close clicks may wait for its end
constexpr float kFloor = 1e-4f;     // error below -80 dBFS is never a click
constexpr int kFineOrder = 96;      // order of the predictor that gives a doubtful pop a second look
constexpr int kFineSpan = 6;        // spans this long and longer are restored by that predictor
constexpr int kLongOrder = 192;     // and from kLongSpan on by one of this order, to follow the bass
constexpr int kLongSpan = 8;
constexpr int kFineGap = 64;        // frames between the end of its window and the pop
constexpr float kFaintRise = 3.0f;  // error above this many local levels may be a faint tick
constexpr double kPerSample = 4.0;  // squared levels a sample restored must gain
constexpr double kTickSpread = 20.0;  // squared levels the samples around a longer tick may gain beyond it

struct LevelParams {
    float fHigh;  // error above this many local levels starts a click
    float fLow;   // and above this many widens it
};

LevelParams ParamsOf(CDeclickLevel level)
{
    switch (level) {
    case CDeclickLevel::Light: return {14.0f, 4.0f};
    case CDeclickLevel::Strong: return {7.0f, 3.0f};
    case CDeclickLevel::Normal: break;
    }
    return {10.0f, 3.5f};
}

int RoundUp(int n, int unit) { return (n + unit - 1) / unit * unit; }

// pOut[i] = the sum over k = 0..kQ (kOrder unless given) of pC[k] * pIn[i - k] (bForward) or
// pC[k] * pIn[i + k], for i below n, summed from 0 in rising k as one output at a time would
// be. Eight taps go per pass over the outputs, so that the loop over the outputs vectorises.
template <bool bForward, typename T, int kQ = kP>
WIDE_LOOP void Dot(const double* pC, const T* pIn, int n, double* pOut)
{
    static_assert(kQ % 8 == 0, "eight taps per pass, and one more");
    constexpr int s = bForward ? -1 : 1;
    for (int i = 0; i < n; ++i) pOut[i] = 0.0;
    for (int k = 0; k < kQ; k += 8) {
        const double c0 = pC[k], c1 = pC[k + 1], c2 = pC[k + 2], c3 = pC[k + 3];
        const double c4 = pC[k + 4], c5 = pC[k + 5], c6 = pC[k + 6], c7 = pC[k + 7];
        const T* p = pIn + s * k;
        for (int i = 0; i < n; ++i)
            pOut[i] = pOut[i] + c0 * static_cast<double>(p[i]) + c1 * static_cast<double>(p[i + s]) +
                      c2 * static_cast<double>(p[i + 2 * s]) + c3 * static_cast<double>(p[i + 3 * s]) +
                      c4 * static_cast<double>(p[i + 4 * s]) + c5 * static_cast<double>(p[i + 5 * s]) +
                      c6 * static_cast<double>(p[i + 6 * s]) + c7 * static_cast<double>(p[i + 7 * s]);
    }
    const double cLast = pC[kQ];
    const T* p = pIn + s * kQ;
    for (int i = 0; i < n; ++i) pOut[i] = pOut[i] + cLast * static_cast<double>(p[i]);
}

// Four floats that go through the arithmetic together, lane by lane (each lane rounds as
// a lone float would), and an unaligned load of four; and eight, loaded in place (passed
// by value they would travel differently in the two compilations of WIDE_LOOP).
typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));

Float4 Load4(const float* p)
{
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The products of the kStep samples from pg with those kLags lags from k0 on before them,
// for every lag summed in four float lanes (lane l takes the samples i + l for i in steps
// of four), the lanes then in double, into p[k0 ..]. The lags go along together: the four
// samples loaded serve them all, and their sums, each a chain of additions, proceed side
// by side instead of one waiting on the other.
template <int kLags>
void BlockLags(const float* pg, int k0, double* p)
{
    Float4 s[kLags] = {};
    for (int i = 0; i < CDeclicker::kStep; i += 4) {
        const Float4 xi = Load4(pg + i);
#pragma GCC unroll 16
        for (int j = 0; j < kLags; ++j) s[j] += xi * Load4(pg + i - k0 - j);
    }
    for (int j = 0; j < kLags; ++j) p[k0 + j] = static_cast<double>(s[j][0]) + s[j][1] + s[j][2] + s[j][3];
}

// pOut[i] = pIn[i] + the sum over k = 1..kOrder of pC[k] * pIn[i - k] (bForward) or
// pC[k] * pIn[i + k], for i below n: the prediction error filter run forwards or backwards.
// Eight outputs go along together through all the taps, each summing its taps in rising k.
template <bool bForward>
WIDE_LOOP void ErrorFilter(const float* pC, const float* pIn, int n, float* pOut)
{
    constexpr int s = bForward ? -1 : 1;
    Float8 c8[kP + 1];
    for (int k = 1; k <= kP; ++k) c8[k] = Float8{} + pC[k];
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        Float8 v, x;
        std::memcpy(&v, pIn + i, sizeof v);
#pragma GCC unroll 24
        for (int k = 1; k <= kP; ++k) {
            std::memcpy(&x, pIn + i + s * k, sizeof x);
            v += c8[k] * x;
        }
        std::memcpy(pOut + i, &v, sizeof v);
    }
    for (; i < n; ++i) {
        float v = pIn[i];
        for (int k = 1; k <= kP; ++k) v += pC[k] * pIn[i + s * k];
        pOut[i] = v;
    }
}

// pr[k] += the sum over i from i0 to n - 1 of pw[i] * pw[i - k], for k = 0..nQ, each lag
// summing its products in rising i; pRev holds pw[0..n) reversed (the samples a product
// takes then rise with the lag), so that all lags go along together.
WIDE_LOOP void LagSums(const float* pw, const double* pRev, int i0, int n, int nQ, double* pr)
{
    int i = i0;
    for (; i + 7 < n; i += 8) {  // eight samples a pass, each product still added in turn
        const double x0 = pw[i], x1 = pw[i + 1], x2 = pw[i + 2], x3 = pw[i + 3];
        const double x4 = pw[i + 4], x5 = pw[i + 5], x6 = pw[i + 6], x7 = pw[i + 7];
        const double* p = &pRev[n - 1 - i];
        for (int k = 0; k <= nQ; ++k)
            pr[k] = pr[k] + x0 * p[k] + x1 * p[k - 1] + x2 * p[k - 2] + x3 * p[k - 3] + x4 * p[k - 4] +
                    x5 * p[k - 5] + x6 * p[k - 6] + x7 * p[k - 7];
    }
    for (; i < n; ++i) {
        const double xi = pw[i];
        const double* p = &pRev[n - 1 - i];
        for (int k = 0; k <= nQ; ++k) pr[k] += xi * p[k];
    }
}

float Median(float* p, int n)
{
    std::nth_element(p, p + n / 2, p + n);
    return p[n / 2];
}

// The median of nine values by a fixed network of 19 exchanges: the thresholds need two
// for every stretch of every step, and a general selection costs many times more.
float Median9(const float* pIn)
{
    float p[9];
    std::copy(pIn, pIn + 9, p);
    auto Sort2 = [&p](int i, int j) {
        const float lo = std::min(p[i], p[j]), hi = std::max(p[i], p[j]);
        p[i] = lo;
        p[j] = hi;
    };
    Sort2(1, 2); Sort2(4, 5); Sort2(7, 8); Sort2(0, 1); Sort2(3, 4); Sort2(6, 7);
    Sort2(1, 2); Sort2(4, 5); Sort2(7, 8); Sort2(0, 3); Sort2(5, 8); Sort2(4, 7);
    Sort2(3, 6); Sort2(1, 4); Sort2(2, 5); Sort2(4, 7); Sort2(4, 2); Sort2(6, 4);
    Sort2(4, 2);
    return p[4];
}

}  // namespace

const char* DeclickLevelName(CDeclickLevel level)
{
    switch (level) {
    case CDeclickLevel::Light: return "light";
    case CDeclickLevel::Strong: return "strong";
    case CDeclickLevel::Normal: break;
    }
    return "normal";
}

bool ParseDeclickLevel(const std::string& strName, CDeclickLevel& level)
{
    std::string s;
    for (char c : strName) s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (CDeclickLevel l : {CDeclickLevel::Light, CDeclickLevel::Normal, CDeclickLevel::Strong}) {
        if (s == DeclickLevelName(l)) {
            level = l;
            return true;
        }
    }
    return false;
}

// A second-order Butterworth low- or high-pass section (transposed direct form II), for
// the pop band: cheap enough to run over every sample.
struct Section {
    float b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;  // normalised to a0 = 1
    float z1 = 0, z2 = 0;

    void Design(bool bHigh, double fHz, double fRate)
    {
        const double w = 2 * 3.14159265358979323846 * fHz / fRate;
        const double fCos = std::cos(w), fAlpha = std::sin(w) / std::sqrt(2.0), a0 = 1 + fAlpha;
        const double fEdge = (bHigh ? 1 + fCos : 1 - fCos) / 2;
        b0 = b2 = static_cast<float>(fEdge / a0);
        b1 = static_cast<float>((bHigh ? -2 : 2) * fEdge / a0);
        a1 = static_cast<float>(-2 * fCos / a0);
        a2 = static_cast<float>((1 - fAlpha) / a0);
        z1 = z2 = 0;
    }
};

// One channel's samples, marks and model. Positions are frames from the start of the
// stream; the stream is taken to be preceded by silence.
struct CDeclicker::Channel {
    // Lengths in frames, from the rate.
    int nMaxRun = 0;    // longest click, first to last loud error
    int nMerge = 0;     // quiet error inside one click at most
    int nGrowGap = 0;   // quiet error inside one click's core at most (more parts a click from a note after it)
    int nMaxWiden = 0;  // widening on either side at most
    int nLongSpan = 0;  // a marked span this long must gain more from restoring
    int nPopMin = 0, nPopMax = 0;  // width of a wide pop
    int nPopBack = 0, nPopAhead = 0;  // a pop's start before, its end after the strongest error
    int nPre = 1, nPost = 2;  // marked beyond the widened click
    int nBack = 0;      // error computed before a step, for widening backwards
    int nAhead = 0;     // error computed after a step: look-ahead
    int nBeyond = 0;    // samples needed after the look-ahead for backward errors
    int nTail = 0;      // zeros kept after the last sample
    LevelParams params{};
    int32_t nRate = 44100;

    std::vector<float> x;        // samples from nBase on (repaired below nFinal)
    std::vector<uint8_t> mark;   // 1 = restored (or to be restored)
    std::vector<float> level;    // mean error magnitude per stretch, from nBase / kS on
    // The pop band (where a scratch pop's energy lies and music is seldom loud for so short
    // a time): the input's squares through it, per sample, and the most energy any
    // kBandWindow samples starting in a stretch hold, per stretch, up to nBandDone.
    Section bandHigh, bandLow;
    std::vector<float> bandSq;
    std::vector<float> bandPeak;
    int64_t nBandDone = 0;  // stretches whose bandPeak is known, from nBase / kS on
    int nIsoReach = 0;  // a pop stands out of the pop band's energy this far either side
    int64_t nBase = 0;
    int64_t nHeld = 0;    // frames taken
    int64_t nDetect = 0;  // clicks are known for all frames below
    int64_t nFinal = 0;   // frames below are repaired and never change
    int64_t nSkip = 0;    // no click starts below (inside an earlier click)
    int64_t nPopSkip = 0;  // no pop is looked for below
    int64_t nMusic = INT64_MIN / 2;  // last loud error of a burst judged music
    int64_t nMarkEnd = 0;  // no mark at or after
    int64_t nStreamEnd = INT64_MAX;  // the last sample's successor once the stream has ended

    std::array<std::array<double, kP + 1>, kGrid> partial{};  // lag products per grid block
    int64_t nNextGrid = 0;  // next grid block whose lag products are due
    std::array<double, kP + 1> c{};   // prediction error filter: 1, -a1 .. -ap
    std::array<float, kP + 1> cf{};

    std::vector<float> e;  // prediction error of the current step
    std::vector<float> thr;  // click threshold per stretch of the current step
    std::vector<float> leftMed;       // per stretch of thr: median of its level and the kK before
    std::vector<uint8_t> leftOrdered;  // per stretch of thr: no NaN among those levels
    std::vector<float> backErr;  // backward prediction error near a candidate
    std::vector<uint8_t> quiet;  // per stretch of thr: no error near a click's
    std::vector<double> seg, err, rhs, band;
    std::array<double, kP + 1> rc{};  // autocorrelation of the filter c: the normal equations' diagonals
    std::array<double, kP + 1> ri{};  // the same with the interpolation's diagonal load
    std::vector<double> il;  // banded Cholesky factor of ri's Toeplitz matrix, for spans without gaps
    int nInterpRows = 0;     // rows of il valid for the current model
    uint64_t nVersion = 0;   // counts changes of the model and the samples
    uint64_t nCostVersion = ~uint64_t{0};  // nVersion when costErr was computed
    int64_t nCostLo = 0, nCostHi = -1;     // costErr holds the errors of the samples as they are over this
    std::vector<double> costErr, costNew;
    std::vector<int64_t> unknown;
    std::vector<uint8_t> over;  // per sample near a candidate: 1 both errors above fLow, 2 above fHigh

    int64_t nClicks = 0;
    int64_t nRepaired = 0;

    float* X(int64_t n) { return &x[static_cast<size_t>(n - nBase)]; }
    uint8_t& Mark(int64_t n) { return mark[static_cast<size_t>(n - nBase)]; }
    float& Level(int64_t s) { return level[static_cast<size_t>(s - nBase / kS)]; }
    float& BandPeak(int64_t s) { return bandPeak[static_cast<size_t>(s - nBase / kS)]; }

    // Takes the input's samples [n, n + nFrames) (already in x) through the pop band, of
    // one channel or (the filters' recursions interleaved, nearly twice as fast) of two;
    // every channel's filters are the same.
    static void Band(Channel* pA, Channel* pB, int64_t n, size_t nFrames)
    {
        const Section h = pA->bandHigh, l = pA->bandLow;
        const float* pxA = pA->X(n);
        float* pbA = &pA->bandSq[static_cast<size_t>(n - pA->nBase)];
        float zA[4] = {pA->bandHigh.z1, pA->bandHigh.z2, pA->bandLow.z1, pA->bandLow.z2};
        float zB[4] = {};
        auto Run = [&](float* z, float u) {
            const float v = h.b0 * u + z[0];
            z[0] = h.b1 * u - h.a1 * v + z[1];
            z[1] = h.b2 * u - h.a2 * v;
            const float y = l.b0 * v + z[2];
            z[2] = l.b1 * v - l.a1 * y + z[3];
            z[3] = l.b2 * v - l.a2 * y;
            return y * y;
        };
        if (pB) {
            const float* pxB = pB->X(n);
            float* pbB = &pB->bandSq[static_cast<size_t>(n - pB->nBase)];
            zB[0] = pB->bandHigh.z1, zB[1] = pB->bandHigh.z2, zB[2] = pB->bandLow.z1, zB[3] = pB->bandLow.z2;
            for (size_t i = 0; i < nFrames; ++i) {
                pbA[i] = Run(zA, pxA[i]);
                pbB[i] = Run(zB, pxB[i]);
            }
            pB->bandHigh.z1 = zB[0], pB->bandHigh.z2 = zB[1], pB->bandLow.z1 = zB[2], pB->bandLow.z2 = zB[3];
        } else {
            for (size_t i = 0; i < nFrames; ++i) pbA[i] = Run(zA, pxA[i]);
        }
        pA->bandHigh.z1 = zA[0], pA->bandHigh.z2 = zA[1], pA->bandLow.z1 = zA[2], pA->bandLow.z2 = zA[3];
    }
    void BandPeaks(int64_t nUpTo);
    // Samples a step waits for beyond its own: the look-ahead, and the pop band's reach.
    int Wait() const { return std::max(nAhead + nBeyond, nIsoReach + kS + kBandWindow); }

    void Reset(int nHistory)
    {
        nBase = -nHistory;
        x.assign(static_cast<size_t>(nHistory + nTail), 0.0f);
        mark.assign(x.size(), 0);
        level.assign(x.size() / kS + 1, 0.0f);
        bandSq.assign(x.size(), 0.0f);
        bandPeak.assign(level.size(), 0.0f);
        nBandDone = nBase / kS;
        bandHigh.Design(true, kBandLowHz, nRate);
        bandLow.Design(false, kBandHighHz, nRate);
        nHeld = nDetect = nFinal = nSkip = nMarkEnd = nPopSkip = 0;
        nStreamEnd = INT64_MAX;
        nMusic = INT64_MIN / 2;
        for (auto& p : partial) p.fill(0.0);
        nNextGrid = 0;
        c.fill(0.0);
        c[0] = 1.0;
        NewModel();
    }

    void Grow(int64_t nEnd)
    {
        const size_t n = static_cast<size_t>(nEnd - nBase + nTail);
        if (x.size() < n) {
            x.resize(n, 0.0f);
            mark.resize(n, 0);
            level.resize(n / kS + 1, 0.0f);
            bandSq.resize(n, 0.0f);
            bandPeak.resize(level.size(), 0.0f);
        }
    }

    // Drops what no step, model or output needs any more (everything before nKeep).
    void Compact(int64_t nKeep)
    {
        const int64_t nDrop = (nKeep - nBase) / kS * kS;
        if (nDrop < 8192) return;
        x.erase(x.begin(), x.begin() + nDrop);
        mark.erase(mark.begin(), mark.begin() + nDrop);
        level.erase(level.begin(), level.begin() + nDrop / kS);
        bandSq.erase(bandSq.begin(), bandSq.begin() + nDrop);
        bandPeak.erase(bandPeak.begin(), bandPeak.begin() + nDrop / kS);
        nBase += nDrop;
    }

    void FitModel();
    void NewModel();
    void Step(int64_t nEnd);
    void FindPops(int64_t nStartEnd, int64_t nMarkLim, int64_t nEnd);
    void Restore(int64_t nUpTo, bool bAll);
    bool Solve(const int64_t* t, int m);
    bool Interpolate(const int64_t* t, int m);
    double Cost(int64_t a, int64_t b, int64_t r0, int64_t r1);
    void SharedErrors(int64_t r0, int64_t r1);
    double CostFloor(int64_t a, int64_t b, int64_t r0, int64_t r1);
    bool Continues(int64_t a, int64_t b, int64_t nEnd);
    bool Steps(int64_t a, int64_t b, double fSigma);
    bool Edge(int64_t a, int64_t b, int64_t lo, int64_t lim);
    double Miss(int64_t a, int64_t b, int nCheck);
    bool Plausible(int64_t a, int64_t b, int64_t lo, int64_t lim, bool bDoubt, bool bAtEnd);
    int Onset(int64_t a, int64_t b) const;
    double PeakBeside(int64_t a, int64_t b, int nReach);
    double RestoredPeak(int64_t a, int64_t b) const;
    double FineGain(int64_t a, int64_t b);
    bool FineSolve(int64_t a, int64_t b);
    bool FitFine(int64_t a, int nOrder);
    double FineErrors();
    bool FineInterpolate(int64_t a, int64_t b);
    bool MatchedPeak(int64_t a, int64_t b, int64_t lo, int64_t lim);
    void Matched(int64_t a, int64_t b, int64_t lo, int64_t lim);
    bool Factor(int m);
    static bool ExtendFactor(const std::array<double, kP + 1>& r, std::vector<double>& l, int& nRows, int m);
    void Trim(int64_t& a, int64_t& b, int64_t aMin, int64_t bMax, int64_t lo, int64_t lim, double fSigma);
    void Faint(int64_t& n, int64_t lo, int64_t lim, int64_t nMarkLim, int64_t nEnd);
    double PlaceTick(int64_t& a, int64_t& b, int64_t bMax, int64_t lo, int64_t lim, double fSigma);
    bool StepAfter(int64_t a, int64_t b, int64_t lo);
    void Gains(int64_t a, int64_t aHm, int m, double* pGain);
    std::vector<double> hm;  // matched filter output from the first sample asked for
    std::vector<float> errs;  // prediction errors for it beyond the step's
    std::vector<double> tl;  // Cholesky factor of the filter's autocorrelation matrix (banded)
    int nFactored = 0;       // rows of tl valid for the current model
    std::vector<int64_t> trial;
    std::vector<double> patch;
    int fineQ = kFineOrder;  // order of fineC
    std::vector<double> fineC, fineSeg, fineErr, fineBand, fineRhs, fineWin;
    double fineLevel = 0;  // mean squared error of the finer predictor (fineC) over its window
};

// Lag products of the repaired samples, summed over the last grid blocks, with a
// little white noise added (so that a pure tone still gives a stable
// predictor), solved by Levinson's recursion.
void CDeclicker::Channel::FitModel()
{
    while ((nNextGrid + 1) * kStep <= nFinal) {
        auto& p = partial[static_cast<size_t>(nNextGrid % kGrid)];
        const float* pg = X(nNextGrid * kStep);
        // The grid block is the bulk of the work on music without clicks.
        static_assert(kP + 1 == 9 + 8 + 8, "the lags go in three groups");
        BlockLags<9>(pg, 0, p.data());
        BlockLags<8>(pg, 9, p.data());
        BlockLags<8>(pg, 17, p.data());
        ++nNextGrid;
    }
    std::array<double, kP + 1> r{};
    if (nNextGrid < kGrid) {
        // The start of a stream, with less repaired music than a window: the samples
        // at hand, clicks and all, make a better model than silence.
        const int64_t n = std::min<int64_t>(nHeld, kModelWindow);
        const float* px = X(0);
        for (int k = 0; k <= kP; ++k)
            for (int64_t i = k; i < n; ++i) r[static_cast<size_t>(k)] += static_cast<double>(px[i]) * px[i - k];
    } else {
        for (const auto& p : partial)
            for (int k = 0; k <= kP; ++k) r[static_cast<size_t>(k)] += p[static_cast<size_t>(k)];
        // Less the products that reach back before the window: the autocorrelation of
        // the window alone, which keeps the predictor stable.
        const float* px = X((nNextGrid - kGrid) * kStep);
        for (int k = 1; k <= kP; ++k)
            for (int i = 0; i < k; ++i) r[static_cast<size_t>(k)] -= static_cast<double>(px[i]) * px[i - k];
    }
    c.fill(0.0);
    c[0] = 1.0;
    if (r[0] > 1e-12) {
        r[0] *= 1.0 + 1e-6;
        std::array<double, kP + 1> a{}, prev{};  // predictor a1..ap
        double fErr = r[0];
        for (int i = 1; i <= kP; ++i) {
            double acc = r[static_cast<size_t>(i)];
            for (int j = 1; j < i; ++j) acc -= a[static_cast<size_t>(j)] * r[static_cast<size_t>(i - j)];
            const double k = acc / fErr;
            if (!(std::fabs(k) < 1.0)) break;
            prev = a;
            a[static_cast<size_t>(i)] = k;
            for (int j = 1; j < i; ++j) a[static_cast<size_t>(j)] = prev[static_cast<size_t>(j)] - k * prev[static_cast<size_t>(i - j)];
            fErr *= 1.0 - k * k;
        }
        for (int j = 1; j <= kP; ++j) c[static_cast<size_t>(j)] = -a[static_cast<size_t>(j)];
    }
    NewModel();
}

// What follows from a new predictor c: its float copy and the autocorrelation of the
// filter, and every factor built from it is stale.
void CDeclicker::Channel::NewModel()
{
    for (int j = 0; j <= kP; ++j) cf[static_cast<size_t>(j)] = static_cast<float>(c[static_cast<size_t>(j)]);
    // Every lag sums its products in rising k; all lags go along together.
    rc.fill(0.0);
    for (int k = 0; k <= kP; ++k) {
        const double ck = c[static_cast<size_t>(k)];
        const double* pc = &c[static_cast<size_t>(k)];
        double* pr = rc.data();
        for (int dlag = 0; dlag <= kP - k; ++dlag) pr[dlag] += ck * pc[dlag];
    }
    ri = rc;
    ri[0] = rc[0] + rc[0] * 1e-9;
    nInterpRows = 0;
    nFactored = 0;
    ++nVersion;
}

// Finds the clicks that start in [nDetect, nDetect + kStep), given samples up to nEnd
// (zeros beyond the end of the stream), then restores every chain of clicks whose
// surroundings are now known.
void CDeclicker::Channel::Step(int64_t nEnd)
{
    FitModel();
    nFactored = 0;
    const int64_t d = nDetect;
    const int64_t lo = d - nBack;
    const int64_t lim = d + kStep + nAhead;
    const int nE = static_cast<int>(lim - lo);
    e.resize(static_cast<size_t>(nE));
    ErrorFilter<true>(cf.data(), X(lo), nE, e.data());
    // Levels of this step's stretches and of its look-ahead.
    const int64_t s0 = d / kS, s1 = lim / kS;
    for (int64_t s = s0; s < s1; ++s) {
        const float* pe = &e[static_cast<size_t>(s * kS - lo)];
        float sum = 0;
        for (int i = 0; i < kS; ++i) sum += std::fabs(pe[i]);
        Level(s) = sum / kS;
    }
    // Thresholds from the stretch before the step to the end of the look-ahead.
    const int64_t sLo = lo / kS;
    thr.resize(static_cast<size_t>(s1 - sLo));
    // The nine levels right of stretch s are the nine left of s + kK. Their median is taken
    // once and used for both when no level among them is NaN: ordered values (levels are
    // never -0) give the same middle value in any order, a NaN's place decides the result.
    static_assert(kK + 1 == 9, "the thresholds take medians of nine levels");
    leftMed.resize(thr.size());
    leftOrdered.resize(thr.size());
    for (int64_t s = sLo; s < s1; ++s) {
        float left[kK + 1];
        bool bOrdered = true;
        for (int i = 0; i <= kK; ++i) {
            left[i] = Level(s - i);
            bOrdered &= left[i] == left[i];
        }
        leftMed[static_cast<size_t>(s - sLo)] = Median9(left);
        leftOrdered[static_cast<size_t>(s - sLo)] = bOrdered;
    }
    for (int64_t s = sLo; s < s1; ++s) {
        const float fLeft = leftMed[static_cast<size_t>(s - sLo)];
        float fRight;
        if (s + kK < s1 && leftOrdered[static_cast<size_t>(s + kK - sLo)]) {
            fRight = leftMed[static_cast<size_t>(s + kK - sLo)];
        } else {
            float right[kK + 1] = {};
            int nRight = 0;
            for (int i = 0; i <= kK && s + i < s1; ++i) right[nRight++] = Level(s + i);
            fRight = nRight == kK + 1 ? Median9(right) : Median(right, nRight);
        }
        thr[static_cast<size_t>(s - sLo)] = std::max(fLeft, fRight);
    }
    auto Err = [&](int64_t n) { return std::fabs(e[static_cast<size_t>(n - lo)]); };
    auto Lvl = [&](int64_t n) { return thr[static_cast<size_t>((n - lo) / kS)]; };
    auto High = [&](int64_t n) { return Err(n) > params.fHigh * Lvl(n) + kFloor; };

    const int64_t nStartEnd = std::min<int64_t>(d + kStep, nEnd);
    const int64_t nMarkLim = std::min<int64_t>(lim, nEnd);
    // Stretches where no error stands above kFaintRise levels (below fHigh levels too)
    // hold nothing to look at.
    quiet.assign(thr.size(), 0);
    for (int64_t s = d / kS; s * kS < nStartEnd; ++s) {
        const float* pe = &e[static_cast<size_t>(s * kS - lo)];
        const float fOver = kFaintRise * thr[static_cast<size_t>(s - sLo)] + kFloor;
        int nOver = 0;
        for (int i = 0; i < kS; ++i) nOver += std::fabs(pe[i]) > fOver;
        quiet[static_cast<size_t>(s - sLo)] = nOver == 0;
    }
    int64_t nFaintSeen = INT64_MIN;
    for (int64_t n = std::max(d, nSkip); n < nStartEnd; ++n) {
        if (quiet[static_cast<size_t>(n / kS - sLo)]) {
            n = n / kS * kS + kS - 1;
            continue;
        }
        const float fErr = Err(n), fLvl = Lvl(n);
        static_assert(kFaintRise < 7.0f, "a faint tick's error lies below the level that starts a click");
        if (!(fErr > kFaintRise * fLvl + kFloor)) continue;
        if (!(fErr > params.fHigh * fLvl + kFloor)) {
            // A tick's strongest sample lies within a sample before and two after the first
            // error that rises: each such stretch is looked at once.
            if (n > nFaintSeen) {
                nFaintSeen = n + 2;
                Faint(n, lo, lim, nMarkLim, nEnd);
            }
            continue;
        }
        int64_t first = n, last = n;
        for (int64_t m = n + 1; m < nMarkLim && m - last <= nMerge; ++m)
            if (High(m)) last = m;
        // The forward error of a click rings on for up to kOrder samples after it;
        // what lies beyond that is music.
        if (last - first + 1 > nMaxRun + kP || first - nMusic <= nMerge || (last + nMerge >= lim && lim < nEnd)) {
            nMusic = last;
            n = last;
            continue;
        }
        // The click itself is where the backward error (which rings on before a click
        // instead) is high as well.
        const int64_t from = std::max<int64_t>(std::max(nFinal, lo), first - nMaxWiden);
        const int64_t to = std::min<int64_t>(last + nMaxWiden, nMarkLim - 1);
        int64_t a = -1, b = -1;
        bool bPeak = false;
        const int nNear = static_cast<int>(std::max<int64_t>(0, to - from + 1));
        over.assign(static_cast<size_t>(nNear), 0);
        backErr.resize(static_cast<size_t>(nNear));
        if (nNear > 0) ErrorFilter<false>(cf.data(), X(from), nNear, backErr.data());
        for (int64_t m = from; m <= to; ++m) {
            const float back = backErr[static_cast<size_t>(m - from)];
            // (Past the end of the stream there is nothing to predict backwards from.)
            const float both = m + kP < nEnd ? std::min(Err(m), std::fabs(back)) : m <= last ? Err(m) : 0.0f;
            over[static_cast<size_t>(m - from)] = both > params.fLow * Lvl(m) + kFloor
                                                      ? (both > params.fHigh * Lvl(m) + kFloor ? 2 : 1)
                                                      : 0;
        }
        // The click is the run of such samples (gaps of up to nGrowGap) that starts nearest
        // the loud forward error: music moving fast just before or after it stays out.
        auto Over = [&](int64_t m) { return over[static_cast<size_t>(m - from)]; };
        for (int64_t m = std::max(from, first - nGrowGap); m <= to && m <= last + nGrowGap && a < 0; ++m)
            if (Over(m)) a = b = m;
        if (a >= 0) {
            for (int64_t m = a; m <= to && m - b <= nGrowGap; ++m)
                if (Over(m)) b = m;
            for (int64_t m = a; m >= from && a - m <= nGrowGap; --m)
                if (Over(m)) a = m;
            for (int64_t m = a; m <= b; ++m) bPeak = bPeak || Over(m) == 2;
            if (!bPeak) bPeak = MatchedPeak(a, b, lo, lim);
        }
        // Without a peak both ways round the cluster may still be a wide pop, whose smooth
        // body the predictor follows: such a doubtful click must pass a stricter test below.
        const bool bDoubtPeak = !bPeak && a >= 0;
        bool bDoubt = bDoubtPeak;
        if ((!bPeak && !bDoubt) || b - a + 1 > nMaxRun) {  // explained the other way round, or too long
            if (bPeak) nMusic = last;
            n = last;
            continue;
        }
        if (b - a + 1 >= 3 && b + nMaxWiden + 2 * kP < nEnd) {
            // Wider clicks (scratch pops) rise and fall more gently than their error
            // shows: take in more samples on either side while each one lowers the
            // prediction error left after interpolation by more than music would.
            const float fSigma = 1.25f * Lvl(first) + kFloor;
            const double fPenalty = 4.0 * fSigma * fSigma;
            static constexpr int kTail[] = {0, 2, 4, 6, 9, 12, 16, 20, 24};
            static constexpr int kHead[] = {0, 1, 2, 4, 6, 9, 12};
            const int64_t aLow = std::max<int64_t>(std::max(nFinal, lo) + nPre, first - nMaxWiden);
            const int64_t bHigh = std::min<int64_t>(nMarkLim - 1 - nPost, last + nMaxWiden);
            const int64_t r0 = std::max<int64_t>(aLow, a - 12);
            const int64_t r1 = std::min<int64_t>(std::min<int64_t>(b + 24, bHigh) + kP, nEnd - 1);
            int bestE = 0, bestH = 0;
            double best = 1e300;
            for (int e : kTail) {
                if (b + e > bHigh || b - a + 1 + e > nMaxRun) break;
                if (CostFloor(a, b + e, r0, r1) + fPenalty * e >= best) continue;
                const double f = Cost(a, b + e, r0, r1) + fPenalty * e;
                if (f < best) { best = f; bestE = e; }
            }
            for (int h : kHead) {
                if (h == 0) continue;
                if (a - h < aLow || b - a + 1 + bestE + h > nMaxRun) break;
                if (CostFloor(a - h, b + bestE, r0, r1) + fPenalty * (bestE + h) >= best) continue;
                const double f = Cost(a - h, b + bestE, r0, r1) + fPenalty * (bestE + h);
                if (f < best) { best = f; bestH = h; }
            }
            // The tail of a click is smaller than its core: where restoring the widened
            // span changes the samples taken in more than those of the core, the widening
            // took in music (a note starting right after the click) and is undone.
            if ((bestH > 0 || bestE > 0) && Cost(a - bestH, b + bestE, r0, r1) < 1e300) {
                double fCore = 0, fRim = 0;
                for (int64_t m = a - bestH; m <= b + bestE; ++m) {
                    const double d = std::fabs(rhs[static_cast<size_t>(m - (a - bestH))] - *X(m));
                    double& f = m >= a && m <= b ? fCore : fRim;
                    f = std::max(f, d);
                }
                if (fRim > fCore) bestH = bestE = 0;
            }
            a -= bestH;
            b += bestE;
        }
        // Where the music on either side is not one (a note starts or stops), only a very
        // clear click is taken.
        const bool bBreak = !Continues(a, b, nEnd);
        bDoubt = bDoubt || bBreak;
        // A click is judged with a sample or two beside it; a burst's span is then fitted,
        // and a click of a sample or two is restored alone where the matched filter puts it.
        const int64_t aMin = std::max(a - nPre, std::max(nFinal, lo)), bMax = std::min<int64_t>(b + nPost, nMarkLim - 1);
        int64_t aTick = -1, bTick = -1;
        double fSpread = 0;  // squared levels the samples around a tick gain beyond it
        if (b - a + 1 >= 3 && bMax + kP < nEnd) {
            Trim(a, b, aMin, bMax, lo, lim, 1.25 * Lvl(first) + kFloor);
        } else {
            if (a - 1 >= aMin && b + kP + 5 < lim) {
                aTick = a;
                bTick = b;
                fSpread = PlaceTick(aTick, bTick, bMax, lo, lim, 1.25 * Lvl(first) + kFloor);
                // The core may have missed a sample of the tick (a second sample's error
                // can hide the first's backward one), and music predicted across a
                // clicked sample never continues: judged over the placed tick.
                if (bBreak && aTick <= a && bTick >= b && bTick - aTick > b - a && Continues(aTick, bTick, nEnd))
                    bDoubt = bDoubtPeak;
            }
            a = aMin;
            b = bMax;
        }
        if (!Plausible(a, b, lo, lim, bDoubt, b + kP >= nEnd) ||
            (fSpread > kTickSpread && StepAfter(aTick, bTick, lo)) ||
            (aTick < 0 && b + kP < nEnd && Edge(a, b, lo, lim))) {
            nMusic = last;
            n = std::max(b, last);
            continue;
        }
        if (aTick >= 0) {
            a = aTick;
            b = bTick;
        }
        for (int64_t m = a; m <= b; ++m) Mark(m) = 1;
        nMarkEnd = std::max(nMarkEnd, b + 1);
        ++nClicks;
        n = std::max(b, last);
        nSkip = n + 1;
    }
    FindPops(nStartEnd, nMarkLim, nEnd);
    nDetect = d + kStep;
    // A later click starts no earlier than this.
    const int64_t nSafe = nDetect - nBack;
    Restore(std::min(nSafe, nEnd == INT64_MAX ? nEnd : nEnd + 1), false);  // chains near the end wait for Finish()
    if (nFinal < nDetect - kMaxPending - nBack) Restore(nDetect - kMaxPending - nBack, true);
}

// Wide scratch pops: smooth pulses of 18 to 32 samples that the predictor largely follows,
// so that no single prediction error stands out, but the error summed over kPopWindow
// samples stands far above its level (and not just through a few samples: that is a
// tick, for the click finder, and a pop's span around it would take in music). The pop is
// the span (searched over starts and widths) whose interpolation lowers the prediction
// error most for the samples it takes in. It is taken only when that lowers the error
// many times over, what interpolation removes looks like a pop (of one sign, smooth, and
// fading out at both ends), and the restored samples keep to the swing of the music
// around them: a pop rides on the music, while an interpolation over so long a span where
// the predictor is poor can overshoot wildly or sag towards zero. Music interpolated over
// as long a span loses some of its own swing, which is smooth and of one sign too, but
// lowers the prediction error far less. Uses the step's errors and thresholds (e, thr).
void CDeclicker::Channel::FindPops(int64_t nStartEnd, int64_t nMarkLim, int64_t nEnd)
{
    constexpr int kPopWindow = 16;
    constexpr double kTrigger = 30.0;   // summed error energy over that of the local level
    constexpr double kFaintTrigger = 25.0;  // or this, for a pop held to the finer predictor:
    constexpr double kFaintSpread = 0.3;    // largest squared error / their sum over the window
    constexpr double kFaintCoarseGain = 5.0;  // kCoarseGain for such a pop
    constexpr double kPopGain = 80.0;   // residual energy before / after interpolation
    constexpr double kCoarseGain = 12.0;  // the same over the whole search, for the best guess
    constexpr double kDoubtfulGain = 20.0;  // or this, where the finer predictor agrees:
    constexpr double kFineGain = 12.0;  // residual energy before / after under that predictor
    constexpr double kSwing = 1.25;     // restored peak / peak of the music around, at most
    constexpr double kSag = 0.25;       // and at least this of the peak just beside the span
    constexpr int kBeside = 8;          // samples just beside the span, either side
    constexpr double kSpread = 0.25;    // largest squared error / their sum over the span
    constexpr double kOneSign = 0.95;   // |sum of the change| / sum of |change|
    constexpr double kEnds = 0.12;      // change at either end / largest change
    constexpr int kWiden = 3;           // samples a span may be widened by at either end
    constexpr double kRough = 0.06;     // energy of the change's second difference / its energy
    // A pop found in the pop band (most of it hidden from the predictor by the music's own
    // error) must stand out there, and its restoring gain under both predictors.
    constexpr float kIsolation = 2.5f;  // pop band energy / the most the music holds around
    constexpr float kBandFloor = kBandWindow * 1e-5f;  // and at least -50 dBFS there
    constexpr int kBandBack = 16;       // a pop's start before, after the band's strongest window
    constexpr int kBandAhead = 8;
    constexpr double kBandCoarseGain = 3.0;  // kCoarseGain for such a pop
    constexpr double kBandGain = 7.0;        // kDoubtfulGain for it (a smooth swell of music gains 6)
    constexpr double kBandFineGain = 5.5;    // kFineGain for it
    constexpr double kBandSpread = 0.3;      // kSpread for it (a tick riding on the pop stands out)
    const int64_t d = nDetect, lo = d - nBack, lim = d + kStep + nAhead;
    const int64_t nFrom = std::max(d, nPopSkip);
    auto Sq = [&](int64_t n) {
        const double v = e[static_cast<size_t>(n - lo)];
        return v * v;
    };
    auto Level = [&](int64_t n) { return static_cast<double>(thr[static_cast<size_t>((n - lo) / kS)]) + kFloor; };
    // A window over the trigger lies within two neighbouring blocks of kPopWindow samples
    // whose energy together is over it too: only such pairs are looked at closely.
    auto BlockEnergy = [&](int64_t s) {
        const float* pe = &e[static_cast<size_t>(s - lo)];
        float f0 = 0, f1 = 0, f2 = 0, f3 = 0;
        for (int i = 0; i < kPopWindow; i += 4) {
            f0 += pe[i] * pe[i];
            f1 += pe[i + 1] * pe[i + 1];
            f2 += pe[i + 2] * pe[i + 2];
            f3 += pe[i + 3] * pe[i + 3];
        }
        return static_cast<double>(f0) + f1 + f2 + f3;
    };
    // Judges a pop whose span starts within [aFrom, aTo]: true when it is marked.
    auto Judge = [&](int64_t aFrom, int64_t aTo, double fLevel, bool bFaint, bool bBand) {
        const int64_t n0 = aTo;
        const int64_t aLow = std::max<int64_t>(std::max(nFinal, lo) + nPre, aFrom - 3);
        const int64_t bHigh = std::min<int64_t>(nMarkLim - 1 - nPost, n0 + nPopAhead + 3);
        if (bHigh + 2 * kP >= nEnd || bHigh - aLow + 1 < nPopMin) return false;
        bool bMarked = false;
        for (int64_t m = aLow - nPre; m <= bHigh + nPost && !bMarked; ++m) bMarked = Mark(m) != 0;
        if (bMarked) return false;
        // Starts and widths on a coarse grid, then each refined on its own.
        const double fSigma = 1.25 * fLevel, fPenalty = 4.0 * fSigma * fSigma;
        const int64_t r0 = aLow, r1 = bHigh + kP;
        double best = 1e300;
        int64_t a = -1;
        int w = 0;
        auto Try = [&](int64_t a1, int w1) {
            if (a1 < aLow || a1 + w1 - 1 > bHigh || w1 < nPopMin || w1 > nPopMax) return;
            if (CostFloor(a1, a1 + w1 - 1, r0, r1) + fPenalty * w1 >= best) return;
            const double fCost = Cost(a1, a1 + w1 - 1, r0, r1) + fPenalty * w1;
            if (fCost < best) {
                best = fCost;
                a = a1;
                w = w1;
            }
        };
        const int nGrid = (nPopMax - nPopMin + 2) / 3;  // the refinement covers +-3 around each
        for (int64_t a1 = aFrom; a1 <= n0; a1 += nGrid)
            for (int w1 = nPopMin + 1; w1 <= nPopMax; w1 += nGrid) Try(a1, w1);
        if (a < 0) return false;
        // Music seldom gets this far; what it does mostly gains too little even here.
        double fWide = 0;
        for (int64_t m = r0; m <= r1; ++m) fWide += Sq(m);
        if (!(fWide > (bBand ? kBandCoarseGain : bFaint ? kFaintCoarseGain : kCoarseGain) * (best - fPenalty * w))) return false;
        const int64_t aCoarse = a;
        for (int k : {-3, -2, -1, 1, 2, 3}) Try(aCoarse + k, w);
        const int wCoarse = w;
        for (int k : {-3, -2, -1, 1, 2, 3}) Try(a, wCoarse + k);
        int64_t b = a + w - 1;
        double fAfter = Cost(a, b, a, b + kP);  // leaves the restored samples in rhs
        // A span found a sample or two short of the pop leaves a step where it ends: it is
        // widened there while what it removes does not fade out as a pop does.
        auto Fades = [&](int64_t a1, int64_t b1, bool& bHead, bool& bTail) {
            double fTopD = 0;
            for (int64_t m = a1; m <= b1; ++m)
                fTopD = std::max(fTopD, std::fabs(static_cast<double>(*X(m)) - rhs[static_cast<size_t>(m - a1)]));
            bHead = std::fabs(static_cast<double>(*X(a1)) - rhs[0]) <= kEnds * fTopD;
            bTail = std::fabs(static_cast<double>(*X(b1)) - rhs[static_cast<size_t>(b1 - a1)]) <= kEnds * fTopD;
        };
        bool bHead = true, bTail = true;
        Fades(a, b, bHead, bTail);
        if (!(bHead && bTail)) {
            int64_t a1 = a, b1 = b;
            for (int k = 0; k < kWiden && !(bHead && bTail); ++k) {
                if (!bHead && a1 > aLow) --a1;
                if (!bTail && b1 < bHigh) ++b1;
                if (b1 - a1 + 1 > nPopMax) break;
                const double f1 = Cost(a1, b1, a1, b1 + kP);
                Fades(a1, b1, bHead, bTail);
                if (bHead && bTail) {
                    a = a1;
                    b = b1;
                    w = static_cast<int>(b - a + 1);
                    fAfter = f1;
                }
            }
            if (!(bHead && bTail)) fAfter = Cost(a, b, a, b + kP);
        }
        double fBefore = 0, fTop = 0;
        for (int64_t m = a; m <= b + kP; ++m) {
            fBefore += Sq(m);
            fTop = std::max(fTop, Sq(m));
        }
        const bool bClear = fBefore > kPopGain * fAfter;
        if (!(fBefore > (bBand ? kBandGain : kDoubtfulGain) * fAfter) || fTop > (bBand ? kBandSpread : kSpread) * fBefore) return false;
        double fAbs = 0, fSumD = 0, fPeak = 0, fEnergy = 0, fRough = 0;
        auto D = [&](int64_t m) { return static_cast<double>(*X(m)) - rhs[static_cast<size_t>(m - a)]; };
        for (int64_t m = a; m <= b; ++m) {
            const double v = D(m);
            fAbs += std::fabs(v);
            fSumD += v;
            fPeak = std::max(fPeak, std::fabs(v));
            fEnergy += v * v;
            if (m > a && m < b) {
                const double q = D(m + 1) - 2 * v + D(m - 1);
                fRough += q * q;
            }
        }
        if (std::fabs(fSumD) < kOneSign * fAbs || std::max(std::fabs(D(a)), std::fabs(D(b))) > kEnds * fPeak ||
            fRough > kRough * fEnergy)
            return false;
        // An interpolation that sags towards zero falls short of the samples it joins; a
        // pop in a quiet moment just before a loud swing of the music is no sag.
        const double fRestored = RestoredPeak(a, b);
        if (fRestored > kSwing * PeakBeside(a, b, nPopMax) || fRestored < kSag * PeakBeside(a, b, kBeside)) return false;
        if ((!bClear || bFaint || bBand) && !(FineGain(a, b) > (bBand ? kBandFineGain : kFineGain))) return false;
        for (int64_t m = a - nPre; m <= b + nPost; ++m) Mark(m) = 1;
        nMarkEnd = std::max(nMarkEnd, b + nPost + 1);
        ++nClicks;
        nPopSkip = b + nPost + 1;
        nSkip = std::max(nSkip, nPopSkip);
        return true;
    };
    const int64_t sFirst = nFrom / kPopWindow * kPopWindow;
    double fNext = sFirst < nStartEnd ? BlockEnergy(sFirst) : 0.0;
    for (int64_t s = sFirst; s < nStartEnd; s += kPopWindow) {
        const double fThis = fNext;
        fNext = BlockEnergy(s + kPopWindow);
        const double fLow = std::min(Level(s + kPopWindow / 2), Level(s + kPopWindow + kPopWindow / 2 - 1));
        if (!(fThis + fNext > 0.99 * kFaintTrigger * kPopWindow * fLow * fLow)) continue;
        for (int64_t n = std::max(s, std::max(nFrom, nPopSkip)); n < std::min(s + kPopWindow, nStartEnd); ++n) {
            if (n < nPopSkip) continue;
            double fSum = 0;
            for (int i = 0; i < kPopWindow; ++i) fSum += Sq(n + i);
            const double fLevel = Level(n + kPopWindow / 2);
            if (!(fSum > kFaintTrigger * kPopWindow * fLevel * fLevel)) continue;
            // Under bass-heavy music the short predictor's level is high and a pop stands
            // out less: a fainter window is looked at only where its error is spread out as
            // a pop's is (not a tick's or an onset's few loud errors), and its pop must then
            // satisfy the finer predictor, however much it gains under the short one.
            const bool bFaint = !(fSum > kTrigger * kPopWindow * fLevel * fLevel);
            if (bFaint) {
                double fTopWindow = 0;
                for (int i = 0; i < kPopWindow; ++i) fTopWindow = std::max(fTopWindow, Sq(n + i));
                if (fTopWindow > kFaintSpread * fSum) continue;
            }
            // The strongest window close by marks the pop.
            int64_t n0 = n;
            double fMax = fSum, f = fSum;
            for (int64_t m = n + 1; m < n + kPopWindow && m + kPopWindow < lim; ++m) {
                f += Sq(m + kPopWindow - 1) - Sq(m - 1);
                if (f > fMax) {
                    fMax = f;
                    n0 = m;
                }
            }
            nPopSkip = n0 + kPopWindow;
            Judge(n0 - nPopBack, n0, fLevel, bFaint, false);
        }
    }
    // A loud pop in loud, rough music: the predictor follows most of its smooth body and
    // the music's own error hides the rest, but in the pop band its energy stands far above
    // anything the music holds for nIsoReach samples either side. It is judged even where the
    // search above looked at a pop and refused it: that search places the span by the error,
    // which the music's own may pull away from the pop, and asks more of it.
    BandPeaks(d + kStep + nIsoReach + kS + kBandWindow);
    const int nReach = nIsoReach / kS;
    for (int64_t st = d / kS; st * kS < nStartEnd; ++st) {
        const float f = BandPeak(st);
        if (!(f > kBandFloor) || !(f >= BandPeak(st - 1) && f > BandPeak(st + 1))) continue;
        if (!(f > kIsolation * BandPeak(st - 2) && f > kIsolation * BandPeak(st + 2))) continue;
        bool bAlone = true;
        for (int k = 3; k <= nReach && bAlone; ++k)
            bAlone = f > kIsolation * BandPeak(st - k) && f > kIsolation * BandPeak(st + k);
        if (!bAlone) continue;
        // Where in the stretch the window of most energy starts.
        const float* pb = &bandSq[static_cast<size_t>(st * kS - nBase)];
        float fWin = 0;
        for (int i = 0; i < kBandWindow; ++i) fWin += pb[i];
        int64_t nPeak = st * kS;
        float fTop = fWin;
        for (int i = 1; i < kS; ++i) {
            fWin += pb[i + kBandWindow - 1] - pb[i - 1];
            if (fWin > fTop) {
                fTop = fWin;
                nPeak = st * kS + i;
            }
        }
        Judge(nPeak - kBandBack, nPeak + kBandAhead, Level(nPeak), false, true);
    }
}

// The pop band's most energy over kBandWindow samples starting in each stretch, for the
// stretches whose windows end before nUpTo.
void CDeclicker::Channel::BandPeaks(int64_t nUpTo)
{
    for (; (nBandDone + 1) * kS + kBandWindow <= nUpTo; ++nBandDone) {
        const float* pb = &bandSq[static_cast<size_t>(nBandDone * kS - nBase)];
        float fWin = 0;
        for (int i = 0; i < kBandWindow; ++i) fWin += pb[i];
        float fTop = fWin;
        for (int i = 1; i < kS; ++i) {
            fWin += pb[i + kBandWindow - 1] - pb[i - 1];
            fTop = std::max(fTop, fWin);
        }
        BandPeak(nBandDone) = fTop;
    }
}

// Fits fineC, a predictor of order nOrder (up to kLongOrder), to the kModelWindow samples
// (or those still kept) that end kFineGap before a. False when too few are kept or they are
// silent.
bool CDeclicker::Channel::FitFine(int64_t a, int nOrder)
{
    const int kQ = nOrder;
    fineQ = nOrder;
    const int64_t w0 = std::max(nBase, a - kFineGap - kModelWindow);  // the samples kept
    const int nWindow = static_cast<int>(a - kFineGap - w0);
    if (nWindow < 4 * kQ) return false;
    const float* pw = X(w0);
    // Every lag sums its products in rising i: over the first kQ samples those that reach
    // back to the window's start, then all lags along together (LagSums).
    fineWin.resize(static_cast<size_t>(nWindow));
    for (int i = 0; i < nWindow; ++i) fineWin[static_cast<size_t>(nWindow - 1 - i)] = pw[i];
    std::array<double, kLongOrder + 1> r{};
    for (int i = 0; i < kQ; ++i)
        for (int k = 0; k <= i; ++k) r[static_cast<size_t>(k)] += static_cast<double>(pw[i]) * pw[i - k];
    LagSums(pw, fineWin.data(), kQ, nWindow, kQ, r.data());
    if (!(r[0] > 1e-12)) return false;
    r[0] *= 1.0 + 1e-6;
    fineC.assign(kQ + 1, 0.0);
    fineRhs.assign(kQ + 1, 0.0);  // the previous order's predictor, during the recursion
    double fErr = r[0];
    for (int i = 1; i <= kQ; ++i) {
        double acc = r[static_cast<size_t>(i)];
        for (int j = 1; j < i; ++j) acc -= fineC[static_cast<size_t>(j)] * r[static_cast<size_t>(i - j)];
        const double k = acc / fErr;
        if (!(std::fabs(k) < 1.0)) break;
        std::copy(fineC.begin(), fineC.begin() + i, fineRhs.begin());
        fineC[static_cast<size_t>(i)] = k;
        for (int j = 1; j < i; ++j) fineC[static_cast<size_t>(j)] = fineRhs[static_cast<size_t>(j)] - k * fineRhs[static_cast<size_t>(i - j)];
        fErr *= 1.0 - k * k;
    }
    for (int j = 1; j <= kQ; ++j) fineC[static_cast<size_t>(j)] = -fineC[static_cast<size_t>(j)];
    fineC[0] = 1.0;
    fineLevel = fErr / nWindow;
    return true;
}

// The errors of fineC over fineSeg (from its order on) into fineErr; their summed square.
double CDeclicker::Channel::FineErrors()
{
    const int kQ = fineQ;
    const int nSeg = static_cast<int>(fineSeg.size());
    fineErr.assign(static_cast<size_t>(nSeg), 0.0);
    if (kQ == kFineOrder)
        Dot<true, double, kFineOrder>(fineC.data(), &fineSeg[static_cast<size_t>(kQ)], nSeg - kQ, &fineErr[static_cast<size_t>(kQ)]);
    else
        Dot<true, double, kLongOrder>(fineC.data(), &fineSeg[static_cast<size_t>(kQ)], nSeg - kQ, &fineErr[static_cast<size_t>(kQ)]);
    double f = 0;
    for (int i = kQ; i < nSeg; ++i) f += fineErr[static_cast<size_t>(i)] * fineErr[static_cast<size_t>(i)];
    return f;
}

// Least-squares interpolation of [a, b] under fineC (see FitFine) into fineRhs, the samples
// over [a - order, b + order] held (those of the span at zero in fineSeg). False should the
// equations prove singular.
bool CDeclicker::Channel::FineInterpolate(int64_t a, int64_t b)
{
    const int kQ = fineQ;
    const int m = static_cast<int>(b - a + 1), nSeg = m + 2 * kQ;
    const int64_t lo = a - kQ;
    fineSeg.assign(static_cast<size_t>(nSeg), 0.0);
    for (int i = 0; i < nSeg; ++i) fineSeg[static_cast<size_t>(i)] = *X(lo + i);
    for (int i = 0; i < m; ++i) fineSeg[static_cast<size_t>(kQ + i)] = 0.0;
    FineErrors();
    // Normal equations of the m unknowns (Toeplitz, from the filter's autocorrelation),
    // solved by Cholesky.
    std::array<double, kLongOrder + 1> rc{};
    for (int d = 0; d <= kQ; ++d)
        for (int k = 0; k + d <= kQ; ++k) rc[static_cast<size_t>(d)] += fineC[static_cast<size_t>(k)] * fineC[static_cast<size_t>(k + d)];
    fineRhs.assign(static_cast<size_t>(m), 0.0);
    if (kQ == kFineOrder)
        Dot<false, double, kFineOrder>(fineC.data(), &fineErr[static_cast<size_t>(kQ)], m, fineRhs.data());
    else
        Dot<false, double, kLongOrder>(fineC.data(), &fineErr[static_cast<size_t>(kQ)], m, fineRhs.data());
    for (double& v : fineRhs) v = -v;
    fineBand.assign(static_cast<size_t>(m) * m, 0.0);
    auto L = [&](int i, int j) -> double& { return fineBand[static_cast<size_t>(i) * m + j]; };
    auto M = [&](int i, int j) { const int d = i > j ? i - j : j - i; return d <= kQ ? rc[static_cast<size_t>(d)] : 0.0; };
    for (int j = 0; j < m; ++j) {
        double s = M(j, j) * (1.0 + 1e-9);
        for (int k = 0; k < j; ++k) s -= L(j, k) * L(j, k);
        if (!(s > 0)) return false;
        L(j, j) = std::sqrt(s);
        for (int i = j + 1; i < m; ++i) {
            double v = M(i, j);
            for (int k = 0; k < j; ++k) v -= L(i, k) * L(j, k);
            L(i, j) = v / L(j, j);
        }
    }
    for (int i = 0; i < m; ++i) {
        double s = fineRhs[static_cast<size_t>(i)];
        for (int k = 0; k < i; ++k) s -= L(i, k) * fineRhs[static_cast<size_t>(k)];
        fineRhs[static_cast<size_t>(i)] = s / L(i, i);
    }
    for (int i = m - 1; i >= 0; --i) {
        double s = fineRhs[static_cast<size_t>(i)];
        for (int k = i + 1; k < m; ++k) s -= L(k, i) * fineRhs[static_cast<size_t>(k)];
        fineRhs[static_cast<size_t>(i)] = s / L(i, i);
    }
    return true;
}

// How many times interpolating [a, b] lowers the prediction error of the finer predictor
// (FitFine) over every error the span enters. The short predictor of the click finder
// cannot resolve the harmonics of a bass: a thump or a swelling bass note then leaves a
// smooth error that interpolation removes as it would a pop. The finer predictor follows
// such music and leaves little for interpolation to gain, while a pop, being no part of
// the music, stays as unexplained as before. 0 when the equations prove singular.
double CDeclicker::Channel::FineGain(int64_t a, int64_t b)
{
    constexpr int kQ = kFineOrder;
    if (!FitFine(a, kQ)) return 0.0;
    const int m = static_cast<int>(b - a + 1), nSeg = m + 2 * kQ;
    fineSeg.assign(static_cast<size_t>(nSeg), 0.0);
    for (int i = 0; i < nSeg; ++i) fineSeg[static_cast<size_t>(i)] = *X(a - kQ + i);
    const double fBefore = FineErrors();
    if (!FineInterpolate(a, b)) return 0.0;
    for (int i = 0; i < m; ++i) fineSeg[static_cast<size_t>(kQ + i)] = fineRhs[static_cast<size_t>(i)];
    const double fAfter = FineErrors();
    return fBefore / (fAfter + 1e-20);
}

// Restores the span [a, b] (kFineSpan samples or more) by the finer predictor (FitFine):
// over a burst's or a pop's many samples, the order of the short predictor leaves the
// music's finer lines out. False, samples untouched, where the samples the finer predictor
// takes in after the span are not all known and repaired (a click waits there, or the
// stream ends), the equations prove singular, or the errors the restored span enters stay
// kFineLeft times above the predictor's level over its window: the music changes within
// its reach (a note sets in after a pop), and the short predictor, reaching less far, is
// left to it. From kLongSpan samples on the order is kLongOrder: over a long run the
// restored samples must follow the bass's swing, which order kFineOrder resolves too
// coarsely, leaving a smooth one-signed error along the whole run.
bool CDeclicker::Channel::FineSolve(int64_t a, int64_t b)
{
    constexpr double kFineLeft = 25.0;
    const int m = static_cast<int>(b - a + 1);
    const int nQ = m >= kLongSpan ? kLongOrder : kFineOrder;
    if (b + nQ >= std::min(nHeld, nStreamEnd)) return false;
    for (int64_t n = b + 1; n <= b + nQ; ++n)
        if (Mark(n)) return false;
    if (!FitFine(a, nQ) || !FineInterpolate(a, b)) return false;
    for (int i = 0; i < m; ++i) fineSeg[static_cast<size_t>(nQ + i)] = fineRhs[static_cast<size_t>(i)];
    if (!(FineErrors() < kFineLeft * (m + nQ) * fineLevel)) return false;
    for (int i = 0; i < m; ++i) *X(a + i) = static_cast<float>(fineRhs[static_cast<size_t>(i)]);
    ++nVersion;
    return true;
}

// Restores the chains of marked samples from nFinal on: a chain is complete when no
// click can start within kOrder samples after its last marked sample, i.e. its last
// marked sample lies kOrder before nUpTo. With bAll, also the chains (or their leading
// clicks) that end before nUpTo, whatever follows. nFinal moves to the first sample of
// the first chain left waiting, or to nUpTo.
void CDeclicker::Channel::Restore(int64_t nUpTo, bool bAll)
{
    int64_t n = nFinal;
    const int64_t nStop = std::min(nUpTo, nMarkEnd);
    while (n < nStop) {
        if (!Mark(n)) {
            ++n;
            continue;
        }
        // A chain from n: marked runs no more than kOrder apart.
        unknown.clear();
        int64_t m = n, last = n;
        while (m < nMarkEnd && m - last <= kP + 1 && static_cast<int>(unknown.size()) < kMaxUnknowns) {
            if (Mark(m)) {
                unknown.push_back(m);
                last = m;
            }
            ++m;
        }
        const bool bComplete = last + kP + 1 < nUpTo;
        if (!bComplete && !bAll) {
            nFinal = n;
            return;
        }
        if (!bComplete) {
            // Take the runs that end kOrder before nUpTo; the rest waits.
            size_t k = unknown.size();
            while (k > 0 && unknown[k - 1] + kP >= nUpTo) --k;
            while (k > 0 && k < unknown.size() && unknown[k] == unknown[k - 1] + 1) --k;
            if (k == 0) {
                nFinal = n;
                return;
            }
            unknown.resize(k);
            last = unknown.back();
        }
        if (Solve(unknown.data(), static_cast<int>(unknown.size())))
            for (int64_t t : unknown) nRepaired += t < nStreamEnd;
        n = last + 1;
    }
    nFinal = std::max(nFinal, nUpTo);
}

// Least-squares autoregressive interpolation: the values at the m positions t (rising)
// that minimise the summed squared prediction error over every error they enter, the
// other samples held. The normal equations are banded (half-width kOrder) and solved
// by Cholesky. A run of kFineSpan samples or more is restored by the finer predictor where
// it can be (FineSolve). False, samples untouched, should they prove singular.
bool CDeclicker::Channel::Solve(const int64_t* t, int m)
{
    if (m >= kFineSpan && t[m - 1] - t[0] == m - 1 && FineSolve(t[0], t[m - 1])) return true;
    if (!Interpolate(t, m)) return false;
    for (int i = 0; i < m; ++i) *X(t[i]) = static_cast<float>(rhs[static_cast<size_t>(i)]);
    ++nVersion;
    return true;
}

// The summed squared prediction error over [r0, r1] once [a, b] is interpolated.
double CDeclicker::Channel::Cost(int64_t a, int64_t b, int64_t r0, int64_t r1)
{
    trial.clear();
    for (int64_t n = a; n <= b; ++n) trial.push_back(n);
    if (!Interpolate(trial.data(), static_cast<int>(trial.size()))) return 1e300;
    const int64_t lo = r0 - kP;
    patch.assign(static_cast<size_t>(r1 - lo + 1), 0.0);
    const float* px = X(lo);
    for (size_t i = 0; i < patch.size(); ++i) patch[i] = px[i];
    for (int64_t n = a; n <= b; ++n) patch[static_cast<size_t>(n - lo)] = rhs[static_cast<size_t>(n - a)];
    const bool bShared = r0 < a || r1 > b + kP;
    if (bShared) SharedErrors(r0, r1);
    // The errors the span enters.
    const int64_t n0 = bShared ? std::max(r0, a) : r0, n1 = bShared ? std::min(r1, b + kP) : r1;
    costNew.resize(static_cast<size_t>(std::max<int64_t>(0, n1 - n0 + 1)));
    if (n1 >= n0) Dot<true>(c.data(), &patch[static_cast<size_t>(n0 - lo)], static_cast<int>(n1 - n0 + 1), costNew.data());
    double cost = 0;
    for (int64_t n = r0; n <= r1; ++n) {
        const double e = n >= n0 && n <= n1 ? costNew[static_cast<size_t>(n - n0)] : costErr[static_cast<size_t>(n - r0)];
        cost += e * e;
    }
    return cost;
}

// The errors outside [a, b + kP] do not depend on the span: the searches ask for many spans
// over the same range [r0, r1], so those are computed once into costErr.
void CDeclicker::Channel::SharedErrors(int64_t r0, int64_t r1)
{
    if (nCostVersion == nVersion && nCostLo == r0 && nCostHi == r1) return;
    costErr.resize(static_cast<size_t>(r1 - r0 + 1));
    Dot<true>(c.data(), X(r0), static_cast<int>(r1 - r0 + 1), costErr.data());
    nCostVersion = nVersion;
    nCostLo = r0;
    nCostHi = r1;
}

// No more than Cost(a, b, r0, r1), whatever interpolating [a, b] gives: the squares of the
// errors the span does not enter, summed in the same order with those it enters left out.
// Rounding never takes a sum of squares below a part of it summed alike, so a span whose
// floor already reaches the best cost of a search cannot beat it and need not be solved.
double CDeclicker::Channel::CostFloor(int64_t a, int64_t b, int64_t r0, int64_t r1)
{
    if (!(r0 < a || r1 > b + kP)) return 0;
    SharedErrors(r0, r1);
    const int64_t n0 = std::max(r0, a), n1 = std::min(r1, b + kP);
    double cost = 0;
    for (int64_t n = r0; n <= r1; ++n) {
        if (n >= n0 && n <= n1) continue;
        const double e = costErr[static_cast<size_t>(n - r0)];
        cost += e * e;
    }
    return cost;
}

// Whether the music on either side of [a, b] is one: extrapolated across the span by
// the predictor, each side lands within kContinue times its own level on the samples
// beyond. Near the stream's end, where one side is missing, that is taken for granted;
// near its start it is not: there the errors are predicted from the silence taken to
// precede the stream, and music that sets in at once (a stream cut from a longer one)
// jumps from it as a click would. A click leaves the music around it as it was; the onset
// of a note (a bass step, a drum) does not, and interpolating it away would rob the note
// of its attack.
bool CDeclicker::Channel::Continues(int64_t a, int64_t b, int64_t nEnd)
{
    constexpr int kCheck = 8;
    if (a - kP - kCheck < 0) return false;  // the stream's start
    if (b + kP + kCheck >= nEnd) return true;  // its end
    constexpr double kContinue = 5.0;
    const int len = static_cast<int>(b - a + 1);
    for (int dir = 0; dir < 2; ++dir) {
        // Forward from before a, or (dir 1) backward from after b: step s is the
        // position a + s, or b - s.
        auto At = [&](int64_t s) -> double { return *X(dir == 0 ? a + s : b - s); };
        patch.assign(static_cast<size_t>(kP + len + kCheck), 0.0);
        double ref = 0;
        for (int i = 0; i < kP; ++i) {
            patch[static_cast<size_t>(i)] = At(i - kP);
            ref += patch[static_cast<size_t>(i)] * patch[static_cast<size_t>(i)];
        }
        double miss = 0;
        for (int s = 0; s < len + kCheck; ++s) {
            double pred = 0;
            const double* pp = &patch[static_cast<size_t>(kP + s)];
            for (int k = 1; k <= kP; ++k) pred -= c[static_cast<size_t>(k)] * pp[-k];
            patch[static_cast<size_t>(kP + s)] = pred;
            if (s >= len) {
                const double d = At(s) - pred;
                miss += d * d;
            }
        }
        const double fRef = ref / kP, fMiss = miss / kCheck;
        if (fMiss > kContinue * kContinue * fRef + 1e-8) return false;
    }
    return true;
}

// Whether restoring [a, b] looks like taking a click out rather than a piece of music.
// Interpolating any span lowers the prediction error over [a, b + kOrder]: the attack of a
// kick or a struck note in loud playing, which the predictor did not foresee, by 3 to 8
// times, and a longer span, having more samples free to fit, by up to about 30, and more
// the longer it is (a stick hit in noisy playing, taken in over 30 to 40 samples, by 60);
// a span that gains no more than kSmallGain (from nLongSpan samples on, kLongGain for
// every nLongSpan samples) holds no click worth the change. A click adds an impulse to
// the music, so restoring it changes no sample by much more than the largest prediction
// error it caused; a drum hit or a sharp attack gets "restored" into something far from
// what was played, or sets in as a note does where the predictor follows it more closely
// (Onset). Such a span, or a doubtful one, is taken only when interpolating it lowers the
// prediction error many times more than restoring music ever does. lo..lim is the span of
// the step's prediction errors e.
// Close to the stream's end (bAtEnd: the errors the span enters reach past it) the
// silence taken to follow makes any gain meaningless: only the impulse test holds.
bool CDeclicker::Channel::Plausible(int64_t a, int64_t b, int64_t lo, int64_t lim, bool bDoubt, bool bAtEnd)
{
    constexpr double kSmallGain = 10.0;    // residual energy before / after, for a short click
    constexpr double kLongGain = 35.0;     // the same for a long one
    constexpr double kGain = 150.0;        // and for a big change
    constexpr double kDoubtGain = 300.0;   // and for a doubtful click
    constexpr double kOvershoot = 2.0;     // restored peak / peak of the music around, at most
    constexpr double kOnsetGain = 20.0;    // gain for a change that builds up (Onset 1); one that also swings back needs kGain
    constexpr double kTickGain = 6.0;      // gain for a one-sample click (and its margins),
    constexpr double kTickChange = 1.1;    // changed by this times its error at most,
    constexpr double kTickSlack = 3.0;     // (or by its error and this many levels more)
    constexpr double kTickAfter = 1.5;     // leaving no more squared levels per error than this
    constexpr double kTickRest = 0.25;     // (or a longer span whose other samples change by less than this times as much)
    constexpr double kClickSlack = 0.5;    // levels a short click may change a sample by beyond its error
    double fErrMax = 0;
    for (int64_t m = a; m <= b; ++m) fErrMax = std::max<double>(fErrMax, std::fabs(e[static_cast<size_t>(m - lo)]));
    const double fAfter = Cost(a, b, a, b + kP);  // leaves the restored samples in rhs
    if (fAfter >= 1e300) return false;
    // The largest change, the largest at any other sample, and the largest at any sample
    // but those two.
    double fChange = 0, fRest = 0, fThird = 0;
    for (int64_t m = a; m <= b; ++m) {
        const double d = std::fabs(rhs[static_cast<size_t>(m - a)] - *X(m));
        fThird = std::max(fThird, std::min(d, fRest));
        fRest = std::max(fRest, std::min(d, fChange));
        fChange = std::max(fChange, d);
    }
    double fBefore = 0;
    for (int64_t m = a; m <= std::min<int64_t>(b + kP, lim - 1); ++m) {
        const double v = e[static_cast<size_t>(m - lo)];
        fBefore += v * v;
    }
    const double fGain = fBefore / (fAfter + 1e-20);
    const double fMinGain = b - a + 1 >= nLongSpan ? kLongGain * static_cast<double>(b - a + 1) / nLongSpan : kSmallGain;
    // A one-sample click under loud music gains less: its impulse's error is summed with
    // the music's own over the kOrder errors the span enters. It is taken where restoring
    // leaves no more than the music's own level of error behind (the onset of a note,
    // bringing new music, leaves more) and changes the sample by little more than its error
    // (which holds the music's own error at that sample too).
    const int nSpan = static_cast<int>(b - a + 1);
    const double fSigma = 1.25 * thr[static_cast<size_t>((a - lo) / kS)] + kFloor;
    // A longer span counts where one sample carries its change (a lone click taken in with
    // some music around it), and the music's error may add a few levels either way.
    // So does a click of two samples with its margins, where those two carry the change.
    const bool bLone = nSpan <= 1 + nPre + nPost || fRest < kTickRest * fChange ||
                       (nSpan <= 2 + nPre + nPost && fThird < kTickRest * fChange);
    const bool bTick = !bDoubt && bLone && fGain > kTickGain &&
                       fChange <= std::max(kTickChange * fErrMax, fErrMax + kTickSlack * fSigma) &&
                       fAfter < kTickAfter * (nSpan + kP) * fSigma * fSigma;
    if (!(fGain > fMinGain) && !bTick) return false;
    // A click rides on the music, whose swing around it its restored samples keep to; an
    // interpolation over a span the predictor cannot follow may overshoot far beyond.
    if (RestoredPeak(a, b) > kOvershoot * PeakBeside(a, b, nPopMax) + kFloor) return false;
    if (bDoubt) return fGain > kDoubtGain;
    if (fGain > kGain && !bAtEnd) return true;
    // A short click (two samples and its margins) changes a sample by its error and what
    // the music's own error there took away from it (a level or so; a lone click's by a few
    // levels).
    const double fChangeMax = bLone ? std::max(kTickChange * fErrMax, fErrMax + kTickSlack * fSigma)
                              : nSpan <= 2 + nPre + nPost ? fErrMax + kClickSlack * fSigma
                                                          : fErrMax;
    if (!(fChange <= fChangeMax) && !bTick) return false;
    const int nOnset = Onset(a, b);
    return nOnset == 0 || (nOnset == 1 && fGain > kOnsetGain);
}

// The largest magnitude of the nReach samples on either side of [a, b]: the swing of the
// music around a span.
double CDeclicker::Channel::PeakBeside(int64_t a, int64_t b, int nReach)
{
    double f = 0;
    for (int64_t m = 1; m <= nReach; ++m)
        f = std::max({f, std::fabs(static_cast<double>(*X(a - m))), std::fabs(static_cast<double>(*X(b + m)))});
    return f;
}

// The largest magnitude of the samples restoring [a, b] would put in (rhs).
double CDeclicker::Channel::RestoredPeak(int64_t a, int64_t b) const
{
    double f = 0;
    for (int64_t m = a; m <= b; ++m) f = std::max(f, std::fabs(rhs[static_cast<size_t>(m - a)]));
    return f;
}

// How what restoring [a, b] takes away (the samples less the restored ones in rhs) sets
// in: a click comes at once, so that what it adds stands at its peak from its first
// sample (the samples beside it, marked with it, change little), or is rough (a burst
// rings from sample to sample): 0. What builds up smoothly over a sample or more (or comes
// after a smaller swing the other way) may be the onset of a note: 1; a struck note's
// attack, seen through the predictor, also swings back as far the other way: 2.
int CDeclicker::Channel::Onset(int64_t a, int64_t b) const
{
    constexpr double kLead = 0.14;     // largest change before the peak / the peak, above
    constexpr double kOneSign = 0.9;   // |sum of the change| / sum of |change|, below for a swing
    constexpr double kSmooth = 2.5;    // energy of the change's second difference / its energy, below
    auto D = [&](int64_t m) {
        return m < a || m > b ? 0.0 : static_cast<double>(x[static_cast<size_t>(m - nBase)]) - rhs[static_cast<size_t>(m - a)];
    };
    double fEnergy = 0, fRough = 0, fSum = 0, fAbs = 0, fPeak = 0, fLead = 0;
    for (int64_t m = a; m <= b; ++m) {
        const double v = D(m), q = D(m + 1) - 2 * v + D(m - 1);
        fEnergy += v * v;
        fRough += q * q;
        fSum += v;
        fAbs += std::fabs(v);
        if (std::fabs(v) > fPeak) {
            fLead = fPeak;  // the largest change before the new peak
            fPeak = std::fabs(v);
        }
    }
    if (!(fLead > kLead * fPeak && fRough < kSmooth * fEnergy)) return 0;
    return std::fabs(fSum) < kOneSign * fAbs ? 2 : 1;
}

// Whether a lone impulse at some sample of [a, b] stands out: the prediction errors it
// causes, correlated with the prediction error filter (the filter matched to an impulse
// seen through the predictor), exceed fHigh local levels times the filter's gain for
// noise. Where the predictor follows the music closely, an impulse's forward error peaks
// a sample or two after it and its backward error as much before, so that no sample
// stands out both ways round although the impulse is plain to the matched filter. A
// note's onset, seen only one way round, stays below it. Uses the step's errors (e over
// lo..lim, computed on from the samples beyond) and thresholds.
bool CDeclicker::Channel::MatchedPeak(int64_t a, int64_t b, int64_t lo, int64_t lim)
{
    constexpr double kMatch = 1.25;  // how far above fHigh levels, for the noise gain
    Matched(a, b, lo, lim);
    double fGain = 0;  // the filter's energy: its gain for white noise
    for (int k = 0; k <= kP; ++k) fGain += c[static_cast<size_t>(k)] * c[static_cast<size_t>(k)];
    const double fNoise = kMatch * std::sqrt(fGain);
    for (int64_t m = a; m <= b; ++m)
        if (std::fabs(hm[static_cast<size_t>(m - a)]) > fNoise * (params.fHigh * thr[static_cast<size_t>((m - lo) / kS)] + kFloor))
            return true;
    return false;
}

// The step's prediction errors correlated with the prediction error filter, for the
// samples a..b, into hm: how much interpolating each sample alone would lower the summed
// squared error is hm^2 / (the filter's energy). Errors beyond the step's (lim on) are
// computed from the samples.
void CDeclicker::Channel::Matched(int64_t a, int64_t b, int64_t lo, int64_t lim)
{
    const int n = static_cast<int>(b - a + 1);
    const float* pe = nullptr;
    if (b + kP < lim) {
        pe = &e[static_cast<size_t>(a - lo)];
    } else {
        errs.resize(static_cast<size_t>(n + kP));
        for (int i = 0; i < n + kP; ++i) {
            const int64_t m = a + i;
            if (m < lim) {
                errs[static_cast<size_t>(i)] = e[static_cast<size_t>(m - lo)];
                continue;
            }
            const float* px = X(m);
            float v = px[0];
            for (int k = 1; k <= kP; ++k) v += cf[static_cast<size_t>(k)] * px[-k];
            errs[static_cast<size_t>(i)] = v;
        }
        pe = errs.data();
    }
    hm.resize(static_cast<size_t>(n));
    Dot<false>(c.data(), pe, n, hm.data());
}

// Extends the banded Cholesky factor l (row i holds L(i, j) at i * (kOrder + 1) + i - j)
// of the symmetric Toeplitz matrix whose first row is r (zero beyond kOrder) from nRows
// to m rows. False, nRows at the offending row, should it prove singular.
bool CDeclicker::Channel::ExtendFactor(const std::array<double, kP + 1>& r, std::vector<double>& l, int& nRows, int m)
{
    const int w = kP + 1;
    if (static_cast<int>(l.size()) < m * w) l.resize(static_cast<size_t>(m) * w, 0.0);
    auto L = [&](int i, int j) -> double& { return l[static_cast<size_t>(i) * w + (i - j)]; };
    for (int i = nRows; i < m; ++i) {
        for (int j = std::max(0, i - kP); j <= i; ++j) {
            double v = r[static_cast<size_t>(i - j)];
            for (int k = std::max(0, i - kP); k < j; ++k) v -= L(i, k) * L(j, k);
            if (j < i) {
                L(i, j) = v / L(j, j);
            } else {
                if (!(v > 0)) return false;
                L(i, i) = std::sqrt(v);
            }
        }
        nRows = i + 1;
    }
    return true;
}

// Extends the Cholesky factor of the (Toeplitz) autocorrelation matrix of the prediction
// error filter to m rows. Interpolating any m neighbouring samples has this matrix for its
// normal equations, so that one factor serves every span of a step. False should it
// prove singular.
bool CDeclicker::Channel::Factor(int m)
{
    std::array<double, kP + 1> r = rc;
    r[0] *= 1.0 + 1e-9;
    return ExtendFactor(r, tl, nFactored, m);
}

// Sets the click [a, b] (a core of three or more samples) to the span within [aMin, bMax]
// (the core and the samples marked beside it) whose interpolation lowers the summed squared
// prediction error most, less kPerSample fSigma^2 for each sample taken: a sample that gains
// no more than that is as likely music as click, and interpolating clean music beside a
// burst costs as much as it gains. It starts within a sample of the core and ends no more
// than a sample before it. The gains come from the matched filter and the one factor
// (Matched, Factor) at the cost of a forward substitution per start.
void CDeclicker::Channel::Trim(int64_t& a, int64_t& b, int64_t aMin, int64_t bMax, int64_t lo, int64_t lim, double fSigma)
{
    const int mMax = static_cast<int>(bMax - aMin + 1);
    if (!Factor(mMax)) {
        a = aMin;
        b = bMax;
        return;
    }
    Matched(aMin, bMax, lo, lim);
    const double fPenalty = kPerSample * fSigma * fSigma;
    double best = -1e300;
    int64_t aBest = a, bBest = b;
    double fGain[kMaxUnknowns];
    for (int64_t a1 = aMin; a1 <= a + 1; ++a1) {
        const int n = static_cast<int>(bMax - a1 + 1);
        Gains(a1, aMin, n, fGain);
        for (int i = std::max(0, static_cast<int>(b - 1 - a1)); i < n; ++i) {
            const double f = fGain[i] - fPenalty * (i + 1);
            if (f > best) {
                best = f;
                aBest = a1;
                bBest = a1 + i;
            }
        }
    }
    a = aBest;
    b = bBest;
}

// How much interpolating [a, a + i] lowers the summed squared prediction error, for i
// below m, into pGain: the running sum of squares of the forward substitution with the
// factor (Factor, for m rows) through the matched filter's output (in hm from aHm on).
void CDeclicker::Channel::Gains(int64_t a, int64_t aHm, int m, double* pGain)
{
    const int w = kP + 1;
    double y[kMaxUnknowns];
    double fSum = 0;
    for (int i = 0; i < m; ++i) {
        double v = hm[static_cast<size_t>(a - aHm + i)];
        for (int k = std::max(0, i - kP); k < i; ++k) v -= tl[static_cast<size_t>(i) * w + (i - k)] * y[k];
        y[i] = v / tl[static_cast<size_t>(i) * w];
        fSum += y[i] * y[i];
        pGain[i] = fSum;
    }
}

// A faint tick of one to three samples near n, whose error stays below the level that
// starts a click: taken when the matched filter stands kFaintZ times its noise above the
// local level at its strongest sample p (a one-sample tick from kFaintZLow times, the
// less the samples around it gain beyond it the lower), nothing loud is near (that is
// for the click finder, or music), interpolating the samples around it gains hardly more
// than the tick itself (a tick is an impulse; a fast passage the predictor misses gains
// over several samples), the music on either side is one, and restoring moves its last sample
// by no more than kFaintTail times its first (a tick strikes at once and dies away or rings
// smaller; a swing of the music may grow to its third sample). It is marked alone, without
// margins: one to three samples interpolated cost far less than the tick where the music
// is bright.
void CDeclicker::Channel::Faint(int64_t& n, int64_t lo, int64_t lim, int64_t nMarkLim, int64_t nEnd)
{
    constexpr double kFaintZ = 40.0;    // squared matched filter over its noise, at least
    constexpr double kFaintZLow = 20.0;   // for a one-sample tick, plus kFaintZPerSpread
    constexpr double kFaintZPerSpread = 4.0;  // for each squared level the samples around gain
    constexpr double kFaintSpread = 6.0;  // squared levels the samples around may gain more
    constexpr int kAround = 2;          // samples around: before the tick, and after its end
    constexpr double kFaintChange = 3.0;  // change restoring makes / the impulse seen, at most
    constexpr double kFaintTail = 0.8;  // change restoring makes at a tick's last sample / at its first, at most
    if (n + kP + 2 >= lim) return;
    {
        // The matched filter's square is at most the filter's energy times that of the
        // errors it takes in (Cauchy-Schwarz): most candidates end here, cheaply.
        const float* pe = &e[static_cast<size_t>(n - 1 - lo)];
        float fSum = 0;
        for (int i = 0; i < kP + 4; ++i) fSum += pe[i] * pe[i];
        const double fLow = 1.25 * std::min(thr[static_cast<size_t>((n - 1 - lo) / kS)], thr[static_cast<size_t>((n + 2 - lo) / kS)]) + kFloor;
        if (!(fSum > 0.999 * kFaintZLow * fLow * fLow)) return;
    }
    Matched(n - 1, n + 2, lo, lim);
    int64_t p = n - 1;
    for (int64_t m = n; m <= n + 2; ++m)
        if (std::fabs(hm[static_cast<size_t>(m - n + 1)]) > std::fabs(hm[static_cast<size_t>(p - n + 1)])) p = m;
    if (p - kAround < std::max({nFinal, lo, nSkip}) || p - kP < lo || p + kP + 4 >= lim || p + 4 >= nMarkLim ||
        p - nMusic <= kP)
        return;
    double fFilter = 0;
    for (int k = 0; k <= kP; ++k) fFilter += c[static_cast<size_t>(k)] * c[static_cast<size_t>(k)];
    const double fSigma = 1.25 * thr[static_cast<size_t>((p - lo) / kS)] + kFloor, fSig2 = fSigma * fSigma;
    const double h = hm[static_cast<size_t>(p - n + 1)];
    if (!(h * h > kFaintZLow * fFilter * fSig2)) return;
    for (int64_t m = p - kP; m <= p + kP + 4; ++m)
        if (std::fabs(e[static_cast<size_t>(m - lo)]) > params.fHigh * thr[static_cast<size_t>((m - lo) / kS)] + kFloor) return;
    constexpr int kWide = 3 + 2 * kAround;
    if (!Factor(kWide)) return;
    Matched(p - kAround, p - kAround + kWide - 1, lo, lim);
    double fTick[3], fWide[kWide];
    Gains(p, p - kAround, 3, fTick);
    Gains(p - kAround, p - kAround, kWide, fWide);
    int nLen = 1;
    for (int i = 1; i < 3; ++i)
        if (fTick[i] - kPerSample * fSig2 * (i + 1) > fTick[nLen - 1] - kPerSample * fSig2 * nLen) nLen = i + 1;
    const double fSpread = fWide[kWide - 1] - fTick[nLen - 1];
    if (fSpread > kFaintSpread * fSig2) return;
    const double fZ = nLen == 1 ? std::min(kFaintZ, kFaintZLow + kFaintZPerSpread * fSpread / fSig2) : kFaintZ;
    if (!(h * h > fZ * fFilter * fSig2)) return;
    const int64_t b = p + nLen - 1;
    if (!Continues(p, b, nEnd)) return;
    // An impulse of size h / (the filter's energy) explains the matched filter's peak: a
    // restoring that moves a sample far more than that is no tick's (a predictor that rings
    // on a tone sees such peaks in the music).
    trial.clear();
    for (int64_t m = p; m <= b; ++m) trial.push_back(m);
    if (!Interpolate(trial.data(), nLen)) return;
    for (int64_t m = p; m <= b; ++m)
        if (std::fabs(rhs[static_cast<size_t>(m - p)] - *X(m)) > kFaintChange * std::fabs(h) / fFilter) return;
    if (nLen > 1 && std::fabs(rhs[static_cast<size_t>(b - p)] - *X(b)) > kFaintTail * std::fabs(rhs[0] - *X(p))) return;
    if (Steps(p, b, fSigma)) return;
    for (int64_t m = p; m <= b; ++m) Mark(m) = 1;
    nMarkEnd = std::max(nMarkEnd, b + 1);
    ++nClicks;
    n = b;
    nSkip = b + 1;
}

// Whether the faint tick [a, b], just interpolated into rhs, is rather the first samples of
// a step in the music's level. A band-limited edge of two or three samples comes late:
// restoring moves its first sample not toward the side the music steps to (the dip before
// the rise) and its last one toward it, and that one the most (the overshoot), while a
// tick is an impulse at the span's first sample, where the matched filter peaks; such an
// edge needs to step by kEdgeLevels local levels only. Otherwise the music after the span
// stays kStepLevels local levels and kStepMotion times its own sample-to-sample motion
// away from where it was before, and the samples restoring moves lie on the side the
// music steps to and by a good part of the step (the edge overshoots; a tick under moving
// music is small beside its motion). Either way the predictor, carried across the span
// from either side, misses the other side by kStepMiss levels the same way. After a tick
// the music returns to its line.
bool CDeclicker::Channel::Steps(int64_t a, int64_t b, double fSigma)
{
    constexpr int kSide = 3;         // samples averaged for the level on either side
    constexpr int kMotion = 8;       // samples on either side whose motion is averaged
    constexpr int kCheck = 4;        // samples beyond the span the predictor is checked on
    constexpr double kStepLevels = 9.0;
    constexpr double kEdgeLevels = 3.0;  // local levels an edge of the first shape steps by, at least
    constexpr double kStepMotion = 7.0;
    constexpr double kStepMiss = 1.5;
    constexpr double kStepOvershoot = 3.5;  // step / the largest move restoring makes, at most
    double fBefore = 0, fAfter = 0;
    for (int i = 1; i <= kSide; ++i) {
        fBefore += *X(a - i);
        fAfter += *X(b + i);
    }
    const double fStep = (fAfter - fBefore) / kSide, fSign = fStep > 0 ? 1.0 : -1.0;
    if (!(std::fabs(fStep) > kEdgeLevels * fSigma)) return false;
    double fMoved = 0, fMost = 0;
    for (int64_t m = a; m <= b; ++m) {
        const double d = *X(m) - rhs[static_cast<size_t>(m - a)];
        fMoved += d;
        fMost = std::max(fMost, std::fabs(d));
    }
    const double fFirst = fSign * (*X(a) - rhs[0]), fLast = fSign * (*X(b) - rhs[static_cast<size_t>(b - a)]);
    const bool bEdge = b > a && fFirst <= 0 && fLast >= fMost;
    if (!bEdge) {
        if (!(fMoved * fStep > 0) || !(std::fabs(fStep) < kStepOvershoot * fMost)) return false;
        if (!(std::fabs(fStep) > kStepLevels * fSigma)) return false;
        double fMotion = 0;
        for (int i = 0; i < kMotion; ++i)
            fMotion += std::fabs(*X(a - 1 - i) - *X(a - 2 - i)) + std::fabs(*X(b + 2 + i) - *X(b + 1 + i));
        if (!(std::fabs(fStep) > kStepMotion * fMotion / (2 * kMotion))) return false;
    }
    const double fMiss = Miss(a, b, kCheck);
    return (fStep > 0 ? fMiss : -fMiss) > kStepMiss * fSigma;
}

// How far the predictor, carried across [a, b] from either side, misses the nCheck samples
// beyond it, on average: positive where forward the music after the span lies above the
// prediction and backward the music before it lies below, as across a rising step.
double CDeclicker::Channel::Miss(int64_t a, int64_t b, int nCheck)
{
    const int len = static_cast<int>(b - a + 1);
    double fMiss = 0;
    for (int dir = 0; dir < 2; ++dir) {
        auto At = [&](int64_t s) -> double { return *X(dir == 0 ? a + s : b - s); };
        patch.assign(static_cast<size_t>(kP + len + nCheck), 0.0);
        for (int i = 0; i < kP; ++i) patch[static_cast<size_t>(i)] = At(i - kP);
        for (int s = 0; s < len + nCheck; ++s) {
            double pred = 0;
            const double* pp = &patch[static_cast<size_t>(kP + s)];
            for (int k = 1; k <= kP; ++k) pred -= c[static_cast<size_t>(k)] * pp[-k];
            patch[static_cast<size_t>(kP + s)] = pred;
            if (s >= len) fMiss += (dir == 0 ? 1 : -1) * (At(s) - pred);
        }
    }
    return fMiss / (2 * nCheck);
}

// Whether the span [a, b] of a burst (four samples or more) is rather a band-limited edge
// in the music: an attack that steps from one level to another, with the dip before its
// rise and the overshoot after it. Interpolation draws a smooth ramp through such an edge,
// starting early, so that what it removes goes first against the step and then with it,
// and the predictor, carried across the span from either side, misses the other side by
// the step. A burst added to the music leaves the music's level where it was, rings with
// either sign in any order, and mostly gains far more. Taken for an edge where restoring
// gains less than kEdgeGain, what it removes against the step lies (by its weight) before
// what it removes with it by kEdgeLead of the span, and the predictor misses by kEdgeMiss
// local levels the way the music steps.
bool CDeclicker::Channel::Edge(int64_t a, int64_t b, int64_t lo, int64_t lim)
{
    constexpr double kEdgeGain = 40.0;
    constexpr double kEdgeLead = 0.2;
    constexpr double kEdgeMiss = 6.0;
    constexpr int kSide = 3, kCheck = 4;  // as in Steps
    if (b - a + 1 < 4) return false;
    const double fAfter = Cost(a, b, a, b + kP);  // leaves the restored samples in rhs
    if (fAfter >= 1e300) return false;
    double fBefore = 0;
    for (int64_t m = a; m <= std::min<int64_t>(b + kP, lim - 1); ++m)
        fBefore += static_cast<double>(e[static_cast<size_t>(m - lo)]) * e[static_cast<size_t>(m - lo)];
    if (!(fBefore < kEdgeGain * fAfter)) return false;
    double fStep = 0;
    for (int i = 1; i <= kSide; ++i) fStep += *X(b + i) - *X(a - i);
    const double fSign = fStep > 0 ? 1.0 : -1.0;
    double fAgainst = 0, fAgainstAt = 0, fWith = 0, fWithAt = 0;  // weights, and weighted positions
    for (int64_t m = a; m <= b; ++m) {
        const double d = fSign * (*X(m) - rhs[static_cast<size_t>(m - a)]);
        (d < 0 ? fAgainst : fWith) += std::fabs(d);
        (d < 0 ? fAgainstAt : fWithAt) += std::fabs(d) * static_cast<double>(m - a);
    }
    if (!(fAgainst > 0 && fWith > 0 && fWithAt / fWith - fAgainstAt / fAgainst > kEdgeLead * static_cast<double>(b - a)))
        return false;
    const double fSigma = 1.25 * thr[static_cast<size_t>((a - lo) / kS)] + kFloor;
    return fSign * Miss(a, b, kCheck) > kEdgeMiss * fSigma;
}

// Sets the click [a, b] of one or two samples to where a tick lies: from the strongest
// sample of the matched filter within a sample of it, one to three samples (no further than
// bMax), each further one taken when it gains more than kPerSample fSigma^2. Margins
// around a click guard against a misplaced core, but restoring them where the music is
// bright costs more than the click: the matched filter places a lone impulse exactly.
// Returns what interpolating two samples more on either side of a tick of two or three
// samples gains beyond it, in squared fSigma (0 for a one-sample tick).
double CDeclicker::Channel::PlaceTick(int64_t& a, int64_t& b, int64_t bMax, int64_t lo, int64_t lim, double fSigma)
{
    if (!Factor(3)) return 0;
    Matched(a - 1, b + 1, lo, lim);
    int64_t p = a - 1;
    for (int64_t m = a; m <= b + 1; ++m)
        if (std::fabs(hm[static_cast<size_t>(m - a + 1)]) > std::fabs(hm[static_cast<size_t>(p - a + 1)])) p = m;
    Matched(p, p + 2, lo, lim);
    double fTick[3];
    Gains(p, p, 3, fTick);
    const double fPenalty = kPerSample * fSigma * fSigma;
    int nLen = 1;
    for (int i = 1; i < 3; ++i)
        if (fTick[i] - fPenalty * (i + 1) > fTick[nLen - 1] - fPenalty * nLen) nLen = i + 1;
    a = p;
    b = std::min<int64_t>(p + nLen - 1, bMax);
    constexpr int kAround = 2, kWide = 3 + 2 * kAround;
    if (a == b || p - kAround < lo || !Factor(kWide)) return 0;
    Matched(p - kAround, p - kAround + kWide - 1, lo, lim);
    double fWide[kWide];
    Gains(p - kAround, p - kAround, kWide, fWide);
    return (fWide[kWide - 1] - fTick[b - a]) / (fSigma * fSigma);
}

// Whether the tick [a, b] of two or three samples, restored alone, changes them all the
// same way and lowers the errors it enters by no more than kSmallGain: the dip a
// band-limited attack makes just before it rises, which the samples after it, restored
// with it, would gain nearly as much (see PlaceTick).
bool CDeclicker::Channel::StepAfter(int64_t a, int64_t b, int64_t lo)
{
    constexpr double kSmallGain = 10.0;  // as in Plausible
    const double fAfter = Cost(a, b, a, b + kP);
    if (fAfter >= 1e300) return false;
    int nUp = 0;
    for (int64_t m = a; m <= b; ++m) nUp += *X(m) > rhs[static_cast<size_t>(m - a)];
    if (nUp != 0 && nUp != b - a + 1) return false;
    double fBefore = 0;
    for (int64_t m = a; m <= b + kP; ++m) fBefore += static_cast<double>(e[static_cast<size_t>(m - lo)]) * e[static_cast<size_t>(m - lo)];
    return !(fBefore > kSmallGain * fAfter);
}

// Least-squares interpolation of the samples at t into rhs (see Solve).
bool CDeclicker::Channel::Interpolate(const int64_t* t, int m)
{
    const int64_t lo = t[0] - kP, hi = t[m - 1] + kP;  // inclusive
    const int nSeg = static_cast<int>(hi - lo + 1);
    seg.assign(static_cast<size_t>(nSeg), 0.0);
    const float* px = X(lo);
    for (int i = 0; i < nSeg; ++i) seg[static_cast<size_t>(i)] = px[i];
    for (int i = 0; i < m; ++i) seg[static_cast<size_t>(t[i] - lo)] = 0.0;
    // Prediction error with the unknowns at zero, from t[0] to hi.
    err.assign(static_cast<size_t>(nSeg), 0.0);
    Dot<true>(c.data(), seg.data() + kP, nSeg - kP, err.data() + kP);
    rhs.assign(static_cast<size_t>(m), 0.0);
    if (t[m - 1] - t[0] == m - 1) {
        Dot<false>(c.data(), err.data() + kP, m, rhs.data());
        for (int i = 0; i < m; ++i) rhs[static_cast<size_t>(i)] = -rhs[static_cast<size_t>(i)];
    } else {
        for (int i = 0; i < m; ++i) {
            const int j0 = static_cast<int>(t[i] - lo);
            double s = 0;
            for (int k = 0; k <= kP; ++k) s += c[static_cast<size_t>(k)] * err[static_cast<size_t>(j0 + k)];
            rhs[static_cast<size_t>(i)] = -s;
        }
    }
    // Band Cholesky: L(i, j) at i * (kP + 1) + (i - j) for 0 <= i - j <= kP. Without gaps
    // the matrix is Toeplitz and the leading rows of one factor serve every such span.
    const int w = kP + 1;
    const double* pL = nullptr;
    if (t[m - 1] - t[0] == m - 1) {
        if (!ExtendFactor(ri, il, nInterpRows, m)) return false;
        pL = il.data();
    } else {
        band.assign(static_cast<size_t>(m) * w, 0.0);
        auto L = [&](int i, int j) -> double& { return band[static_cast<size_t>(i) * w + (i - j)]; };
        auto M = [&](int i, int j) {
            const int64_t dlag = t[i] > t[j] ? t[i] - t[j] : t[j] - t[i];
            return dlag <= kP ? rc[static_cast<size_t>(dlag)] : 0.0;
        };
        const double fLoad = rc[0] * 1e-9;
        for (int j = 0; j < m; ++j) {
            double s = M(j, j) + fLoad;
            for (int k = std::max(0, j - kP); k < j; ++k) s -= L(j, k) * L(j, k);
            if (!(s > 0)) return false;
            const double d = std::sqrt(s);
            L(j, j) = d;
            for (int i = j + 1; i < std::min(m, j + w); ++i) {
                double v = M(i, j);
                for (int k = std::max(0, i - kP); k < j; ++k) v -= L(i, k) * L(j, k);
                L(i, j) = v / d;
            }
        }
        pL = band.data();
    }
    auto L = [pL](int i, int j) { return pL[static_cast<size_t>(i) * w + (i - j)]; };
    for (int i = 0; i < m; ++i) {  // L y = rhs
        double s = rhs[static_cast<size_t>(i)];
        for (int k = std::max(0, i - kP); k < i; ++k) s -= L(i, k) * rhs[static_cast<size_t>(k)];
        rhs[static_cast<size_t>(i)] = s / L(i, i);
    }
    for (int i = m - 1; i >= 0; --i) {  // L' u = y
        double s = rhs[static_cast<size_t>(i)];
        for (int k = i + 1; k < std::min(m, i + w); ++k) s -= L(k, i) * rhs[static_cast<size_t>(k)];
        rhs[static_cast<size_t>(i)] = s / L(i, i);
    }
    return true;
}

CDeclicker::CDeclicker(int32_t nChannels, int32_t nRate, CDeclickLevel level)
    : m_nChannels(std::max<int32_t>(1, nChannels)), m_nRate(std::max<int32_t>(8000, nRate)), m_level(level)
{
    const double fScale = m_nRate / 44100.0;
    for (int32_t ch = 0; ch < m_nChannels; ++ch) {
        auto p = std::make_unique<Channel>();
        p->params = ParamsOf(level);
        p->nMaxRun = static_cast<int>(std::lround(48 * fScale));
        p->nMerge = static_cast<int>(std::lround(6 * fScale));
        p->nGrowGap = static_cast<int>(std::lround(8 * fScale));
        p->nMaxWiden = static_cast<int>(std::lround(32 * fScale));
        p->nLongSpan = static_cast<int>(std::lround(12 * fScale));
        p->nPopMin = static_cast<int>(std::lround(18 * fScale));
        p->nPopMax = static_cast<int>(std::lround(32 * fScale));
        p->nPopBack = static_cast<int>(std::lround(12 * fScale));
        p->nPopAhead = p->nPopMax + 4;
        p->nIsoReach = RoundUp(static_cast<int>(std::lround(2048 * fScale)), kS);
        p->nRate = m_nRate;
        p->nBack = RoundUp(p->nMaxWiden + p->nPre, kS);
        p->nAhead = RoundUp(std::max((kK + 1) * kS, p->nMaxRun + p->nMerge + p->nMaxWiden + kS), kS);
        p->nBeyond = p->nMaxWiden + kP;
        p->nTail = p->nAhead + p->nBeyond + kStep + p->nPost + kP + 64;
        p->Reset(kModelWindow + kStep + p->nBack + kS * (kK + 1));
        m_channels.push_back(std::move(p));
    }
    const Channel& c0 = *m_channels.front();
    m_nLatency = kStep + c0.Wait() + c0.nBack + kMaxPending + kP;
}

CDeclicker::~CDeclicker() = default;

int64_t CDeclicker::Clicks() const
{
    int64_t n = 0;
    for (const auto& p : m_channels) n += p->nClicks;
    return n;
}

int64_t CDeclicker::RepairedSamples() const
{
    int64_t n = 0;
    for (const auto& p : m_channels) n += p->nRepaired;
    return n;
}

size_t CDeclicker::Process(const float* pIn, size_t nFrames, float* pOut, uint8_t* pMarks)
{
    const int64_t nEnd = m_nIn + static_cast<int64_t>(nFrames);
    for (int32_t ch = 0; ch < m_nChannels; ++ch) {
        Channel& c = *m_channels[static_cast<size_t>(ch)];
        c.Grow(nEnd);
        float* px = c.X(m_nIn);
        if (m_nChannels == 2)  // a stride the compiler knows
            for (size_t i = 0; i < nFrames; ++i) px[i] = pIn[2 * i + static_cast<size_t>(ch)];
        else
            for (size_t i = 0; i < nFrames; ++i) px[i] = pIn[i * static_cast<size_t>(m_nChannels) + static_cast<size_t>(ch)];
        c.nHeld = nEnd;
    }
    for (int32_t ch = 0; ch < m_nChannels; ch += 2) {
        const bool bPair = ch + 1 < m_nChannels;
        Channel::Band(m_channels[static_cast<size_t>(ch)].get(), bPair ? m_channels[static_cast<size_t>(ch) + 1].get() : nullptr,
                      m_nIn, nFrames);
    }
    for (auto& p : m_channels) {
        Channel& c = *p;
        while (c.nDetect + kStep + c.Wait() <= c.nHeld) c.Step(INT64_MAX);
    }
    m_nIn = nEnd;
    return Emit(m_nIn - m_nLatency, pOut, pMarks);
}

size_t CDeclicker::Finish(float* pOut, uint8_t* pMarks)
{
    for (auto& p : m_channels) {
        Channel& c = *p;
        while (c.nDetect < m_nIn) {
            c.Grow(c.nDetect + kStep + c.Wait());
            c.Step(m_nIn);
        }
        // Nothing is known after the last sample: a click close to it is restored
        // from what comes before, the samples after the end taken as unknown too.
        bool bNearEnd = false;
        for (int64_t n = std::max(c.nFinal, m_nIn - kP - 1); n < m_nIn; ++n) bNearEnd = bNearEnd || c.Mark(n);
        if (bNearEnd)
            for (int64_t n = m_nIn; n < m_nIn + kP; ++n) c.Mark(n) = 1;
        c.nMarkEnd = std::max(c.nMarkEnd, bNearEnd ? m_nIn + kP : 0);
        c.nStreamEnd = m_nIn;
        c.Restore(m_nIn + 2 * kP + 2, true);
    }
    const size_t n = Emit(m_nIn, pOut, pMarks);
    for (auto& p : m_channels) p->Reset(kModelWindow + kStep + p->nBack + kS * (kK + 1));
    m_nIn = m_nOut = 0;
    return n;
}

size_t CDeclicker::Emit(int64_t nUpTo, float* pOut, uint8_t* pMarks)
{
    if (nUpTo <= m_nOut) return 0;
    const size_t nFrames = static_cast<size_t>(nUpTo - m_nOut);
    const size_t nCh = static_cast<size_t>(m_nChannels);
    for (auto& p : m_channels)
        if (p->nFinal < nUpTo) p->Restore(nUpTo, true);  // a chain too long to wait for
    if (nCh == 2) {
        // Both channels in one pass: whole output frames are stored, which vectorizes.
        const float* px0 = m_channels[0]->X(m_nOut);
        const float* px1 = m_channels[1]->X(m_nOut);
        for (size_t i = 0; i < nFrames; ++i) {
            pOut[2 * i] = px0[i];
            pOut[2 * i + 1] = px1[i];
        }
        if (pMarks) {
            const uint8_t* pm0 = &m_channels[0]->Mark(m_nOut);
            const uint8_t* pm1 = &m_channels[1]->Mark(m_nOut);
            for (size_t i = 0; i < nFrames; ++i) {
                pMarks[2 * i] = pm0[i];
                pMarks[2 * i + 1] = pm1[i];
            }
        }
    } else {
        for (size_t ch = 0; ch < nCh; ++ch) {
            const float* px = m_channels[ch]->X(m_nOut);
            const uint8_t* pm = &m_channels[ch]->Mark(m_nOut);
            for (size_t i = 0; i < nFrames; ++i) pOut[i * nCh + ch] = px[i];
            if (pMarks)
                for (size_t i = 0; i < nFrames; ++i) pMarks[i * nCh + ch] = pm[i];
        }
    }
    for (size_t ch = 0; ch < nCh; ++ch) {
        Channel& c = *m_channels[ch];
        const int64_t nKeep = std::min(m_nOut + static_cast<int64_t>(nFrames),
                                       std::min((c.nNextGrid - kGrid) * kStep,
                                                std::min(c.nDetect - c.nBack - kS * (kK + 1), c.nDetect - c.nIsoReach - 2 * kS))) -
                              kP - kS;
        c.Compact(nKeep);
    }
    m_nOut = nUpTo;
    return nFrames;
}

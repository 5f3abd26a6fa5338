#include "tools/SplitPlan.h"

#include "capture/AutoResetEvent.h"
#include "capture/WaveIn.h"
#include "engine/EndGapListener.h"
#include "tools/SplitOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Shortest stretch worth naming when a split explains itself.
const double kReportedSeconds = 0.1;
// Stretches named at most.
const size_t kReportedCount = 3;
// Left out at either end of a stretch when a setting is suggested for it.
const double kSuggestionMarginSeconds = 0.03;

std::string Format(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* szFormat, ...)
{
    char sz[512];
    va_list args;
    va_start(args, szFormat);
    std::vsnprintf(sz, sizeof sz, szFormat, args);
    va_end(args);
    return sz;
}

// A number of seconds as typed on a command line: no trailing zeros ("0.7", "1.25", "30").
std::string Plain(double f)
{
    std::string str = Format("%.2f", f);
    while (!str.empty() && str.back() == '0') str.pop_back();
    if (!str.empty() && str.back() == '.') str.pop_back();
    return str;
}

std::string Seconds(int64_t nFrames, int32_t nRate) { return Format("%.2f s", static_cast<double>(nFrames) / nRate); }

// Whole decibels the level never exceeds ("never above -41 dB"); 0 is digital silence.
std::string NeverAbove(float fLoudest)
{
    if (!(fLoudest > 0)) return "digital silence";
    return Format("never above %d dB", static_cast<int>(std::ceil(20.0 * std::log10(fLoudest))));
}

// Whether a buffer holds a sample above the gap level, judged as the recording session
// judges its last file.
bool HasLoudSample(const uint8_t* pData, int32_t nBytes, int16_t nBits, int32_t nGapLevelPosition)
{
    const double fLevel16 = -static_cast<double>(nGapLevelPosition);
    if (nBits == 16) {
        for (int32_t i = 0; i + 1 < nBytes; i += 2) {
            int16_t s;
            std::memcpy(&s, pData + i, 2);
            if (std::abs(static_cast<double>(s)) > fLevel16) return true;
        }
    } else {
        const double fLevel = fLevel16 / 32768.0;
        for (int32_t i = 0; i + 3 < nBytes; i += 4) {
            float s;
            std::memcpy(&s, pData + i, 4);
            if (!(std::abs(static_cast<double>(s)) <= fLevel)) return true;
        }
    }
    return false;
}

CSongSplitter Prepared(const CSongSplitter& settings)
{
    CSongSplitter s = settings;
    s.PrepareForRecording();
    return s;
}

// Writes a whole text file; on failure says which file (`what`, the path) and why.
bool WriteText(const std::string& strPath, const std::string& strText, const char* what, std::string* pstrError)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strText;
    out.close();
    if (!out) {
        *pstrError = std::string("cannot write ") + what + " " + strPath + ": " + std::strerror(errno) + ".";
        return false;
    }
    return true;
}

}  // namespace

std::string FrameClock(int64_t nFrames, int32_t nRate)
{
    if (nRate <= 0) return "00:00.00";
    const int64_t nCentis = nFrames * 100 / nRate;
    return Format("%02lld:%02lld.%02lld", static_cast<long long>(nCentis / 6000),
                  static_cast<long long>(nCentis / 100 % 60), static_cast<long long>(nCentis % 100));
}

void BeginAnalysis(const CSongSplitter& settings, SplitAnalysis* pAnalysis)
{
    SplitAnalysis& a = *pAnalysis;
    const CSongSplitter splitter = Prepared(settings);
    a.nRate = splitter.GetSamplesPerSec();
    a.nBits = splitter.GetBitsPerSample() == 16 ? 16 : 32;
    a.nGapLevel = splitter.GetGapLevel();

    QuietStretchesConfig config;
    config.nRate = a.nRate;
    config.nBitsPerSample = a.nBits;
    config.fThreshold = splitter.GetGapThreshold();
    config.bPassBursts = splitter.GetIgnoreClicks() != 0;
    a.quiet = CQuietStretches(config);
    const float fFullScale = a.nBits == 16 ? 32768.0f : 1.0f;
    config.fThreshold = std::min(static_cast<float>(config.fThreshold * std::pow(10.0, kNearlyQuietDb / 20.0)),
                                 fFullScale * 0.5f);
    a.nearlyQuiet = CQuietStretches(config);
}

void AnalyseBuffer(const uint8_t* pData, int32_t nLen, int32_t bCut, int32_t nCutOffset, int32_t bEnd,
                   SplitAnalysis* pAnalysis)
{
    SplitAnalysis& a = *pAnalysis;
    const int32_t nFrameBytes = a.nBits == 16 ? 4 : 8;
    a.quiet.Feed(pData, nLen);
    a.nearlyQuiet.Feed(pData, nLen);
    if (!a.bEndReached) {
        if (bCut) {
            a.splitterCuts.push_back((a.nBytesFed + nCutOffset) / nFrameBytes);
            a.bLastFileLoud = false;
        }
        if (!a.bLastFileLoud) {
            const int32_t nFrom = bCut ? std::min(std::max(nCutOffset, 0), nLen) : 0;
            a.bLastFileLoud = HasLoudSample(pData + nFrom, nLen - nFrom, a.nBits, a.nGapLevel);
        }
        if (bEnd) {
            a.bEndReached = true;
            a.nSplitFrames = (a.nBytesFed + nLen) / nFrameBytes;
        }
    }
    a.nBytesFed += nLen;
}

bool AnalyseInput(const std::string& strInput, const CSongSplitter& settings, int32_t nBufferBytes,
                  const volatile std::sig_atomic_t* pbInterrupted, SplitAnalysis* pAnalysis, std::string* pstrError,
                  double fListenSeconds)
{
    SplitAnalysis& a = *pAnalysis;
    a = SplitAnalysis();
    BeginAnalysis(settings, &a);
    CSongSplitter splitter = Prepared(settings);
    const int32_t nFrameBytes = a.nBits == 16 ? 4 : 8;

    WaveFormat format;
    format.tag = a.nBits == 16 ? 1 : 3;
    format.channels = 2;
    format.samplesPerSec = static_cast<uint32_t>(a.nRate);
    format.blockAlign = static_cast<uint16_t>(nFrameBytes);
    format.avgBytesPerSec = static_cast<uint32_t>(a.nRate) * format.blockAlign;
    format.bitsPerSample = static_cast<uint16_t>(a.nBits);

    CWaveIn waveIn;
    CAutoResetEvent evReady;
    auto failed = [&]() {
        if (!waveIn.HasError()) return false;
        *pstrError = waveIn.GetErrorText();
        waveIn.Close();
        return true;
    };
    waveIn.UseFileSource(strInput.c_str(), false);
    if (failed()) return false;
    waveIn.Open(format, WaveInNotify, &evReady, CALLBACK_FUNCTION);
    if (failed()) return false;
    waveIn.AllocateBuffers(nBufferBytes);
    if (failed()) return false;
    evReady.Reset();
    waveIn.Start();
    if (failed()) return false;

    std::vector<uint8_t> buffer(static_cast<size_t>(nBufferBytes));
    // Every buffer reaches the sink once, in order, processed; after the end gap the
    // listener may hold some back for a while, as the session does.
    CEndGapListener listener;
    listener.Start(&splitter, fListenSeconds);
    auto sink = [&](const CEndGapListener::Piece& piece) {
        AnalyseBuffer(piece.pData, piece.nBytes, piece.bCut, piece.nCutOffset, piece.bEnd, &a);
        return true;
    };
    auto process = [&](int32_t nLen) { listener.Feed(buffer.data(), nLen, sink); };
    for (;;) {
        if (pbInterrupted != nullptr && *pbInterrupted) {
            a.bStopped = true;
            break;
        }
        evReady.Wait();
        const int32_t nLen = waveIn.GetNextBuffer(buffer.data());
        if (failed()) return false;
        process(nLen);
        if (nLen != nBufferBytes) break;
    }
    // The input ended while listening: nothing came back, the end gap ends the split.
    listener.Finish(sink);
    for (int32_t nLen = waveIn.Stop(buffer.data()); nLen > 0 && !a.bStopped; nLen = waveIn.Drain(buffer.data()))
        process(nLen);
    waveIn.Close();
    a.quiet.Finish();
    a.nearlyQuiet.Finish();
    a.nInputFrames = a.nBytesFed / nFrameBytes;
    if (!a.bEndReached) a.nSplitFrames = a.nInputFrames;
    return true;
}

bool FinishAnalysis(const std::string& strInput, const CSongSplitter& settings, int32_t nBufferBytes,
                    const volatile std::sig_atomic_t* pbInterrupted, SplitAnalysis* pAnalysis, std::string* pstrError,
                    double fListenSeconds)
{
    SplitAnalysis& a = *pAnalysis;
    // After an end gap the input goes on unread (or held back by listening): read it all.
    if (a.bEndReached)
        return AnalyseInput(strInput, settings, nBufferBytes, pbInterrupted, pAnalysis, pstrError, fListenSeconds);
    // Otherwise the split has judged the whole input, and the analysis has seen it all.
    a.quiet.Finish();
    a.nearlyQuiet.Finish();
    a.nInputFrames = a.nBytesFed / (a.nBits == 16 ? 4 : 8);
    a.nSplitFrames = a.nInputFrames;
    return true;
}

std::vector<SplitSong> SongsFromCuts(const std::vector<int64_t>& cuts, int64_t nFrames)
{
    std::vector<SplitSong> songs;
    int64_t nStart = 0;
    for (int64_t nCut : cuts) {
        songs.push_back({nStart, nCut});
        nStart = nCut;
    }
    songs.push_back({nStart, nFrames});
    return songs;
}

std::vector<SplitSong> PlainSplitSongs(const SplitAnalysis& a, const CSongSplitter& settings)
{
    std::vector<SplitSong> songs = SongsFromCuts(a.splitterCuts, a.nSplitFrames);
    const int64_t nLastBytes = (songs.back().nEnd - songs.back().nStart) * (a.nBits == 16 ? 4 : 8);
    if (!a.bStopped && (a.bEndReached || !a.bLastFileLoud) && settings.IsShorterThanEndGap(nLastBytes))
        songs.pop_back();
    return songs;
}

bool PlanSongCount(const SplitAnalysis& a, const CSongSplitter& settings, int nSongs, std::vector<int64_t>* pCuts,
                   std::string* pstrError)
{
    const CSongSplitter s = Prepared(settings);
    const int64_t nMinSong = s.GetMinSongSamples() / 2;
    if (a.nInputFrames < nMinSong * nSongs) {
        *pstrError = Format("the recording (%s) cannot hold %d songs of at least %s (--min-song); nothing was written.",
                            FrameClock(a.nInputFrames, a.nRate).c_str(), nSongs, Seconds(nMinSong, a.nRate).c_str());
        return false;
    }
    // The silences at the gap level first; where too few lie far enough apart, the
    // nearly quiet stretches too.
    std::vector<int64_t> cuts = a.quiet.ChooseCuts(nSongs - 1, nMinSong, s.GetGapSamples());
    cuts = a.nearlyQuiet.ChooseCuts(nSongs - 1, nMinSong, s.GetGapSamples(), cuts);
    if (static_cast<int>(cuts.size()) < nSongs - 1) {
        *pstrError = Format("found only %d of the %d quiet places needed for %d songs at least %s apart; "
                            "nothing was written. A lower --min-song may help.",
                            static_cast<int>(cuts.size()), nSongs - 1, nSongs, Seconds(nMinSong, a.nRate).c_str());
        return false;
    }
    *pCuts = cuts;
    return true;
}

bool PlanSongLengths(const SplitAnalysis& a, const CSongSplitter& settings, const std::vector<double>& lengths,
                     std::vector<int64_t>* pCuts, std::string* pstrNotes, std::string* pstrError)
{
    const CSongSplitter s = Prepared(settings);
    const int64_t nFirst = a.quiet.FirstLoudFrame();
    if (nFirst < 0) {
        *pstrError = "the recording holds no sound above the gap level; nothing was written.";
        return false;
    }
    const int64_t nWindow = static_cast<int64_t>(kLengthWindowSeconds * a.nRate);
    std::vector<int64_t> cuts;
    double fSum = 0;
    for (size_t k = 0; k < lengths.size(); ++k) {
        fSum += lengths[k];
        const int64_t nExpected = nFirst + std::llround(fSum * a.nRate);
        const bool bLast = k + 1 == lengths.size();
        if (bLast) {
            // The last song runs to the end, unless more sound follows well after it.
            if (nExpected >= a.nInputFrames || a.quiet.LastLoudFrame() <= nExpected + nWindow) break;
        } else if (nExpected >= a.nInputFrames) {
            *pstrError = Format("the lengths add up to more than the recording: song %d would end at %s, after "
                                "the end at %s; nothing was written.",
                                static_cast<int>(k + 1), FrameClock(nExpected, a.nRate).c_str(),
                                FrameClock(a.nInputFrames, a.nRate).c_str());
            return false;
        }
        // A song is at least a second long: no cut before that, and none in a stretch
        // already cut.
        const int64_t nEarliest = (cuts.empty() ? 0 : cuts.back()) + a.nRate;
        auto best = [&](const CQuietStretches& finder, QuietStretch* pFound, int64_t* pnCut) {
            return CQuietStretches::CutNear(finder.Stretches(), nExpected, nWindow, nEarliest, a.nInputFrames,
                                            s.GetGapSamples(), pFound, pnCut);
        };
        QuietStretch st;
        int64_t nCut = 0;
        const std::string strSong = Format("The end of song %d (expected at %s) has no silence within %d s",
                                           static_cast<int>(k + 1), FrameClock(nExpected, a.nRate).c_str(),
                                           static_cast<int>(kLengthWindowSeconds));
        if (best(a.quiet, &st, &nCut)) {
            // A silence: cut as the gap rule would.
        } else if (best(a.nearlyQuiet, &st, &nCut)) {
            *pstrNotes += strSong + Format("; cut at %s instead, in %s of quiet %s.\n",
                                           FrameClock(nCut, a.nRate).c_str(),
                                           Seconds(st.nSamples / 2, a.nRate).c_str(),
                                           NeverAbove(st.fLoudestInside).c_str());
        } else if (std::max(nExpected, nEarliest) < a.nInputFrames) {
            nCut = std::max(nExpected, nEarliest);
            *pstrNotes += strSong + Format("; cut at %s instead.\n", FrameClock(nCut, a.nRate).c_str());
        } else {
            break;  // no room for another song
        }
        cuts.push_back(nCut);
    }
    *pCuts = cuts;
    return true;
}

bool LooksUndercut(const std::vector<SplitSong>& songs)
{
    if (songs.size() <= 1) return true;
    for (size_t i = 0; i < songs.size(); ++i) {
        std::vector<int64_t> others;
        for (size_t j = 0; j < songs.size(); ++j)
            if (j != i) others.push_back(songs[j].nEnd - songs[j].nStart);
        std::nth_element(others.begin(), others.begin() + others.size() / 2, others.end());
        if (4 * (songs[i].nEnd - songs[i].nStart) > 7 * others[others.size() / 2]) return true;
    }
    return false;
}

std::string ExplainSplit(const SplitAnalysis& a, const CSongSplitter& settings, const std::vector<SplitSong>& songs)
{
    if (!LooksUndercut(songs)) return "";
    const CSongSplitter prepared = Prepared(settings);
    const float fFullScale = a.nBits == 16 ? 32768.0f : 1.0f;

    // The songs that look like more than one, and what is said of them.
    std::string strText;
    std::vector<SplitSong> suspects;
    if (songs.size() <= 1) {
        strText = "No cut was made.";
        suspects.push_back({0, a.nSplitFrames});
    } else {
        for (size_t i = 0; i < songs.size(); ++i) {
            std::vector<SplitSong> others = songs;
            others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
            std::vector<int64_t> lengths;
            for (const SplitSong& o : others) lengths.push_back(o.nEnd - o.nStart);
            std::nth_element(lengths.begin(), lengths.begin() + lengths.size() / 2, lengths.end());
            if (4 * (songs[i].nEnd - songs[i].nStart) <= 7 * lengths[lengths.size() / 2]) continue;
            suspects.push_back(songs[i]);
            strText += Format("%sSong %d (%s, from %s) is much longer than the others.",
                              strText.empty() ? "" : "\n", static_cast<int>(i + 1),
                              FrameClock(songs[i].nEnd - songs[i].nStart, a.nRate).c_str(),
                              FrameClock(songs[i].nStart, a.nRate).c_str());
        }
    }

    // Nearly quiet stretches inside them that hold no cut, most convincing first.
    std::vector<QuietStretch> candidates;
    for (const QuietStretch& st : a.nearlyQuiet.Stretches()) {
        const int64_t nEnd = st.nStart + st.nLength;
        if (st.bLeading || st.bTrailing || nEnd > a.nSplitFrames) continue;
        if (st.nSamples < static_cast<int64_t>(kReportedSeconds * 2 * a.nRate)) continue;
        bool bInSuspect = false;
        for (const SplitSong& song : suspects) bInSuspect = bInSuspect || (st.nStart < song.nEnd && nEnd > song.nStart);
        bool bCut = false;
        for (int64_t nCut : a.splitterCuts) bCut = bCut || (nCut >= st.nStart && nCut <= nEnd);
        if (bInSuspect && !bCut) candidates.push_back(st);
    }
    std::sort(candidates.begin(), candidates.end(), CQuietStretches::IsMoreConvincing);
    if (candidates.empty()) {
        const double fDb = 20.0 * std::log10(prepared.GetGapThreshold() / fFullScale) + kNearlyQuietDb;
        return strText + Format(" There is no quiet stretch of %.2f s or more at or below %d dB where a cut is "
                                "missing: --songs or --lengths can cut it all the same.\n",
                                kReportedSeconds, static_cast<int>(std::min(std::floor(fDb), -6.0)));
    }
    if (candidates.size() > kReportedCount) candidates.resize(kReportedCount);

    for (size_t i = 0; i < candidates.size(); ++i) {
        const QuietStretch& st = candidates[i];
        CSongSplitter t = prepared;
        std::string strSettings;
        // Gap Level: the loudest sample in the stretch must not be loud.
        const float fLoudest = st.fLoudestInside * fFullScale;
        bool bPossible = true;
        // What surely stays quiet for the splitter: its filters ring on for a moment after
        // a sound, and sound fades in and out at the edges.
        const int64_t nSamples =
            std::max<int64_t>(st.nSamples - static_cast<int64_t>(4 * kSuggestionMarginSeconds * a.nRate), 0);
        if (fLoudest > t.GetGapThreshold()) {
            int nDb = static_cast<int>(std::ceil(20.0 * std::log10(st.fLoudestInside)));
            for (;; ++nDb) {
                t.SetGapLevel(GapLevelPosition(nDb));
                t.PrepareForRecording();
                if (t.HasError() || t.GetGapThreshold() >= fLoudest) break;
            }
            bPossible = !t.HasError();
            strSettings += Format(" --gap-level %d", nDb);
        }
        // Gap Size: no longer than the stretch.
        if (bPossible && nSamples < t.GetGapSamples()) {
            const double fSeconds = nSamples / (2.0 * a.nRate);
            const double fStep = fSeconds >= 0.2 ? 0.1 : 0.01;
            double fSize = std::floor(fSeconds / fStep + 1e-9) * fStep;
            for (; fSize >= 0.01 - 1e-9; fSize -= fStep) {
                t.SetGapSize(GapSizePosition(fSize));
                t.PrepareForRecording();
                if (!t.HasError() && t.GetGapSamples() <= nSamples) break;
            }
            bPossible = fSize >= 0.01 - 1e-9;
            strSettings += " --gap-size " + Plain(fSize);
        }
        // Min Song: the cut must come late enough after the one before it.
        if (bPossible) {
            const int64_t nCut = std::min(CQuietStretches::CutFrame(st, t.GetGapSamples()) + (st.nSamples - nSamples) / 4,
                                          st.nStart + st.nLength);
            int64_t nBefore = 0;
            for (int64_t nOther : a.splitterCuts)
                if (nOther < nCut) nBefore = nOther;
            if (nCut - nBefore < t.GetMinSongSamples() / 2) {
                const double fSong = std::floor(static_cast<double>(nCut - nBefore) / a.nRate);
                t.SetMinSong(MinSongPosition(fSong));
                bPossible = fSong >= 1 && !t.HasError();
                strSettings += " --min-song " + Plain(fSong);
            }
        }
        std::string strVerdict;
        if (!bPossible) strVerdict = "no setting would cut there";
        else if (!strSettings.empty()) strVerdict = strSettings.substr(1) + " would cut there";
        else if (prepared.GetIgnoreClicks()) strVerdict = "--smart-gap off may cut there";
        else strVerdict = "the gap rules would cut there";
        strText += Format("%s%s %s at %s, %s: %s.", strText.empty() ? "" : (i == 0 ? " " : "\n"),
                          i == 0 ? "The longest quiet stretch that did not become a cut was" : "Next:",
                          Seconds(st.nSamples / 2, a.nRate).c_str(), FrameClock(st.nStart, a.nRate).c_str(),
                          NeverAbove(st.fLoudestInside).c_str(), strVerdict.c_str());
    }
    return strText + "\n";
}

std::string ExplainEndGap(const SplitAnalysis& a, const CSongSplitter& settings, double fListenSeconds)
{
    if (!a.bEndReached || a.quiet.LastLoudFrame() < a.nSplitFrames) return "";
    // The silence the split ended in.
    const QuietStretch* pGap = nullptr;
    for (const QuietStretch& st : a.quiet.Stretches())
        if (st.nStart < a.nSplitFrames && st.nStart + st.nLength >= a.nSplitFrames - a.nRate) pGap = &st;
    if (pGap == nullptr) return "";
    std::string strText = Format("The end gap ended the split in %s of silence at %s, but sound follows: ",
                                 Seconds(pGap->nSamples / 2, a.nRate).c_str(), FrameClock(pGap->nStart, a.nRate).c_str());
    if (fListenSeconds > 0) {
        // The end gap and the listening together were shorter than the silence.
        const CSongSplitter s = Prepared(settings);
        const int64_t nOver = pGap->nSamples - s.GetEndGapSamples();
        const int nListen = static_cast<int>(nOver / (2 * a.nRate)) + 1;
        if (nListen <= 120) return strText + Format("--listen %d would split on past it.\n", nListen);
        return strText + "it is longer than the end gap and the longest listening together; --songs or --lengths "
                         "split on past it.\n";
    }
    CSongSplitter t = settings;
    for (int nSeconds = static_cast<int>(pGap->nSamples / (2 * a.nRate)) + 1; nSeconds <= 30; ++nSeconds) {
        t.SetEndGap(EndGapPosition(nSeconds));
        t.PrepareForRecording();
        if (!t.HasError() && t.GetEndGapSamples() > pGap->nSamples)
            return strText + Format("--end-gap %d would split on past it.\n", nSeconds);
    }
    return strText + "it is longer than the longest end gap; --songs or --lengths split on past it.\n";
}

// The longest file name a cue sheet's reader takes whole.
constexpr size_t kMaxCueFileName = 1022;

bool WriteCueSheet(const std::string& strPath, const std::string& strInput, const std::vector<SplitSong>& songs,
                   int32_t nRate, std::string* pstrError)
{
    if (songs.size() > 99) {
        *pstrError = Format("a cue sheet holds at most 99 tracks, and the split has %d songs; %s was not written.",
                            static_cast<int>(songs.size()), strPath.c_str());
        return false;
    }
    // The input as seen from the cue sheet's folder (both folders as they really are: a
    // "../x" or a symbolic link in the way must not mislead the relative name).
    std::error_code ec;
    const fs::path inputPath = fs::absolute(strInput, ec);
    const fs::path input = fs::weakly_canonical(inputPath.parent_path(), ec) / inputPath.filename();
    const fs::path folder = fs::weakly_canonical(fs::absolute(strPath, ec).parent_path(), ec);
    fs::path name = input.lexically_relative(folder);
    if (name.empty()) name = input;
    // What a cue sheet can name: a reader (libcue among them) takes no escape for a double
    // quote, reads a backslash before the closing quote as one, ends the name at a line
    // break and reads at most 1022 bytes of it.
    const std::string strName = name.string();
    const char* szWhy = strName.find('"') != std::string::npos                  ? "holds a double quote"
                        : strName.find_first_of("\r\n") != std::string::npos     ? "holds a line break"
                        : strName.back() == '\\'                                 ? "ends in a backslash"
                        : strName.size() > kMaxCueFileName                        ? "is longer than 1022 bytes"
                                                                                  : nullptr;
    if (szWhy) {
        *pstrError = "cannot write the cue sheet " + strPath + ": the input's name as seen from its folder (" +
                     strName + ") " + szWhy + ", which a cue sheet cannot hold.";
        return false;
    }
    std::string strExt = input.extension().string();
    for (char& c : strExt) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const char* szType = strExt == ".aif" || strExt == ".aiff" ? "AIFF" : strExt == ".mp3" ? "MP3" : "WAVE";

    std::string strText = "REM COMMENT \"cadenzo-split\"\n";
    strText += "FILE \"" + strName + "\" " + szType + "\n";
    for (size_t i = 0; i < songs.size(); ++i) {
        const int64_t nCueFrames = nRate > 0 ? songs[i].nStart * 75 / nRate : 0;
        strText += Format("  TRACK %02d AUDIO\n    TITLE \"Song %d\"\n    INDEX 01 %02lld:%02lld:%02lld\n",
                          static_cast<int>(i + 1), static_cast<int>(i + 1),
                          static_cast<long long>(nCueFrames / (75 * 60)), static_cast<long long>(nCueFrames / 75 % 60),
                          static_cast<long long>(nCueFrames % 75));
    }
    return WriteText(strPath, strText, "the cue sheet", pstrError);
}

bool WriteLabels(const std::string& strPath, const std::vector<SplitSong>& songs, int32_t nRate, std::string* pstrError)
{
    std::string strText;
    for (size_t i = 0; i < songs.size(); ++i)
        strText += Format("%.6f\t%.6f\tSong %d\n", static_cast<double>(songs[i].nStart) / nRate,
                          static_cast<double>(songs[i].nEnd) / nRate, static_cast<int>(i + 1));
    return WriteText(strPath, strText, "the label file", pstrError);
}

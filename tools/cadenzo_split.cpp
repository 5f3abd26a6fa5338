// cadenzo-split: the recorder without a sound card. Runs the recording session (worker,
// splitter, writer, numbering, removal of a trailing silence) on a recording read from
// disk, as fast as the disk allows.

#include "capture/RecordSession.h"
#include "capture/WaveFile.h"
#include "capture/WaveIn.h"
#include "engine/SongSplitter.h"
#include "settings/PresetCommands.h"
#include "tools/ConsoleWindow.h"
#include "tools/SplitOptions.h"
#include "tools/SplitPlan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

const char* const kProgram = "cadenzo-split";
volatile std::sig_atomic_t g_bInterrupted = 0;
bool g_bBarShown = false;

void OnInterrupt(int) { g_bInterrupted = 1; }

void ClearBar()
{
    if (g_bBarShown) {
        std::fprintf(stderr, "\r%60s\r", "");
        std::fflush(stderr);
        g_bBarShown = false;
    }
}

int Fail(int nStatus, const std::string& strText)
{
    ClearBar();
    std::string str = strText;
    while (!str.empty() && str.back() == '\n') str.pop_back();
    std::fprintf(stderr, "%s: %s\n", kProgram, str.c_str());
    return nStatus;
}

// "mm:ss.cc" of a byte count at the given bytes per second.
std::string Clock(int64_t nBytes, int64_t nBytesPerSec)
{
    if (nBytesPerSec <= 0) return "00:00.00";
    int64_t nCentis = nBytes * 100 / nBytesPerSec;
    char sz[48];
    std::snprintf(sz, sizeof sz, "%02lld:%02lld.%02lld", static_cast<long long>(nCentis / 6000),
                  static_cast<long long>(nCentis / 100 % 60), static_cast<long long>(nCentis % 100));
    return sz;
}

// The first existing file named stem + number + extension in the destination folder,
// or an empty string.
std::string FirstExistingNumbered(const std::string& strBase)
{
    fs::path base(strBase);
    fs::path folder = base.parent_path().empty() ? fs::path(".") : base.parent_path();
    std::string strName = base.filename().string();
    size_t nDot = strName.find_last_of('.');
    std::string strStem = nDot == std::string::npos ? strName : strName.substr(0, nDot);
    std::string strExt = nDot == std::string::npos ? "" : strName.substr(nDot);

    long long nBest = -1;
    std::string strBest;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string strFile = it->path().filename().string();
        if (strFile.size() <= strStem.size() + strExt.size()) continue;
        if (strFile.compare(0, strStem.size(), strStem) != 0) continue;
        if (strFile.compare(strFile.size() - strExt.size(), strExt.size(), strExt) != 0) continue;
        std::string strDigits = strFile.substr(strStem.size(), strFile.size() - strStem.size() - strExt.size());
        if (strDigits.empty() || strDigits[0] == '0' || strDigits.size() > 9) continue;
        bool bDigits = true;
        for (char c : strDigits) bDigits = bDigits && c >= '0' && c <= '9';
        if (!bDigits) continue;
        long long n = std::atoll(strDigits.c_str());
        if (nBest < 0 || n < nBest) {
            nBest = n;
            strBest = CRecordSession::NumberedName(strBase, static_cast<int>(n));
        }
    }
    return strBest;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The songs of a finished recording, in frames: files continued past the size limit
// join their song, a removed trailing silence is left out.
std::vector<SplitSong> RecordedSongs(const std::vector<RecordSongFile>& files, int64_t nFrameBytes)
{
    std::vector<SplitSong> songs;
    for (const RecordSongFile& f : files) {
        const int64_t nEnd = (f.nStartByte + f.nDataBytes) / nFrameBytes;
        if (f.bDeleted) continue;
        if (f.bContinued && !songs.empty()) songs.back().nEnd = nEnd;
        else songs.push_back({f.nStartByte / nFrameBytes, nEnd});
    }
    return songs;
}

// --cue and --labels. Returns false when one could not be written (said why).
bool WriteDescriptions(const CSplitOptions& options, const std::vector<SplitSong>& songs, int32_t nRate)
{
    std::string strError;
    bool bOk = true;
    if (!options.m_strCue.empty() && !WriteCueSheet(options.m_strCue, options.m_strInput, songs, nRate, &strError))
        bOk = Fail(1, strError) == 0;
    if (!options.m_strLabels.empty() && !WriteLabels(options.m_strLabels, songs, nRate, &strError))
        bOk = Fail(1, strError) == 0;
    return bOk;
}

}  // namespace

int main(int argc, char** argv)
{
    // --preset and --list-presets read the preset file of the working directory.
    CPresetCommandLine presetArgs;
    if (!presetArgs.Extract(argc, argv)) return Fail(2, presetArgs.m_strError);
    CPresetList presets;
    if (presetArgs.m_bListPresets || presetArgs.m_strPreset) {
        std::string strPresetError;
        const bool bLoaded = LoadPresetsForCommand(presets, &strPresetError);
        if (presetArgs.m_bListPresets) {
            std::fputs(FormatPresetList(presets).c_str(), stdout);
            std::fflush(stdout);
            return bLoaded ? 0 : Fail(1, strPresetError);
        }
        if (!bLoaded) return Fail(1, strPresetError);
    }

    CSplitOptions options;
    switch (options.Parse(presetArgs.Argc(), presetArgs.Argv())) {
    case CSplitOptions::Outcome::Help: {
        std::string strHelp = CSplitOptions::HelpText();
        const size_t nAt = strHelp.find("  -h, --help");
        strHelp.insert(nAt == std::string::npos ? strHelp.size() : nAt, PresetOptionsHelp());
        std::fputs(strHelp.c_str(), stdout);
        return 0;
    }
    case CSplitOptions::Outcome::Error:
        return Fail(2, options.m_strError);
    case CSplitOptions::Outcome::Run:
        break;
    }

    CSongSplitter splitter;
    std::string strError;
    std::optional<int16_t> presetBits;
    if (presetArgs.m_strPreset) {
        const CPresets* pPreset = presets.Find(*presetArgs.m_strPreset);
        if (!pPreset)
            return Fail(2, "there is no preset named '" + *presetArgs.m_strPreset + "' (see --list-presets).");
        if (!ApplyPresetToSplitter(*pPreset, splitter, &strError)) return Fail(2, strError);
        presetBits = pPreset->m_nBitsPerSample;
    }
    if (!options.ApplyTo(splitter, &strError)) return Fail(2, strError);
    const bool bPlanned = options.m_nSongs || !options.m_lengths.empty();

    // The input: something libsndfile reads, with one or two channels.
    WaveInFileInfo info;
    if (!CWaveIn::ProbeFile(options.m_strInput.c_str(), &info, &strError)) return Fail(1, strError);
    const int16_t nBits = options.m_nBits ? *options.m_nBits
                          : presetBits   ? *presetBits
                                         : static_cast<int16_t>(info.bWide ? 32 : 16);
    splitter.SetSamplesPerSec(info.nRate);
    splitter.SetBitsPerSample(nBits);
    splitter.SetChannels(2);
    const CSongSplitter settings = splitter;  // as configured, for the analysing passes

    // The destination: an existing folder, and no numbered file replaced unasked.
    std::error_code ec;
    fs::path base = fs::absolute(options.m_strBase, ec);
    if (ec || base.filename().empty()) return Fail(2, "'" + options.m_strBase + "' is not a file name.");
    const std::string strBase = base.string();
    fs::path folder = base.parent_path();
    if (options.m_bDryRun) {
        // Nothing is written there.
    } else if (!fs::is_directory(folder, ec)) return Fail(1, "the folder " + folder.string() + " does not exist.");
    else if (::access(folder.c_str(), W_OK) != 0)
        return Fail(1, "cannot write in the folder " + folder.string() + ".");
    std::string strExisting = options.m_bDryRun ? "" : FirstExistingNumbered(strBase);
    if (!strExisting.empty()) {
        if (!options.m_bOverwrite)
            return Fail(1, strExisting + " exists; use --overwrite to replace the numbered files.");
        for (int n = 1; n <= 10000; ++n) {
            std::string strPath = CRecordSession::NumberedName(strBase, n);
            if (SameFile(strPath, options.m_strInput))
                return Fail(1, "the input " + options.m_strInput + " would be overwritten by the song files.");
        }
    }

    CWaveFile waveFile;
    CWaveIn waveIn;
    waveIn.UseFileSource(options.m_strInput.c_str(), false);
    if (waveIn.HasError()) return Fail(1, waveIn.GetErrorText());
    waveFile.SetFileName(strBase.c_str());

    CConsoleWindow window(base.filename().string(), strBase);
    CConsolePrompt prompt(options.m_bOverwrite);
    prompt.SetBeforeMessage(ClearBar);
    CRecordSession session(window, prompt, splitter, waveFile, waveIn);
    session.SetOverwriteWaitMs(0);
    session.SetStopWaitMs(0);
    session.SetRaisePriority(false);

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const int64_t nFrameBytes = 2 * (nBits / 8);
    const int64_t nBytesPerSec = static_cast<int64_t>(info.nRate) * nFrameBytes;

    // --songs, --lengths and --dry-run read the input once before anything is written.
    SplitAnalysis analysis;
    bool bAnalysed = false;
    std::string strNotes;  // --lengths: song ends that found no silence
    if (bPlanned || options.m_bDryRun) {
        if (!AnalyseInput(options.m_strInput, settings, session.GetBufferSize(), &g_bInterrupted, &analysis, &strError))
            return Fail(1, strError);
        if (analysis.bStopped) return Fail(130, "stopped; nothing was written.");
        bAnalysed = true;
        std::vector<int64_t> cuts;
        if (options.m_nSongs && !PlanSongCount(analysis, settings, *options.m_nSongs, &cuts, &strError))
            return Fail(1, strError);
        if (!options.m_lengths.empty() &&
            !PlanSongLengths(analysis, settings, options.m_lengths, &cuts, &strNotes, &strError))
            return Fail(1, strError);
        std::vector<int64_t> cutBytes;
        for (int64_t nCut : cuts) cutBytes.push_back(nCut * nFrameBytes);
        if (bPlanned) session.SetPlannedCuts(cutBytes);

        if (options.m_bDryRun) {
            std::vector<SplitSong> songs =
                bPlanned ? SongsFromCuts(cuts, analysis.nInputFrames) : PlainSplitSongs(analysis, settings);
            const int64_t nFrames = bPlanned ? analysis.nInputFrames : analysis.nSplitFrames;
            for (size_t i = 0; i < songs.size() && !options.m_bQuiet; ++i)
                std::printf("%s  %s  starts at %s\n",
                            CRecordSession::NumberedName(base.filename().string(), static_cast<int>(i + 1)).c_str(),
                            FrameClock(songs[i].nEnd - songs[i].nStart, info.nRate).c_str(),
                            FrameClock(songs[i].nStart, info.nRate).c_str());
            std::printf("%d song file%s would be written from %s (%s of audio); nothing was written.\n",
                        static_cast<int>(songs.size()), songs.size() == 1 ? "" : "s", options.m_strInput.c_str(),
                        FrameClock(nFrames, info.nRate).c_str());
            if (nFrames < analysis.nInputFrames)
                std::printf("The end gap would end the split at %s; the last %s of the input would not be split.\n",
                            FrameClock(nFrames, info.nRate).c_str(),
                            FrameClock(analysis.nInputFrames - nFrames, info.nRate).c_str());
            std::fputs(strNotes.c_str(), stdout);
            if (!bPlanned) std::fputs((ExplainEndGap(analysis, settings) + ExplainSplit(analysis, settings, songs)).c_str(), stdout);
            std::fflush(stdout);
            return WriteDescriptions(options, songs, info.nRate) ? 0 : 1;
        }
    }

    session.OnRecord();
    if (!session.IsRecording()) return 1;  // the session said why

    const bool bBar = !options.m_bQuiet && ::isatty(STDERR_FILENO);
    const int64_t nInputBytes = info.nFrames * 2 * (nBits / 8);
    size_t nListed = 0;
    int nLastPercent = -1;
    bool bStopped = false;

    auto listClosed = [&](bool bAll) {
        std::vector<RecordSongFile> files = session.GetSongFiles();
        for (; nListed < files.size(); ++nListed) {
            const RecordSongFile& f = files[nListed];
            if (!f.bClosed && !bAll) break;
            if (f.bDeleted || options.m_bQuiet) continue;
            ClearBar();
            std::printf("%s  %s  starts at %s\n", f.strFile.c_str(), Clock(f.nDataBytes, nBytesPerSec).c_str(),
                        Clock(f.nStartByte, nBytesPerSec).c_str());
            std::fflush(stdout);
        }
    };

    while (session.IsRecording()) {
        if (g_bInterrupted && !bStopped) {
            bStopped = true;
            session.OnStop();
        }
        CConsoleWindow::Event ev;
        if (!window.Next(&ev, std::chrono::milliseconds(200))) continue;
        switch (ev.kind) {
        case CConsoleWindow::Event::Progress:
            session.OnRecordProgress(ev.nBytes, ev.bCut);
            if (ev.bCut) listClosed(false);
            if (bBar && nInputBytes > 0) {
                int nPercent = static_cast<int>(session.GetTotalBytes() * 100 / nInputBytes);
                if (nPercent != nLastPercent) {
                    nLastPercent = nPercent;
                    int nFill = std::min(nPercent, 100) * 30 / 100;
                    std::fprintf(stderr, "\r[%s%s] %3d%%  %s", std::string(nFill, '#').c_str(),
                                 std::string(30 - nFill, ' ').c_str(), nPercent,
                                 Clock(session.GetTotalBytes(), nBytesPerSec).c_str());
                    std::fflush(stderr);
                    g_bBarShown = true;
                }
            }
            break;
        case CConsoleWindow::Event::ErrorBox:
            prompt.MessageBox(ev.strText, ev.strCaption, PromptButtons::Ok, PromptIcon::Stop);
            break;
        case CConsoleWindow::Event::Done:
            session.OnRecordDone();
            break;
        }
    }
    listClosed(true);
    ClearBar();

    // Summary.
    std::vector<RecordSongFile> files = session.GetSongFiles();
    int nKept = 0;
    std::string strRemoved;
    for (const RecordSongFile& f : files) {
        if (f.bDeleted) strRemoved = f.strFile;
        else ++nKept;
    }
    const int64_t nTotal = session.GetTotalBytes();
    std::printf("%d song file%s from %s (%s of audio).\n", nKept, nKept == 1 ? "" : "s",
                options.m_strInput.c_str(), Clock(nTotal, nBytesPerSec).c_str());
    if (!strRemoved.empty())
        std::printf("%s was removed: it held only the trailing silence.\n", strRemoved.c_str());
    if (!bStopped && prompt.ErrorCount() == 0 && nInputBytes > 0 && nTotal < nInputBytes)
        std::printf("The end gap ended the split at %s; the last %s of the input were not split.\n",
                    Clock(nTotal, nBytesPerSec).c_str(), Clock(nInputBytes - nTotal, nBytesPerSec).c_str());
    if (bStopped) std::printf("Stopped at %s; the files so far are complete.\n", Clock(nTotal, nBytesPerSec).c_str());
    std::fputs(strNotes.c_str(), stdout);

    // A split that cut too little explains itself, from a second pass over the input.
    const std::vector<SplitSong> songs = RecordedSongs(files, nFrameBytes);
    if (!bPlanned && !bStopped && prompt.ErrorCount() == 0 && (LooksUndercut(songs) || nTotal < nInputBytes)) {
        if (!bAnalysed && AnalyseInput(options.m_strInput, settings, session.GetBufferSize(), &g_bInterrupted,
                                       &analysis, &strError) && !analysis.bStopped)
            bAnalysed = true;
        if (bAnalysed)
            std::fputs((ExplainEndGap(analysis, settings) + ExplainSplit(analysis, settings, songs)).c_str(), stdout);
    }
    std::fflush(stdout);
    const bool bDescribed = WriteDescriptions(options, songs, info.nRate);

    if (prompt.ErrorCount() > 0 || !bDescribed) return 1;
    return bStopped ? 130 : 0;
}

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

#include "CadenzoVersion.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kProgram = "cadenzo-split";
// Seconds a stop asked for by a signal may take (a write that blocks holds it up) before
// the program ends at once.
const unsigned kStopSeconds = 5;
volatile std::sig_atomic_t g_nStopSignal = 0;  // the first SIGINT or SIGTERM, 0 before
volatile std::sig_atomic_t g_bBarShown = 0;  // a progress bar holds the line

void SayAndEnd(const char* szText, int nStatus)
{
    // Only what a signal handler may call: the files stay as the disk has them.
    if (g_bBarShown && ::write(STDERR_FILENO, "\n", 1) < 0) ::_exit(nStatus);
    const ssize_t n = ::write(STDERR_FILENO, szText, std::strlen(szText));
    (void)n;
    ::_exit(nStatus);
}

// The first signal asks for a clean stop; a second one ends the program at once.
void OnStopSignal(int nSignal)
{
    if (g_nStopSignal == 0) {
        g_nStopSignal = nSignal;
        ::alarm(kStopSeconds);
        return;
    }
    SayAndEnd("cadenzo-split: stopped at once by a second signal; the song files listed as complete are "
              "intact, the one being written is cut short.\n",
              128 + nSignal);
}

// Said when the stop does not finish in time: what may hold it up depends on the input.
const char* const kStopTimeoutWrite =
    "cadenzo-split: the stop did not finish within 5 seconds (a write does not return); stopped "
    "at once: the song files listed as complete are intact, the one being written is cut short.\n";
const char* const kStopTimeoutStream =
    "cadenzo-split: the stop did not finish within 5 seconds (a read of the input or a write does not "
    "return); stopped at once: the song files listed as complete are intact, the one being written is "
    "cut short.\n";
const char* volatile g_szStopTimeout = kStopTimeoutWrite;

// The stop asked for by the first signal did not finish in time.
void OnStopTimeout(int)
{
    SayAndEnd(g_szStopTimeout, 128 + g_nStopSignal);
}

void InstallSignalHandlers()
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // a write under way goes on; the stop comes between buffers
    action.sa_handler = OnStopSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = OnStopTimeout;
    ::sigaction(SIGALRM, &action, nullptr);
    // A file grown past the size limit, or a listing into a closed pipe, is an error the
    // program reports (a write error) or rides out (the listing), not a reason to die.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void ClearBar()
{
    if (g_bBarShown) {
        std::fprintf(stderr, "\r%60s\r", "");
        std::fflush(stderr);
        g_bBarShown = 0;
    }
}

// The song files' messages: the tool's own words, with the system's reason.
const WaveFileTexts kSongFileTexts = {
    "cannot create the song file %s: %s.",
    "cannot write to the song file %s: %s; it holds what reached the disk before.",
    "the song file %s is not open.",
    "cannot close the song file %s: %s.",
    "cannot write song files of this bit depth.",
    "cannot create the song file %s: another file of that name is in the way (it appeared after the split "
    "began, or another program is recording into it); it was left as it is.",
};

// The sample rates the recorder works with.
const int32_t kMinRate = 1000;
const int32_t kMaxRate = 768000;

// Where DC Block's high-pass is 3 dB down at a rate: its pole is fixed (a 60 Hz corner at
// 44100 Hz), so the corner moves up in proportion to the rate.
double DcBlockCornerHz(int32_t nRate) { return 60.0 * nRate / 44100.0; }

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

// The numbers of the existing files named stem + number + extension in the destination
// folder, in ascending order.
std::vector<long long> ExistingNumbers(const std::string& strBase)
{
    fs::path base(strBase);
    fs::path folder = base.parent_path().empty() ? fs::path(".") : base.parent_path();
    std::string strName = base.filename().string();
    size_t nDot = strName.find_last_of('.');
    std::string strStem = nDot == std::string::npos ? strName : strName.substr(0, nDot);
    std::string strExt = nDot == std::string::npos ? "" : strName.substr(nDot);

    std::vector<long long> numbers;
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
        if (bDigits) numbers.push_back(std::atoll(strDigits.c_str()));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// The first existing numbered file of the base, or an empty string.
std::string FirstExistingNumbered(const std::string& strBase)
{
    const std::vector<long long> numbers = ExistingNumbers(strBase);
    return numbers.empty() ? std::string() : CRecordSession::NumberedName(strBase, static_cast<int>(numbers[0]));
}

// "o4.wav to o41.wav (38 files), o50.wav": runs of consecutive numbers of the base name.
std::string NumberRuns(const std::string& strName, const std::vector<long long>& numbers)
{
    std::string str;
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
        if (!str.empty()) str += ", ";
        str += CRecordSession::NumberedName(strName, static_cast<int>(numbers[i]));
        if (j > i)
            str += " to " + CRecordSession::NumberedName(strName, static_cast<int>(numbers[j])) + " (" +
                   std::to_string(j - i + 1) + " files)";
        i = j + 1;
    }
    return str;
}

// Standard input ("-") or a pipe: an input that can be read only once.
bool IsStreamInput(const std::string& strInput)
{
    struct stat st;
    return strInput == "-" || (::stat(strInput.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode));
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// What the description file strPath (--cue, --labels) would overwrite: the input or one of
// the song files of strBase ("the input x.wav"); empty when nothing.
std::string DescriptionClash(const std::string& strPath, const std::string& strInput, const std::string& strBase)
{
    std::error_code ec;
    const fs::path path = fs::weakly_canonical(fs::absolute(strPath, ec), ec);
    auto same = [&](const std::string& strOther) {
        std::error_code ecOther;
        const fs::path other = fs::weakly_canonical(fs::absolute(strOther, ecOther), ecOther);
        return (!ec && !ecOther && path == other) || SameFile(strPath, strOther);
    };
    if (strInput != "-" && same(strInput)) return "the input " + strInput;
    const fs::path folder = fs::weakly_canonical(fs::path(strBase).parent_path(), ec);
    const std::string strName = fs::path(strBase).filename().string();
    for (int n = 1; n <= 10000; ++n) {
        const std::string strSong = CRecordSession::NumberedName(strName, n);
        if ((!ec && path == folder / strSong) || SameFile(strPath, fs::path(strBase).parent_path() / strSong))
            return "the song file " + (fs::path(strBase).parent_path() / strSong).string();
    }
    return "";
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
    InstallSignalHandlers();
    // --preset and --list-presets read the preset file of the working directory.
    CPresetCommandLine presetArgs;
    if (!presetArgs.Extract(argc, argv)) return Fail(2, presetArgs.m_strError);
    CSplitOptions options;
    const CSplitOptions::Outcome outcome =
        options.Parse(presetArgs.Argc(), presetArgs.Argv(), !presetArgs.m_bListPresets);
    CPresetList presets;
    if (outcome == CSplitOptions::Outcome::Run && (presetArgs.m_bListPresets || presetArgs.m_strPreset)) {
        std::string strPresetError;
        const bool bLoaded = LoadPresetsForCommand(presets, &strPresetError);
        if (presetArgs.m_bListPresets) {
            std::fputs(FormatPresetList(presets).c_str(), stdout);
            std::fflush(stdout);
            return bLoaded ? 0 : Fail(1, strPresetError);
        }
        if (!bLoaded) return Fail(1, strPresetError);
    }

    switch (outcome) {
    case CSplitOptions::Outcome::Help: {
        std::string strHelp = CSplitOptions::HelpText();
        const size_t nAt = strHelp.find("  -h, --help");
        strHelp.insert(nAt == std::string::npos ? strHelp.size() : nAt, PresetOptionsHelp());
        std::fputs(strHelp.c_str(), stdout);
        return 0;
    }
    case CSplitOptions::Outcome::Version:
        std::printf("%s %s\n", kProgram, CADENZO_VERSION);
        return 0;
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
    const std::string strInputName = options.m_strInput == "-" ? "standard input" : options.m_strInput;
    const bool bStreamInput = IsStreamInput(options.m_strInput);
    // A pipe that delivers nothing holds up a stop as a write can.
    if (bStreamInput) g_szStopTimeout = kStopTimeoutStream;
    if (bStreamInput && bPlanned)
        return Fail(2, "--songs and --lengths read the input twice: give INPUT as a file, not a pipe.");
    if (info.nRate < kMinRate || info.nRate > kMaxRate)
        return Fail(1, "cannot split " + strInputName + ": its sample rate of " + std::to_string(info.nRate) +
                           " Hz is outside the " + std::to_string(kMinRate) + " to " + std::to_string(kMaxRate) +
                           " Hz that can be split.");
    const int16_t nBits = options.m_nBits ? *options.m_nBits
                          : presetBits   ? *presetBits
                                         : static_cast<int16_t>(info.bWide ? 32 : 16);
    splitter.SetSamplesPerSec(info.nRate);
    splitter.SetBitsPerSample(nBits);
    splitter.SetChannels(2);
    if (splitter.GetDcBlock() && info.nRate > 48000) {
        // A first-order high-pass whose coefficient is fixed: its corner moves up with the rate.
        char sz[320];
        std::snprintf(sz, sizeof sz,
                      "warning: at %d Hz DC Block also cuts audible bass: 3 dB down at about %.0f Hz and "
                      "more below; give --dc-block off unless the recording has a constant offset.",
                      static_cast<int>(info.nRate), DcBlockCornerHz(info.nRate));
        Fail(0, sz);
    }
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
    // The cue sheet and the label file never take the place of the input or of a song file.
    if (!options.m_strCue.empty() && !options.m_strLabels.empty() && SameFile(options.m_strCue, options.m_strLabels))
        return Fail(2, "--cue and --labels name the same file, " + options.m_strCue + ".");
    for (const auto& [szOption, szWhat, strPath] :
         {std::tuple<const char*, const char*, std::string>{"--cue", "the cue sheet", options.m_strCue},
          {"--labels", "the label file", options.m_strLabels}}) {
        if (strPath.empty()) continue;
        const std::string strClash = DescriptionClash(strPath, options.m_strInput, strBase);
        if (!strClash.empty())
            return Fail(2, std::string(szOption) + " names " + strClash + ": " + szWhat + " would overwrite it.");
    }
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
    waveFile.SetTexts(kSongFileTexts);
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
    session.SetListenSeconds(options.m_fListen);

    const int64_t nFrameBytes = 2 * (nBits / 8);
    const int64_t nBytesPerSec = static_cast<int64_t>(info.nRate) * nFrameBytes;

    // --songs, --lengths and --dry-run read the input once before anything is written.
    SplitAnalysis analysis;
    bool bAnalysed = false;
    std::string strNotes;  // --lengths: song ends that found no silence
    if (bPlanned || options.m_bDryRun) {
        if (!AnalyseInput(options.m_strInput, settings, session.GetBufferSize(), &g_nStopSignal, &analysis, &strError,
                                       options.m_fListen))
            return Fail(1, strError);
        if (analysis.bStopped) return Fail(128 + g_nStopSignal, "stopped; nothing was written.");
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
            if (!bPlanned) std::fputs((ExplainEndGap(analysis, settings, options.m_fListen) + ExplainSplit(analysis, settings, songs)).c_str(), stdout);
            std::fflush(stdout);
            return WriteDescriptions(options, songs, info.nRate) ? 0 : 1;
        }
    }

    // A split that cuts too little explains itself: the quiet stretches are found as the
    // split runs, from the buffers as its splitter judged them.
    if (!bPlanned && !bStreamInput) {
        BeginAnalysis(settings, &analysis);
        session.SetBufferObserver([&analysis](const uint8_t* pData, int32_t nLen, int32_t bCut, int32_t nCutOffset,
                                              int32_t bEnd) { AnalyseBuffer(pData, nLen, bCut, nCutOffset, bEnd, &analysis); });
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
        if (g_nStopSignal && !bStopped) {
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
                    g_bBarShown = 1;
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
    ::alarm(0);  // stopped in time
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
    std::printf("%d song file%s from %s (%s of audio).\n", nKept, nKept == 1 ? "" : "s", strInputName.c_str(),
                Clock(nTotal, nBytesPerSec).c_str());
    const bool bNoAudio = nKept == 0 && !bStopped && prompt.ErrorCount() == 0;
    if (!strRemoved.empty() && !bNoAudio)
        std::printf("%s was removed: it held only the trailing silence.\n", strRemoved.c_str());
    if (options.m_bOverwrite) {
        // Numbered files beyond this split's are the user's, from an earlier split: they
        // stay, and the summary says so, lest they pass for part of this one.
        std::vector<long long> leftovers;
        for (long long n : ExistingNumbers(strBase))
            if (n > static_cast<long long>(files.size())) leftovers.push_back(n);
        if (!leftovers.empty())
            std::printf("%s %s left from an earlier split: not written now, and kept.\n",
                        NumberRuns(base.filename().string(), leftovers).c_str(),
                        leftovers.size() == 1 ? "is" : "are");
    }
    const std::string strReadError = waveIn.GetReadError();
    if (!bStopped && prompt.ErrorCount() == 0 && strReadError.empty() && nInputBytes > 0 && nTotal < nInputBytes)
        std::printf("The end gap ended the split at %s; the last %s of the input were not split.\n",
                    Clock(nTotal, nBytesPerSec).c_str(), Clock(nInputBytes - nTotal, nBytesPerSec).c_str());
    if (bStopped) std::printf("Stopped at %s; the files so far are complete.\n", Clock(nTotal, nBytesPerSec).c_str());
    std::fputs(strNotes.c_str(), stdout);

    // Samples that were not numbers or too large were replaced as they were read: say how many
    // and where.
    if (const int64_t nMended = waveIn.GetMendedSamples()) {
        const int64_t nFirst = waveIn.GetFirstMendedByte();
        const char* szWere = nMended == 1 ? "was" : "were";
        const char* szNumber = nMended == 1 ? "a number" : "numbers";
        const std::string strChannel = info.nChannels == 1                  ? ""
                                       : nFirst % nFrameBytes < nFrameBytes / 2 ? " in the left channel"
                                                                              : " in the right channel";
        std::fprintf(stderr,
                     "%s: warning: %lld sample%s of %s %s not %s or lay beyond 1000 times full scale and "
                     "%s replaced (NaN by silence, the others by full scale); the first at %s%s.\n",
                     kProgram, static_cast<long long>(nMended), nMended == 1 ? "" : "s", strInputName.c_str(),
                     szWere, szNumber, szWere, Clock(nFirst - nFirst % nFrameBytes, nBytesPerSec).c_str(),
                     strChannel.c_str());
    }
    if (!strReadError.empty())
        return Fail(1, strReadError.substr(0, strReadError.find_last_not_of('\n') + 1) +
                           " The song files before that point are complete.");
    if (bNoAudio) {
        if (nTotal == 0) return Fail(1, strInputName + " holds no audio: no song file was written.");
        char sz[64];
        std::snprintf(sz, sizeof sz, "%.1f", 20.0 * std::log10(-splitter.GetGapLevel() / 32768.0));
        return Fail(1, strInputName + " holds only silence (nothing above the gap level of " + sz +
                           " dB): no song file was written.");
    }

    // A split that cut too little explains itself from what it judged; a pipe is not
    // explained, as the input after an end gap cannot be read again.
    const std::vector<SplitSong> songs = RecordedSongs(files, nFrameBytes);
    if (!bPlanned && !bStopped && !bStreamInput && prompt.ErrorCount() == 0 &&
        (LooksUndercut(songs) || nTotal < nInputBytes)) {
        if (!bAnalysed && FinishAnalysis(options.m_strInput, settings, session.GetBufferSize(), &g_nStopSignal,
                                         &analysis, &strError, options.m_fListen) && !analysis.bStopped)
            bAnalysed = true;
        if (bAnalysed)
            std::fputs((ExplainEndGap(analysis, settings, options.m_fListen) + ExplainSplit(analysis, settings, songs)).c_str(), stdout);
    }
    std::fflush(stdout);
    const bool bDescribed = WriteDescriptions(options, songs, info.nRate);

    if (prompt.ErrorCount() > 0 || !bDescribed) return 1;
    return bStopped ? 128 + g_nStopSignal : 0;
}

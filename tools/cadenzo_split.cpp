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

    // The input: something libsndfile reads, with one or two channels.
    WaveInFileInfo info;
    if (!CWaveIn::ProbeFile(options.m_strInput.c_str(), &info, &strError)) return Fail(1, strError);
    const int16_t nBits = options.m_nBits ? *options.m_nBits
                          : presetBits   ? *presetBits
                                         : static_cast<int16_t>(info.bWide ? 32 : 16);
    splitter.SetSamplesPerSec(info.nRate);
    splitter.SetBitsPerSample(nBits);
    splitter.SetChannels(2);

    // The destination: an existing folder, and no numbered file replaced unasked.
    std::error_code ec;
    fs::path base = fs::absolute(options.m_strBase, ec);
    if (ec || base.filename().empty()) return Fail(2, "'" + options.m_strBase + "' is not a file name.");
    const std::string strBase = base.string();
    fs::path folder = base.parent_path();
    if (!fs::is_directory(folder, ec)) return Fail(1, "the folder " + folder.string() + " does not exist.");
    if (::access(folder.c_str(), W_OK) != 0)
        return Fail(1, "cannot write in the folder " + folder.string() + ".");
    std::string strExisting = FirstExistingNumbered(strBase);
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

    session.OnRecord();
    if (!session.IsRecording()) return 1;  // the session said why

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const bool bBar = !options.m_bQuiet && ::isatty(STDERR_FILENO);
    const int64_t nBytesPerSec = static_cast<int64_t>(info.nRate) * 2 * (nBits / 8);
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
    std::fflush(stdout);

    if (prompt.ErrorCount() > 0) return 1;
    return bStopped ? 130 : 0;
}

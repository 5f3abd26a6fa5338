// cadenzo-album: the songs of a recording on the command line. Lists them, moves, joins and
// splits cuts, gives titles and exports, through the same album library as the window.
//
// Exit status: 0 on success, 1 when an edit, the album or the export fails, 2 on a bad
// argument.

#include "album/Album.h"
#include "album/Export.h"
#include "album/ExportTags.h"
#include "album/FitCuts.h"
#include "album/Record.h"
#include "album/TrackList.h"

#include "CadenzoVersion.h"
#include "tools/ToolArgs.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kProgram = "cadenzo-album";
const char kUsage[] =
    "Usage: cadenzo-album list BASE.wav...\n"
    "       cadenzo-album move BASE.wav... K SECONDS  move cut K (between songs K and K+1)\n"
    "                                                 by SECONDS, + later, - earlier\n"
    "       cadenzo-album join BASE.wav... K          join song K with song K+1\n"
    "       cadenzo-album split BASE.wav... K SECONDS split song K that far into it\n"
    "       cadenzo-album title BASE.wav... K TEXT    give song K a title\n"
    "       cadenzo-album tracklist BASE.wav... FILE [--fit]\n"
    "                                                 titles from a track list, one a line;\n"
    "                                                 --fit places the cuts by its durations\n"
    "       cadenzo-album export BASE.wav... DIR [--flac|--wav|--mp3 [V0|320]|--ogg|--opus]\n"
    "                                         [--artist A] [--album B] [--year Y] [--trim]\n"
    "                                         [--no-replaygain] [--cover FILE]\n"
    "                                         [--subfolder artist/album|artist-album]\n"
    "                                         [--declick[=LEVEL]] [--overwrite]\n"
    "       cadenzo-album --help | --version\n";

// --help: the usage, what the commands work on, the options of export, the exit status.
const char kHelp[] =
    "\n"
    "Works on the songs of one recording, named by its base file as the recorder names\n"
    "them: BASE.wav stands for BASE1.wav, BASE2.wav, ... in its folder. Songs and cuts\n"
    "count from 1; cut K lies between songs K and K+1. An edit keeps every sample:\n"
    "only where one song ends and the next begins changes, and later files are\n"
    "renumbered. Titles and the album data are kept in the cue sheet BASE.cue beside\n"
    "the songs. Several bases are the sides of one record, in the order given: songs\n"
    "and cuts count across them (a cut never moves past the end of a side, songs of two\n"
    "sides are never joined) and an export numbers the tracks 1..N over the record.\n"
    "A record file (RECORD.cue, written by the Songs window) stands for its sides, its\n"
    "album data, discs, cover and numbering, and is rewritten with every edit. tracklist gives the songs the titles of a track list copied from a\n"
    "sleeve or a web page (\"A1 Title 3:45\", \"1. Title (3:45)\", \"Title\", ...), in\n"
    "order; it changes nothing when the counts differ. With --fit each cut moves to the\n"
    "middle of the most convincing quiet reaching within 5 s of where the durations say\n"
    "the song ends (counted from the side's first sound), one edit per side; a side that\n"
    "cannot be fitted whole is left as it is, and every cut moved or not placed is listed.\n"
    "\n"
    "Options:\n"
    "  --flac                export tagged FLAC files \"01 Title.flac\", ... (the default)\n"
    "  --wav                 export WAV copies of the songs as they are\n"
    "  --mp3 [V0|320]        export MP3 files, LAME VBR V0 (the default) or 320 kbit/s\n"
    "  --ogg                 export Ogg Vorbis files at quality 6\n"
    "  --opus                export Opus files at 160 kbit/s, 48 kHz\n"
    "  --artist A            the artist, for the tags of the exported files\n"
    "  --album B             the album title, for the tags\n"
    "  --year Y              the year, for the tags\n"
    "  --trim                shorten the silence before the first song and after the\n"
    "                        last to half a second, on each side of a record\n"
    "  --overwrite           replace files of the same names in DIR (never a song file\n"
    "                        of a recording); without it an export refuses them\n"
    "  --no-replaygain       leave out the ReplayGain tags (track and album gain and\n"
    "                        peak, measured to EBU R128 against -18 LUFS)\n"
    "  --cover FILE          a JPEG or PNG embedded as front cover in every file and\n"
    "                        copied beside them as cover.jpg or cover.png; the record\n"
    "                        file of several sides keeps it for later exports (the\n"
    "                        first side's \"BASE record.cue\" when there is none yet)\n"
    "  --subfolder KIND      put the files in DIR/Artist/Album (artist/album) or in\n"
    "                        DIR/Artist - Album (artist-album)\n"
    "  --declick[=LEVEL]     remove clicks, pops and crackle from the exported files\n"
    "                        (the songs stay as they are) and say how many were\n"
    "                        repaired in each song; LEVEL is how readily a sample\n"
    "                        counts as a click: light, normal (the default, which\n"
    "                        leaves clean music alone) or strong\n"
    "  -h, --help            show this help\n"
    "  --version             show the version number\n"
    "\n"
    "Exit status: 0 on success; 1 when the album cannot be read or an edit or the\n"
    "export fails; 2 for a wrong command or argument; 130 or 143 when stopped by\n"
    "Ctrl+C (SIGINT) or SIGTERM (an edit goes back, an export removes its unfinished file).\n";

volatile std::sig_atomic_t g_nStopSignal = 0;  // the first SIGINT or SIGTERM, 0 before

// The first signal asks for a clean stop (an edit goes back at its next step, an export
// removes the file it writes); a second one ends the program at once.
void OnStopSignal(int nSignal)
{
    if (g_nStopSignal == 0) {
        g_nStopSignal = nSignal;
        return;
    }
    const char szText[] = "cadenzo-album: stopped at once by a second signal.\n";
    ssize_t n = ::write(STDERR_FILENO, szText, sizeof szText - 1);
    (void)n;
    ::_exit(128 + nSignal);
}

void InstallSignalHandlers()
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait for another program's lock ends too
    action.sa_handler = OnStopSignal;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int Stopped(const std::string& strWhat)
{
    std::fprintf(stderr, "%s: stopped by a signal; %s\n", kProgram, strWhat.c_str());
    return 128 + g_nStopSignal;
}

constexpr CToolExit kExit(kProgram, kUsage);

// "mm:ss.cc" of a frame count.
std::string Clock(int64_t nFrames, int32_t nRate)
{
    if (nRate <= 0) return "00:00.00";
    int64_t nCentis = nFrames * 100 / nRate;
    char sz[48];
    std::snprintf(sz, sizeof sz, "%02lld:%02lld.%02lld", static_cast<long long>(nCentis / 6000),
                  static_cast<long long>(nCentis / 100 % 60), static_cast<long long>(nCentis % 100));
    return sz;
}

// A song or cut number: plain digits. 0 and numbers past the album are the album's to
// refuse ("there is no cut 0"), with the status of any edit that cannot be made.
bool ParseNumber(const std::string& str, int32_t* pValue)
{
    if (str.empty() || str.size() > 7 ||
        !std::all_of(str.begin(), str.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *pValue = std::stoi(str);
    return true;
}

// Seconds as a decimal number: "12", "-1.5", "+.25"; no exponents, hex or words.
bool ParseSeconds(const std::string& str, double* pValue)
{
    size_t n = str.empty() || (str[0] != '+' && str[0] != '-') ? 0 : 1;
    size_t nDigits = 0, nDots = 0;
    for (size_t i = n; i < str.size(); ++i) {
        if (str[i] >= '0' && str[i] <= '9') ++nDigits;
        else if (str[i] == '.') ++nDots;
        else return false;
    }
    if (nDigits == 0 || nDots > 1) return false;
    double f = std::strtod(str.c_str(), nullptr);
    if (!std::isfinite(f) || std::fabs(f) > 1e7) return false;
    *pValue = f;
    return true;
}

std::string Songs(int32_t n) { return std::to_string(n) + (n == 1 ? " song" : " songs"); }

void List(const CRecord& album)
{
    const CAlbumInfo& info = album.GetInfo();
    if (!info.strAlbum.empty()) std::printf("Album:  %s\n", info.strAlbum.c_str());
    if (!info.strArtist.empty()) std::printf("Artist: %s\n", info.strArtist.c_str());
    if (!info.strYear.empty()) std::printf("Year:   %s\n", info.strYear.c_str());
    const int32_t nRate = album.GetFormat().nRate;
    const bool bSides = album.GetSideCount() > 1;
    std::printf(bSides ? "Song  Side  Start     Length    Title\n" : "Song  Start     Length    Title\n");
    for (int32_t k = 1; k <= album.GetSongCount(); ++k) {
        const CAlbumSong& song = album.GetSongs()[static_cast<size_t>(k - 1)];
        const int32_t nSide = album.GetSideOf(k);
        const std::string strPlace =
            CRecord::SideName(nSide) + std::to_string(k - album.GetFirstSong(nSide) + 1);
        if (bSides)
            std::printf("%4d  %-4s  %s  %s  %s\n", k, strPlace.c_str(), Clock(album.GetSongStart(k), nRate).c_str(),
                        Clock(song.nFrames, nRate).c_str(), song.strTitle.c_str());
        else
            std::printf("%4d  %s  %s  %s\n", k, Clock(album.GetSongStart(k), nRate).c_str(),
                        Clock(song.nFrames, nRate).c_str(), song.strTitle.c_str());
    }
    const std::vector<std::string>& leftovers = album.GetLayout().leftovers;
    if (!leftovers.empty()) {
        std::printf("Left from an earlier recording under this name, not part of the album:\n");
        for (const std::string& strPath : leftovers) std::printf("      %s\n", strPath.c_str());
    }
}

// Titles in order from a track list file; nothing is changed when the counts differ. With
// bFit the cuts are placed by the list's durations too. With nSide, the list is for that
// side of the record alone: its lines of that side's letter when it names the side, else
// all of them.
int SetTrackList(CRecord& album, const std::string& strFile, bool bFit, int32_t nSide)
{
    std::ifstream in(strFile, std::ios::binary);
    if (!in) return kExit.Fail("Cannot read " + strFile + ".");
    const std::string strText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CTrackList list = TrackList::Parse(strText);
    for (const std::string& strRefused : list.refused) std::fprintf(stderr, "%s: %s\n", kProgram, strRefused.c_str());
    if (nSide >= 0) {
        std::vector<CTrackLine> own;
        for (const CTrackLine& track : list.tracks)
            if (track.strSide == CRecord::SideName(nSide)) own.push_back(track);
        if (!own.empty()) list.tracks = own;
    }
    const auto print = [&](auto& target, bool bStarts) {
        const int32_t nRate = target.GetFormat().nRate;
        for (int32_t k = 1; k <= target.GetSongCount(); ++k) {
            const std::string& strTitle = target.GetSongs()[static_cast<size_t>(k - 1)].strTitle;
            if (bStarts)
                std::printf("%4d  %s  %s\n", k, Clock(target.GetSongStart(k), nRate).c_str(), strTitle.c_str());
            else
                std::printf("%4d  %s\n", k, strTitle.c_str());
        }
    };
    std::string strError;
    if (bFit) {
        std::vector<std::string> report;
        const bool bAll = FitCuts::Fit(album, list, &report, &strError, nSide);
        for (const std::string& strLine : report) std::printf("%s\n", strLine.c_str());
        if (!strError.empty()) return kExit.Fail(strError);
        nSide >= 0 ? print(album.GetSide(nSide), true) : print(album, true);
        return bAll ? 0 : 1;
    }
    if (!(nSide >= 0 ? TrackList::SetTitles(album.GetSide(nSide), list, &strError)
                     : TrackList::SetTitles(album, list, &strError)))
        return kExit.Fail(strError);
    nSide >= 0 ? print(album.GetSide(nSide), false) : print(album, false);
    return 0;
}

// The record file that names exactly the sides of bases in their order; empty when none.
std::string RecordOf(const std::vector<std::string>& bases)
{
    const std::string strRecord = CRecord::FindFor(bases[0]);
    CRecord record;
    if (strRecord.empty() || !record.Open(strRecord) || record.GetSideCount() != static_cast<int32_t>(bases.size()))
        return {};
    std::error_code ec;
    for (size_t s = 0; s < bases.size(); ++s)
        if (std::filesystem::weakly_canonical(record.GetSide(static_cast<int32_t>(s)).GetBasePath(), ec) !=
            std::filesystem::weakly_canonical(bases[s], ec))
            return {};
    return strRecord;
}

// args: DIR, then the options. strKeep: the record file that keeps a cover given with
// --cover (made when it does not exist yet); empty when there is none to keep it.
int Export(CRecord& album, const std::vector<std::string>& args, const std::string& strKeep)
{
    CExportOptions options;
    options.strFolder = args[0];
    options.info = album.GetInfo();
    options.strCover = album.GetCover();
    bool bCover = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& str = args[i];
        auto value = [&](std::string* pValue) {
            if (i + 1 >= args.size()) return false;
            *pValue = args[++i];
            return true;
        };
        if (str == "--flac") options.format = CExportFormat::Flac;
        else if (str == "--wav") options.format = CExportFormat::Wav;
        else if (str == "--trim") options.bTrim = true;
        else if (str == "--overwrite") options.bOverwrite = true;
        else if (str == "--mp3") {
            options.format = CExportFormat::Mp3;
            if (i + 1 < args.size() && (args[i + 1] == "V0" || args[i + 1] == "320"))
                options.format = args[++i] == "320" ? CExportFormat::Mp3Cbr320 : CExportFormat::Mp3;
        }
        else if (str == "--ogg") options.format = CExportFormat::Ogg;
        else if (str == "--opus") options.format = CExportFormat::Opus;
        else if (str == "--no-replaygain") options.bReplayGain = false;
        else if (str == "--declick" || str.rfind("--declick=", 0) == 0) {
            options.bDeclick = true;
            options.declickLevel = CDeclickLevel::Normal;
            if (str.size() > 9 && !ParseDeclickLevel(str.substr(10), options.declickLevel))
                return kExit.BadArgument("--declick takes " + DeclickLevelChoices() + ": " + str.substr(10) + ".");
        }
        else if (str == "--cover") {
            if (!value(&options.strCover)) return kExit.BadArgument("--cover needs a file.");
            bCover = true;
        }
        else if (str == "--subfolder") {
            std::string strKind;
            if (!value(&strKind) || (strKind != "artist/album" && strKind != "artist-album"))
                return kExit.BadArgument("--subfolder takes artist/album or artist-album.");
            options.subfolder = strKind == "artist/album" ? CExportSubfolder::ArtistAlbum
                                                          : CExportSubfolder::ArtistDashAlbum;
        }
        else if (str == "--artist") { if (!value(&options.info.strArtist)) return kExit.BadArgument("--artist needs a value."); }
        else if (str == "--album") { if (!value(&options.info.strAlbum)) return kExit.BadArgument("--album needs a value."); }
        else if (str == "--year") { if (!value(&options.info.strYear)) return kExit.BadArgument("--year needs a value."); }
        else return kExit.BadArgument("Unknown option " + str + ".");
    }
    // The record keeps the cover given for it, once it is known to be a picture; later
    // exports without --cover use it.
    if (bCover && !strKeep.empty() && options.strCover != album.GetCover()) {
        CCover cover;
        std::string strError;
        if (!options.strCover.empty() && !ExportTags::LoadCover(options.strCover, &cover, &strError))
            return kExit.Fail(strError);
        if ((album.GetPath().empty() && !album.SetPath(strKeep)) || !album.SetCover(options.strCover))
            return kExit.Fail(album.GetErrorText());
    }
    const std::vector<std::string> existing = CExportJob::ExistingFiles(album.GetLayout(), options);
    if (!existing.empty() && !options.bOverwrite)
        return kExit.Fail(existing[0] + " exists already (--overwrite replaces it). Nothing was exported.");
    CExportJob job;
    if (!job.Start(album.GetLayout(), options)) return kExit.Fail(job.GetReport().strError);
    const bool bBar = ::isatty(STDERR_FILENO);
    while (job.IsRunning()) {
        if (g_nStopSignal) job.Cancel();
        if (bBar) std::fprintf(stderr, "\rExporting %3d%%", static_cast<int>(job.GetProgress() * 100.0));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    job.Wait();
    if (bBar) std::fprintf(stderr, "\r%20s\r", "");
    CExportReport report = job.GetReport();
    for (const std::string& strFile : report.files) std::printf("%s\n", strFile.c_str());
    if (report.bReplayGain && !report.files.empty()) {
        const CGain& album = report.gain.album;
        if (album.bMeasured)
            std::printf("Album gain %s, peak %s (%.2f LUFS).\n", Loudness::GainText(album.fGainDb).c_str(),
                        Loudness::PeakText(album.fPeak).c_str(), album.fLoudness);
        else
            std::printf("The album is too quiet to measure its loudness; peak %s.\n",
                        Loudness::PeakText(album.fPeak).c_str());
    }
    for (size_t i = 0; i < report.clicks.size(); ++i)
        std::printf("Song %zu: %lld click%s repaired.\n", i + 1, static_cast<long long>(report.clicks[i]),
                    report.clicks[i] == 1 ? "" : "s");
    if (report.nClamped > 0)
        std::printf("%lld samples beyond full scale were clamped.\n",
                    static_cast<long long>(report.nClamped));
    if (report.nLatin1Tags > 0)
        std::printf("%d tag%s not in UTF-8 %s read as Latin-1 and converted.\n", report.nLatin1Tags,
                    report.nLatin1Tags == 1 ? "" : "s", report.nLatin1Tags == 1 ? "was" : "were");
    if (options.bTrim && report.strError.empty() && !report.bCancelled) {
        std::printf("%s\n", CExportJob::TrimText(report, album.GetFormat().nRate).c_str());
    }
    if (!report.strError.empty()) return kExit.Fail(report.strError);
    if (report.bCancelled && g_nStopSignal) return Stopped("the files above are complete.");
    if (report.bCancelled) return kExit.Fail("The export was cancelled; the files above are complete.");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
        std::printf("%s%s", kUsage, kHelp);
        return 0;
    }
    if (args.size() == 2 && args[1] == "--version") {
        std::printf("%s %s\n", kProgram, CADENZO_VERSION);
        return 0;
    }
    if (args.size() < 3) return kExit.BadArgument(args.size() < 2 ? "A command is needed." : "BASE.wav is needed.");
    const std::string strVerb = args[1];
    struct Verb {
        const char* szName;
        size_t nArgs;  // after the bases
    };
    const Verb verbs[] = {{"list", 0}, {"move", 2}, {"join", 1}, {"split", 2}, {"title", 2}, {"export", 1},
                          {"tracklist", 1}};
    const Verb* pVerb = nullptr;
    for (const Verb& verb : verbs)
        if (strVerb == verb.szName) pVerb = &verb;
    if (pVerb == nullptr) return kExit.BadArgument("Unknown command " + strVerb + ".");
    const bool bFit = strVerb == "tracklist" && args.back() == "--fit";
    if (bFit) args.pop_back();
    // The bases are every argument before the verb's own; export's end where its options
    // begin.
    size_t nEnd = args.size();
    if (strVerb == "export")
        nEnd = static_cast<size_t>(std::find_if(args.begin() + 2, args.end(),
                                                [](const std::string& str) { return str.compare(0, 2, "--") == 0; }) -
                                   args.begin());
    if (nEnd < 2 + pVerb->nArgs + 1) return kExit.BadArgument("Wrong number of arguments for " + strVerb + ".");
    const std::vector<std::string> bases(args.begin() + 2, args.begin() + static_cast<long>(nEnd - pVerb->nArgs));
    const std::vector<std::string> rest(args.begin() + static_cast<long>(nEnd - pVerb->nArgs), args.end());
    for (const std::string& strBase : bases)
        if (strBase.empty()) return kExit.BadArgument("BASE.wav is empty: name the base file of a recording.");
    const bool bRecordFile = bases.size() == 1 && CRecord::IsRecordFile(bases[0]);
    int32_t k = 0;
    double fSeconds = 0.0;
    if (pVerb->nArgs >= 1 && strVerb != "export" && strVerb != "tracklist" && !ParseNumber(rest[0], &k))
        return kExit.BadArgument("K must be a song or cut number from 1: " + rest[0] + ".");
    if ((strVerb == "move" || strVerb == "split") && !ParseSeconds(rest[1], &fSeconds))
        return kExit.BadArgument("SECONDS must be a decimal number of seconds: " + rest[1] + ".");

    InstallSignalHandlers();
    CRecord album;
    // An edit keeps the folder locked from reading the songs to the end, so that an edit of
    // another program waits instead of working from what this one read.
    const bool bEdit = strVerb != "list" && strVerb != "export";
    // Several sides that a record file names, just these in this order, are that record: it
    // stands for them (its album data, discs, numbering and cover), and an edit of them
    // rewrites it in the same transaction, so that players reading it never see songs or
    // titles the sides no longer have.
    const std::string strNamed = !bRecordFile && bases.size() > 1 ? RecordOf(bases) : std::string();
    // One recording that a record file names as a side is edited as that side of the
    // record, its songs still numbered within it, for the same reason. When that record
    // cannot be opened (another side gone), the recording is edited on its own.
    const bool bSideEdit =
        strVerb == "move" || strVerb == "join" || strVerb == "split" || strVerb == "title" || strVerb == "tracklist";
    int32_t nOwnSide = -1;
    if (!bRecordFile && bases.size() == 1 && bSideEdit) {
        const std::string strOwner = CRecord::FindFor(bases[0]);
        if (!strOwner.empty() && album.Open(strOwner, true)) {
            std::error_code ec;
            for (int32_t s = 0; s < album.GetSideCount(); ++s)
                if (std::filesystem::weakly_canonical(album.GetSide(s).GetBasePath(), ec) ==
                    std::filesystem::weakly_canonical(bases[0], ec))
                    nOwnSide = s;
        }
        if (g_nStopSignal) return Stopped("nothing was changed.");
    }
    const bool bOpened = nOwnSide >= 0      ? true
                         : bRecordFile       ? album.Open(bases[0], bEdit)
                         : !strNamed.empty() ? album.Open(strNamed, bEdit)
                                             : album.OpenSides(bases, {}, bEdit);
    if (!bOpened) return g_nStopSignal ? Stopped("nothing was changed.") : kExit.Fail(album.GetErrorText());
    // The record file, or a new one for several sides, keeps a cover given with --cover.
    std::string strKeep = album.GetPath();
    if (strVerb == "export" && strKeep.empty() && bases.size() > 1) {
        std::error_code ec;
        strKeep = CRecord::DefaultPath(bases[0]);
        if (std::filesystem::exists(strKeep, ec)) strKeep.clear();  // another record's: left alone
    }
    album.SetFaultHook([](const std::string&) { return g_nStopSignal == 0; });
    if (strVerb == "list") {
        List(album);
        return 0;
    }
    if (strVerb == "tracklist") return SetTrackList(album, rest[0], bFit, nOwnSide);
    if (strVerb == "export") return Export(album, rest, strKeep);
    // The edits of one song or cut: of the record or album given, or of the one side of a
    // record that the recording given is.
    const auto edit = [&](auto& target) {
        const int32_t nRate = target.GetFormat().nRate;
        const int64_t nFrames = std::llround(fSeconds * nRate);
        bool bDone = true;
        if (strVerb == "move") {
            bDone = target.MoveCut(k, k < target.GetSongCount() ? target.GetSongStart(k + 1) + nFrames : 0);
            if (bDone) std::printf("Cut %d is at %s.\n", k, Clock(target.GetSongStart(k + 1), nRate).c_str());
        } else if (strVerb == "join") {
            bDone = target.Join(k);
            if (bDone)
                std::printf("Songs %d and %d are song %d; the album has %s.\n", k, k + 1, k,
                            Songs(target.GetSongCount()).c_str());
        } else if (strVerb == "split") {
            bDone = target.Split(k, k <= target.GetSongCount() ? target.GetSongStart(k) + nFrames : 0);
            if (bDone)
                std::printf("Song %d starts at %s; the album has %s.\n", k + 1,
                            Clock(target.GetSongStart(k + 1), nRate).c_str(), Songs(target.GetSongCount()).c_str());
        } else {
            bDone = target.SetTitle(k, rest[1]);
        }
        if (!bDone && g_nStopSignal) return Stopped("every file was left as it was.");
        return bDone ? 0 : kExit.Fail(target.GetErrorText());
    };
    return nOwnSide >= 0 ? edit(album.GetSide(nOwnSide)) : edit(album);
}

// The program's entry: the application runs the recorder window for the whole run.
#include "app/RecorderApp.h"

#include "CadenzoVersion.h"

#include <cstdio>
#include <cstring>

namespace {

const char kHelp[] =
    "Usage: cadenzo\n"
    "       cadenzo --help | --version\n"
    "\n"
    "Records an album, a tape or a broadcast from a sound card and cuts it into one\n"
    "WAV file per song at the silences between songs. Everything is set in its\n"
    "windows; it takes no other arguments.\n"
    "\n"
    "Options:\n"
    "  -h, --help            show this help\n"
    "  --version             show the version number\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered on the terminal, without a window; any other argument is ignored.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("cadenzo %s\n", CADENZO_VERSION);
        return 0;
    }
    CRecorderApp app(argc, argv);
    app.InitInstance();
    return 0;
}

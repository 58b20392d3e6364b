// dravix: the desktop program. "--virtual" runs it on the virtual drive.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "app/ToolApp.h"
#include "base/Version.h"
#include "capture/SaveWindowImage.h"
#include "drive/Trace.h"
#include "emu/VirtualSetup.h"
#include "ui/Services.h"

namespace {

// The platform plug-in Qt will use: its -platform option, else QT_QPA_PLATFORM.
std::string PlatformName(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return argv[i + 1];
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform != nullptr ? platform : "";
}

bool HasDisplay(const std::string& platform) {
    if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) {
        return true;  // offscreen, vnc, … bring their own surface
    }
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

int Usage(FILE* stream, int status) {
    std::fprintf(
        stream,
        "Usage: dravix [QT-OPTIONS] [--virtual] [--help-window]\n"
        "Shows the firmware features of a Zarn DVD recorder drive: drive and disc information,\n"
        "book type, the Probix media scan, OverSpeed, Lumard, Test Write and WOPC.\n"
        "\n"
        "  --virtual       run on the virtual drive (its state file is created from the demo preset\n"
        "                  when there is none; see dravix-vdrive)\n"
        "  --help-window   show only the user's guide in its window\n"
        "  -h, --help      show this help and end\n"
        "  --version       show the version and end\n"
        "\n"
        "Qt's standard options come first, for example -style Fusion, -platform offscreen or\n"
        "-reverse.\n");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // Help and version need no display; the other options are read once Qt has taken its own.
    const dravix::CommandLine early =
        dravix::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (early.showUsage) return Usage(stdout, 0);
    if (early.showVersion) {
        std::printf("dravix %s\n", dravix::kVersionText);
        return 0;
    }
    if (!HasDisplay(PlatformName(argc, argv))) {
        std::fprintf(stderr,
                     "dravix: no display to show the window on (DISPLAY is not set); run it on a "
                     "desktop or under Xvfb\n");
        return 2;
    }

    dravix::CToolApp app(argc, argv);
    const dravix::CommandLine line =
        dravix::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line.unknown.empty()) {
        std::fprintf(
            stderr,
            line.unknown[0] == '-' ? "dravix: unknown option '%s'\n" : "dravix: unexpected argument '%s'\n",
            line.unknown.c_str());
        return Usage(stderr, 2);
    }
    if (line.useVirtual) {
        if (const dravix::Result<void> prepared = dravix::emu::PrepareVirtualDrive(); !prepared) {
            std::fprintf(stderr, "dravix: %s\n", prepared.Failure().text.c_str());
            return 1;
        }
    }
    // What the windows ask of the user and the desktop: the program's own, and File > Save writes
    // a picture of the main window.
    dravix::AppServices services;
    services.saveHandler = [&services](QWidget& window) { dravix::SaveWindowImage(window, services); };
    if (line.helpWindow) return app.RunHelpWindow(services);
    if (const char* trace = std::getenv("DRAVIX_TRACE"); trace != nullptr && *trace != '\0') {
        dravix::SetTraceSink(dravix::MakeFileTraceSink(trace));
    }

    return app.InitInstance(services);
}

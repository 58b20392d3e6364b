// dravix: the desktop program. "--virtual" runs it on the virtual drive.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/MainDialog.h"
#include "app/ToolApp.h"
#include "drive/Trace.h"
#include "emu/VirtualSetup.h"
#include "export/capture/SaveWindowImage.h"
#include "ui/Prompter.h"

namespace {

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0' && std::strncmp(platform, "xcb", 3) != 0 &&
        std::strncmp(platform, "wayland", 7) != 0) {
        return true;  // offscreen, vnc, … bring their own surface
    }
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

int Usage(FILE* stream, int status) {
    std::fprintf(stream,
                 "Usage: dravix [--virtual]\n"
                 "  --virtual   run on the virtual drive (its state file is created from the demo preset\n"
                 "              when there is none; see dravix-vdrive)\n");
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    bool useVirtual = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--virtual") == 0) {
            useVirtual = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return Usage(stdout, 0);
        } else if (argv[i][0] == '-' && std::strncmp(argv[i], "-platform", 9) != 0) {
            std::fprintf(stderr, "dravix: unknown option '%s'\n", argv[i]);
            return Usage(stderr, 2);
        }
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "dravix: no display to show the window on (DISPLAY is not set); run it on a "
                     "desktop or under Xvfb\n");
        return 2;
    }
    if (useVirtual) {
        const std::string error = dravix::emu::PrepareVirtualDrive();
        if (!error.empty()) {
            std::fprintf(stderr, "dravix: %s\n", error.c_str());
            return 1;
        }
    }
    if (const char* trace = std::getenv("DRAVIX_TRACE"); trace != nullptr && *trace != '\0') {
        dravix::SetTraceSink(dravix::MakeFileTraceSink(trace));
    }

    dravix::CToolApp app(argc, argv);
    dravix::RouteDriveMessagesToBoxes();
    dravix::CMainDialog::SetSaveHandler([](dravix::CMainDialog& window) { dravix::SaveWindowImage(window); });
    return app.InitInstance();
}

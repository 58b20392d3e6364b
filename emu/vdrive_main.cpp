#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "emu/Tool.h"

int main(int argc, char** argv) {
    // SIGTERM and SIGHUP wait until the command is done, so that they never leave a state file
    // half written or a temporary file beside it; then they end the program as usual.
    sigset_t deferred;
    sigemptyset(&deferred);
    sigaddset(&deferred, SIGTERM);
    sigaddset(&deferred, SIGHUP);
    sigprocmask(SIG_BLOCK, &deferred, nullptr);
    // A full disk or a closed pipe on standard output is a failure, not a signal.
    signal(SIGPIPE, SIG_IGN);

    int status =
        dravix::emu::RunVdriveTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    std::cout.flush();
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno != 0 ? errno : EIO;
        if (error != EPIPE)
            std::cerr << "dravix-vdrive: standard output: " << std::strerror(error) << std::endl;
        status = dravix::emu::kToolBadFile;
    }
    sigprocmask(SIG_UNBLOCK, &deferred, nullptr);
    return status;
}

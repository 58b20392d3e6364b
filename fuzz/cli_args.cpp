// The command line of dravix-cli: global options, command names, each command's arguments and
// the hex bytes of `raw`, split from the input at NUL bytes. No drive can be reached (the ASPI
// library named does not exist) and each run happens in an empty folder; arguments that would
// leave it (a "/") or start the virtual drive are not tried. Every run ends with a documented
// exit status, and one that fails says something.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "fuzz/FuzzCheck.h"

namespace {

constexpr size_t kMaxArguments = 24;

std::filesystem::path g_folder;
int g_startFolder = -1;  // where the fuzzer reads and writes its own files

void RemoveFolder() {
    std::error_code error;
    std::filesystem::remove_all(g_folder, error);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("DRAVIX_ASPI_LIBRARY", "/nonexistent/dravix-fuzz-no-drive.so", 1);
    char pattern[] = "/tmp/dravix-cli-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern) != nullptr);
    g_folder = pattern;
    g_startFolder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(g_startFolder >= 0);
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"dravix-cli"};
    std::string current;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == '\0') {
            args.push_back(current);
            current.clear();
            if (args.size() > kMaxArguments) return 0;
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    for (const std::string& arg : args) {
        if (arg.find('/') != std::string::npos || arg == "--virtual") return 0;
    }

    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    std::istringstream in;
    FUZZ_CHECK(chdir(g_folder.c_str()) == 0);
    const int status = dravix::cli::RunCli(static_cast<int>(args.size()), argv.data(), out, err, in);
    FUZZ_CHECK(fchdir(g_startFolder) == 0);

    FUZZ_CHECK(status >= dravix::cli::kExitOk && status <= dravix::cli::kExitNotRecommended);
    if (status == dravix::cli::kExitUsage) {
        // A usage error is told on standard error, or under --json as the report's "error" object.
        const bool told = err.str().rfind("dravix-cli: ", 0) == 0;
        const bool reported = out.str().rfind("{", 0) == 0 && out.str().find("\"error\":{") != std::string::npos;
        FUZZ_CHECK(told || reported);
    }
    if (status != dravix::cli::kExitOk) FUZZ_CHECK(!out.str().empty() || !err.str().empty());
    // Nothing reaches a drive, so nothing may have been written into the folder.
    FUZZ_CHECK(std::filesystem::is_empty(g_folder));
    return 0;
}

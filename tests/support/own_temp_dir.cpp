// Every test program gets a temporary folder of its own before its tests start: ctest runs test
// programs side by side, and two of them writing the same name in one shared folder (an image, a
// results file) would read each other's files. ::testing::TempDir() and the programs a test starts
// see the folder through TEST_TMPDIR.

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::string BaseFolder() {
    for (const char* variable : {"TEST_TMPDIR", "TMPDIR"}) {
        const char* value = getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return "/tmp";
}

struct OwnTempDir {
    std::string path;
    pid_t owner = 0;

    OwnTempDir() {
        std::string name = BaseFolder() + "/dravix-test-XXXXXX";
        if (mkdtemp(name.data()) == nullptr) return;  // the shared folder then, as before
        path = name;
        owner = getpid();
        setenv("TEST_TMPDIR", path.c_str(), 1);
    }
    ~OwnTempDir() {
        // A forked child that leaves through exit() does not take its parent's folder with it.
        if (path.empty() || getpid() != owner) return;
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const OwnTempDir ownTempDir;

}  // namespace

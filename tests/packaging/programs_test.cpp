// The built programs as a user starts them: their version, Qt's standard options before the
// program's own, and a program that finds neither its guide nor its library where it was put.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "base/Version.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program with the given arguments, its output captured in files of `scratch`.
Result Start(const fs::path& program, const std::vector<std::string>& args, const fs::path& scratch) {
    std::vector<std::string> all = {program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const fs::path out = scratch / "out";
    const fs::path err = scratch / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Result result;
    pid_t child = 0;
    if (::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        if (::waitpid(child, &status, 0) == child && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = ReadAll(out);
    result.err = ReadAll(err);
    return result;
}

class ProgramsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "dravix-programs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_scratch = pattern;
        ::setenv("XDG_STATE_HOME", (m_scratch / "state").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(m_scratch); }

    // A copy of a built program alone in a folder: no guide, no library beside it or installed.
    fs::path Stray(const char* name) {
        const fs::path folder = m_scratch / "elsewhere" / "bin";
        fs::create_directories(folder);
        fs::copy_file(fs::path(DRAVIX_TEST_BIN_DIR) / name, folder / name,
                      fs::copy_options::overwrite_existing);
        fs::permissions(folder / name, fs::perms::owner_all);
        return folder / name;
    }

    fs::path m_scratch;
};

TEST_F(ProgramsTest, EveryProgramAnswersWithItsVersion) {
    for (const char* name : {"dravix", "dravix-cli", "dravix-vdrive"}) {
        const Result run = Start(fs::path(DRAVIX_TEST_BIN_DIR) / name, {"--version"}, m_scratch);
        EXPECT_EQ(run.status, 0) << name;
        EXPECT_EQ(run.out, std::string(name) + " " + dravix::kVersionText + "\n");
    }
}

TEST_F(ProgramsTest, TheWindowProgramLeavesQtItsOptionsAndChecksItsOwn) {
    const fs::path dravix = fs::path(DRAVIX_TEST_BIN_DIR) / "dravix";
    struct Case {
        fs::path program;
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {dravix,
         {"-platform", "offscreen", "-style", "Fusion", "-reverse", "--bogus"},
         2,
         "dravix: unknown option '--bogus'\n"},
        {dravix,
         {"-platform", "offscreen", "--virtual", "stray"},
         2,
         "dravix: unexpected argument 'stray'\n"},
        {Stray("dravix"),
         {"-platform", "offscreen", "--help-window"},
         1,
         "dravix: Files could not be found on this disc.\n"},
        {Stray("dravix"),
         {"-platform", "offscreen", "--virtual", "--help-window"},
         1,
         "dravix: libdravix-vdrive.so: the virtual drive library is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Result run = Start(c.program, c.args, m_scratch);
        EXPECT_EQ(run.status, c.status);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        for (const char* qtOption : {"'-platform'", "'-style'", "'Fusion'", "'-reverse'"}) {
            EXPECT_EQ(run.err.find(qtOption), std::string::npos) << qtOption;
        }
    }
}

}  // namespace

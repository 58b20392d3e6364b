// The built programs as a user starts them: their version, Qt's standard options before the
// program's own, and a program that finds neither its guide nor its library where it was put.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
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

// What a run changes in the environment: NAME=VALUE sets, NAME alone removes.
using Environment = std::vector<std::string>;

// Runs a program with the given arguments, its output captured in files of `scratch` (standard
// output into `output` instead when it is given: /dev/full, or a descriptor as "fd:N").
Result Start(const fs::path& program, const std::vector<std::string>& args, const fs::path& scratch,
             const Environment& changes = {}, const std::string& output = {}) {
    std::vector<std::string> all = {program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    for (char** v = environ; *v != nullptr; ++v) {
        const std::string variable = *v;
        const std::string name = variable.substr(0, variable.find('='));
        const bool changed = std::any_of(changes.begin(), changes.end(), [&](const std::string& c) {
            return c.substr(0, c.find('=')) == name;
        });
        if (!changed) variables.push_back(variable);
    }
    for (const std::string& c : changes) {
        if (c.find('=') != std::string::npos) variables.push_back(c);
    }
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    const fs::path out = scratch / "out";
    const fs::path err = scratch / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output.rfind("fd:", 0) == 0) {
        posix_spawn_file_actions_adddup2(&actions, std::stoi(output.substr(3)), 1);
    } else {
        const std::string path = output.empty() ? out.string() : output;
        posix_spawn_file_actions_addopen(&actions, 1, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Result result;
    pid_t child = 0;
    if (::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
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

// The command line as an ssh session or a cron job runs it: no display whatever QT_QPA_PLATFORM
// names (the chart pictures are drawn offscreen), and no display variable at all.
TEST_F(ProgramsTest, TheCommandLineDrawsItsPicturesWithoutADisplay) {
    const fs::path cli = fs::path(DRAVIX_TEST_BIN_DIR) / "dravix-cli";
    const std::string csv = (m_scratch / "scan.csv").string();
    for (const char* platform : {"xcb", "wayland", "offscreen", "xcb:display=:99"}) {
        SCOPED_TRACE(platform);
        const Environment environment = {std::string("QT_QPA_PLATFORM=") + platform, "DISPLAY",
                                         "WAYLAND_DISPLAY"};
        const std::string png = (m_scratch / "scan.png").string();
        fs::remove(png);
        const Result scan = Start(cli,
                                  {"--virtual", "--quiet", "scan", "--speed", "8X", "--mode", "quick",
                                   "--csv", csv, "--image", png},
                                  m_scratch, environment);
        EXPECT_TRUE(scan.status == 0 || scan.status == 4) << scan.status << scan.err;
        EXPECT_TRUE(fs::exists(png));
        const Result report =
            Start(cli, {"report", csv, "-o", (m_scratch / "r.html").string()}, m_scratch, environment);
        EXPECT_EQ(report.status, 0) << report.err;
    }
}

// Numbers keep the decimal point under a locale that writes a comma, also after Qt has started
// (it sets the user's locale): the report's figures are printed after its chart is drawn.
TEST_F(ProgramsTest, TheCommandLineWritesNumbersInTheCLocale) {
    const fs::path locales = m_scratch / "locales";
    fs::create_directories(locales);
    const std::string made =
        "localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " 2>/dev/null";
    ASSERT_EQ(std::system(made.c_str()), 0) << "localedef (package locales) makes the German locale";
    const Environment german = {"LOCPATH=" + locales.string(), "LC_ALL=de_DE.UTF-8"};
    const fs::path cli = fs::path(DRAVIX_TEST_BIN_DIR) / "dravix-cli";
    const std::string csv = (m_scratch / "scan.csv").string();
    const Result scan =
        Start(cli, {"--virtual", "--quiet", "scan", "--speed", "8X", "--mode", "quick", "--csv", csv},
              m_scratch, german);
    ASSERT_TRUE(scan.status == 0 || scan.status == 4) << scan.err;
    const std::string html = (m_scratch / "r.html").string();
    ASSERT_EQ(Start(cli, {"report", csv, "-o", html}, m_scratch, german).status, 0);
    const std::string page = ReadAll(html);
    EXPECT_TRUE(std::regex_search(page, std::regex("<td>[0-9]+\\.[0-9]{2}</td>")))
        << "no figure with a point";
    EXPECT_FALSE(std::regex_search(page, std::regex("<td>[0-9]+,[0-9]+</td>"))) << "a figure with a comma";
    const Result info = Start(cli, {"--virtual", "--json", "info"}, m_scratch, german);
    EXPECT_NE(info.out.find("\"capacity_mb\":4482.6"), std::string::npos) << info.out;
}

// What cannot be written to standard output is a failure: the system's reason on standard error
// and exit status 1 (a full disk), or exit status 1 alone when the reader has gone (a closed
// pipe), never exit 0 with the output lost.
TEST_F(ProgramsTest, TheCommandLineFailsWhenItsOutputCannotBeWritten) {
    const fs::path cli = fs::path(DRAVIX_TEST_BIN_DIR) / "dravix-cli";
    const std::vector<std::vector<std::string>> commands = {
        {"--virtual", "--json", "info"}, {"--virtual", "info"}, {"--help"}, {"help", "scan"}};
    for (const auto& args : commands) {
        SCOPED_TRACE(args.back());
        const Result full = Start(cli, args, m_scratch, {}, "/dev/full");
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.err, "dravix-cli: standard output: No space left on device\n");

        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        ::close(pipe[0]);
        const Result closed = Start(cli, args, m_scratch, {}, "fd:" + std::to_string(pipe[1]));
        ::close(pipe[1]);
        EXPECT_EQ(closed.status, 1);
        EXPECT_EQ(closed.err, "");
    }
}

}  // namespace

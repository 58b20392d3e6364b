// dravix-cli writetest's results file and picture, and compare and report of write tests: what the
// run saved reads back as the run, and a write test is compared only with another.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "probix/WriteTestFile.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

std::string Content(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WriteTestFilesCli, SavedRunsReadBackCompareWithEachOtherAndGoIntoAReport) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("dravix-writetest-files-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    auto path = [&](const char* name) { return (dir / name).string(); };
    auto run = [&](const char* media, std::vector<std::string> args) {
        VirtualBus bus;
        if (media) bus.AddDrive().Insert(media);
        return RunCliCapture(bus.Drives(), std::move(args));
    };

    for (const auto& [media, csv, png] : {std::tuple{"dvd+r", "plus.csv", "plus.png"},
                                          std::tuple{"dvd-r", "minus.csv", "minus.bmp"}}) {
        SCOPED_TRACE(media);
        const CliRun written = run(media, {"--yes", "--json", "writetest", "--length", "4", "--csv", path(csv),
                                           "--image", path(png)});
        ASSERT_EQ(written.status, 0) << written.err;
        const auto json = nlohmann::json::parse(written.out);
        EXPECT_EQ(json.at("files").at("csv"), path(csv));
        const WriteTestRead read = ReadWriteTestFile(path(csv));
        ASSERT_TRUE(read.record) << read.error;
        // The file holds the run the command reported.
        EXPECT_EQ(read.record->result.points.size(), json.at("points").size());
        EXPECT_EQ(read.record->result.writtenSectors, json.at("written_sectors"));
        EXPECT_TRUE(read.record->result.settingRestored);
        EXPECT_GT(std::filesystem::file_size(path(png)), 1000u);
    }
    // A refused run measured nothing: an older file of the name stays as it was.
    std::ofstream(path("kept.csv")) << "older\n";
    EXPECT_EQ(run("dvd+r-recorded", {"--yes", "writetest", "--csv", path("kept.csv")}).status, 3);
    EXPECT_EQ(Content(path("kept.csv")), "older\n");

    const CliRun compared =
        run(nullptr, {"--json", "compare", path("plus.csv"), path("minus.csv"), "--image", path("both.png")});
    ASSERT_EQ(compared.status, 0) << compared.out;
    const auto json = nlohmann::json::parse(compared.out);
    EXPECT_EQ(json.at("results").size(), 2u);
    EXPECT_EQ(json.at("results")[1].at("end"), "finished");
    EXPECT_TRUE(std::filesystem::exists(path("both.png")));

    // A read test is no write test: refused, naming the file.
    const CliRun read = run("dvd-rom", {"readtest", "--start", "0", "--end", "999", "--csv", path("read.csv")});
    ASSERT_EQ(read.status, 0) << read.err;
    const CliRun mixed = run(nullptr, {"compare", path("plus.csv"), path("read.csv")});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(mixed.err.find("read.csv: a write test compares only with another write test"), std::string::npos)
        << mixed.err;

    const CliRun report = run(nullptr, {"report", path("plus.csv"), path("read.csv"), "-o", path("report.html")});
    ASSERT_EQ(report.status, 0) << report.err;
    const std::string html = Content(path("report.html"));
    EXPECT_NE(html.find("<h2>Write test: DVD+R"), std::string::npos);
    EXPECT_NE(html.find("<h2>Read test: "), std::string::npos);
    EXPECT_NE(html.find("alt=\"Write speed chart of"), std::string::npos);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace dravix::test

// The write test's results file: written and read back to the same record; a file whose figures
// disagree with its points is damaged, named by its line; files of the other kinds are told apart.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/WriteTestFile.h"

namespace dravix {
namespace {

WriteTestRecord Record() {
    WriteTestResult r;
    r.end = WriteTestEnd::Stopped;
    r.message = "Test Write is still on: restart the drive before burning.";
    r.notes = {"GET PERFORMANCE refused: 5/24/00"};
    r.profile = 0x1B;
    r.method = SimulationMethod::MakerSwitch;
    r.writeSpeedsKBps = {5540, 11080, 22160};
    r.speedKBps = 11080;
    r.layout.profile = 0x1B;
    r.layout.dvd = true;
    r.layout.lastLba = 2295103;
    r.startLba = 0;
    r.plannedSectors = 2295104;
    r.writtenSectors = 20000;
    r.writeRequests = 625;
    for (uint32_t lba = 0; lba < 20000; lba += 2000)
        r.points.push_back({lba, 6.0 + lba / 10000.0, 1.0 - lba / 40000.0, 1200.0 + lba / 100.0});
    r.points[3].speedX = 2.5;
    r.points[3].bufferFill = 0.0;
    r.summary = TransferSummary{6.0, r.points.back().speedX, 6.75, 2.5, r.points[3].lba, ReadMode::Clv};
    r.fullDiscSeconds = 532.25;
    r.simulationLeftOn = true;
    r.blankAfter = true;
    r.elapsedSeconds = 3.5;
    WriteTestRecord record =
        WriteTestRecordOf("ZARN    DVD-RW ZR1680A  1.20", "1.20", r, "2026-12-09T18:00:00Z");
    record.programVersion = "2.0.0";
    return record;
}

std::string Text(const WriteTestRecord& record) {
    std::ostringstream out;
    WriteWriteTest(out, record);
    return out.str();
}

WriteTestRead Read(const std::string& text) {
    std::istringstream in(text);
    return ReadWriteTest(in, "write.csv");
}

TEST(WriteTestFile, ARecordComesBackAsItWasWritten) {
    const WriteTestRecord record = Record();
    const std::string text = Text(record);
    const WriteTestRead read = Read(text);
    ASSERT_TRUE(read.record) << read.error;
    const WriteTestResult& r = read.record->result;
    EXPECT_EQ(r.end, WriteTestEnd::Stopped);
    EXPECT_EQ(r.method, SimulationMethod::MakerSwitch);
    EXPECT_EQ(r.message, record.result.message);
    EXPECT_EQ(r.writeSpeedsKBps, record.result.writeSpeedsKBps);
    EXPECT_TRUE(r.simulationLeftOn);
    EXPECT_FALSE(r.settingRestored);
    ASSERT_EQ(r.points.size(), 10u);
    EXPECT_DOUBLE_EQ(r.points[1].bufferFill, 0.95);
    EXPECT_DOUBLE_EQ(r.points[3].bufferFill, 0.0);
    EXPECT_EQ(r.summary->mode, ReadMode::Clv);
    // Everything the file holds came back: written again, it is the same file.
    EXPECT_EQ(Text(*read.record), text);
}

TEST(WriteTestFile, FiguresThatDisagreeWithThePointsOrAnotherKindAreRefused) {
    const std::string text = Text(Record());
    auto lineOf = [&](const std::string& start) {
        std::istringstream in(text);
        std::string line;
        for (int n = 1; std::getline(in, line); ++n) {
            if (line.rfind(start, 0) == 0) return n;
        }
        return 0;
    };
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string edited = text;
        const size_t at = edited.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? edited : edited.replace(at, from.size(), to);
    };
    auto tableOnly = [](const std::string& edited) {
        return edited.substr(0, edited.find(kWriteTestColumns) + std::string(kWriteTestColumns).size() + 1);
    };
    const int lastLine = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    struct Case {
        std::string name;
        std::string edited;
        int line;
        std::string what;
    };
    const Case cases[] = {
        {"a slower point than the minimum", replaced("\n0,0.000000,6.000", "\n0,0.000000,1.000"),
         lineOf("# transfer: "), "the transfer summary does not agree with the points"},
        {"a point beyond the sectors written",
         replaced("# points: 10\n", "# points: 11\n") + "20000,0.040960,8.000,50.0,1400.000\n", lastLine + 1,
         "the point lies outside the sectors written"},
        {"a point lost", replaced("2000,0.004096,6.200,95.0,1220.000\n", ""), lastLine - 1,
         "the file holds 9 of its 10 points"},
        {"a buffer over full", replaced("6.200,95.0,", "6.200,195.0,"), lineOf("2000,"),
         "the point is damaged"},
        {"more written than planned", replaced("planned 2295104,", "planned 100,"), lineOf("# sectors: "),
         "more sectors written than planned"},
        {"a finished run that stopped short", replaced("# result: stopped", "# result: finished"),
         lineOf("# sectors: "), "a finished run that did not write all it planned"},
        {"a newer format", replaced("# format version: 1", "# format version: 2"),
         lineOf("# format version: "), "this file was written by a newer version of Dravix"},
        {"a summary without points", tableOnly(replaced("# points: 10\n", "# points: 0\n")),
         lineOf("# transfer: "), "the transfer summary does not go with the points"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WriteTestRead read = Read(c.edited);
        EXPECT_FALSE(read.record);
        EXPECT_FALSE(read.otherKind);
        EXPECT_NE(read.error.find("write.csv, line " + std::to_string(c.line) + ": " + c.what),
                  std::string::npos)
            << read.error;
    }

    // A read test's or a scan's file is another kind to this reader, and this file to theirs.
    std::ostringstream readTest;
    WriteReadTest(readTest, ReadTestRecord{});
    EXPECT_TRUE(Read(readTest.str()).otherKind);
    EXPECT_TRUE(Read(std::string(kScanResultsTitle) + "\n# format version: 1\n").otherKind);
    std::istringstream asReadTest(text);
    const ReadTestRead other = ReadReadTest(asReadTest, "write.csv");
    EXPECT_FALSE(other.record);
    EXPECT_TRUE(other.otherKind);
}

}  // namespace
}  // namespace dravix

// The read test's results file: written and read back to the same record, and a file whose
// counts, summary or verdict disagree with its ranges and points is damaged, named by its line.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "probix/ReadTestFile.h"

namespace dravix {
namespace {

ReadTestRecord Record() {
    ReadTestRecord record;
    record.driveLabel = "ZARN    DVD-RW ZR1680A  1.20";
    record.firmware = "1.20";
    record.discType = "DVD ROM";
    record.date = "2026-12-08T11:00:00Z";
    record.programVersion = "2.0.0";
    record.imageName = "disc\xE9.iso";  // not ASCII: kept exactly
    ReadTestResult& r = record.result;
    r.end = ReadTestEnd::Finished;
    r.layout.profile = 0x10;
    r.layout.dvd = true;
    r.layout.lastLba = 9999;
    r.layout.layers = 2;
    r.layout.layerBreakLba = 5000;
    r.layout.trackSource = TrackSource::Toc;
    r.layout.tracks = {{1, 1, 0, 9999, true}};
    r.speed.text = "8X by SET STREAMING (11080 kB/s)";
    r.range = {0, 9999};
    r.plannedSectors = 10000;
    r.readSectors = 10000 - 4 - 2048;
    r.failedSectors = 4;
    r.skippedSectors = 2048;
    r.failures = {{{100, 101}, kCommandFailed, {0x03, 0x11, 0x00}}, {{300, 301}, kCommandTimedOut, {}}};
    r.skipped = {{302, 2349}};
    for (uint32_t lba = 0; lba < 9999; lba += 320) r.points.push_back({lba, 4.0 + lba / 1000.0});
    r.points[7].speedX = 2.5;
    r.transfer = TransferSummary{4.0, r.points.back().speedX, 7.125, 2.5, r.points[7].lba, ReadMode::Cav};
    VerifySummary v;
    v.imageSectors = 10000;
    v.comparedSectors = 10000 - 4 - 2048;
    v.differingSectors = 3 + 4 + 2048;
    v.uncomparedSectors = 4 + 2048;
    v.differences = {{40, 41}, {9000, 9000}};
    v.length = LengthMatch::Same;
    r.verify = v;
    r.elapsedSeconds = 12.5;
    return record;
}

std::string Text(const ReadTestRecord& record) {
    std::ostringstream out;
    WriteReadTest(out, record);
    return out.str();
}

ReadTestRead Read(const std::string& text) {
    std::istringstream in(text);
    return ReadReadTest(in, "read.csv");
}

// The same file as format 3 wrote it: no track path, no rotation column.
std::string Version3(const std::string& text) {
    std::istringstream in(text);
    std::string out, line;
    bool table = false;
    while (std::getline(in, line)) {
        if (line.rfind("# track path: ", 0) == 0) continue;
        if (line == "# format version: 4") line = "# format version: 3";
        if (line == kReadTestColumns) {
            line = kReadTestColumnsVersion3;
            table = true;
        } else if (table) {
            line.erase(line.rfind(','));
        }
        out += line + "\n";
    }
    return out;
}

TEST(ReadTestFile, ARecordComesBackAsItWasWritten) {
    const ReadTestRecord record = Record();
    const std::string text = Text(record);
    const ReadTestRead read = Read(text);
    ASSERT_TRUE(read.record) << read.error;
    const ReadTestResult& r = read.record->result;
    EXPECT_EQ(read.record->imageName, record.imageName);
    EXPECT_EQ(r.layout.layerBreakLba, 5000u);
    EXPECT_EQ(r.failures.size(), 2u);
    EXPECT_EQ(r.failures[1].status, kCommandTimedOut);
    EXPECT_EQ(r.skipped, record.result.skipped);
    EXPECT_EQ(r.verify->differences, record.result.verify->differences);
    EXPECT_EQ(r.points.size(), record.result.points.size());
    EXPECT_EQ(
        VerdictLines(r),
        (std::vector<std::string>{"4 sectors could not be read.", "2048 sectors were skipped.",
                                  "The disc differs from the image in 2055 sectors (2052 of them unread)."}));
    // Everything the file holds came back: written again, it is the same file.
    EXPECT_EQ(Text(*read.record), text);

    // A file of format 2 (no recovered count, unread sectors counted apart) reads as the same run.
    std::string older = Version3(text);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"version: 3", "version: 2"},
                                   {", recovered 0", ""},
                                   {"differing 2055", "differing 3"}})
        older.replace(older.find(from), from.size(), to);
    const ReadTestRead old = Read(older);
    ASSERT_TRUE(old.record) << old.error;
    EXPECT_EQ(VerdictLines(old.record->result), VerdictLines(r));
}

TEST(ReadTestFile, AVerdictOrSummaryThatDisagreesWithTheRangesMakesTheFileDamaged) {
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
        return edited.replace(at, from.size(), to);
    };
    const int lastLine = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    struct Case {
        std::string name;
        std::string edited;
        int line;
        std::string what;
    };
    const Case cases[] = {
        {"a verdict of all read",
         replaced("# verdict: 4 sectors could not be read.", "# verdict: All sectors read."),
         lineOf("# verdict: "), "the verdict does not agree"},
        {"a failed range left out", replaced("# failed: 300,301,255,0,0,0\n", ""), lineOf("# sectors: "),
         "the failed sectors do not add up"},
        {"a skipped count edited", replaced("skipped 2048", "skipped 2000"), lineOf("# sectors: "),
         "the skipped sectors do not add up"},
        {"a slower point than the minimum", replaced("\n0,0.000000,4.000", "\n0,0.000000,1.000"),
         lineOf("# transfer: "), "the transfer summary does not agree"},
        {"a difference left out", replaced("# difference: 9000,9000\n", ""), lineOf("# verify: "),
         "the differing sectors do not add up"},
        {"a newer format", replaced("# format version: 4", "# format version: 5"),
         lineOf("# format version: "), "this file was written by a newer version of Dravix"},
        // A finished run read what it planned, and compared what it read of the image.
        {"fewer sectors read", replaced("read 7948,", "read 10,"), lineOf("# sectors: "),
         "the sectors read, failed and skipped do not add up to those planned"},
        {"more sectors planned than the range has", replaced("planned 10000,", "planned 12000,"),
         lineOf("# sectors: "), "the planned sectors are not those of the range"},
        {"more recovered than read", replaced("recovered 0,", "recovered 9000,"), lineOf("# sectors: "),
         "the sector counts are damaged"},
        {"fewer sectors compared", replaced("compared 7948,", "compared 5,"), lineOf("# verify: "),
         "the compared and unread sectors are not those the run read of the image"},
        {"a point beyond the disc",
         replaced("# points: 32\n", "# points: 33\n") + "10000,0.020480,9.000,100.000\n", lastLine + 1,
         "the point lies beyond the disc's last LBA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadTestRead read = Read(c.edited);
        EXPECT_FALSE(read.record);
        EXPECT_NE(read.error.find("read.csv, line " + std::to_string(c.line) + ": " + c.what),
                  std::string::npos)
            << read.error;
    }
}

// A benchmark's figures and the rotation of every point come back from a file; a file of format
// 3, which had neither, reads with the rotation worked out from the position and the speed.
TEST(ReadTestFile, RotationAndBenchmarkFiguresAreKeptAndOlderFilesStillOpen) {
    ReadTestRecord transfer = Record();
    for (SpeedPoint& p : transfer.result.points) p.rpm = 1000.0 + p.lba / 10.0;
    const std::string text = Text(transfer);
    const ReadTestRead read = Read(text);
    ASSERT_TRUE(read.record) << read.error;
    EXPECT_EQ(read.record->result.points[3].rpm, transfer.result.points[3].rpm);
    EXPECT_FALSE(read.record->result.benchmark);

    const ReadTestRead version3 = Read(Version3(text));
    ASSERT_TRUE(version3.record) << version3.error;
    EXPECT_EQ(version3.record->formatVersion, 3);
    // LBA 0 of a dual-layer DVD lies at 24 mm: 4X (4 x 3.84 m/s) turns it 6112 times a minute.
    EXPECT_NEAR(version3.record->result.points[0].rpm, 6112, 3);

    ReadTestRecord benchmark = Record();
    ReadTestResult& r = benchmark.result;
    r.kind = ReadTestKind::Benchmark;
    r.quick = true;
    r.verify.reset();
    benchmark.imageName.clear();
    r.failures.clear();
    r.skipped.clear();
    r.failedSectors = r.skippedSectors = 0;
    r.range = {0, 9999};
    r.plannedSectors = r.readSectors = 10000;  // a disc this small is read whole
    r.access = AccessSummary{{100, 80, 150}, {50, 90, 120}, {50, 110, 140}, 90, 150, 0};
    BenchmarkFigures b;
    b.burstMBps = {33.25, {}};
    b.topReadMBps = 22.16;
    b.spinDownSeconds = {std::nullopt, kNotSupportedByDrive};
    b.spinUpSeconds = {std::nullopt, kNotStopped};
    b.loadEjectRun = true;
    b.ejectSeconds = {std::nullopt, kEjectRefused};
    b.loadSeconds = {std::nullopt, kTrayNotOpened};
    r.benchmark = b;
    const std::string benchmarkText = Text(benchmark);
    const ReadTestRead back = Read(benchmarkText);
    ASSERT_TRUE(back.record) << back.error;
    EXPECT_EQ(back.record->result.kind, ReadTestKind::Benchmark);
    ASSERT_TRUE(back.record->result.benchmark);
    EXPECT_EQ(*back.record->result.benchmark, b);
    EXPECT_EQ(Text(*back.record), benchmarkText);

    // Figures belong to a benchmark, and a benchmark to a file that knows them.
    std::string stray = text;
    stray.insert(stray.find("# elapsed: "), "# burst rate: 30.000 MB/s\n");
    EXPECT_FALSE(Read(stray).record);
    EXPECT_FALSE(Read(Version3(benchmarkText)).record);
}

}  // namespace
}  // namespace dravix

// The results file: what is written comes back whole, and a file that is not whole is refused
// with the line that gives it away.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsFileReader.h"
#include "probix/ScanTexts.h"
#include "tests/probix/ScanTestSupport.h"

namespace dravix {
namespace {

using scan_test::DriveWithDisc;

constexpr int32_t kDualLayerLastLba = 4173823;

// A full run at 16X on a DVD+R DL of the virtual drive, as the page and the command line keep it.
ScanResults MeasuredResults() {
    DriveWithDisc fixture("dvd+r-dl");
    ScanSettings settings;
    settings.discTypeCode = kScanDvdPlusRDl;
    settings.lastLba = kDualLayerLastLba;
    settings.mode = SamplingMode::Full;
    settings.baseStep = BaseStepOf(SamplingMode::Full);
    settings.speedCode = 19;
    ScanResults r;
    ScanCallbacks observer;
    observer.onSample = [&r](const ScanSample& s) { r.samples.push_back(s); };
    const ScanResult result = RunTeFeScan(fixture.shared, settings, observer, [] { return false; });
    EXPECT_EQ(result.end, ScanEnd::Finished);
    r.driveLabel = "ZARN DVD\\RW \xE9 1";  // a backslash and a byte beyond ASCII survive too
    r.firmware = "1.0A";
    r.discTypeCode = kScanDvdPlusRDl;
    r.discType = "DVD+R DL";
    r.manufacturerId = "ORIONDSC";
    r.mediaTypeId = "D08";
    r.date = "2026-12-08T09:05:07Z";
    r.programVersion = "2.0";
    r.outcome = OutcomeOf(result);
    r.verdictText = OutcomeText(result);
    r.speedCode = 19;
    r.kbps = 22160;
    r.mode = SamplingMode::Full;
    r.lastLba = kDualLayerLastLba;
    r.range = RangeOf(SamplingMode::Full, kScanDvdPlusRDl, kDualLayerLastLba, 0, 0);
    r.teReference = result.teReference;
    r.feReference = result.feReference;
    r.elapsedSeconds = result.elapsedSeconds;
    FinishResults(r);
    // The statistics agree with the engine's own count and add up over the zones.
    EXPECT_EQ(r.statistics.all.te.overLimit, result.teOverLimit);
    EXPECT_EQ(r.statistics.all.fe.overLimit, result.feOverLimit);
    const int zoneSamples = std::accumulate(r.statistics.zones.begin(), r.statistics.zones.end(), 0,
                                            [](int n, const PartStatistics& z) { return n + z.samples; });
    EXPECT_EQ(zoneSamples, static_cast<int>(r.samples.size()));
    return r;
}

std::string Text(const ScanResults& r) {
    std::ostringstream out;
    WriteResults(out, r);
    return out.str();
}

ResultsRead Read(const std::string& text) {
    std::istringstream in(text);
    return ReadResults(in, "t.csv");
}

TEST(ResultsFile, WhatIsWrittenIsReadBackWhole) {
    const ScanResults written = MeasuredResults();
    ASSERT_EQ(written.samples.size(), 254u);
    ASSERT_EQ(written.outcome, RunOutcome::NotRecommended);  // 16X is over the limits on this disc

    const ResultsRead read = Read(Text(written));
    ASSERT_TRUE(read.results) << read.error;
    const ScanResults& r = *read.results;
    EXPECT_EQ(r.formatVersion, kResultsFormatVersion);
    ASSERT_EQ(r.samples.size(), written.samples.size());
    for (size_t i = 0; i < r.samples.size(); ++i) {
        const ScanSample& a = written.samples[i];
        const ScanSample& b = r.samples[i];
        EXPECT_EQ(std::tie(a.lba, a.psn, a.teRaw, a.feRaw, a.tePercent, a.fePercent),
                  std::tie(b.lba, b.psn, b.teRaw, b.feRaw, b.tePercent, b.fePercent))
            << "sample " << i;
    }
    EXPECT_EQ(r.statistics, written.statistics);
    EXPECT_EQ(std::tie(r.driveLabel, r.firmware, r.discType, r.manufacturerId, r.mediaTypeId, r.date,
                       r.verdictText),
              std::tie(written.driveLabel, written.firmware, written.discType, written.manufacturerId,
                       written.mediaTypeId, written.date, written.verdictText));
    EXPECT_EQ(std::tie(r.discTypeCode, r.speedCode, r.kbps, r.mode, r.lastLba, r.range.start, r.range.end,
                       r.teReference, r.feReference, r.outcome),
              std::tie(written.discTypeCode, written.speedCode, written.kbps, written.mode, written.lastLba,
                       written.range.start, written.range.end, written.teReference, written.feReference,
                       written.outcome));

    // A Smart report keeps its rows, "not measured" included.
    ScanResults smart;
    smart.kind = ScanResults::Kind::Smart;
    smart.driveLabel = "ZARN";
    smart.discType = "DVD+R";
    smart.capacity = "4482.6 MB";
    smart.outcome = RunOutcome::Stopped;
    smart.verdictText = scan_texts::kUserAbort;
    smart.speeds = {
        {13, 3324, SpeedResult::Fit}, {19, 22160, SpeedResult::OverLimit}, {18, 16620, SpeedResult::Stopped}};
    const ResultsRead smartRead = Read(Text(smart));
    ASSERT_TRUE(smartRead.results) << smartRead.error;
    EXPECT_EQ(smartRead.results->speeds, smart.speeds);
    EXPECT_EQ(smartRead.results->capacity, smart.capacity);
    EXPECT_EQ(smartRead.results->outcome, RunOutcome::Stopped);
}

// Replaces the first `from` in `text` by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

int LineOf(const std::string& text, const std::string& part) {
    const size_t at = text.find(part);
    return 1 +
           static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
}

TEST(ResultsFile, AFileThatIsNotWholeIsRefusedWithItsLine) {
    const ScanResults results = MeasuredResults();
    const std::string good = Text(results);
    const std::string rows = good.substr(good.find(kSampleColumns));
    const std::string secondRow =
        rows.substr(rows.find('\n') + 1, rows.find('\n', rows.find('\n') + 1) - rows.find('\n'));
    // The first sample row with its per-cent values changed.
    std::string forged = secondRow;
    forged.insert(forged.rfind(',') + 1, "1");
    const size_t lastRow = good.rfind('\n', good.size() - 2) + 1;
    const int lastLine = LineOf(good, good.substr(lastRow));
    // A Smart report whose fastest fit speed is 12X.
    ScanResults smart;
    smart.kind = ScanResults::Kind::Smart;
    smart.manufacturerId = "ORIONDSC";
    smart.mediaTypeId = "D08";
    smart.outcome = RunOutcome::Ok;
    smart.verdictText = "Highest recommended speed: 12X";
    smart.speeds = {
        {13, 3324, SpeedResult::Fit}, {19, 22160, SpeedResult::OverLimit}, {18, 16620, SpeedResult::Fit}};
    const std::string smartGood = Text(smart);
    ASSERT_TRUE(Read(smartGood).results) << Read(smartGood).error;

    struct Case {
        const char* what;
        std::string text;
        int line;  // 0: the file as a whole
        const char* says;
    } cases[] = {
        {"foreign", "Date,Open,High\n1,2,3\n", 1, "not a Dravix results file"},
        {"empty", "", 0, "empty"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0", 11), 1, "not a Dravix results file"},
        {"newer", Replaced(good, "# format version: 1", "# format version: 2"), 2, "newer version of Dravix"},
        {"truncated at a row", good.substr(0, lastRow), lastLine - 1, "cut short"},
        {"truncated in a row", good.substr(0, lastRow + 5), lastLine, "sample is damaged"},
        {"truncated in the description", good.substr(0, good.find("# verdict")), 0, "cut short"},
        {"forged value", Replaced(good, secondRow, forged), LineOf(good, secondRow),
         "do not match the raw values"},
        {"forged statistics", Replaced(good, "# statistics: all,254,", "# statistics: all,254,1"),
         LineOf(good, "# statistics: all,"), "statistics do not match"},
        {"row removed", Replaced(good, secondRow, ""), lastLine - 1, "253 of its 254"},
        {"unknown speed", Replaced(good, "speed code 19", "speed code 42"), LineOf(good, "# speed:"),
         "speed is damaged"},
        // A verdict edited by hand is not shown: the samples and the speed rows decide.
        {"result edited", Replaced(good, "# result: not_recommended", "# result: ok"),
         LineOf(good, "# result:"), "not the samples' verdict (not_recommended)"},
        {"verdict edited", Replaced(good, scan_texts::kVerdictNotRecommended, scan_texts::kVerdictOk),
         LineOf(good, "# verdict:"), "verdict is not the samples' verdict"},
        {"failed with a verdict", Replaced(good, "# result: not_recommended", "# result: failed"),
         LineOf(good, "# verdict:"), "does not match the result (failed)"},
        {"Smart result edited", Replaced(smartGood, "# result: ok", "# result: not_recommended"),
         LineOf(smartGood, "# result:"), "not the speed rows' verdict (ok)"},
        {"Smart speed edited", Replaced(smartGood, "speed: 12X", "speed: 16X"),
         LineOf(smartGood, "# verdict:"), "not the speed rows' verdict"},
        {"Smart identifiers unread", Replaced(smartGood, "# identifiers: read", "# identifiers: not read"),
         LineOf(smartGood, "# result:"), "not the speed rows' verdict (failed)"},
    };
    for (const Case& c : cases) {
        const ResultsRead read = Read(c.text);
        EXPECT_FALSE(read.results) << c.what;
        const std::string where = c.line > 0 ? "t.csv, line " + std::to_string(c.line) + ": " : "t.csv: ";
        EXPECT_EQ(read.error.rfind(where, 0), 0u) << c.what << ": " << read.error;
        EXPECT_NE(read.error.find(c.says), std::string::npos) << c.what << ": " << read.error;
    }

    // The scan CSV of earlier releases (no version line, no statistics) is still read.
    std::string old = Replaced(good, "# format version: 1\n", "");
    while (old.find("# statistics: ") != std::string::npos) {
        const size_t at = old.find("# statistics: ");
        old.erase(at, old.find('\n', at) - at + 1);
    }
    for (const char* line : {"# result: not_recommended\n", "# samples: 254\n"})
        old = Replaced(old, line, "");
    const ResultsRead read = Read(old);
    ASSERT_TRUE(read.results) << read.error;
    EXPECT_EQ(read.results->formatVersion, 0);
    EXPECT_EQ(read.results->statistics, results.statistics);
    EXPECT_EQ(read.results->outcome, RunOutcome::NotRecommended);
}

// Every kind of results file takes a key once (lines that list things, such as the statistics
// or a read test's tracks, excepted): a second line of a key is refused where it stands, never
// read over the first.
TEST(ResultsFile, AKeyGivenTwiceIsRefusedWithTheLineOfTheSecond) {
    const std::string scan = Text(MeasuredResults());
    ScanResults smartResults;
    smartResults.kind = ScanResults::Kind::Smart;
    smartResults.capacity = "4482.6 MB";
    smartResults.outcome = RunOutcome::Stopped;
    smartResults.verdictText = scan_texts::kUserAbort;
    const std::string smart = Text(smartResults);
    std::ostringstream readTestText;
    WriteReadTest(readTestText, ReadTestRecord{});
    const std::string readTest = readTestText.str();

    // The text with the line that begins with `start` given twice, and the number of the copy.
    auto twice = [](const std::string& text, const std::string& start) {
        const size_t at = text.find("\n" + start) + 1;
        const std::string line = text.substr(at, text.find('\n', at) + 1 - at);
        return std::pair{std::string(text).insert(at + line.size(), line), LineOf(text, "\n" + start) + 2};
    };
    struct Case {
        const char* kind;
        const std::string& text;
        std::string key;
    } cases[] = {
        {"scan", scan, "drive"},
        {"scan", scan, "format version"},
        {"scan", scan, "elapsed"},
        {"Smart", smart, "capacity"},
        {"Smart", smart, "result"},
        {"read test", readTest, "drive"},
        {"read test", readTest, "sectors"},
    };
    for (const Case& c : cases) {
        const auto [text, line] = twice(c.text, "# " + c.key + ": ");
        const std::string expected = "t.csv, line " + std::to_string(line) + ": a second \"" + c.key + "\" line";
        std::string error;
        if (c.text == readTest) {
            std::istringstream in(text);
            error = ReadReadTest(in, "t.csv").error;
        } else {
            error = Read(text).error;
        }
        EXPECT_EQ(error, expected) << c.kind << ", " << c.key;
    }
}

TEST(ResultsFile, AutosaveNamesFillTheTemplateAndNeverReplaceAFile) {
    ScanResults r;
    r.date = "2026-12-08T09:05:07Z";
    r.driveLabel = "ZARN DVD/RW";
    r.manufacturerId = "ORIONDSC";
    r.mediaTypeId = "D08";
    r.speedCode = 15;
    r.mode = SamplingMode::Quick;
    // A Smart report's speed is the fastest it recommends (by its rate, not its place in the list).
    const std::vector<SmartRow> recommended = {
        {16, 11080, SpeedResult::Fit}, {14, 5540, SpeedResult::Fit}, {18, 16620, SpeedResult::OverLimit}};
    const std::vector<SmartRow> noneFit = {{14, 5540, SpeedResult::OverLimit},
                                           {16, 11080, SpeedResult::Failed}};
    struct Case {
        RunOutcome outcome;
        ScanResults::Kind kind;
        std::vector<SmartRow> speeds;
        const char* name;
    } cases[] = {
        {RunOutcome::Ok,
         ScanResults::Kind::Scan,
         {},
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_6X_quick_ok"},
        {RunOutcome::NotRecommended,
         ScanResults::Kind::Scan,
         {},
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_6X_quick_not_recommended"},
        {RunOutcome::Stopped,
         ScanResults::Kind::Scan,
         {},
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_6X_quick_stopped"},
        {RunOutcome::NoVerdict,
         ScanResults::Kind::Scan,
         {},
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_6X_quick_no_verdict"},
        {RunOutcome::Ok, ScanResults::Kind::Smart, recommended,
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_8X_smart_ok"},
        {RunOutcome::DiscChanged, ScanResults::Kind::Smart, recommended,
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_8X_smart_disc_changed"},
        {RunOutcome::Failed, ScanResults::Kind::Smart, noneFit,
         "2026-12-08_090507_ZARN_DVD_RW_ORIONDSC-D08_none_smart_failed"},
    };
    for (const Case& c : cases) {
        r.outcome = c.outcome;
        r.kind = c.kind;
        r.speeds = c.speeds;
        EXPECT_EQ(ExpandNameTemplate("{date}_{time}_{drive}_{mid}_{speed}_{mode}_{verdict}", r), c.name);
    }
    EXPECT_EQ(ExpandNameTemplate("../{speed} run?", r), ".._none_run_");

    const std::filesystem::path folder =
        std::filesystem::path(::testing::TempDir()) / "dravix-autosave-clash";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    r.kind = ScanResults::Kind::Smart;
    std::vector<std::string> written;
    r.speeds.clear();
    r.outcome = RunOutcome::NotRecommended;  // a report without rows recommends nothing
    r.verdictText = scan_texts::kNoSpeedRecommended;
    for (const char* drive : {"first", "second", "third"}) {
        r.driveLabel = drive;
        const Result<std::string> path = SaveResultsFileNew(folder.string(), "run", r);
        ASSERT_TRUE(path) << path.ErrorText();
        written.push_back(std::filesystem::path(*path).filename().string());
    }
    EXPECT_EQ(written, (std::vector<std::string>{"run.csv", "run-2.csv", "run-3.csv"}));
    const ResultsRead first = ReadResultsFile((folder / "run.csv").string());
    ASSERT_TRUE(first.results) << first.error;
    EXPECT_EQ(first.results->driveLabel, "first");
}

}  // namespace
}  // namespace dravix

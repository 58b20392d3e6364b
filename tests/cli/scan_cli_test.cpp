// dravix-cli scan and smart on the virtual drive: verdicts and exit codes, the page's texts, the
// CSV and the picture, Ctrl+C.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/Version.h"
#include "cli/Cli.h"
#include "drive/Trace.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsFileReader.h"
#include "probix/ScanTexts.h"
#include "tests/probix/ScanTestSupport.h"
#include "tests/support/CommandNames.h"
#include "tests/support/LibraryDrives.h"

#ifdef DRAVIX_TEST_PICTURES
#include <QImage>
#endif

namespace dravix {
namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ScanCli : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("DRAVIX_ASPI_LIBRARY");
        m_dir = std::filesystem::temp_directory_path() /
                ("dravix-scan-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    emu::VirtualDrive& Drive(const char* media) {
        emu::VirtualDrive& drive = bus.AddDrive();
        if (media) drive.Insert(media);
        return drive;
    }

    CliRun Run(std::vector<std::string> args) { return Run(std::move(args), bus.Drives()); }
    CliRun Run(std::vector<std::string> args, const DriveServices& drives) {
        args.insert(args.begin(), "dravix-cli");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        std::ostringstream out, err;
        std::istringstream in;
        CliRun run;
        cli::CliEnvironment environment;
        environment.platform = drives.platform;
        run.status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, in, environment);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

    std::string Path(const char* name) const { return (m_dir / name).string(); }

    // The CDB of the last command sent.
    std::vector<uint8_t> LastCommand() const { return bus.Commands().back(); }

    size_t Measurements() const {
        size_t n = 0;
        for (const auto& cdb : bus.Commands())
            n += scan_test::DriveWithDisc::IsTeFe(cdb) && cdb[11] == 0 ? 1 : 0;
        return n;
    }

    test::VirtualBus bus;
    std::filesystem::path m_dir;
};

const std::vector<uint8_t> kVendorOff = {0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};

TEST_F(ScanCli, VerdictsAndExitCodesMatchThePage) {
    Drive("dvd+r");
    CliRun fit = Run({"scan", "--speed", "4X"});
    EXPECT_EQ(fit.status, 0) << fit.err;
    EXPECT_NE(fit.out.find(scan_texts::kVerdictOk), std::string::npos);
    EXPECT_EQ(Measurements(), 64u);
    EXPECT_EQ(LastCommand(), kVendorOff);

    bus.ClearCommands();
    CliRun unfit = Run({"scan", "--speed", "22160", "--mode", "quick"});
    EXPECT_EQ(unfit.status, 4);
    EXPECT_NE(unfit.out.find(scan_texts::kVerdictNotRecommended), std::string::npos);
    EXPECT_EQ(Measurements(), 19u);
}

// Before its first measurement the scan waits for the drive once, keeps the support check's
// vendor mode for the whole run and reads the speeds once.
TEST_F(ScanCli, TheFirstMeasurementFollowsOneReadyWaitAndOneVendorModeOn) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    // The disc has been reported: no wait for a medium change in what follows.
    const uint8_t testUnitReady[6] = {};
    drive.Execute(testUnitReady, sizeof testUnitReady, 0, nullptr, 0, 0);
    bus.ClearCommands();
    const CliRun run = Run({"scan", "--speed", "4X", "--mode", "quick"});
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::string> sent = test::CommandNames(bus.Commands());
    const auto first = std::find(sent.begin(), sent.end(), "TE/FE measurement");
    ASSERT_NE(first, sent.end());
    EXPECT_EQ(std::vector<std::string>(sent.begin(), first + 1),
              (std::vector<std::string>{"INQUIRY", "TEST UNIT READY", "vendor mode on", "feature list",
                                        "TEST UNIT READY", "GET CONFIGURATION", "GET PERFORMANCE",
                                        // the disc's ids for the output, then the run's own
                                        // reading of them, which it compares after the run
                                        "READ DVD STRUCTURE", "READ DVD STRUCTURE", "TE/FE reference",
                                        "TE/FE reference", "TE/FE measurement"}));
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "vendor mode on"), 1);
    EXPECT_EQ(sent.back(), "vendor mode off");
}

TEST_F(ScanCli, TheCsvHoldsOneRowPerSampleAfterItsDescription) {
    Drive("dvd+r-dl");
    const std::string csv = Path("dl.csv");
    CliRun run = Run({"scan", "--speed", "8x", "--mode", "full", "--csv", csv});
    EXPECT_EQ(run.status, 4) << run.err;
    std::ifstream in(csv);
    std::string line;
    std::vector<std::string> comments, rows;
    std::string header;
    while (std::getline(in, line)) {
        if (line.rfind("#", 0) == 0) {
            comments.push_back(line);
        } else if (header.empty()) {
            header = line;
        } else {
            rows.push_back(line);
        }
    }
    EXPECT_EQ(header, "lba,psn,te_raw,fe_raw,te_percent,fe_percent");
    ASSERT_EQ(rows.size(), 254u);
    EXPECT_EQ(rows.front().rfind("0,196608,", 0), 0u);
    auto has = [&](const std::string& text) {
        return std::any_of(comments.begin(), comments.end(),
                           [&](const std::string& c) { return c.find(text) != std::string::npos; });
    };
    for (const char* wanted :
         {"# drive: ZARN", "# firmware: ", "# disc type: DVD+R DL", "# manufacturer id: ORIONDSC",
          "# media type id: D08", "# speed: 8X (11080 kB/s", "# mode: full", "# range: LBA 0",
          "# references: te 1620, fe 1180", "# limits: te 27 %, fe 18 %",
          "# date: ", "# program version: ", "# verdict: This disc is not recommended"}) {
        EXPECT_TRUE(has(wanted)) << wanted;
    }
    // Every row's per-cent values are its raw values against the references.
    for (const std::string& row : rows) {
        long lba, psn, te, fe, tePercent, fePercent;
        ASSERT_EQ(
            std::sscanf(row.c_str(), "%ld,%ld,%ld,%ld,%ld,%ld", &lba, &psn, &te, &fe, &tePercent, &fePercent),
            6);
        EXPECT_EQ(tePercent, te * 100 / 1620);
        EXPECT_EQ(fePercent, fe * 100 / 1180);
        EXPECT_EQ(static_cast<uint32_t>(psn), ClampDualLayerPsn(LbaToPsn(static_cast<int32_t>(lba), 5), 5));
    }
}

TEST_F(ScanCli, JsonCarriesTheResultAndTheSamples) {
    Drive("dvd+r-marginal");
    CliRun run =
        Run({"--json", "scan", "--speed", "10X", "--mode", "custom", "--start", "0", "--end", "150000"});
    EXPECT_EQ(run.status, 0) << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["result"], "ok");
    EXPECT_EQ(j["mode"], "custom");
    EXPECT_EQ(j["samples"].size(), 3u);
    EXPECT_EQ(j["samples"][2]["lba"], 98304);
    EXPECT_EQ(j["text"], scan_texts::kVerdictOk);
}

TEST_F(ScanCli, RefusalsBeforeTheRun) {
    emu::VirtualDrive& drive = Drive(nullptr);
    CliRun empty = Run({"scan", "--speed", "4X"});
    EXPECT_EQ(empty.status, 3);
    EXPECT_NE(empty.err.find(scan_texts::kInsertBlankDisc), std::string::npos);

    drive.Insert("dvd+rw-blank");
    CliRun rewritable = Run({"scan", "--speed", "4X"});
    EXPECT_EQ(rewritable.status, 3);
    EXPECT_NE(rewritable.err.find(scan_texts::kDiscNotSupported), std::string::npos);
    EXPECT_EQ(LastCommand(), kVendorOff);

    drive.Insert("dvd-r");
    CliRun missing = Run({"scan", "--speed", "2.4X"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("it offers 4X (5540 kB/s), "), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find(", 16X (22160 kB/s)"), std::string::npos);
    EXPECT_EQ(Measurements(), 0u);

    CliRun shortRange = Run({"scan", "--speed", "4X", "--start", "1000", "--end", "100000"});
    EXPECT_EQ(shortRange.status, 2);
    EXPECT_NE(shortRange.err.find(scan_texts::kMinimumLength), std::string::npos);
    CliRun pastEnd = Run({"scan", "--speed", "4X", "--start", "0", "--end", "2295104"});
    EXPECT_NE(pastEnd.err.find(scan_texts::kEndAddressExceeds), std::string::npos);

    EXPECT_EQ(Run({"scan"}).status, 2);
    EXPECT_EQ(Run({"scan", "--speed", "4X", "--mode", "custom"}).status, 2);
    EXPECT_EQ(Run({"scan", "--speed", "4X", "--image", Path("chart.xyz")}).status, 2);
    EXPECT_EQ(Measurements(), 0u);
}

TEST_F(ScanCli, AnOtherMakersDriveIsUnsupported) {
    bus.AddDrive(emu::DriveKind::OtherMaker).Insert("dvd+r");
    EXPECT_EQ(Run({"scan", "--speed", "4X"}).status, 3);
    EXPECT_EQ(Run({"smart"}).status, 3);
}

TEST_F(ScanCli, FailuresExitWithOneAndThePagesTexts) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    drive.AddFault(scan_test::CheckConditionOn(scan_test::TeFeRule(0x03), emu::kNoMedium));
    CliRun noDisc = Run({"scan", "--speed", "4X"});
    EXPECT_EQ(noDisc.status, 1);
    EXPECT_NE(noDisc.err.find(scan_texts::kNoDiscInside), std::string::npos);

    drive.ClearFaults();
    emu::FaultRule invalid = scan_test::TeFeRule(0x00);
    invalid.action = emu::FaultRule::Action::BadAnswer;
    invalid.after = 5;
    drive.AddFault(invalid);
    CliRun marked = Run({"scan", "--speed", "4X"});
    EXPECT_EQ(marked.status, 1);
    EXPECT_NE(marked.err.find(scan_texts::kFirmwareNotSupported), std::string::npos);
    EXPECT_NE(marked.err.find(scan_texts::kDriveActivating), std::string::npos);
    EXPECT_EQ(LastCommand(), kVendorOff);
}

// Two drives on the virtual drive's own adapter, the first pulled out after six samples: the rest
// of the run goes to its target, where nothing answers any more, and never to the drive that moved
// up in the list. The run says that the drive is no longer there.
TEST_F(ScanCli, ADrivePulledOutOnTheAspiPathIsNoLongerThere) {
    emu::DriveState maker = emu::FactoryState(emu::DriveKind::Maker);
    maker.disc = emu::Disc{"dvd+r", 0xA1};
    test::LibraryDrives drives(Path("vdrive.json"), {maker, emu::FactoryState(emu::DriveKind::OtherMaker)});
    int measured = 0;
    SetTraceSink([&](const CommandTrace& trace) {
        if (scan_test::DriveWithDisc::IsTeFe(trace.cdb) && trace.cdb[11] == 0 && trace.status == 0 &&
            ++measured == 6)
            drives.Scenario().RemoveDrive(0);
    });
    const CliRun run = Run({"scan", "--speed", "4X"}, drives.Drives());
    EXPECT_EQ(measured, 6);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(scan_texts::kDriveGone), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(scan_texts::kFirmwareNotSupported), std::string::npos) << run.err;
}

TEST_F(ScanCli, CtrlCStopsBetweenCommandsAndLeavesTheDriveUsable) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    int measured = 0;
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0 && ++measured == 10) std::raise(SIGINT);
    });
    const std::string csv = Path("stopped.csv");
    CliRun run = Run({"scan", "--speed", "4X", "--mode", "full", "--csv", csv});
    drive.SetTraceHook(nullptr);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(scan_texts::kUserAbort), std::string::npos);
    EXPECT_EQ(Measurements(), 10u);
    EXPECT_EQ(LastCommand(), kVendorOff);
    EXPECT_FALSE(drive.State().vendorMode);
    // The samples measured before the stop are kept; the one in flight is dropped.
    const ResultsRead kept = ReadResultsFile(csv);
    ASSERT_TRUE(kept.results) << kept.error;
    EXPECT_EQ(kept.results->verdictText, scan_texts::kUserAbort);
    EXPECT_EQ(kept.results->outcome, RunOutcome::Stopped);
    EXPECT_EQ(kept.results->samples.size(), 9u);

    // Ctrl+C is the program's own again, and the drive measures normally.
    EXPECT_EQ(Run({"scan", "--speed", "4X", "--mode", "quick"}).status, 0);
}

TEST_F(ScanCli, SmartListsEverySpeedAndNamesTheHighestRecommended) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    CliRun mixed = Run({"smart"});
    EXPECT_EQ(mixed.status, 0) << mixed.err;
    EXPECT_NE(mixed.out.find("Manufacture ID: ORIONDSC"), std::string::npos);
    EXPECT_NE(mixed.out.find("Blank Disc Capacity: 4482.6 MB"), std::string::npos);
    EXPECT_NE(mixed.out.find("12X   OK.\n16X   Not recommended.\nHighest recommended speed: 12X\n"),
              std::string::npos)
        << mixed.out;
    EXPECT_EQ(LastCommand(), kVendorOff);

    // Exit 0 with a speed to recommend, 4 with none, 1 when a measurement failed (whatever the
    // others found).
    struct Case {
        uint16_t te, fe;
        bool failOne;
        int status;
        const char* result;
        nlohmann::json recommended;
    };
    const Case cases[] = {
        {270, 180, false, 0, "ok", {{"label", "16X"}, {"kbps", 22160}}},
        {900, 900, false, 4, "not_recommended", nullptr},
        {270, 180, true, 1, "failed", nullptr},
    };
    for (const Case& c : cases) {
        drive.ClearFaults();
        drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 1000));
        drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 1000));
        if (c.failOne) {
            emu::FaultRule bad = scan_test::TeFeRule(0x00);
            bad.action = emu::FaultRule::Action::BadAnswer;
            bad.once = true;
            bad.after = 3;
            drive.AddFault(bad);
        }
        drive.AddFault(scan_test::SampleReply(c.te, c.fe));
        const CliRun run = Run({"--json", "smart"});
        EXPECT_EQ(run.status, c.status) << c.result << run.err;
        const nlohmann::json j = nlohmann::json::parse(run.out);
        EXPECT_EQ(j["speeds"].size(), 7u);
        EXPECT_EQ(j["result"], c.result);
        EXPECT_EQ(j["recommended_speed"], c.recommended);
        EXPECT_EQ(j["error"].is_null(), c.status != 1) << j.dump();
    }
}

// The measurements are vendor commands, which report no medium change: a disc swapped at any
// speed shows only in the identity read after the last one, and then nothing is recommended. The
// same disc put in again counts too: the drive reports the change.
TEST_F(ScanCli, ADiscSwappedAtAnySpeedOfSmartGivesNoVerdict) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    const char* const swaps[] = {"dvd+r-bad", "dvd+r", "dvd+r-bad", "dvd+r", "dvd+r-bad", "dvd+r", nullptr};
    for (int speed = 0; speed < 7; ++speed) {
        drive.Insert("dvd+r");
        Run({"info"});  // the insertion's unit attention is taken
        int referencesRead = 0;
        drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
            // Two reference reads per speed: swap after the TE reference of this speed.
            if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0x03 && referencesRead++ == speed) {
                if (swaps[speed]) {
                    drive.Insert(swaps[speed]);
                } else {
                    drive.Eject();
                }
            }
        });
        const CliRun run = Run({"--json", "smart"});
        drive.SetTraceHook(nullptr);
        EXPECT_EQ(run.status, 1) << "speed " << speed << run.err;
        const nlohmann::json j = nlohmann::json::parse(run.out);
        EXPECT_EQ(j["result"], "disc_changed") << "speed " << speed;
        EXPECT_TRUE(j["recommended_speed"].is_null()) << "speed " << speed;
        EXPECT_EQ(j["error"]["message"], scan_texts::kDiscChanged) << "speed " << speed;
        EXPECT_EQ(LastCommand(), kVendorOff);
    }
}

TEST_F(ScanCli, CtrlCDuringSmartStillGivesItsJson) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    int measured = 0;
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0 && ++measured == 3) std::raise(SIGINT);
    });
    const CliRun run = Run({"--json", "smart"});
    drive.SetTraceHook(nullptr);
    EXPECT_EQ(run.status, 1);
    const nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["result"], "stopped");
    EXPECT_EQ(j["error"]["message"], scan_texts::kUserAbort);
    EXPECT_EQ(j["speeds"][1]["result"], "ok");
    EXPECT_TRUE(j["speeds"][2]["result"].is_null());  // stopped while it was measured
    EXPECT_TRUE(j["recommended_speed"].is_null());
    EXPECT_EQ(LastCommand(), kVendorOff);
}

TEST_F(ScanCli, CompareSetsTwoDiscsZoneMaximaSideBySideAndReportHoldsThemAll) {
    emu::VirtualDrive& drive = Drive("dvd+r");
    const std::string good = Path("good.csv");
    const std::string bad = Path("bad.csv");
    const std::string smart = Path("smart.csv");
    ASSERT_EQ(Run({"scan", "--speed", "8X", "--csv", good}).status, 0);
    ASSERT_EQ(Run({"smart", "--csv", smart}).status, 0);
    drive.Insert("dvd+r-bad");
    ASSERT_EQ(Run({"scan", "--speed", "8X", "--csv", bad}).status, 4);

    const ResultsRead a = ReadResultsFile(good);
    const ResultsRead b = ReadResultsFile(bad);
    ASSERT_TRUE(a.results && b.results) << a.error << b.error;
    CliRun json = Run({"--json", "compare", good, bad});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json j = nlohmann::json::parse(json.out);
    ASSERT_EQ(j["zones"].size(), 10u);
    int differing = 0;
    for (size_t z = 0; z < 10; ++z) {
        const PartStatistics& za = a.results->statistics.zones[z];
        const PartStatistics& zb = b.results->statistics.zones[z];
        ASSERT_GT(za.samples, 0) << z;  // a normal run measures in every zone
        EXPECT_EQ(j["zones"][z]["te_max_percent"], nlohmann::json({za.te.maxPercent, zb.te.maxPercent})) << z;
        EXPECT_EQ(j["zones"][z]["fe_difference"], int(zb.fe.maxPercent) - int(za.fe.maxPercent)) << z;
        differing += za.te.maxPercent != zb.te.maxPercent ? 1 : 0;
    }
    EXPECT_GT(differing, 0);  // two different discs
    EXPECT_EQ(j["all"]["te_difference"],
              int(b.results->statistics.all.te.maxPercent) - int(a.results->statistics.all.te.maxPercent));

    CliRun text = Run({"compare", good, bad});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\n9 "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\nall "), std::string::npos) << text.out;
    // A file that is no results file is named with its line.
    EXPECT_EQ(Run({"compare", good, Path("nothing.csv")}).status, 1);

    const std::string html = Path("report.html");
    CliRun report = Run({"report", good, bad, smart, "-o", html});
    ASSERT_EQ(report.status, 0) << report.err;
    std::ifstream in(html);
    const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(page.find("Smart Mode report"), std::string::npos);
    // Results text left-aligned beside the right-aligned figures; each file by its name, not the
    // path typed (no folder of the user's); the version that made it.
    EXPECT_NE(page.find("<td>16X</td><td>22160</td><td class=\"text\">Not recommended.</td>"),
              std::string::npos);
    EXPECT_EQ(page.find(std::filesystem::path(good).parent_path().string()), std::string::npos);
    EXPECT_NE(page.find(">" + std::filesystem::path(good).filename().string() + "<"), std::string::npos);
    EXPECT_NE(page.find(std::string("by Dravix ") + kVersionText), std::string::npos);
    EXPECT_EQ(page.find("src=\"http"), std::string::npos);  // nothing to fetch: it reads offline
#ifdef DRAVIX_TEST_PICTURES
    size_t pictures = 0;
    for (size_t at = page.find("data:image/png;base64,"); at != std::string::npos;
         at = page.find("data:image/png;base64,", at + 1))
        ++pictures;
    EXPECT_EQ(pictures, 2u);  // one chart per scan
#endif
}

#ifdef DRAVIX_TEST_PICTURES
TEST_F(ScanCli, ThePictureIsTheChartOfTheRun) {
    Drive("dvd+r");
    const std::string png = Path("chart.png");
    const std::string bmp = Path("chart.bmp");
    ASSERT_EQ(Run({"scan", "--speed", "16X", "--image", png}).status, 4);
    ASSERT_EQ(Run({"scan", "--speed", "16X", "--image", bmp}).status, 4);
    const QImage fromPng(QString::fromStdString(png));
    const QImage fromBmp(QString::fromStdString(bmp));
    ASSERT_FALSE(fromPng.isNull());
    // The chart (640 × 360) with its header above and its legend below.
    EXPECT_EQ(fromPng.width(), 660);
    EXPECT_GT(fromPng.height(), 360 + 60);
    // Both runs drew the same chart and legend; only the header's date may differ.
    ASSERT_EQ(fromPng.size(), fromBmp.size());
    const QRect below(0, 120, fromPng.width(), fromPng.height() - 120);
    EXPECT_EQ(fromPng.copy(below).convertToFormat(QImage::Format_RGB32),
              fromBmp.copy(below).convertToFormat(QImage::Format_RGB32));
    int te = 0, fe = 0;
    for (int y = 0; y < fromPng.height(); ++y) {
        for (int x = 0; x < fromPng.width(); ++x) {
            te += (fromPng.pixel(x, y) & 0xFFFFFF) == 0xE31CBB ? 1 : 0;
            fe += (fromPng.pixel(x, y) & 0xFFFFFF) == 0x12EDDD ? 1 : 0;
        }
    }
    EXPECT_GT(te, 300);  // the curve and the criterion line
    EXPECT_GT(fe, 300);
}
#endif

}  // namespace
}  // namespace dravix

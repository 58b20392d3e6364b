// The Book Type procedures on a virtual drive behind the real pass-through code: the order of the
// rows and the vendor mode around each, what a failure ends, the sets and the checks after them.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/BookTypeCommands.h"
#include "drive/DriveTable.h"
#include "procedures/BookTypeProcedures.h"
#include "tests/support/VirtualBus.h"
#include "tests/support/VirtualDriveFixture.h"

namespace dravix {
namespace {

using test::Bytes;
using test::Configuration;
using test::OnVirtualDrive;

// Records what a procedure tells its user.
struct Recorder final : BookTypeObserver {
    void Notice(BookTypeNotice notice) override { notices.push_back(notice); }
    void RowRead(BookTypeRow row, uint8_t value) override { rows.emplace_back(row, value); }

    std::vector<BookTypeNotice> notices;
    std::vector<std::pair<BookTypeRow, uint8_t>> rows;
};

const Bytes kVendorOn = {0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
const Bytes kVendorOff = {0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
const Bytes kReadPlusRw = {0xFF, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadPlusR = {0xFF, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadPlusRDl = {0xFF, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kAllFeatures = {0x46, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0};
const Bytes kEject = {0x1B, 0, 0, 0, 0x02, 0};

TEST_F(OnVirtualDrive, CheckDriveReadsTheRowsInOrderInsideVendorMode) {
    drive.SetBookType(emu::BookTypeRow::PlusR, 0x01);
    Recorder recorder;
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_FALSE(rows.failed);
    EXPECT_TRUE(rows.writesDvdPlusRDl);
    EXPECT_EQ(rows.values[1], 0x01);
    EXPECT_EQ(rows.values[2], 0xE1);
    EXPECT_EQ(rows.values[0], 0x92);
    EXPECT_TRUE(recorder.notices.empty());
    ASSERT_EQ(recorder.rows.size(), 3u);
    EXPECT_EQ(recorder.rows[0].first, BookTypeRow::PlusR);
    EXPECT_EQ(recorder.rows[1].first, BookTypeRow::PlusRDl);
    EXPECT_EQ(recorder.rows[2].first, BookTypeRow::PlusRw);
    const std::vector<Bytes> expected = {kVendorOn,    kReadPlusR, kVendorOff, kAllFeatures, kVendorOn,
                                         kReadPlusRDl, kVendorOff, kVendorOn,  kReadPlusRw,  kVendorOff};
    EXPECT_EQ(Sequence(0xFD, 0xFF, 0x46), expected);
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(OnVirtualDrive, WithoutTheDlFeatureTheDlRowIsNeverRead) {
    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = false; });
    Recorder recorder;
    DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_FALSE(rows.writesDvdPlusRDl);
    EXPECT_FALSE(rows.values[2]);
    EXPECT_TRUE(rows.values[0]);
    EXPECT_FALSE(Sent(kReadPlusRDl));

    // A failing or timed-out feature list counts as no DL, with its message.
    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = true; });
    Fault(0x46, {{7, 0x40}});
    Arm();
    rows = CheckDriveRows(table, recorder);
    EXPECT_FALSE(rows.writesDvdPlusRDl);
    EXPECT_TRUE(rows.values[0]);
    drive.ClearFaults();
    Fault(0x46, {{7, 0x40}}).action = emu::FaultRule::Action::HostTimeout;
    Arm();
    CheckDriveRows(table, recorder);
    EXPECT_EQ(recorder.notices,
              (std::vector{BookTypeNotice::GetConfigurationFailed, BookTypeNotice::GetConfigurationTimeout}));
    EXPECT_FALSE(Sent(kReadPlusRDl));
}

TEST_F(OnVirtualDrive, OverLongFeatureListAnswers) {
    // A reply that claims far more than the 16384 bytes and carries 003Bh only beyond the
    // first few descriptors still decides by what the buffer holds.
    Bytes reply = Configuration({{0x0000, {0, 0x1B, 1, 0}}, {0x003B, {0x01, 0, 0, 0}}});
    PutBe32(reply.data(), 0xFFFFFFF0);
    reply.resize(20000, 0);
    Fault(0x46, {{7, 0x40}}).action = emu::FaultRule::Action::Reply;
    rules.back().reply = reply;
    Arm();
    Recorder recorder;
    EXPECT_TRUE(CheckDriveRows(table, recorder).writesDvdPlusRDl);

    // A chain of descriptors whose lengths run to the end of the buffer and past it.
    drive.ClearFaults();
    Bytes chain(kConfigurationLength + 100, 0);
    PutBe32(chain.data(), 0xFFFFFFFF);
    for (size_t offset = 8; offset + 4 <= chain.size(); offset += 4 + 251) {
        chain[offset + 1] = 0x01;
        chain[offset + 3] = 251;
    }
    Fault(0x46, {{7, 0x40}}).action = emu::FaultRule::Action::Reply;
    rules.back().reply = chain;
    Arm();
    EXPECT_FALSE(CheckDriveRows(table, recorder).writesDvdPlusRDl);
    EXPECT_TRUE(recorder.notices.empty());
}

TEST_F(OnVirtualDrive, RefusedVendorModeOrFailedReadEndsTheCheck) {
    Fault(0xFF, {{1, 0x10}, {2, 0x00}});
    Arm();
    Recorder recorder;
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_TRUE(rows.failed);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::CheckDriveFailed});
    EXPECT_FALSE(Sent(kAllFeatures));
    EXPECT_FALSE(Sent(kReadPlusRw));
    EXPECT_EQ(bus.Commands().back(), kVendorOff);  // vendor mode is left after the failed read
}

TEST(BookTypeOnAnotherMakersDrive, RefusedVendorModeEndsTheCheckWithoutVendorModeOff) {
    test::VirtualBus bus;
    bus.AddDrive(emu::DriveKind::OtherMaker);
    DriveTable table{bus.Drives()};
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    Recorder recorder;
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_TRUE(rows.failed);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::DriveNotSupported});
    EXPECT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::NotSent);
    EXPECT_EQ(recorder.notices.size(), 2u);
    const auto commands = bus.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kVendorOff), 0);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const Bytes& c) { return c[0] == 0xFE; }),
              0);
}

TEST_F(OnVirtualDrive, SettingADriveRowEjectsUnlessThePlusMediaOrNothingIsLoaded) {
    struct Case {
        const char* media;  // null: empty tray
        bool ejects;
    };
    const Case cases[] = {{nullptr, false},  {"dvd+r", false}, {"dvd+rw-blank", false}, {"dvd+r-dl", false},
                          {"dvd-rom", true}, {"cd-rom", true}, {"dvd-r", true},         {"dvd-ram", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.media ? c.media : "empty");
        drive.RemoveDisc();
        drive.Load();
        if (c.media) Insert(c.media);
        bus.ClearCommands();
        Recorder recorder;
        EXPECT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::Completed);
        EXPECT_EQ(Sent(kEject), c.ejects);
        EXPECT_EQ(drive.State().trayOpen, c.ejects);
        // The eject comes before vendor mode, the set inside it.
        const Bytes set = {0xFE, 0x05, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
        const std::vector<Bytes> tail = {kVendorOn, set, kVendorOff};
        EXPECT_EQ(Sequence(0xFD, 0xFE), tail);
        EXPECT_TRUE(recorder.notices.empty());
    }
}

TEST_F(OnVirtualDrive, BookTypeSetSurvivesARestart) {
    Recorder recorder;
    ASSERT_EQ(SetRowBookType(table, BookTypeRow::PlusRw, kBookDvdRom, recorder), SetSent::Completed);
    ASSERT_EQ(SetRowBookType(table, BookTypeRow::PlusRDl, kBookDvdRom, recorder), SetSent::Completed);
    EXPECT_TRUE(Sent({0xFE, 0x04, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Sent({0xFE, 0x05, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
    drive.Restart();
    table.WaitUntilReady();
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_EQ(rows.values[0], kBookDvdRom);
    EXPECT_EQ(rows.values[1], kBookDvdPlusR);
    EXPECT_EQ(rows.values[2], kBookDvdRom);
    EXPECT_TRUE(recorder.notices.empty());
}

// A set that failed is told once the check after it shows the drive's own value; one whose answer
// failed after the drive took it is done; one that nothing can read back is not known.
TEST_F(OnVirtualDrive, WhatAFailedSetCameToTheCheckAfterItTells) {
    Fault(0xFE);
    Arm();
    Recorder recorder;
    EXPECT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::Failed);
    EXPECT_EQ(bus.Commands().back(), kVendorOff);
    EXPECT_TRUE(recorder.notices.empty());  // not before the drive has been read again
    RowSetCheck row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::WriteFailed);
    EXPECT_EQ(row.rows.values[1], kBookDvdPlusR);
    Insert("dvd+rw-recorded");
    EXPECT_EQ(SetDiscBookType(table, 0x01, recorder), SetSent::Failed);
    EXPECT_EQ(bus.Commands().back(), kVendorOff);
    ASSERT_TRUE(ReloadDisc(table));
    const MediaSetCheck media = CheckMediaAfterSet(table, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(media.outcome.check, WriteCheck::WriteFailed);
    EXPECT_EQ(recorder.notices,
              (std::vector{BookTypeNotice::SetDriveFailed, BookTypeNotice::SetMediaFailed}));
    EXPECT_EQ(drive.State().disc->bookType, 0x92);

    drive.ClearFaults();
    Fault(0xFE).action = emu::FaultRule::Action::AppliedTimeout;
    Fault(0xFF, {{1, 0x10}, {2, 0x00}});  // the check's first read
    rules.back().after = 1;
    Arm();
    recorder.notices.clear();
    ASSERT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::Failed);
    row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::Confirmed);
    EXPECT_TRUE(row.outcome.answerLost);
    EXPECT_TRUE(recorder.notices.empty());
    // The next check fails: the check's own failure gives way to the one notice that says so.
    row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::Unknown);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::SetDriveAnswerLost});
    // After a set the drive took, the same failure is a failed check: the drive is one it serves.
    recorder.notices.clear();
    Fault(0xFD, {{1, 0xF1}});
    Arm();
    row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Completed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::ReadBackFailed);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::CheckDriveFailed});
}

}  // namespace
}  // namespace dravix

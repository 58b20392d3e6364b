// The two transport paths under fake operating-system calls: how requests are built, how answers
// and failures fold into 0 / 1 / 255, and discovery.

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <thread>

#include "drive/AspiSrb.h"
#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "drive/Messages.h"
#include "drive/Scsi.h"
#include "drive/VendorMode.h"
#include "tests/support/FakeSgSystem.h"
#include "tests/support/TestPlatform.h"

namespace dravix {
namespace {

using test::FakeSgSystem;
using test::TestPlatform;

// A drive reduced to what these tests look at: its identity, a queue of answers for TEST UNIT
// READY, and every request it saw.
struct MiniDrive {
    std::string identity = "ZARN    DVD-RW DRX-8000 1.05";  // vendor 8, product 16, revision 4
    bool inquiryFails = false;
    std::deque<std::array<uint8_t, 3>> tur;  // sense per TEST UNIT READY; empty = ready
    std::vector<sg_io_hdr_t> requests;
    std::vector<std::vector<uint8_t>> cdbs;

    int operator()(sg_io_hdr_t& r) {
        requests.push_back(r);
        cdbs.emplace_back(r.cmdp, r.cmdp + r.cmd_len);
        const uint8_t op = r.cmdp[0];
        if (op == 0x12) {
            if (inquiryFails) return Check(r, {0x05, 0x24, 0x00});
            auto* data = static_cast<uint8_t*>(r.dxferp);
            std::memset(data, 0, r.dxfer_len);
            data[0] = 0x05;
            std::memcpy(data + 8, identity.data(), std::min<size_t>(identity.size(), r.dxfer_len - 8));
            return 0;
        }
        if (op == 0x00 && !tur.empty()) {
            const auto s = tur.front();
            tur.pop_front();
            return Check(r, s);
        }
        return 0;
    }

    static int Check(sg_io_hdr_t& r, std::array<uint8_t, 3> s) {
        uint8_t sense[18] = {0x70, 0, s[0], 0, 0, 0, 0, 10, 0, 0, 0, 0, s[1], s[2]};
        std::memcpy(r.sbp, sense, std::min<size_t>(sizeof sense, r.mx_sb_len));
        r.sb_len_wr = static_cast<unsigned char>(std::min<size_t>(sizeof sense, r.mx_sb_len));
        r.status = kScsiCheckCondition;
        r.driver_status = 0x08;
        return 0;
    }
};

struct SgFixture : ::testing::Test {
    std::shared_ptr<FakeSgSystem> os = std::make_shared<FakeSgSystem>();
    std::shared_ptr<TestPlatform> platform = [this] {
        auto p = std::make_shared<TestPlatform>();
        p->sg = os;
        return p;
    }();

    DriveServices Drives() const { return {platform, {}}; }

    test::SgDevice Device(std::shared_ptr<MiniDrive> d) {
        return [d](sg_io_hdr_t& r) { return (*d)(r); };
    }
};

TEST(CommandBlock, LengthFollowsTheOperationCode) {
    const std::pair<uint8_t, int> cases[] = {{0x00, 6},  {0x12, 6},  {0x1B, 6},  {0x43, 10}, {0x46, 10},
                                             {0x5A, 10}, {0x60, 12}, {0x7F, 12}, {0x88, 16}, {0x9F, 16},
                                             {0xA0, 12}, {0xAD, 12}, {0xBB, 12}, {0xFD, 12}, {0xFF, 12}};
    for (const auto& [op, length] : cases) EXPECT_EQ(CdbLength(op), length) << std::hex << int(op);
}

TEST(CommandBlock, SenseDecodingKeepsTheLowKeyNibbleInBothFormats) {
    const uint8_t fixed[18] = {0x70, 0, 0x85, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01};
    EXPECT_EQ(DecodeSense(fixed, sizeof fixed), (Sense{0x05, 0x24, 0x01}));
    const uint8_t descriptor[8] = {0x72, 0x82, 0x3A, 0x02, 0, 0, 0, 0};
    EXPECT_EQ(DecodeSense(descriptor, sizeof descriptor), (Sense{0x02, 0x3A, 0x02}));
    // A sense area cut short leaves the fields it does not reach at zero.
    EXPECT_EQ(DecodeSense(fixed, 12), (Sense{0x05, 0x00, 0x00}));
    EXPECT_EQ(DecodeSense(nullptr, 0), Sense{});
}

TEST(CommandBlock, VendorFrameCarriesTheSignature) {
    uint8_t cdb[12];
    std::memset(cdb, 0xAA, sizeof cdb);
    BuildVendorCdb(cdb, 0xF1);
    const uint8_t expected[12] = {0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(cdb, expected, 12));
}

TEST_F(SgFixture, RequestCarriesLengthDirectionTimeoutAndSenseBuffer) {
    auto drive = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(drive), 0);
    DriveTable table(Drives());
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    drive->requests.clear();

    uint8_t buffer[30];
    const uint8_t modeSense[12] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x1E, 0};
    EXPECT_EQ(table.SendCommand(modeSense, kDataIn, buffer, 30, 15), kCommandCompleted);
    uint8_t payload[4] = {};
    const uint8_t write[12] = {0xAA};
    EXPECT_EQ(table.SendCommand(write, kDataOut, payload, 4, 200), kCommandCompleted);
    const uint8_t tur[12] = {};
    EXPECT_EQ(table.SendCommand(tur, 7, buffer, 30, 1), kCommandCompleted);

    ASSERT_EQ(drive->requests.size(), 3u);
    EXPECT_EQ(drive->requests[0].cmd_len, 10);
    EXPECT_EQ(drive->requests[0].dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(drive->requests[0].dxfer_len, 30u);
    EXPECT_EQ(drive->requests[0].timeout, 15000u);
    EXPECT_EQ(drive->requests[0].mx_sb_len, 32);
    EXPECT_EQ(drive->requests[0].interface_id, 'S');
    EXPECT_EQ(drive->requests[1].cmd_len, 12);
    EXPECT_EQ(drive->requests[1].dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(drive->requests[1].timeout, 200000u);
    // Any other direction means no data phase at all.
    EXPECT_EQ(drive->requests[2].cmd_len, 6);
    EXPECT_EQ(drive->requests[2].dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(drive->requests[2].dxfer_len, 0u);
}

TEST_F(SgFixture, AnswersFoldIntoCompletedFailedAndTimedOut) {
    int mode = 0;
    os->AddDrive(0, [&mode](sg_io_hdr_t& r) {
        if (r.cmdp[0] == 0x12) return MiniDrive{}(r);
        switch (mode) {
            case 1:
                return MiniDrive::Check(r, {0x85, 0x3A, 0x00});
            case 2: {  // descriptor-format sense
                const uint8_t d[8] = {0x72, 0x06, 0x28, 0x00, 0, 0, 0, 0};
                std::memcpy(r.sbp, d, sizeof d);
                r.sb_len_wr = sizeof d;
                r.status = kScsiCheckCondition;
                return 0;
            }
            case 3:
                r.status = kScsiBusy;
                return 0;
            case 4:
                return -ETIMEDOUT;
            case 5:
                r.host_status = 0x03;
                return 0;
            case 6:
                return -EPERM;
            case 7:
                r.host_status = 0x07;
                return 0;  // adapter error without sense
            default:
                return 0;
        }
    });
    DriveTable table(Drives());
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    const uint8_t tur[12] = {};

    mode = 1;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    EXPECT_EQ(table.LastSense(), (Sense{0x05, 0x3A, 0x00}));
    mode = 2;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    EXPECT_EQ(table.LastSense(), (Sense{0x06, 0x28, 0x00}));
    // A drive that is busy did not run the command: reporting it completed would let callers
    // take an untouched buffer for an answer.
    mode = 3;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    EXPECT_EQ(table.LastSense(), Sense{});
    mode = 4;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandTimedOut);
    mode = 5;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandTimedOut);
    mode = 6;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    EXPECT_EQ(table.LastOsError(), EPERM);
    EXPECT_EQ(table.LastSense(), Sense{});
    mode = 7;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    mode = 0;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandCompleted);
    EXPECT_EQ(table.LastOsError(), 0);
}

TEST_F(SgFixture, DiscoveryKeepsNodeOrderSkipsOtherDevicesAndPrefersTheGenericNode) {
    auto first = std::make_shared<MiniDrive>();
    auto second = std::make_shared<MiniDrive>();
    second->identity = "OTHERCO DVD-ROM DR-16   A1.0";
    FakeSgSystem::Node disk;
    disk.major = 8;  // a disk, not a CD-ROM
    os->AddNode("/dev/sr0", disk);
    os->AddDrive(1, Device(first), 4);
    os->AddDrive(5, Device(second));  // no generic node: commands go through /dev/sr5

    DriveTable table(Drives());
    ASSERT_TRUE(table.InitTransport());
    EXPECT_TRUE(table.UsePassThrough());
    ASSERT_EQ(table.EnumerateDrives(), 2);
    EXPECT_EQ(table.SelectedIndex(), 0);
    EXPECT_EQ(table.Entry(0).nodeName, "/dev/sg4");
    EXPECT_EQ(table.Entry(1).nodeName, "/dev/sr5");
    EXPECT_EQ(table.DriveLabel(), "ZARN    DVD-RW DRX-8000 1.05");
    EXPECT_EQ(os->OpenCount(), 2);  // one descriptor per drive; the sr node behind sg4 was closed
    ASSERT_TRUE(table.SelectDrive(1));
    EXPECT_EQ(table.FirmwareRevision(), "A1.0");
    // INQUIRY of 56 bytes during discovery.
    EXPECT_EQ(first->cdbs.front(), (std::vector<uint8_t>{0x12, 0, 0, 0, 0x38, 0}));
}

TEST_F(SgFixture, LabelIsTwentyEightCharactersWithNothingTrimmed) {
    auto drive = std::make_shared<MiniDrive>();
    drive->identity = "ZARN    ABCDEFGHIJKL    1.0Z";
    os->AddDrive(0, Device(drive));
    DriveTable table(Drives());
    table.InitTransport();
    table.EnumerateDrives();
    EXPECT_EQ(table.DriveLabel(), "ZARN    ABCDEFGHIJKL    1.0Z");
    EXPECT_EQ(table.FirmwareRevision(), "1.0Z");
}

TEST_F(SgFixture, FailedInquiryFreesTheEntryAndClosesItsHandle) {
    auto broken = std::make_shared<MiniDrive>();
    broken->inquiryFails = true;
    auto good = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(broken));
    os->AddDrive(1, Device(good));
    DriveTable table(Drives());
    table.InitTransport();
    ASSERT_EQ(table.EnumerateDrives(), 1);
    EXPECT_EQ(table.Entry(0).nodeName, "/dev/sr1");
    EXPECT_EQ(os->OpenCount(), 1);
}

TEST_F(SgFixture, NinthDriveIsIgnoredAndReEnumerationClosesEarlierHandles) {
    for (int i = 0; i < 10; ++i) os->AddDrive(i, Device(std::make_shared<MiniDrive>()));
    {
        DriveTable table(Drives());
        table.InitTransport();
        EXPECT_EQ(table.EnumerateDrives(), kMaxDrives);
        EXPECT_EQ(os->OpenCount(), kMaxDrives);
        EXPECT_EQ(table.EnumerateDrives(), kMaxDrives);
        EXPECT_EQ(os->OpenCount(), kMaxDrives);
        for (const std::string& path : os->Opened()) EXPECT_NE(path, "/dev/sr8");
    }
    EXPECT_EQ(os->OpenCount(), 0);  // destruction closes every handle
}

TEST_F(SgFixture, RefusedNodesAreSkippedAndRemembered) {
    os->SetGroupName(24, "cdrom");
    os->AddDrive(0, Device(std::make_shared<MiniDrive>()), -1, EACCES);
    auto reachable = std::make_shared<MiniDrive>();
    os->AddDrive(1, Device(reachable), 1, 0, EACCES);  // sr opens, its sg node does not
    os->SetGenericDriverLoaded(false);
    DriveTable table(Drives());
    table.InitTransport();
    ASSERT_EQ(table.EnumerateDrives(), 1);
    EXPECT_EQ(table.Entry(0).nodeName, "/dev/sr1");
    ASSERT_EQ(table.RefusedNodes().size(), 2u);
    EXPECT_EQ(table.RefusedNodes()[0].path, "/dev/sr0");
    EXPECT_EQ(table.RefusedNodes()[1].path, "/dev/sg1");
}

// What an empty or refused listing is explained with: the cause that applies and its fix, never
// a group the user must not join.
// Two drives alike in every answer are told apart by their nodes, and a drive is found again by
// them after another one has gone, but not when another drive has taken its node.
TEST_F(SgFixture, IdenticalDrivesAreToldApartAndFoundAgainByTheirNodes) {
    os->AddDrive(0, Device(std::make_shared<MiniDrive>()), 0);
    os->AddDrive(1, Device(std::make_shared<MiniDrive>()), 1);
    DriveTable table(Drives());
    table.InitTransport();
    ASSERT_EQ(table.EnumerateDrives(), 2);
    EXPECT_EQ(table.DriveLabelAt(0), table.DriveLabelAt(1));
    EXPECT_EQ(DriveListLine(table, 0), "ZARN    DVD-RW DRX-8000 1.05 \u2014 /dev/sr0, /dev/sg0");
    EXPECT_EQ(DriveListLine(table, 1), "ZARN    DVD-RW DRX-8000 1.05 \u2014 /dev/sr1, /dev/sg1");
    const DriveIdentity second = IdentityOf(table, 1);

    os->RemoveNode("/dev/sr0");
    os->RemoveNode("/dev/sg0");
    ASSERT_EQ(table.EnumerateDrives(), 1);
    EXPECT_EQ(FindDrive(table, second), 0);

    auto other = std::make_shared<MiniDrive>();
    other->identity = "OTHER   DVD WRITER      1.00";
    os->RemoveNode("/dev/sr1");
    os->AddDrive(1, Device(other), 1);
    ASSERT_EQ(table.EnumerateDrives(), 1);
    EXPECT_EQ(FindDrive(table, second), -1);
}

TEST_F(SgFixture, EmptyTableSendsNothingAndSelectionPastTheEndIsRefused) {
    DriveTable empty(Drives());
    empty.InitTransport();
    EXPECT_EQ(empty.EnumerateDrives(), 0);
    EXPECT_EQ(empty.SelectedIndex(), 255);
    const uint8_t tur[12] = {};
    EXPECT_EQ(empty.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    EXPECT_FALSE(empty.SelectDrive(0));
    EXPECT_EQ(empty.DriveLabel(), "");
    EXPECT_EQ(empty.FirmwareRevision(), "");

    auto a = std::make_shared<MiniDrive>();
    auto b = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(a));
    os->AddDrive(1, Device(b));
    DriveTable table(Drives());
    table.InitTransport();
    ASSERT_EQ(table.EnumerateDrives(), 2);
    ASSERT_TRUE(table.SelectDrive(1));
    EXPECT_FALSE(table.SelectDrive(2));
    EXPECT_EQ(table.SelectedIndex(), 1);
    b->cdbs.clear();
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandCompleted);
    EXPECT_EQ(b->cdbs.size(), 1u);
}

TEST_F(SgFixture, WaitUntilReadyRetriesWhileBecomingReady) {
    auto drive = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(drive));
    DriveTable table(Drives());
    table.InitTransport();
    table.EnumerateDrives();

    drive->tur = {{0x02, 0x04, 0x01}, {0x02, 0x04, 0x01}, {0x06, 0x28, 0x00}};
    drive->cdbs.clear();
    EXPECT_FALSE(table.WaitUntilReady());  // ready in the end
    EXPECT_EQ(drive->cdbs.size(), 4u);

    drive->tur = {{0x02, 0x3A, 0x00}};
    EXPECT_TRUE(table.WaitUntilReady());  // no medium
    drive->tur = {{0x04, 0x30, 0x00}};
    drive->cdbs.clear();
    EXPECT_FALSE(table.WaitUntilReady());  // another failure ends the wait at once
    EXPECT_EQ(drive->cdbs.size(), 1u);
    drive->tur = {{0x06, 0x29, 0x00}, {0x02, 0x3A, 0x00}};
    EXPECT_TRUE(table.WaitUntilReady());
}

TEST_F(SgFixture, WaitUntilReadyGivesUpOnADriveThatNeverBecomesReady) {
    auto drive = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(drive));
    DriveTable table(Drives());
    table.InitTransport();
    table.EnumerateDrives();
    // Simulated time: every poll interval passes at once.
    auto simulated = std::chrono::steady_clock::time_point{};
    int told = 0;
    ReadyWaitHooks hooks;
    hooks.now = [&] { return simulated; };
    hooks.sleep = [&](std::chrono::milliseconds interval, const std::stop_token&) { simulated += interval; };
    hooks.becomingReady = [&] { ++told; };
    table.SetReadyWaitHooks(hooks);
    for (int i = 0; i < 1000; ++i) drive->tur.push_back({0x02, 0x04, 0x01});
    drive->cdbs.clear();
    EXPECT_EQ(table.WaitForDrive(), ReadyState::StillBecomingReady);
    // A poll every 200 ms from 0 to the 30 s limit, then the wait gives up.
    EXPECT_EQ(drive->cdbs.size(), 151u);
    EXPECT_EQ(simulated.time_since_epoch(), std::chrono::seconds(30));
    EXPECT_EQ(told, 1);

    // A stop request ends the wait between two polls.
    std::stop_source stop;
    hooks.stop = stop.get_token();
    hooks.sleep = [&](std::chrono::milliseconds interval, const std::stop_token&) {
        simulated += interval;
        if (drive->cdbs.size() == 3) stop.request_stop();
    };
    table.SetReadyWaitHooks(hooks);
    drive->cdbs.clear();
    EXPECT_EQ(table.WaitForDrive(), ReadyState::Cancelled);
    EXPECT_EQ(drive->cdbs.size(), 3u);
    EXPECT_FALSE(table.WaitUntilReady());
}

TEST_F(SgFixture, VendorModeOffKeepsTheSenseOfTheCommandThatFailed) {
    auto drive = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(drive));
    DriveTable table(Drives());
    table.InitTransport();
    table.EnumerateDrives();
    drive->cdbs.clear();
    {
        VendorModeScope vendorMode(table);
        ASSERT_TRUE(vendorMode.Accepted());
        drive->tur = {{0x05, 0x24, 0x00}};
        const uint8_t tur[12] = {};
        EXPECT_EQ(table.SendCommand(tur, kNoData, nullptr, 0, 15), kCommandFailed);
    }
    ASSERT_EQ(drive->cdbs.size(), 3u);
    EXPECT_EQ(drive->cdbs.back()[1], 0xF2);                   // off was sent ...
    EXPECT_EQ(table.LastSense(), (Sense{0x05, 0x24, 0x00}));  // ... and the failure is still there
}

TEST_F(SgFixture, WrappersSendTheirCommandBlocks) {
    auto drive = std::make_shared<MiniDrive>();
    os->AddDrive(0, Device(drive));
    DriveTable table(Drives());
    table.InitTransport();
    table.EnumerateDrives();
    drive->cdbs.clear();
    EXPECT_TRUE(table.MoveTray(true));
    EXPECT_TRUE(table.MoveTray(false));
    EXPECT_TRUE(table.SetVendorMode(true));
    EXPECT_TRUE(table.SetVendorMode(false));
    ASSERT_EQ(drive->cdbs.size(), 4u);
    EXPECT_EQ(drive->cdbs[0], (std::vector<uint8_t>{0x1B, 0, 0, 0, 0x02, 0}));
    EXPECT_EQ(drive->cdbs[1], (std::vector<uint8_t>{0x1B, 0, 0, 0, 0x03, 0}));
    EXPECT_EQ(drive->cdbs[2], (std::vector<uint8_t>{0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(drive->cdbs[3], (std::vector<uint8_t>{0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0}));
}

// ---- The ASPI path over a library of plain functions ----

struct FakeHost {
    uint32_t supportInfo = 0x0101;  // completed, one adapter
    uint8_t maxTargets = 8;
    std::vector<int> cdromTargets = {2};
    std::vector<std::pair<int, int>> devTypeQueries;
    std::vector<std::vector<uint8_t>> cdbs;
    std::vector<aspi::SRB_ExecSCSICmd> execs;
    bool completeLater = true;
    uint8_t haStat = 0;
    uint8_t targStat = 0;
    std::array<uint8_t, 3> sense{};
    std::vector<std::thread> workers;
    bool counting = false;  // names itself as the project's library and reports the bytes moved
    uint32_t moved = 0;
    bool hold = false;  // execute requests stay pending until the test ends them
    std::vector<aspi::SRB_ExecSCSICmd*> held;
    std::vector<void*> aborted;
};
FakeHost* g_host = nullptr;

uint32_t HostSupportInfo() {
    return g_host->supportInfo;
}

uint32_t HostSend(void* block) {
    auto* header = static_cast<aspi::SRB_Header*>(block);
    switch (header->SRB_Cmd) {
        case aspi::SC_HA_INQUIRY: {
            auto* inq = static_cast<aspi::SRB_HAInquiry*>(block);
            inq->HA_Unique[3] = g_host->maxTargets;
            if (g_host->counting)
                std::memcpy(inq->HA_ManagerId, aspi::kCountingManagerId, sizeof aspi::kCountingManagerId);
            inq->SRB_Status = aspi::SS_COMP;
            return aspi::SS_COMP;
        }
        case aspi::SC_GET_DEV_TYPE: {
            auto* dev = static_cast<aspi::SRB_GDEVBlock*>(block);
            g_host->devTypeQueries.emplace_back(dev->SRB_HaId, dev->SRB_Target);
            const bool cd = std::find(g_host->cdromTargets.begin(), g_host->cdromTargets.end(),
                                      dev->SRB_Target) != g_host->cdromTargets.end();
            dev->SRB_DeviceType = cd ? aspi::DTYPE_CDROM : 0;
            dev->SRB_Status = cd ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
            return dev->SRB_Status;
        }
        case aspi::SC_EXEC_SCSI_CMD: {
            auto* srb = static_cast<aspi::SRB_ExecSCSICmd*>(block);
            g_host->execs.push_back(*srb);
            g_host->cdbs.emplace_back(srb->CDBByte, srb->CDBByte + srb->SRB_CDBLen);
            if (g_host->hold) {
                g_host->held.push_back(srb);
                return aspi::SS_PENDING;
            }
            auto finish = [srb] {
                if (g_host->counting && srb->CDBByte[0] != 0x12) srb->SRB_BufLen = g_host->moved;
                if (srb->CDBByte[0] == 0x12) {
                    std::memset(srb->SRB_BufPointer, 0, srb->SRB_BufLen);
                    std::memcpy(srb->SRB_BufPointer + 8, "ZARN    DVD-RW DRX-8000 1.05", 28);
                }
                uint8_t status = aspi::SS_COMP;
                if (srb->CDBByte[0] != 0x12 && (g_host->haStat || g_host->targStat)) {
                    srb->SRB_HaStat = g_host->haStat;
                    srb->SRB_TargStat = g_host->targStat;
                    const uint8_t s[14] = {0x70,
                                           0,
                                           g_host->sense[0],
                                           0,
                                           0,
                                           0,
                                           0,
                                           6,
                                           0,
                                           0,
                                           0,
                                           0,
                                           g_host->sense[1],
                                           g_host->sense[2]};
                    std::memcpy(srb->SenseArea, s, sizeof s);
                    status = aspi::SS_ERR;
                }
                std::atomic_ref<uint8_t>(srb->SRB_Status).store(status, std::memory_order_release);
            };
            if (!g_host->completeLater) {
                finish();
                return srb->SRB_Status;
            }
            g_host->workers.emplace_back([finish] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                finish();
            });
            return aspi::SS_PENDING;
        }
        case aspi::SC_ABORT_SRB:
            // Taken note of; the request is let go of later, when the test says so.
            g_host->aborted.push_back(static_cast<aspi::SRB_Abort*>(block)->SRB_ToAbort);
            header->SRB_Status = aspi::SS_COMP;
            return aspi::SS_COMP;
    }
    return aspi::SS_INVALID_SRB;
}

struct AspiFixture : ::testing::Test {
    FakeHost host;
    std::vector<std::string> messages;
    std::shared_ptr<TestPlatform> platform = [] {
        auto p = std::make_shared<TestPlatform>();
        p->passThrough = false;
        p->loadAspi = [] { return std::make_unique<test::FunctionLibrary>(HostSupportInfo, HostSend); };
        return p;
    }();

    DriveServices Drives() {
        return {platform, [this](const std::string& m) { messages.push_back(m); }};
    }

    void SetUp() override { g_host = &host; }
    void TearDown() override {
        for (auto& w : host.workers) w.join();
        g_host = nullptr;
    }
};

TEST_F(AspiFixture, RequestsArePolledToCompletionAndCarryTheBlockFields) {
    DriveTable table(Drives());
    ASSERT_TRUE(table.InitTransport());
    EXPECT_FALSE(table.UsePassThrough());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    EXPECT_EQ(table.DriveLabel(), "ZARN    DVD-RW DRX-8000 1.05");
    EXPECT_EQ(host.cdbs.front(), (std::vector<uint8_t>{0x12, 0, 0, 0, 0x24, 0}));  // INQUIRY of 36

    uint8_t data[8];
    const uint8_t cdb[12] = {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0};
    EXPECT_EQ(table.SendCommand(cdb, kDataIn, data, 8, 99), kCommandCompleted);
    const aspi::SRB_ExecSCSICmd& srb = host.execs.back();
    EXPECT_EQ(srb.SRB_Target, 2);
    EXPECT_EQ(srb.SRB_Flags, aspi::SRB_DIR_IN);
    EXPECT_EQ(srb.SRB_CDBLen, 10);
    EXPECT_EQ(srb.SRB_SenseLen, 14);
    EXPECT_EQ(srb.SRB_BufLen, 8u);
    uint8_t out[4] = {};
    EXPECT_EQ(table.SendCommand(cdb, kDataOut, out, 4, 99), kCommandCompleted);
    EXPECT_EQ(host.execs.back().SRB_Flags, aspi::SRB_DIR_OUT);
    EXPECT_EQ(table.SendCommand(cdb, 0, nullptr, 0, 99), kCommandCompleted);
    EXPECT_EQ(host.execs.back().SRB_Flags, 0);
}

TEST_F(AspiFixture, FailuresCarrySenseAndTheAdapterTimeOut) {
    DriveTable table(Drives());
    table.InitTransport();
    ASSERT_EQ(table.EnumerateDrives(), 1);
    const uint8_t tur[12] = {};
    host.targStat = kScsiCheckCondition;
    host.sense = {0x82, 0x3A, 0x00};
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandFailed);
    EXPECT_EQ(table.LastSense(), (Sense{0x02, 0x3A, 0x00}));
    host.targStat = 0;
    host.haStat = aspi::HASTAT_TIMEOUT;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandTimedOut);
    host.haStat = 0;
    host.completeLater = false;
    EXPECT_EQ(table.SendCommand(tur, 0, nullptr, 0, 15), kCommandCompleted);
}

TEST_F(AspiFixture, OnlyTheProjectsOwnLibraryIsTrustedWithTheBytesMoved) {
    const uint8_t cdb[12] = {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0};
    host.moved = 3;
    host.completeLater = false;
    for (const bool counting : {true, false}) {
        host.counting = counting;
        DriveTable table(Drives());
        ASSERT_TRUE(table.InitTransport());
        ASSERT_EQ(table.EnumerateDrives(), 1);
        uint8_t data[8];
        EXPECT_EQ(table.SendCommand(cdb, kDataIn, data, sizeof data, 15), kCommandCompleted);
        // Another manager leaves the length as it was: the whole buffer counts as moved.
        EXPECT_EQ(table.LastTransferred(), counting ? 3u : 8u) << counting;
    }
}

TEST_F(AspiFixture, ATimedOutRequestIsAbortedAndKeptUntilTheLibraryLetsGo) {
    DriveTable table(Drives());
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    // A clock that advances a second at every look: the time-out passes after a few polls.
    auto clock = std::make_shared<std::chrono::steady_clock::time_point>();
    platform->now = [clock] { return *clock += std::chrono::seconds(1); };

    host.hold = true;
    uint8_t data[8];
    std::memset(data, 0xAA, sizeof data);
    const uint8_t cdb[12] = {0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0};
    const auto started = *clock;
    EXPECT_EQ(table.SendCommand(cdb, kDataIn, data, sizeof data, 15), kCommandTimedOut);
    EXPECT_GE(*clock - started, std::chrono::seconds(15));
    EXPECT_LE(*clock - started, std::chrono::seconds(17));
    ASSERT_EQ(host.held.size(), 1u);
    EXPECT_EQ(host.aborted, std::vector<void*>{host.held[0]});

    // The library ends the request after the sender gave up: it writes into the request's own
    // memory, which is still there, and never into the caller's buffer.
    aspi::SRB_ExecSCSICmd* late = host.held[0];
    EXPECT_NE(late->SRB_BufPointer, data);
    std::memset(late->SRB_BufPointer, 0x55, late->SRB_BufLen);
    std::atomic_ref<uint8_t>(late->SRB_Status).store(aspi::SS_ABORTED);
    EXPECT_EQ(data[0], 0xAA);

    host.hold = false;
    host.completeLater = false;
    EXPECT_EQ(table.SendCommand(cdb, kDataIn, data, sizeof data, 15), kCommandCompleted);
}

TEST_F(AspiFixture, TargetCountComesFromTheAdapterWhenItIsEightOrSixteen) {
    host.maxTargets = 12;
    host.cdromTargets = {9};
    DriveTable twelve(Drives());
    twelve.InitTransport();
    EXPECT_EQ(twelve.EnumerateDrives(), 0);
    EXPECT_EQ(host.devTypeQueries.size(), 8u);

    host.devTypeQueries.clear();
    host.maxTargets = 16;
    DriveTable sixteen(Drives());
    sixteen.InitTransport();
    EXPECT_EQ(sixteen.EnumerateDrives(), 1);
    EXPECT_EQ(host.devTypeQueries.size(), 16u);
    EXPECT_EQ(sixteen.Entry(0).targetId, 9);
}

TEST_F(AspiFixture, LibraryStatusesDecideWhetherThePathLoads) {
    host.supportInfo = 0xE800;  // no adapters: usable, nothing found
    DriveTable none(Drives());
    EXPECT_TRUE(none.InitTransport());
    EXPECT_EQ(none.EnumerateDrives(), 0);
    EXPECT_TRUE(messages.empty());

    host.supportInfo = 0x0401;
    DriveTable failing(Drives());
    EXPECT_FALSE(failing.InitTransport());
    EXPECT_EQ(messages, (std::vector<std::string>{kMsgUnexpectedAspiFailure, kMsgCantLoadAspi}));

    messages.clear();
    platform->loadAspi = [] { return std::unique_ptr<AspiLibrary>(); };
    DriveTable missing(Drives());
    EXPECT_FALSE(missing.InitTransport());
    EXPECT_EQ(messages, (std::vector<std::string>{kMsgCantLoadAspi}));

    messages.clear();
    platform->loadAspi = [] { return std::make_unique<test::FunctionLibrary>(HostSupportInfo, nullptr); };
    DriveTable incomplete(Drives());
    EXPECT_FALSE(incomplete.InitTransport());
    EXPECT_EQ(messages, (std::vector<std::string>{kMsgCantLoadAspi}));
}

// A table reaches drives only through the platform it was given and tells its messages only to
// its own handler, unless a scope on this thread takes them.
TEST(TableServices, EachTableUsesThePlatformAndTheMessageHandlerItWasGiven) {
    auto platformWith = [](const std::string& identity) {
        auto drive = std::make_shared<MiniDrive>();
        drive->identity = identity;
        auto os = std::make_shared<FakeSgSystem>();
        os->AddDrive(
            0, [drive](sg_io_hdr_t& r) { return (*drive)(r); }, 0);
        auto platform = std::make_shared<TestPlatform>();
        platform->sg = os;
        return platform;
    };
    DriveTable first({platformWith("ZARN    DVD-RW DRX-8000 1.05"), {}});
    DriveTable second({platformWith("ZARN    DVD-RW DRX-9000 2.00"), {}});
    ASSERT_TRUE(first.InitTransport());
    ASSERT_TRUE(second.InitTransport());
    ASSERT_EQ(first.EnumerateDrives(), 1);
    ASSERT_EQ(second.EnumerateDrives(), 1);
    EXPECT_EQ(first.DriveLabel(), "ZARN    DVD-RW DRX-8000 1.05");
    EXPECT_EQ(second.DriveLabel(), "ZARN    DVD-RW DRX-9000 2.00");

    auto noLibrary = std::make_shared<TestPlatform>();
    noLibrary->passThrough = false;
    std::vector<std::string> toOne, toOther, toScope;
    DriveTable one({noLibrary, [&](const std::string& m) { toOne.push_back(m); }});
    DriveTable other({noLibrary, [&](const std::string& m) { toOther.push_back(m); }});
    EXPECT_FALSE(one.InitTransport());
    EXPECT_EQ(toOne, std::vector<std::string>{kMsgCantLoadAspi});
    EXPECT_TRUE(toOther.empty());
    {
        const DriveMessageScope scope([&](const std::string& m) { toScope.push_back(m); });
        EXPECT_FALSE(other.InitTransport());
    }
    EXPECT_EQ(toScope, std::vector<std::string>{kMsgCantLoadAspi});
    EXPECT_TRUE(toOther.empty());
}

}  // namespace
}  // namespace dravix

// Why a drive cannot be used, in the words the window and the command line show: over fake
// device nodes and the real Linux pass-through code.

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/Support.h"
#include "procedures/Diagnosis.h"
#include "tests/support/FakeSgSystem.h"
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

using test::FakeSgSystem;

TEST(Diagnosis, NoDriveNamesTheCauseAndItsFix) {
    struct Case {
        const char* name;
        std::function<void(FakeSgSystem&)> setUp;
        std::vector<std::string> says;
        std::vector<std::string> neverSays;
    };
    const auto refusedNode = [](unsigned gid) {
        FakeSgSystem::Node node;
        node.gid = gid;
        node.openError = EACCES;
        return node;
    };
    const std::vector<Case> cases = {
        {"no drive", [](FakeSgSystem&) {}, {"no CD/DVD drive", "dravix --virtual"}, {"modprobe", "group"}},
        {"sr driver missing",
         [](FakeSgSystem& os) { os.SetCdromDriverLoaded(false); },
         {"modprobe sr_mod", "dravix --virtual"},
         {}},
        {"sg driver missing, sr refused",
         [&](FakeSgSystem& os) {
             os.SetGroupName(24, "cdrom");
             os.AddNode("/dev/sr0", refusedNode(24));
             os.SetGenericDriverLoaded(false);
         },
         {"/dev/sr0 (group \"cdrom\")", "joining the group \"cdrom\"", "modprobe sg", "dravix --virtual"},
         {}},
        {"root-owned node",
         [&](FakeSgSystem& os) {
             os.SetGroupName(0, "root");
             os.AddNode("/dev/sr0", refusedNode(0));
         },
         {"/dev/sr0", "ask an administrator"},
         {"joining the group", "70-dravix.rules"}},
        {"INQUIRY timed out",
         [](FakeSgSystem& os) {
             os.AddDrive(0, [](sg_io_hdr_t& request) {
                 request.host_status = 0x03;  // DID_TIME_OUT
                 return 0;
             });
         },
         {"The drive did not answer INQUIRY within 15 s.", "dravix --virtual"},
         {"no CD/DVD drive", "did not answer the identification command"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::VirtualBus bus;
        c.setUp(bus.Os());
        DriveTable table{bus.Drives()};
        table.InitTransport();
        ASSERT_EQ(table.EnumerateDrives(), 0);
        const std::string text = NoDriveDiagnosis(table);
        for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << text;
        for (const std::string& part : c.neverSays) EXPECT_EQ(text.find(part), std::string::npos) << text;
        // The hint only where it is true: the command line names its own program, a program
        // already on the virtual drive gets none.
        const std::string cli = NoDriveDiagnosis(table, VirtualHint::CommandLine);
        EXPECT_NE(cli.find("start it with \"dravix-cli --virtual\"."), std::string::npos) << cli;
        EXPECT_EQ(NoDriveDiagnosis(table, VirtualHint::None).find("--virtual"), std::string::npos);
    }
    EXPECT_TRUE(PermissionHint({}).empty());
}

// The kernel's refusal of vendor commands on an open sr node, its sg node refused beside it: the
// diagnosis says it was the kernel and names both nodes and the way to access.
TEST(Diagnosis, KernelRefusalBesideARefusedGenericNodeIsExplained) {
    test::VirtualBus bus;
    bus.Os().SetGroupName(6, "disk");
    emu::VirtualDrive drive(emu::DriveKind::Maker);
    bus.Os().AddDrive(
        0,
        [&drive](sg_io_hdr_t& r) {
            return r.cmdp[0] == 0xFD ? -EPERM : test::ExecuteOnVirtualDrive(drive, r);
        },
        3, 0, EACCES);
    DriveTable table{bus.Drives()};
    table.InitTransport();
    ASSERT_EQ(table.EnumerateDrives(), 1);
    EXPECT_EQ(CheckDriveSupport(table).outcome, SupportOutcome::VendorModeRefused);
    ASSERT_TRUE(RefusedByKernel(table.LastFailure()));
    EXPECT_EQ(VendorRefusalReason(table, table.LastFailure())
                  .rfind("refused by the kernel: permission denied on /dev/sr0", 0),
              0u);
    const std::string text = KernelRefusalDiagnosis(table);
    for (const char* part : {"The kernel, not the drive", "/dev/sr0", "/dev/sg3", "70-dravix.rules"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    }
}

}  // namespace
}  // namespace dravix

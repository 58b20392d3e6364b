// One suite of drive-table behaviour run over both paths against the virtual drive: the Linux
// pass-through code behind fake device nodes, and the ASPI path through the virtual drive's own
// library, loaded with dlopen and polled as a real ASPI library is.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "drive/Platform.h"
#include "drive/Scsi.h"
#include "drive/Support.h"
#include "emu/Scenario.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

// Where the drives live for one test: a way to add them and reach them.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual emu::VirtualDrive& AddDrive(emu::DriveKind kind) = 0;
    virtual emu::VirtualDrive& Drive(size_t index) = 0;
    // The drive is pulled out while tables that found it are open.
    virtual void RemoveDrive(size_t index) = 0;
    // What a table is given to reach these drives.
    virtual DriveServices Drives() const = 0;
};

class PassThroughBackend final : public Backend {
  public:
    emu::VirtualDrive& AddDrive(emu::DriveKind kind) override { return m_bus.AddDrive(kind); }
    emu::VirtualDrive& Drive(size_t index) override { return m_bus.Drive(index); }
    void RemoveDrive(size_t index) override {
        m_bus.Os().RemoveNode("/dev/sr" + std::to_string(index));
        m_bus.Os().RemoveNode("/dev/sg" + std::to_string(index));
    }
    DriveServices Drives() const override { return m_bus.Drives(); }

  private:
    test::VirtualBus m_bus;
};

// The library reads one state file per process: every test rewrites that same file.
std::string SharedStatePath() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("dravix-contract-" + std::to_string(::getpid()) + ".json"))
            .string();
    return path;
}

// Removes the state file (and its lock file) when the test program ends.
class StateFileCleanup final : public ::testing::Environment {
  public:
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove(SharedStatePath(), ignored);
        std::filesystem::remove(SharedStatePath() + ".lock", ignored);
    }
};
const auto* const g_cleanup = ::testing::AddGlobalTestEnvironment(new StateFileCleanup);

class AspiBackend final : public Backend {
  public:
    AspiBackend() {
        ::setenv("DRAVIX_VDRIVE_STATE", SharedStatePath().c_str(), 1);
        EXPECT_EQ(m_scenario.BindToFile(SharedStatePath()).ErrorText(), "");
        m_platform->passThrough = false;
        m_platform->loadAspi = [] {
            auto library = LoadAspiLibraryFile(std::string(DRAVIX_TEST_BIN_DIR) + "/libdravix-vdrive.so");
            EXPECT_NE(library, nullptr);
            return library;
        };
    }
    emu::VirtualDrive& AddDrive(emu::DriveKind kind) override { return m_scenario.AddDrive(kind); }
    emu::VirtualDrive& Drive(size_t index) override { return m_scenario.Drive(index); }
    void RemoveDrive(size_t index) override { EXPECT_TRUE(m_scenario.RemoveDrive(index)); }
    DriveServices Drives() const override { return {m_platform, {}}; }

  private:
    emu::Scenario m_scenario{std::vector<emu::DriveState>{}};
    std::shared_ptr<test::TestPlatform> m_platform = std::make_shared<test::TestPlatform>();
};

enum class Path { PassThrough, Aspi };

struct DriveContract : ::testing::TestWithParam<Path> {
    std::unique_ptr<Backend> backend = GetParam() == Path::PassThrough
                                           ? std::unique_ptr<Backend>(new PassThroughBackend)
                                           : std::unique_ptr<Backend>(new AspiBackend);

    std::unique_ptr<DriveTable> OpenTable() {
        auto table = std::make_unique<DriveTable>(backend->Drives());
        EXPECT_TRUE(table->InitTransport());
        EXPECT_EQ(table->UsePassThrough(), GetParam() == Path::PassThrough);
        table->EnumerateDrives();
        return table;
    }
};

TEST_P(DriveContract, DiscoveryListsTheDrivesInOrderWithTheirLabels) {
    backend->AddDrive(emu::DriveKind::Maker);
    backend->AddDrive(emu::DriveKind::OtherMaker);
    backend->AddDrive(emu::DriveKind::OldFirmware);
    auto table = OpenTable();
    ASSERT_EQ(table->DriveCount(), 3);
    EXPECT_EQ(table->SelectedIndex(), 0);
    std::vector<std::string> labels;
    for (uint8_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(table->SelectDrive(i));
        labels.push_back(table->DriveLabel());
        EXPECT_EQ(labels.back().size(), 28u) << labels.back();
        EXPECT_EQ(table->FirmwareRevision(), labels.back().substr(24));
    }
    const emu::DriveState other = backend->Drive(1).State();
    EXPECT_EQ(labels[1].substr(0, other.vendor.size()), other.vendor);
    EXPECT_NE(labels[0], labels[1]);
    // Where each drive is: its nodes, or its target on the virtual drive's adapter.
    EXPECT_EQ(DriveNodesText(table->Entry(2)),
              GetParam() == Path::PassThrough ? "/dev/sr2, /dev/sg2" : "virtual drive at target 2");
}

TEST_P(DriveContract, SupportCheckTellsTheThreeKindsOfDriveApart) {
    backend->AddDrive(emu::DriveKind::Maker).SetFeatureCodes({5, 1, 4});
    backend->AddDrive(emu::DriveKind::OtherMaker);
    backend->AddDrive(emu::DriveKind::OldFirmware);
    backend->AddDrive(emu::DriveKind::Maker).SetFeatureCodes({});
    auto table = OpenTable();

    SupportResult maker = CheckDriveSupport(*table);
    EXPECT_EQ(maker.outcome, SupportOutcome::Supported);
    EXPECT_EQ(maker.featureCodes, (std::vector<uint8_t>{5, 1, 4}));
    EXPECT_TRUE(backend->Drive(0).State().vendorMode);  // the caller sends vendor mode off
    EXPECT_TRUE(table->SetVendorMode(false));
    EXPECT_FALSE(backend->Drive(0).State().vendorMode);

    table->SelectDrive(1);
    EXPECT_EQ(CheckDriveSupport(*table).outcome, SupportOutcome::VendorModeRefused);
    EXPECT_EQ(table->SenseKey(), 0x05);

    table->SelectDrive(2);
    const SupportResult old = CheckDriveSupport(*table);
    EXPECT_EQ(old.outcome, SupportOutcome::FirmwareNotSupported);
    EXPECT_EQ(old.featureListStatus, kCommandCompleted);  // it answers, without the signature
    EXPECT_TRUE(backend->Drive(2).State().vendorMode);    // and gets no off

    table->SelectDrive(3);
    const SupportResult none = CheckDriveSupport(*table);
    EXPECT_EQ(none.outcome, SupportOutcome::Supported);
    EXPECT_TRUE(none.featureCodes.empty());
    EXPECT_TRUE(table->SetVendorMode(false));

    // An on the drive carried out but whose answer timed out: it gets its off before the check
    // gives up, and the time-out stays the failure reported.
    emu::FaultRule lost;
    lost.opcode = 0xFD;
    lost.subCode = 0xF1;
    lost.action = emu::FaultRule::Action::AppliedTimeout;
    lost.once = true;
    backend->Drive(3).AddFault(lost);
    EXPECT_EQ(CheckDriveSupport(*table).outcome, SupportOutcome::VendorModeRefused);
    EXPECT_FALSE(backend->Drive(3).State().vendorMode);
    EXPECT_EQ(table->LastFailure().status, kCommandTimedOut);

    // A feature list whose answer was lost came from a drive in vendor mode: it gets its off, and
    // the lost list stays the failure reported. One the drive refused with its own status gets
    // none, as a list without the signature gets none.
    using Action = emu::FaultRule::Action;
    for (const auto& [action, status, leftOn] : {std::tuple{Action::HostTimeout, kCommandTimedOut, false},
                                                 std::tuple{Action::AdapterError, kCommandFailed, false},
                                                 std::tuple{Action::CheckCondition, kCommandFailed, true}}) {
        emu::FaultRule fault;
        fault.opcode = 0xFD;
        fault.subCode = 0x1B;
        fault.function = 0x0E;
        fault.action = action;
        fault.sense = emu::kInvalidFieldInCdb;
        fault.once = true;
        backend->Drive(3).AddFault(fault);
        EXPECT_EQ(CheckDriveSupport(*table).featureListStatus, status);
        EXPECT_EQ(table->LastFailure().status, status);
        EXPECT_EQ(backend->Drive(3).State().vendorMode, leftOn) << static_cast<int>(action);
        EXPECT_TRUE(table->SetVendorMode(false));
    }
}

TEST_P(DriveContract, ReadinessTrayAndSenseOfTheLastFailure) {
    emu::VirtualDrive& drive = backend->AddDrive(emu::DriveKind::Maker);
    auto table = OpenTable();
    drive.RemoveDisc();
    EXPECT_TRUE(table->WaitUntilReady());
    EXPECT_EQ(table->LastSense(), (Sense{0x02, 0x3A, 0x00}));

    drive.Insert("dvd+r");
    drive.SetBecomingReady(2);
    EXPECT_FALSE(table->WaitUntilReady());  // waits through "becoming ready", then ready
    const uint8_t tur[12] = {};
    EXPECT_EQ(table->SendCommand(tur, kNoData, nullptr, 0, 15), kCommandCompleted);

    EXPECT_TRUE(table->MoveTray(true));
    EXPECT_TRUE(drive.State().trayOpen);
    EXPECT_TRUE(table->MoveTray(false));
    EXPECT_FALSE(drive.State().trayOpen);

    // A vendor command outside vendor mode is refused by the drive with its sense.
    uint8_t list[kFeatureListLength];
    EXPECT_EQ(ReadFeatureList(*table, list), kCommandFailed);
    EXPECT_EQ(table->SenseKey(), 0x05);
    EXPECT_NE(table->SenseAsc(), 0x00);
}

TEST_P(DriveContract, AnswersArriveInTheCallersBufferAndFaultsFoldIntoTheStatus) {
    emu::VirtualDrive& drive = backend->AddDrive(emu::DriveKind::Maker);
    drive.SetBufferKiB(0x2000);
    auto table = OpenTable();
    uint8_t mode[30] = {};
    const uint8_t modeSense[12] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x1E, 0};
    ASSERT_EQ(table->SendCommand(modeSense, kDataIn, mode, sizeof mode, 15), kCommandCompleted);
    EXPECT_EQ(mode[20], 0x20);
    EXPECT_EQ(mode[21], 0x00);
    EXPECT_EQ(table->LastTransferred(), sizeof mode);

    // Both paths tell how much of the buffer the drive filled; an answer without the fields a
    // read needs is a failed command.
    emu::FaultRule shortAnswer;
    shortAnswer.opcode = 0x5A;
    shortAnswer.action = emu::FaultRule::Action::Reply;
    shortAnswer.reply = {0x00, 0x1C, 0x00, 0x00, 0x00};
    shortAnswer.once = true;
    drive.AddFault(shortAnswer);
    EXPECT_EQ(table->ReadAnswer(modeSense, mode, 22, 15), kCommandFailed);
    EXPECT_EQ(table->LastTransferred(), 5u);
    EXPECT_TRUE(table->LastFailure().shortAnswer);
    EXPECT_EQ(mode[1], 0x1C);
    EXPECT_EQ(mode[20], 0x00);  // zero-filled, not left from the earlier answer

    emu::FaultRule timeout;
    timeout.opcode = 0x5A;
    timeout.action = emu::FaultRule::Action::HostTimeout;
    timeout.once = true;
    drive.AddFault(timeout);
    EXPECT_EQ(table->SendCommand(modeSense, kDataIn, mode, sizeof mode, 1), kCommandTimedOut);

    emu::FaultRule busy;
    busy.opcode = 0x5A;
    busy.action = emu::FaultRule::Action::Busy;
    busy.once = true;
    drive.AddFault(busy);
    // A busy drive did not run the command.
    EXPECT_EQ(table->SendCommand(modeSense, kDataIn, mode, sizeof mode, 15), kCommandFailed);

    emu::FaultRule check;
    check.opcode = 0x5A;
    check.sense = {0x03, 0x11, 0x05};
    check.once = true;
    drive.AddFault(check);
    EXPECT_EQ(table->SendCommand(modeSense, kDataIn, mode, sizeof mode, 15), kCommandFailed);
    EXPECT_EQ(table->LastSense(), (Sense{0x03, 0x11, 0x05}));
    EXPECT_EQ(table->SendCommand(modeSense, kDataIn, mode, sizeof mode, 15), kCommandCompleted);
    EXPECT_EQ(table->LastSense(), Sense{});
}

// A drive pulled out: both paths report a failed call without sense and with the platform's error,
// which is how the program tells a drive that went from one that refuses a command. The drive after
// it keeps its node or target: nothing meant for the drive that went reaches it.
TEST_P(DriveContract, APulledOutDriveFailsWithoutSenseAndWithThePlatformsError) {
    backend->AddDrive(emu::DriveKind::Maker).Insert("dvd+r");
    backend->AddDrive(emu::DriveKind::OtherMaker);
    auto table = OpenTable();
    table->WaitUntilReady();  // takes the report of the disc put in
    const uint8_t tur[12] = {};
    ASSERT_EQ(table->SendCommand(tur, kNoData, nullptr, 0, 15), kCommandCompleted);
    const DriveIdentity second = IdentityOf(*table, 1);
    backend->RemoveDrive(0);
    EXPECT_EQ(table->SendCommand(tur, kNoData, nullptr, 0, 15), kCommandFailed);
    EXPECT_EQ(table->LastSense(), Sense{});
    EXPECT_NE(table->LastOsError(), 0);
    ASSERT_EQ(table->EnumerateDrives(), 1);
    EXPECT_EQ(IdentityOf(*table, 0), second);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, DriveContract, ::testing::Values(Path::PassThrough, Path::Aspi),
                         [](const ::testing::TestParamInfo<Path>& info) {
                             return info.param == Path::PassThrough ? std::string("PassThrough")
                                                                    : std::string("Aspi");
                         });

}  // namespace
}  // namespace dravix

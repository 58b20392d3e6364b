// libdravix-vdrive.so driven as the drive layer drives it: loaded with dlopen, requests sent
// through SendASPI32Command and their completion polled or waited for.

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "EmuTestSupport.h"
#include "TempDir.h"
#include "drive/AspiSrb.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace dravix::emu::test {
namespace {

using namespace dravix::aspi;

class AspiLibraryTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        s_path = s_dir->File("vdrive.json");
        Scenario scenario(Preset::Minimal);
        scenario.AddDrive(DriveKind::OtherMaker);
        ASSERT_EQ(scenario.BindToFile(s_path).ErrorText(), "");
        ::setenv(kStateFileVariable, s_path.c_str(), 1);
        s_library = ::dlopen(DRAVIX_VDRIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(s_library, nullptr) << ::dlerror();
        s_supportInfo = reinterpret_cast<GetSupportInfoFn>(::dlsym(s_library, kSupportInfoName));
        s_send = reinterpret_cast<SendCommandFn>(::dlsym(s_library, kSendCommandName));
        ASSERT_NE(s_supportInfo, nullptr);
        ASSERT_NE(s_send, nullptr);
    }
    static void TearDownTestSuite() {
        if (s_library) ::dlclose(s_library);
        delete s_dir;
    }

    void SetUp() override {
        // Each test starts from the same drives, whatever an earlier one left behind.
        auto sharedOpened = Scenario::Open(s_path);
        ASSERT_TRUE(sharedOpened) << sharedOpened.ErrorText();
        auto shared = std::move(sharedOpened).Value();
        for (size_t i = 0; i < shared->DriveCount(); ++i) shared->Drive(i).ClearFaults();
    }

    static SRB_ExecSCSICmd Request(uint8_t target, const std::vector<uint8_t>& cdb, uint8_t flags,
                                   uint8_t* buffer, uint32_t length) {
        SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_Target = target;
        srb.SRB_Flags = flags;
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = buffer;
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
        std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
        return srb;
    }

    // Sends and polls, as the drive layer does when it has no completion event.
    static uint8_t SendAndWait(SRB_ExecSCSICmd& srb) {
        const uint32_t returned = s_send(&srb);
        if (returned != SS_PENDING) return static_cast<uint8_t>(returned);
        uint8_t status;
        while ((status = std::atomic_ref<uint8_t>(srb.SRB_Status).load(std::memory_order_acquire)) ==
               SS_PENDING) {
            std::this_thread::yield();
        }
        return status;
    }

    static inline TempDir* s_dir = nullptr;
    static inline std::string s_path;
    static inline void* s_library = nullptr;
    static inline GetSupportInfoFn s_supportInfo = nullptr;
    static inline SendCommandFn s_send = nullptr;
};

TEST_F(AspiLibraryTest, OneAdapterWithTheDrivesAsTargets) {
    EXPECT_EQ(s_supportInfo(), (uint32_t{SS_COMP} << 8) | 1);

    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(s_send(&inquiry), SS_COMP);
    EXPECT_EQ(inquiry.SRB_Status, SS_COMP);
    EXPECT_EQ(inquiry.HA_Count, 1);
    EXPECT_EQ(inquiry.HA_Unique[3], 8);
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(s_send(&inquiry), SS_INVALID_HA);

    for (uint8_t target = 0; target < 8; ++target) {
        SRB_GDEVBlock device{};
        device.SRB_Cmd = SC_GET_DEV_TYPE;
        device.SRB_Target = target;
        const uint32_t status = s_send(&device);
        EXPECT_EQ(device.SRB_Status, status);
        if (target < 2) {
            EXPECT_EQ(status, SS_COMP);
            EXPECT_EQ(device.SRB_DeviceType, DTYPE_CDROM);
        } else {
            EXPECT_EQ(status, SS_NO_DEVICE) << int(target);
        }
    }
    SRB_GDEVBlock lun{};
    lun.SRB_Cmd = SC_GET_DEV_TYPE;
    lun.SRB_Lun = 1;
    EXPECT_EQ(s_send(&lun), SS_NO_DEVICE);
}

TEST_F(AspiLibraryTest, ExecuteIsPendingFirstAndCompletesWithData) {
    uint8_t data[36] = {};
    SRB_ExecSCSICmd srb = Request(1, Cdb({0x12, 0, 0, 0, 36, 0}), SRB_DIR_IN, data, sizeof data);
    srb.SRB_Status = 0x77;
    EXPECT_EQ(s_send(&srb), SS_PENDING);
    uint8_t status;
    while ((status = std::atomic_ref<uint8_t>(srb.SRB_Status).load(std::memory_order_acquire)) ==
           SS_PENDING) {
        std::this_thread::yield();
    }
    EXPECT_EQ(status, SS_COMP);
    EXPECT_EQ(srb.SRB_TargStat, 0);
    EXPECT_EQ(srb.SRB_HaStat, HASTAT_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, 8), "KORVANE ");

    // Without the data-in flag nothing is written.
    uint8_t untouched[36] = {};
    SRB_ExecSCSICmd noData = Request(0, Cdb({0x12, 0, 0, 0, 36, 0}), 0, untouched, sizeof untouched);
    EXPECT_EQ(SendAndWait(noData), SS_COMP);
    EXPECT_EQ(untouched[8], 0);
}

TEST_F(AspiLibraryTest, CheckConditionFillsTheSenseAreaUpToItsLength) {
    SRB_ExecSCSICmd srb = Request(1, Vendor(0xF1), 0, nullptr, 0);  // another maker's drive
    std::memset(srb.SenseArea, 0xEE, sizeof srb.SenseArea);
    EXPECT_EQ(SendAndWait(srb), SS_ERR);
    EXPECT_EQ(srb.SRB_TargStat, 0x02);
    EXPECT_EQ(srb.SRB_HaStat, HASTAT_OK);
    EXPECT_EQ(srb.SenseArea[0], 0x70);
    EXPECT_EQ(srb.SenseArea[2], 0x05);
    EXPECT_EQ(srb.SenseArea[12], 0x20);
    EXPECT_EQ(srb.SenseArea[13], 0x00);
    EXPECT_EQ(srb.SenseArea[14], 0xEE);  // SRB_SenseLen was 14
    EXPECT_EQ(srb.SenseArea[15], 0xEE);
}

TEST_F(AspiLibraryTest, TimeOutAndBusyFromFaultsInTheSharedFile) {
    auto shared = Scenario::Open(s_path).Value();
    FaultRule timeout;
    timeout.opcode = 0x00;
    timeout.action = FaultRule::Action::HostTimeout;
    timeout.once = true;
    shared->Drive(0).AddFault(timeout);
    FaultRule busy = timeout;
    busy.action = FaultRule::Action::Busy;
    shared->Drive(0).AddFault(busy);

    SRB_ExecSCSICmd first = Request(0, Cdb({0x00}), 0, nullptr, 0);
    EXPECT_EQ(SendAndWait(first), SS_ERR);
    EXPECT_EQ(first.SRB_HaStat, HASTAT_TIMEOUT);
    SRB_ExecSCSICmd second = Request(0, Cdb({0x00}), 0, nullptr, 0);
    EXPECT_EQ(SendAndWait(second), SS_ERR);
    EXPECT_EQ(second.SRB_HaStat, HASTAT_OK);
    EXPECT_EQ(second.SRB_TargStat, 0x08);
    SRB_ExecSCSICmd third = Request(0, Cdb({0x00}), 0, nullptr, 0);
    EXPECT_EQ(SendAndWait(third), SS_COMP);
}

TEST_F(AspiLibraryTest, ItReportsTheBytesMovedAndEndsAnAbortedRequestForGood) {
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    ASSERT_EQ(s_send(&inquiry), SS_COMP);
    EXPECT_EQ(0, std::memcmp(inquiry.HA_ManagerId, kCountingManagerId, sizeof kCountingManagerId));
    uint8_t data[64] = {};
    SRB_ExecSCSICmd complete = Request(0, Cdb({0x12, 0, 0, 0, 64, 0}), SRB_DIR_IN, data, sizeof data);
    EXPECT_EQ(SendAndWait(complete), SS_COMP);
    EXPECT_EQ(complete.SRB_BufLen, 36u);  // the drive's INQUIRY data is 36 bytes long

    // A command that would take two minutes is aborted: from then on the library leaves the
    // request and its buffer alone, and the next request is served.
    auto shared = Scenario::Open(s_path).Value();
    shared->Drive(0).SetLatency(LatencyClass::Command, kMaxLatencyMs);
    std::memset(data, 0xAA, sizeof data);
    SRB_ExecSCSICmd slow = Request(0, Cdb({0x12, 0, 0, 0, 64, 0}), SRB_DIR_IN, data, sizeof data);
    ASSERT_EQ(s_send(&slow), SS_PENDING);
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &slow;
    EXPECT_EQ(s_send(&abort), SS_COMP);
    EXPECT_EQ(std::atomic_ref<uint8_t>(slow.SRB_Status).load(), SS_ABORTED);
    EXPECT_EQ(s_send(&abort), SS_ABORT_FAIL);  // it has ended already
    shared->Drive(0).SetLatency(LatencyClass::Command, 0);
    SRB_ExecSCSICmd next = Request(0, Cdb({0x00}), 0, nullptr, 0);
    EXPECT_EQ(SendAndWait(next), SS_COMP);
    EXPECT_EQ(data[0], 0xAA);
    EXPECT_EQ(slow.SRB_BufLen, sizeof data);
}

TEST_F(AspiLibraryTest, ItsCompletionWaitReturnsWhenTheRequestEnds) {
    const auto wait = reinterpret_cast<WaitCommandFn>(::dlsym(s_library, kWaitCommandName));
    ASSERT_NE(wait, nullptr);
    SRB_ExecSCSICmd quick = Request(0, Cdb({0x00}), 0, nullptr, 0);
    ASSERT_EQ(s_send(&quick), SS_PENDING);
    EXPECT_EQ(wait(&quick, 0), SS_COMP);

    // A request that takes two minutes: a short wait ends pending; a waiter without limit
    // returns when the request is aborted.
    auto shared = Scenario::Open(s_path).Value();
    shared->Drive(0).SetLatency(LatencyClass::Command, kMaxLatencyMs);
    SRB_ExecSCSICmd slow = Request(0, Cdb({0x00}), 0, nullptr, 0);
    ASSERT_EQ(s_send(&slow), SS_PENDING);
    EXPECT_EQ(wait(&slow, 1), SS_PENDING);
    std::atomic<uint32_t> waited{SS_PENDING};
    std::thread waiter([&] { waited = wait(&slow, 0); });
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &slow;
    EXPECT_EQ(s_send(&abort), SS_COMP);
    waiter.join();
    EXPECT_EQ(waited.load(), SS_ABORTED);
    shared->Drive(0).SetLatency(LatencyClass::Command, 0);
}

TEST_F(AspiLibraryTest, MalformedRequestsAreRefusedAtOnce) {
    uint8_t data[8] = {};
    SRB_ExecSCSICmd bothWays = Request(0, Cdb({0x00}), SRB_DIR_IN | SRB_DIR_OUT, data, 8);
    EXPECT_EQ(s_send(&bothWays), SS_INVALID_SRB);
    SRB_ExecSCSICmd noBuffer = Request(0, Cdb({0x12, 0, 0, 0, 36, 0}), SRB_DIR_IN, nullptr, 36);
    EXPECT_EQ(s_send(&noBuffer), SS_INVALID_SRB);
    SRB_ExecSCSICmd longCdb = Request(0, Cdb({0x00}), 0, nullptr, 0);
    longCdb.SRB_CDBLen = 17;
    EXPECT_EQ(s_send(&longCdb), SS_INVALID_SRB);
    SRB_ExecSCSICmd absent = Request(5, Cdb({0x00}), 0, nullptr, 0);
    EXPECT_EQ(s_send(&absent), SS_NO_DEVICE);
    SRB_Header unknown{};
    unknown.SRB_Cmd = 0x09;
    EXPECT_EQ(s_send(&unknown), SS_INVALID_SRB);
    EXPECT_EQ(s_send(nullptr), SS_INVALID_SRB);
}

TEST_F(AspiLibraryTest, RequestsFromSeveralThreadsAllComplete) {
    std::atomic<int> wrong{0};
    auto worker = [&wrong](uint8_t target, const char* vendor) {
        for (int i = 0; i < 200; ++i) {
            uint8_t data[36] = {};
            SRB_ExecSCSICmd srb = Request(target, Cdb({0x12, 0, 0, 0, 36, 0}), SRB_DIR_IN, data, sizeof data);
            if (SendAndWait(srb) != SS_COMP || std::string(reinterpret_cast<char*>(data) + 8, 8) != vendor)
                ++wrong;
        }
    };
    std::thread a(worker, 0, "ZARN    "), b(worker, 1, "KORVANE ");
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(AspiLibrary, WithoutStateFileThereIsNoAdapter) {
    TempDir dir;
    const std::string command = std::string("DRAVIX_VDRIVE_STATE='") + dir.File("missing.json") + "' '" +
                                DRAVIX_ASPI_PROBE + "' '" + DRAVIX_VDRIVE_LIBRARY + "' 2>'" +
                                dir.File("err") + "'";
    FILE* probe = ::popen(command.c_str(), "r");
    ASSERT_NE(probe, nullptr);
    char line[32] = {};
    const bool read = std::fgets(line, sizeof line, probe) != nullptr;
    EXPECT_EQ(::pclose(probe), 0);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::string(line), "E800\n");  // no adapters, and a message naming the file:
    std::ifstream err(dir.File("err"));
    const std::string message((std::istreambuf_iterator<char>(err)), {});
    EXPECT_EQ(message, "libdravix-vdrive: " + dir.File("missing.json") +
                           ": no such file (create it with: dravix-vdrive init)\n");
}

}  // namespace
}  // namespace dravix::emu::test

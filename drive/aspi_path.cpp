// The ASPI path: drives reached through an ASPI library's request blocks. Portable; the library
// and the completion event come from the platform.

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drive/AspiSrb.h"
#include "drive/Messages.h"
#include "drive/Platform.h"
#include "drive/Timeouts.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

using namespace aspi;
using Clock = std::chrono::steady_clock;

// How long discovery waits for the adapter and device requests.
constexpr auto kDiscoveryTimeout = std::chrono::seconds(kDiscoveryTimeoutSeconds);

// The first and the longest sleep between two looks at a polled request's status byte.
constexpr Clock::duration kFirstPoll = std::chrono::microseconds(50);
constexpr Clock::duration kLongestPoll = std::chrono::milliseconds(5);
// The longest single wait on the library's completion; a request without time-out waits in spans.
constexpr std::chrono::milliseconds kLongestWaitSpan = std::chrono::minutes(1);

// Reads the status byte the library writes from its own thread when the request ends.
uint8_t LoadStatus(uint8_t& status) {
    return std::atomic_ref<uint8_t>(status).load(std::memory_order_acquire);
}

// One execute request and everything the library may still write into or signal: the block, a
// buffer of its own for the data phase and the completion event. It must outlive the library's
// use of it, which ends only when the library gives the block a final status.
struct PendingRequest {
    SRB_ExecSCSICmd srb{};
    SRB_Abort abort{};
    std::vector<uint8_t> buffer;
    std::unique_ptr<CompletionEvent> event;

    bool Settled() { return LoadStatus(srb.SRB_Status) != SS_PENDING; }
};

class AspiPath final : public TransportPath {
  public:
    AspiPath(Platform& platform, MessageHandler messages)
        : m_platform(platform), m_messages(std::move(messages)) {}

    ~AspiPath() override {
        // Requests the library has not let go of stay allocated: it may still write into them.
        ReapAbandoned();
        for (auto& request : m_abandoned) (void)request.release();
    }

    bool Load() override {
        m_library = m_platform.LoadAspiLibrary();
        if (!m_library) return false;
        m_supportInfo = m_library->SupportInfo();
        m_send = m_library->SendCommand();
        m_wait = m_library->WaitCommand();
        if (m_supportInfo == nullptr || m_send == nullptr) return false;
        const uint32_t info = m_supportInfo();
        const uint8_t status = static_cast<uint8_t>(info >> 8);
        if (status != SS_COMP && status != SS_NO_ADAPTERS) {
            ShowDriveMessage(m_messages, kMsgUnexpectedAspiFailure);
            return false;
        }
        m_adapterCount = static_cast<int32_t>(info & 0xFF);
        return true;
    }

    int32_t AdapterCount() const override { return m_adapterCount; }

    void Enumerate(DiscoveryTarget& target) override {
        if (m_send == nullptr) return;
        for (int32_t adapter = 0; adapter < m_adapterCount; ++adapter) {
            auto inquiry = std::make_unique<SRB_HAInquiry>();
            inquiry->SRB_Cmd = SC_HA_INQUIRY;
            inquiry->SRB_HaId = static_cast<uint8_t>(adapter);
            if (Submit(inquiry, inquiry->SRB_Status) != SS_COMP) continue;
            m_countingAdapters[static_cast<uint8_t>(adapter)] =
                std::memcmp(inquiry->HA_ManagerId, kCountingManagerId, sizeof kCountingManagerId) == 0;
            const char* identifier = reinterpret_cast<const char*>(inquiry->HA_Identifier);
            // Space padded, as ASPI fields are.
            std::string adapterName(identifier, strnlen(identifier, sizeof inquiry->HA_Identifier));
            adapterName.erase(adapterName.find_last_not_of(' ') + 1);
            const uint8_t reported = inquiry->HA_Unique[3];
            const int targets = (reported == 8 || reported == 16) ? reported : 8;
            for (int id = 0; id < targets; ++id) {
                if (target.Full()) return;  // room for eight drives; a ninth is ignored
                auto device = std::make_unique<SRB_GDEVBlock>();
                device->SRB_Cmd = SC_GET_DEV_TYPE;
                device->SRB_HaId = static_cast<uint8_t>(adapter);
                device->SRB_Target = static_cast<uint8_t>(id);
                if (Submit(device, device->SRB_Status) != SS_COMP || device->SRB_DeviceType != DTYPE_CDROM) {
                    continue;
                }
                DriveEntry candidate;
                candidate.adapterId = static_cast<uint8_t>(adapter);
                candidate.targetId = static_cast<uint8_t>(id);
                candidate.adapterName = adapterName;
                target.TryAddDrive(candidate, 36);
            }
        }
    }

    TransportResult Send(const DriveEntry& entry, const uint8_t* cdb, int cdbLength, int direction,
                         void* data, uint32_t length, uint32_t timeoutSeconds) override {
        TransportResult result;
        if (m_send == nullptr) return result;
        ReapAbandoned();

        auto request = std::make_unique<PendingRequest>();
        SRB_ExecSCSICmd& srb = request->srb;
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = entry.adapterId;
        srb.SRB_Target = entry.targetId;
        srb.SRB_Lun = 0;
        srb.SRB_Flags = direction == kDataOut ? SRB_DIR_OUT : direction == kDataIn ? SRB_DIR_IN : 0;
        // The library gets a buffer of the request's own, so that a request it finishes after we
        // gave up on it writes into memory that is still ours, never into the caller's.
        request->buffer.assign(length, 0);
        if (direction == kDataOut && length != 0) std::memcpy(request->buffer.data(), data, length);
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = length != 0 ? request->buffer.data() : nullptr;
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = static_cast<uint8_t>(cdbLength);
        std::memcpy(srb.CDBByte, cdb, static_cast<size_t>(cdbLength));

        // A time-out of 0 sets no limit.
        const Clock::time_point deadline = timeoutSeconds == 0
                                               ? Clock::time_point::max()
                                               : m_platform.Now() + std::chrono::seconds(timeoutSeconds);
        uint8_t status = SS_PENDING;
        request->event = m_platform.CreateCompletionEvent();
        if (request->event) {
            srb.SRB_Flags |= SRB_EVENT_NOTIFY;
            srb.SRB_PostProc = request->event->NativeHandle();
            const uint8_t returned = static_cast<uint8_t>(m_send(&srb));
            if (returned == SS_PENDING) {
                const auto left = deadline == Clock::time_point::max()
                                      ? std::chrono::milliseconds::max()
                                      : std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::max(deadline - m_platform.Now(), Clock::duration::zero()));
                request->event->Wait(left);
            }
            status = Settled(srb.SRB_Status, returned);
        } else {
            const uint8_t returned = static_cast<uint8_t>(m_send(&srb));
            status = returned != SS_PENDING ? Settled(srb.SRB_Status, returned)
                     : m_wait != nullptr    ? WaitUntilDone(srb, deadline)
                                            : PollUntilDone(srb.SRB_Status, deadline);
        }

        if (status == SS_PENDING) {
            // The command's time-out has passed: the library is asked to end the request, and the
            // request is kept until the library gives it a final status.
            request->abort.SRB_Cmd = SC_ABORT_SRB;
            request->abort.SRB_HaId = srb.SRB_HaId;
            request->abort.SRB_ToAbort = &srb;
            m_send(&request->abort);
            if (!request->Settled()) m_abandoned.push_back(std::move(request));
            result.outcome = TransportResult::Outcome::TimedOut;
            return result;
        }
        if (status == SS_COMP) {
            result.outcome = TransportResult::Outcome::Completed;
            result.transferred =
                m_countingAdapters[entry.adapterId] ? std::min(srb.SRB_BufLen, length) : length;
            if (direction == kDataIn && result.transferred != 0)
                std::memcpy(data, request->buffer.data(), result.transferred);
            return result;
        }
        result.sense = DecodeSense(srb.SenseArea, std::min<size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea));
        if (status == SS_NO_DEVICE) {
            // The adapter no longer has the target (a drive pulled out): told as the pass-through
            // tells a device node that went, so that both paths say the drive is no longer there.
            result.outcome = TransportResult::Outcome::Failed;
            result.sense = {};
            result.osError = ENODEV;
        } else if (srb.SRB_HaStat == HASTAT_TIMEOUT) {
            result.outcome = TransportResult::Outcome::TimedOut;
        } else if (srb.SRB_TargStat == kScsiCheckCondition) {
            result.outcome = TransportResult::Outcome::CheckCondition;
            // Only an adapter that counts what it moved tells how much came before the sense.
            result.transferred = m_countingAdapters[entry.adapterId] ? std::min(srb.SRB_BufLen, length) : 0;
            if (direction == kDataIn && result.transferred != 0)
                std::memcpy(data, request->buffer.data(), result.transferred);
        } else {
            result.outcome = TransportResult::Outcome::Failed;
            result.adapterError = srb.SRB_HaStat != 0 && srb.SRB_TargStat == kScsiGood;
        }
        return result;
    }

    void CloseHandle(DriveEntry& entry) override { entry.deviceHandle = kNoDevice; }

  private:
    // Without a completion event: poll the status byte with sleeps that grow by half from
    // kFirstPoll up to kLongestPoll. A quick command is seen within a few tens of microseconds; a
    // slow one wakes the thread some 200 times a second and is seen at most kLongestPoll after it
    // ended. SS_PENDING when the deadline came first.
    uint8_t PollUntilDone(uint8_t& status, Clock::time_point deadline) {
        Clock::duration interval = kFirstPoll;
        for (;;) {
            const uint8_t now = LoadStatus(status);
            if (now != SS_PENDING) return now;
            const Clock::time_point at = m_platform.Now();
            if (at >= deadline) return SS_PENDING;
            std::this_thread::sleep_for(std::min(interval, deadline - at));
            interval = std::min<Clock::duration>(interval * 3 / 2, kLongestPoll);
        }
    }

    // With the library's own completion: wait on it, in spans that end by the deadline.
    uint8_t WaitUntilDone(SRB_ExecSCSICmd& srb, Clock::time_point deadline) {
        for (;;) {
            const uint8_t now = LoadStatus(srb.SRB_Status);
            if (now != SS_PENDING) return now;
            const Clock::time_point at = m_platform.Now();
            if (at >= deadline) return SS_PENDING;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - at).count();
            m_wait(&srb, static_cast<uint32_t>(std::clamp<int64_t>(left, 1, kLongestWaitSpan.count())));
        }
    }

    // Sends a discovery request that the library may finish at once or later, and waits for its
    // status. A request the library rejects outright is not polled: its status byte may never
    // change. One still pending at the discovery time-out is left to the library.
    template <typename Block>
    uint8_t Submit(std::unique_ptr<Block>& block, uint8_t& status) {
        const uint8_t returned = static_cast<uint8_t>(m_send(block.get()));
        if (returned != SS_PENDING) return Settled(status, returned);
        const uint8_t settled = PollUntilDone(status, m_platform.Now() + kDiscoveryTimeout);
        if (settled == SS_PENDING) (void)block.release();  // the library may still write into it
        return settled;
    }

    static uint8_t Settled(uint8_t& status, uint8_t returned) {
        const uint8_t now = LoadStatus(status);
        return now != SS_PENDING ? now : returned;
    }

    void ReapAbandoned() {
        std::erase_if(m_abandoned, [](const std::unique_ptr<PendingRequest>& r) { return r->Settled(); });
    }

    Platform& m_platform;
    MessageHandler m_messages;
    std::unique_ptr<AspiLibrary> m_library;
    GetSupportInfoFn m_supportInfo = nullptr;
    SendCommandFn m_send = nullptr;
    WaitCommandFn m_wait = nullptr;
    int32_t m_adapterCount = 0;
    std::bitset<256> m_countingAdapters;  // adapters whose manager reports the bytes moved
    std::vector<std::unique_ptr<PendingRequest>> m_abandoned;
};

}  // namespace

std::unique_ptr<TransportPath> MakeAspiPath(Platform& platform, MessageHandler messages) {
    return std::make_unique<AspiPath>(platform, std::move(messages));
}

}  // namespace dravix

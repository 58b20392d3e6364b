// libdravix-vdrive.so: the ASPI programming interface over the virtual drives of the state file.
// Host adapter 0 holds each drive at its own target (LUN 0), which stays its own when drives are
// added or removed beside it: a request for a target whose drive went finds no device, as a
// request for a device node that vanished does. Execute requests complete on the
// library's own worker thread, so callers see SS_PENDING first and poll the status byte, as with
// a real ASPI manager; DravixWaitASPI32Command lets a caller wait for the end of a request
// instead. The library names itself with kCountingManagerId and rewrites SRB_BufLen
// of every execute request it ends with the bytes the data phase moved. SC_ABORT_SRB ends a
// request that is waiting or running: once its status is SS_ABORTED the library no longer touches
// the block or its buffer, and a running command's latency is cut short.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Portability.h"
#include "base/TransferDirection.h"
#include "drive/AspiSrb.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace {

using namespace dravix::aspi;
using dravix::kDataIn;
using dravix::kDataOut;
using dravix::kNoData;
using dravix::emu::Scenario;
using dravix::emu::ScsiOutcome;

constexpr uint8_t kHostAdapterScsiId = 7;

void SetStatus(uint8_t& status, uint8_t value) {
    // The caller polls this byte from another thread: everything else in the block must be
    // visible before it changes.
    std::atomic_ref<uint8_t>(status).store(value, std::memory_order_release);
}

void CopyText(uint8_t* field, const char* text, size_t width) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(std::strlen(text), width));
}

class AspiHost final {
  public:
    static AspiHost& Instance() {
        static AspiHost host;
        return host;
    }

    ~AspiHost() {
        {
            std::lock_guard lock(m_queueMutex);
            m_stopping = true;
        }
        m_wakeUp.notify_all();
        m_abortWake.notify_all();
        m_ended.notify_all();
        if (m_worker.joinable()) m_worker.join();
    }

    uint32_t SupportInfo() {
        Scenario* scenario = Load();
        if (!scenario) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
        return (static_cast<uint32_t>(SS_COMP) << 8) | 1;
    }

    uint32_t Send(void* block) {
        if (!block) return SS_INVALID_SRB;
        auto* header = static_cast<SRB_Header*>(block);
        switch (header->SRB_Cmd) {
            case SC_HA_INQUIRY:
                return Finish(header, HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(block)));
            case SC_GET_DEV_TYPE:
                return Finish(header, DeviceType(*static_cast<SRB_GDEVBlock*>(block)));
            case SC_EXEC_SCSI_CMD:
                return Queue(*static_cast<SRB_ExecSCSICmd*>(block));
            case SC_ABORT_SRB:
                return Finish(header, Abort(*static_cast<SRB_Abort*>(block)));
            default:
                return Finish(header, SS_INVALID_SRB);
        }
    }

    // Returns once the execute request has a final status, the time has passed (0: no limit) or
    // the library unloads; the status byte as it is then. The status changes under the queue's
    // lock, so no end is missed.
    uint32_t Wait(void* block, uint32_t milliseconds) {
        if (!block) return SS_INVALID_SRB;
        uint8_t& status = static_cast<SRB_ExecSCSICmd*>(block)->SRB_Status;
        const auto ended = [&] {
            return std::atomic_ref<uint8_t>(status).load(std::memory_order_acquire) != SS_PENDING ||
                   m_stopping;
        };
        std::unique_lock lock(m_queueMutex);
        if (milliseconds == 0) {
            m_ended.wait(lock, ended);
        } else {
            m_ended.wait_for(lock, std::chrono::milliseconds(milliseconds), ended);
        }
        return std::atomic_ref<uint8_t>(status).load(std::memory_order_acquire);
    }

  private:
    AspiHost() = default;

    Scenario* Load() {
        std::lock_guard lock(m_loadMutex);
        if (m_scenario) return m_scenario.get();
        dravix::Result<std::unique_ptr<Scenario>> opened = Scenario::Open(dravix::emu::StateFilePath());
        if (!opened) {
            const std::string& error = opened.Failure().text;
            if (error != m_loadError) std::fprintf(stderr, "libdravix-vdrive: %s\n", error.c_str());
            m_loadError = error;
            return nullptr;
        }
        m_scenario = std::move(opened).Value();
        m_scenario->SetErrorSink([](const std::string& message) {
            std::fprintf(stderr, "libdravix-vdrive: %s\n", message.c_str());
        });
        // A command's latency ends early when its request is aborted or the library unloads.
        // To the microsecond, so that a read takes as long as the drive's model says.
        m_scenario->SetMicrosecondSleeper([this](uint64_t microseconds) {
            std::unique_lock lock(m_queueMutex);
            m_abortWake.wait_for(lock, std::chrono::microseconds(microseconds),
                                 [this] { return m_currentAborted || m_stopping; });
        });
        return m_scenario.get();
    }

    static uint32_t Finish(SRB_Header* header, uint8_t status) {
        SetStatus(header->SRB_Status, status);
        return status;
    }

    // The drive at the request's address; null when none answers there.
    dravix::emu::VirtualDrive* DriveAt(uint8_t target, uint8_t lun) {
        Scenario* scenario = Load();
        return scenario && lun == 0 ? scenario->DriveAtTarget(target) : nullptr;
    }

    uint8_t HostAdapterInquiry(SRB_HAInquiry& block) {
        block.HA_Count = Load() ? 1 : 0;
        if (block.SRB_HaId != 0 || !Load()) return SS_INVALID_HA;
        block.HA_SCSI_ID = kHostAdapterScsiId;
        std::memcpy(block.HA_ManagerId, kCountingManagerId, sizeof block.HA_ManagerId);
        CopyText(block.HA_Identifier, "VIRTUAL", sizeof block.HA_Identifier);
        std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
        block.HA_Unique[3] = dravix::emu::kTargetCount;
        return SS_COMP;
    }

    uint8_t DeviceType(SRB_GDEVBlock& block) {
        if (block.SRB_HaId != 0 || !Load()) return SS_INVALID_HA;
        if (!DriveAt(block.SRB_Target, block.SRB_Lun)) return SS_NO_DEVICE;
        block.SRB_DeviceType = DTYPE_CDROM;
        return SS_COMP;
    }

    uint32_t Queue(SRB_ExecSCSICmd& block) {
        block.SRB_HaStat = HASTAT_OK;
        block.SRB_TargStat = 0;
        if (block.SRB_HaId != 0 || !Load())
            return Finish(reinterpret_cast<SRB_Header*>(&block), SS_INVALID_HA);
        const uint8_t direction = block.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
        if (block.SRB_CDBLen == 0 || block.SRB_CDBLen > sizeof block.CDBByte ||
            direction == (SRB_DIR_IN | SRB_DIR_OUT) || (block.SRB_BufLen > 0 && !block.SRB_BufPointer)) {
            return Finish(reinterpret_cast<SRB_Header*>(&block), SS_INVALID_SRB);
        }
        if (!DriveAt(block.SRB_Target, block.SRB_Lun)) {
            return Finish(reinterpret_cast<SRB_Header*>(&block), SS_NO_DEVICE);
        }
        // SRB_EVENT_NOTIFY has nothing to signal on this system; the caller polls, or waits in
        // DravixWaitASPI32Command.
        SetStatus(block.SRB_Status, SS_PENDING);
        {
            std::lock_guard lock(m_queueMutex);
            m_queue.push_back(&block);
            if (!m_worker.joinable()) m_worker = std::thread([this] { Work(); });
        }
        m_wakeUp.notify_one();
        return SS_PENDING;
    }

    uint8_t Abort(SRB_Abort& request) {
        auto* target = static_cast<SRB_ExecSCSICmd*>(request.SRB_ToAbort);
        std::lock_guard lock(m_queueMutex);
        if (const auto queued = std::find(m_queue.begin(), m_queue.end(), target); queued != m_queue.end()) {
            m_queue.erase(queued);
            SetStatus(target->SRB_Status, SS_ABORTED);
            m_ended.notify_all();
            return SS_COMP;
        }
        if (target != nullptr && target == m_current && !m_currentAborted) {
            m_currentAborted = true;
            SetStatus(target->SRB_Status, SS_ABORTED);
            m_abortWake.notify_all();
            m_ended.notify_all();
            return SS_COMP;
        }
        return SS_ABORT_FAIL;  // unknown, or already ended
    }

    void Work() {
        for (;;) {
            SRB_ExecSCSICmd* block = nullptr;
            Request request;
            {
                std::unique_lock lock(m_queueMutex);
                m_wakeUp.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty()) return;
                block = m_queue.front();
                m_queue.pop_front();
                // Everything the command needs is taken now: once aborted, the block is the
                // caller's again.
                m_current = block;
                m_currentAborted = false;
                request = Request::Of(*block);
            }
            Execute(block, request);
        }
    }

    // What the worker takes out of an execute request before running it.
    struct Request {
        uint8_t target = 0;
        uint8_t cdb[16] = {};
        uint8_t cdbLength = 0;
        int direction = kNoData;
        std::vector<uint8_t> data;

        static Request Of(const SRB_ExecSCSICmd& block) {
            Request r;
            r.target = block.SRB_Target;
            r.cdbLength = block.SRB_CDBLen;
            std::memcpy(r.cdb, block.CDBByte, sizeof r.cdb);
            r.direction = (block.SRB_Flags & SRB_DIR_IN)    ? kDataIn
                          : (block.SRB_Flags & SRB_DIR_OUT) ? kDataOut
                                                            : kNoData;
            r.data.assign(block.SRB_BufLen, 0);
            if (r.direction == kDataOut && block.SRB_BufLen != 0)
                std::memcpy(r.data.data(), block.SRB_BufPointer, block.SRB_BufLen);
            return r;
        }
    };

    void Execute(SRB_ExecSCSICmd* blockPointer, Request& request) {
        ScsiOutcome outcome{};
        // The drive may have left the state file while the request waited: nothing else answers
        // at its target.
        dravix::emu::VirtualDrive* drive = m_scenario->DriveAtTarget(request.target);
        const bool present = drive != nullptr;
        if (present) {
            outcome = drive->Execute(request.cdb, request.cdbLength, request.direction, request.data.data(),
                                     static_cast<uint32_t>(request.data.size()), 0);
        }
        std::lock_guard lock(m_queueMutex);
        m_current = nullptr;
        if (m_currentAborted) return;  // the block belongs to its caller again
        SRB_ExecSCSICmd& block = *blockPointer;
        if (!present) {
            block.SRB_BufLen = 0;
            SetStatus(block.SRB_Status, SS_NO_DEVICE);
            m_ended.notify_all();
            return;
        }
        const uint32_t moved = request.direction == kDataIn ? outcome.transferred
                               : request.direction == kDataOut && outcome.kind == ScsiOutcome::Kind::Good
                                   ? block.SRB_BufLen
                                   : 0;
        if (request.direction == kDataIn && moved != 0)
            std::memcpy(block.SRB_BufPointer, request.data.data(), moved);
        block.SRB_BufLen = moved;
        uint8_t status = SS_ERR;
        switch (outcome.kind) {
            case ScsiOutcome::Kind::Good:
                block.SRB_TargStat = 0x00;
                status = SS_COMP;
                break;
            case ScsiOutcome::Kind::CheckCondition: {
                block.SRB_TargStat = 0x02;
                const size_t length = std::min<size_t>(block.SRB_SenseLen, sizeof block.SenseArea);
                std::memcpy(block.SenseArea, outcome.sense, std::min(length, sizeof outcome.sense));
                break;
            }
            case ScsiOutcome::Kind::Busy:
                block.SRB_TargStat = 0x08;
                break;
            case ScsiOutcome::Kind::HostTimeout:
                block.SRB_HaStat = HASTAT_TIMEOUT;
                break;
            case ScsiOutcome::Kind::AdapterError:
                block.SRB_HaStat = HASTAT_PHASE_ERROR;
                break;
        }
        SetStatus(block.SRB_Status, status);
        m_ended.notify_all();
    }

    std::mutex m_loadMutex;
    std::unique_ptr<Scenario> m_scenario;
    std::string m_loadError;

    std::mutex m_queueMutex;
    std::condition_variable m_wakeUp;
    std::deque<SRB_ExecSCSICmd*> m_queue;
    SRB_ExecSCSICmd* m_current = nullptr;  // the request the worker runs
    bool m_currentAborted = false;
    std::condition_variable m_abortWake;
    std::condition_variable m_ended;  // an execute request got its final status
    bool m_stopping = false;
    std::thread m_worker;
};

}  // namespace

extern "C" DRAVIX_EXPORTED uint32_t GetASPI32SupportInfo() {
    return AspiHost::Instance().SupportInfo();
}

extern "C" DRAVIX_EXPORTED uint32_t SendASPI32Command(void* srb) {
    return AspiHost::Instance().Send(srb);
}

extern "C" DRAVIX_EXPORTED uint32_t DravixWaitASPI32Command(void* srb, uint32_t milliseconds) {
    return AspiHost::Instance().Wait(srb, milliseconds);
}

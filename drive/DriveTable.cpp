#include "drive/DriveTable.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "drive/DriveNodes.h"
#include "drive/MediumChanges.h"
#include "drive/Messages.h"
#include "drive/Platform.h"
#include "drive/Trace.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

constexpr auto kReadyPollInterval = std::chrono::milliseconds(200);
constexpr size_t kTraceDataBytes = 16;

// Sleeps for the interval unless a stop request comes first.
void SleepUnlessStopped(std::chrono::milliseconds interval, const std::stop_token& stop) {
    std::mutex mutex;
    std::condition_variable_any woken;
    std::unique_lock lock(mutex);
    woken.wait_for(lock, stop, interval, [] { return false; });
}

// The entry's fixed-size text fields, read up to their first NUL and never beyond the field.
std::string FieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

}  // namespace

DriveTable::DriveTable(DriveServices services)
    : m_platform(services.platform ? std::move(services.platform) : SystemPlatform()),
      m_messages(std::move(services.messages)) {}

DriveTable::~DriveTable() {
    CloseHandles();
}

bool DriveTable::InitTransport() {
    DetectPassThrough();
    if (!LoadAspi()) {
        ShowDriveMessage(m_messages, kMsgCantLoadAspi);
        return false;
    }
    return true;
}

void DriveTable::DetectPassThrough() {
    m_usePassThrough = m_platform->PassThroughFamily() ? 1 : 0;
}

bool DriveTable::LoadAspi() {
    CloseHandles();
    m_path = m_usePassThrough ? m_platform->MakePassThroughPath() : MakeAspiPath(*m_platform, m_messages);
    if (!m_path) return false;
    if (!m_path->Load()) {
        m_driveCount = 0;
        m_selectedIndex = 255;
        return false;
    }
    m_adapterCount = m_path->AdapterCount();
    return true;
}

void DriveTable::CloseHandles() {
    if (!m_path) return;
    for (DriveEntry& entry : m_entries) {
        if (entry.deviceHandle != kNoDevice) m_path->CloseHandle(entry);
        entry.deviceHandle = kNoDevice;
    }
}

int DriveTable::EnumerateDrives() {
    CloseHandles();
    for (DriveEntry& entry : m_entries) entry = DriveEntry{};
    m_driveCount = 0;
    m_selectedIndex = 255;
    m_refused.clear();
    m_facts = DiscoveryFacts{};
    if (m_path) m_path->Enumerate(*this);
    m_selectedIndex = m_driveCount != 0 ? 0 : 255;
    return m_driveCount;
}

bool DriveTable::Full() const {
    return m_driveCount >= kMaxDrives;
}

uint8_t DriveTable::TryAddDrive(const DriveEntry& candidate, uint8_t inquiryLength) {
    if (Full()) return kCommandFailed;
    DriveEntry& entry = m_entries[m_driveCount];
    entry = candidate;
    m_selectedIndex = m_driveCount;

    uint8_t cdb[12] = {0x12, 0, 0, 0, inquiryLength, 0};
    uint8_t data[256] = {};
    const uint8_t status = SendCommand(cdb, kDataIn, data, inquiryLength, kWrapperTimeoutSeconds);
    if (status != kCommandCompleted) {
        if (status == kCommandTimedOut) ++m_facts.inquiryTimeouts;
        // The caller closes the handle; the slot is free again for the next drive.
        entry = DriveEntry{};
        return status;
    }
    // Only what the drive sent: a short answer leaves the rest of the identity blank.
    std::memset(data + m_lastTransferred, 0, sizeof data - m_lastTransferred);
    std::memset(entry.productName, 0, sizeof entry.productName);
    std::memset(entry.revision, 0, sizeof entry.revision);
    std::memcpy(entry.productName, data + 8, 24);
    std::memcpy(entry.revision, data + 32, 4);
    ++m_driveCount;
    return status;
}

void DriveTable::NoteRefusedNode(const RefusedNode& node) {
    m_refused.push_back(node);
}

void DriveTable::NoteFacts(const DiscoveryFacts& facts) {
    const int timeouts = m_facts.inquiryTimeouts;
    m_facts = facts;
    m_facts.inquiryTimeouts = timeouts;
}

bool DriveTable::SelectDrive(uint8_t index) {
    if (m_driveCount == 0 || index >= m_driveCount) return false;
    m_selectedIndex = index;
    return true;
}

std::string DriveTable::DriveLabel() const {
    if (m_driveCount == 0 || m_selectedIndex >= m_driveCount) return {};
    const DriveEntry& e = m_entries[m_selectedIndex];
    return FieldText(e.productName, sizeof e.productName) + FieldText(e.revision, sizeof e.revision);
}

std::string DriveTable::DriveLabelAt(int index) const {
    if (index < 0 || index >= m_driveCount) return {};
    const DriveEntry& e = m_entries[index];
    return FieldText(e.productName, sizeof e.productName) + FieldText(e.revision, sizeof e.revision);
}

std::string DriveTable::FirmwareRevision() const {
    if (m_driveCount == 0 || m_selectedIndex >= m_driveCount) return {};
    const DriveEntry& e = m_entries[m_selectedIndex];
    return FieldText(e.revision, sizeof e.revision);
}

uint8_t DriveTable::SendCommand(const uint8_t* cdb, int direction, void* data, uint32_t length,
                                uint32_t timeoutSeconds) {
    if (m_selectedIndex == 255 || !m_path || cdb == nullptr) return kCommandFailed;
    m_lastSense = Sense{};
    m_lastOsError = 0;
    m_lastTransferred = 0;
    m_lastSenseTransferred = 0;
    m_lastShortAnswer = false;
    m_lastAdapterError = false;
    m_lastStatus = kCommandFailed;
    const int cdbLength = CdbLength(cdb[0]);
    if (direction != kDataOut && direction != kDataIn) length = 0;
    if (length != 0 && data == nullptr) return kCommandFailed;

    // A stopped sequence sends nothing more, but still leaves the drive as it found it.
    const bool vendorModeOff = cdb[0] == 0xFD && cdb[1] == 0xF2;
    const bool stopped = m_stopHook && !vendorModeOff && m_stopHook();
    const TransportResult r = stopped ? TransportResult{}
                                      : m_path->Send(m_entries[m_selectedIndex], cdb, cdbLength, direction,
                                                     data, length, timeoutSeconds);
    uint8_t status = kCommandFailed;
    switch (r.outcome) {
        case TransportResult::Outcome::Completed:
            status = kCommandCompleted;
            m_lastTransferred = std::min(r.transferred, length);
            break;
        case TransportResult::Outcome::CheckCondition:
            m_lastSense = r.sense;
            m_lastSenseTransferred = std::min(r.transferred, length);
            break;
        case TransportResult::Outcome::Failed:
            m_lastSense = r.sense;
            m_lastOsError = r.osError;
            m_lastAdapterError = r.adapterError;
            break;
        case TransportResult::Outcome::TimedOut:
            m_lastSense = r.sense;
            m_lastOsError = r.osError;
            status = kCommandTimedOut;
            break;
    }
    m_lastStatus = status;
    // The drive says so once: the program counts it for every window that shows the disc.
    constexpr uint8_t kUnitAttention = 0x06;
    if (status == kCommandFailed && m_lastSense.key == kUnitAttention &&
        m_lastSense.asc == kAscMediumMayHaveChanged)
        CountMediumChange(IdentityOf(*this, m_selectedIndex));

    {
        CommandTrace t;
        t.driveIndex = m_selectedIndex;
        t.drive = DriveNodesText(m_entries[m_selectedIndex]);
        t.cdb.assign(cdb, cdb + cdbLength);
        t.direction = direction;
        t.length = length;
        t.status = status;
        t.sense = m_lastSense;
        t.osError = m_lastOsError;
        t.transferred = m_lastTransferred;
        if (direction == kDataIn && status == kCommandCompleted && data != nullptr) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            t.dataHead.assign(bytes, bytes + std::min<size_t>(m_lastTransferred, kTraceDataBytes));
        }
        RecordTrace(t);
        if (TraceEnabled()) EmitTrace(t);
    }
    return status;
}

uint8_t DriveTable::ReadAnswer(const uint8_t* cdb, std::span<uint8_t> answer, size_t needed,
                               uint32_t timeoutSeconds) {
    std::fill(answer.begin(), answer.end(), 0);
    const uint8_t status =
        SendCommand(cdb, kDataIn, answer.data(), static_cast<uint32_t>(answer.size()), timeoutSeconds);
    return RequireReceived(status, needed);
}

uint8_t DriveTable::RequireReceived(uint8_t status, size_t needed) {
    if (status != kCommandCompleted || m_lastTransferred >= needed) return status;
    m_lastShortAnswer = true;
    m_lastStatus = kCommandFailed;
    return kCommandFailed;
}

bool DriveTable::MoveTray(bool open) {
    uint8_t cdb[12] = {0x1B, 0, 0, 0, static_cast<uint8_t>(open ? 0x02 : 0x03), 0};
    return SendCommand(cdb, kNoData, nullptr, 0, kWrapperTimeoutSeconds) == kCommandCompleted;
}

bool DriveTable::SetVendorMode(bool on) {
    uint8_t cdb[12];
    BuildVendorCdb(cdb, on ? 0xF1 : 0xF2);
    return SendCommand(cdb, kNoData, nullptr, 0, kWrapperTimeoutSeconds) == kCommandCompleted;
}

void DriveTable::RestoreFailure(const Failure& failure) {
    m_lastStatus = failure.status;
    m_lastSense = failure.sense;
    m_lastOsError = failure.osError;
    m_lastShortAnswer = failure.shortAnswer;
    m_lastTransferred = failure.transferred;
    m_lastAdapterError = failure.adapterError;
}

std::string FailureDetail(const DriveTable::Failure& failure) {
    const int status = failure.status;
    char text[96];
    if (status == kCommandTimedOut && failure.sense == Sense{}) {
        std::snprintf(text, sizeof text, " (status %d, timed out)", status);
    } else if (failure.shortAnswer) {
        std::snprintf(text, sizeof text, " (status %d, short answer: %u bytes)", status, failure.transferred);
    } else if (failure.osError != 0 && failure.sense == Sense{}) {
        std::snprintf(text, sizeof text, " (status %d, os error %d)", status, failure.osError);
    } else if (failure.sense == Sense{}) {
        // Busy, or an adapter error: the command did not run and the drive reported nothing.
        std::snprintf(text, sizeof text, " (status %d, no sense)", status);
    } else {
        std::snprintf(text, sizeof text, " (status %d, sense %02X/%02X/%02X)", status, failure.sense.key,
                      failure.sense.asc, failure.sense.ascq);
    }
    return text;
}

void DriveTable::SetReadyWaitHooks(ReadyWaitHooks hooks) {
    m_readyWait = std::move(hooks);
}

bool DriveTable::WaitUntilReady() {
    return WaitForDrive() == ReadyState::NoMedium;
}

ReadyState DriveTable::WaitForDrive() {
    using Clock = std::chrono::steady_clock;
    const auto now = [this] { return m_readyWait.now ? m_readyWait.now() : Clock::now(); };
    const auto sleep = [this](std::chrono::milliseconds interval) {
        if (m_readyWait.sleep) {
            m_readyWait.sleep(interval, m_readyWait.stop);
        } else {
            SleepUnlessStopped(interval, m_readyWait.stop);
        }
    };
    const uint8_t cdb[12] = {};
    const auto deadline = now() + m_readyWait.limit;
    bool told = false;
    for (;;) {
        if (m_readyWait.stop.stop_requested()) return ReadyState::Cancelled;
        if (SendCommand(cdb, kNoData, nullptr, 0, kWrapperTimeoutSeconds) == kCommandCompleted) {
            return ReadyState::Ready;
        }
        const uint8_t asc = SenseAsc();
        if (asc != kAscBecomingReady && asc != kAscMediumMayHaveChanged && asc != kAscPowerOnReset) {
            return asc == kAscMediumNotPresent ? ReadyState::NoMedium : ReadyState::Failed;
        }
        if (!told && m_readyWait.becomingReady) {
            told = true;
            m_readyWait.becomingReady();
        }
        // A drive that never becomes ready must not hold the caller forever.
        if (now() + kReadyPollInterval > deadline) return ReadyState::StillBecomingReady;
        sleep(kReadyPollInterval);
    }
}

}  // namespace dravix

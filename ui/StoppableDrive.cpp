#include "ui/StoppableDrive.h"

#include <utility>

#include "drive/Platform.h"
#include "drive/TransportPath.h"

namespace dravix {

struct StoppableDrive::Gate {
    std::mutex mutex;
    std::stop_token stop;

    bool Closed() {
        std::lock_guard lock(mutex);
        return stop.stop_requested();
    }
};

namespace {

bool IsVendorModeOff(const uint8_t* cdb) {
    return cdb != nullptr && cdb[0] == 0xFD && cdb[1] == 0xF2;
}

// The table's path to its drives, with the gate in front of every command.
class GatedPath final : public TransportPath {
  public:
    GatedPath(std::unique_ptr<TransportPath> path, std::shared_ptr<StoppableDrive::Gate> gate)
        : m_path(std::move(path)), m_gate(std::move(gate)) {}

    bool Load() override { return m_path->Load(); }
    int32_t AdapterCount() const override { return m_path->AdapterCount(); }
    void Enumerate(DiscoveryTarget& target) override { m_path->Enumerate(target); }
    TransportResult Send(const DriveEntry& entry, const uint8_t* cdb, int cdbLength, int direction,
                         void* data, uint32_t length, uint32_t timeoutSeconds) override {
        if (m_gate->Closed() && !IsVendorModeOff(cdb)) return TransportResult{};
        return m_path->Send(entry, cdb, cdbLength, direction, data, length, timeoutSeconds);
    }
    void CloseHandle(DriveEntry& entry) override { m_path->CloseHandle(entry); }

  private:
    std::unique_ptr<TransportPath> m_path;
    std::shared_ptr<StoppableDrive::Gate> m_gate;
};

// The platform a stoppable table is made with: the program's own, whose path gets the gate. A
// DriveTable asks its platform for a pass-through path only when the platform says it is of the
// pass-through family, so this one says so and builds the inner platform's path itself: the ASPI
// path over the inner platform where that is the inner platform's choice.
class GatedPlatform final : public Platform {
  public:
    GatedPlatform(std::shared_ptr<Platform> inner, std::shared_ptr<StoppableDrive::Gate> gate)
        : m_inner(std::move(inner)), m_gate(std::move(gate)) {}

    bool PassThroughFamily() override { return true; }
    std::unique_ptr<TransportPath> MakePassThroughPath() override {
        std::unique_ptr<TransportPath> path =
            m_inner->PassThroughFamily() ? m_inner->MakePassThroughPath() : MakeAspiPath(*m_inner);
        if (!path) return nullptr;
        return std::make_unique<GatedPath>(std::move(path), m_gate);
    }
    std::unique_ptr<AspiLibrary> LoadAspiLibrary() override { return m_inner->LoadAspiLibrary(); }
    std::unique_ptr<CompletionEvent> CreateCompletionEvent() override {
        return m_inner->CreateCompletionEvent();
    }

  private:
    std::shared_ptr<Platform> m_inner;
    std::shared_ptr<StoppableDrive::Gate> m_gate;
};

// A DriveTable takes the current platform when it is made; the gated one is current only for that
// moment. The windows make their tables on the UI thread, one at a time.
std::unique_ptr<DriveTable> MakeGatedTable(const std::shared_ptr<StoppableDrive::Gate>& gate) {
    static std::mutex making;
    const std::lock_guard lock(making);
    const std::shared_ptr<Platform> current = CurrentPlatform();
    const bool overridden = current != SystemPlatform();
    SetPlatformOverride(std::make_shared<GatedPlatform>(current, gate));
    auto table = std::make_unique<DriveTable>();
    SetPlatformOverride(overridden ? current : nullptr);
    return table;
}

}  // namespace

StoppableDrive::StoppableDrive()
    : m_gate(std::make_shared<Gate>()),
      m_table(MakeGatedTable(m_gate)),
      m_shared(std::make_unique<SharedDrive>(*m_table)) {}

StoppableDrive::~StoppableDrive() = default;

StoppableDrive::StopScope::StopScope(Gate& gate, std::stop_token stop) : m_gate(gate) {
    std::lock_guard lock(m_gate.mutex);
    m_gate.stop = std::move(stop);
}

StoppableDrive::StopScope::~StopScope() {
    std::lock_guard lock(m_gate.mutex);
    m_gate.stop = {};
}

}  // namespace dravix

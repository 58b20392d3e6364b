#include "turns/StoppableDrive.h"

#include <utility>

namespace dravix {

struct StoppableDrive::Gate {
    std::mutex mutex;
    std::stop_token stop;

    bool Closed() {
        std::lock_guard lock(mutex);
        return stop.stop_requested();
    }
};

StoppableDrive::StoppableDrive(DriveServices services)
    : m_gate(std::make_shared<Gate>()),
      m_table(std::make_unique<DriveTable>(std::move(services))),
      m_shared(std::make_unique<SharedDrive>(*m_table)) {
    // The table asks before every command, so its path (and the transport it reports) stays
    // the program's own.
    m_table->SetStopHook([gate = m_gate] { return gate->Closed(); });
}

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

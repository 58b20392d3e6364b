#include "app/CloseOnSignal.h"

namespace dravix {

// The console's close events end a program without a message loop to reach; the window closes
// through its own messages.
CloseOnSignal::CloseOnSignal(std::function<void()> close, QObject* parent)
    : QObject(parent), m_close(std::move(close)) {}

CloseOnSignal::~CloseOnSignal() = default;

void CloseOnSignal::Take() {
    if (m_close) m_close();
}

}  // namespace dravix

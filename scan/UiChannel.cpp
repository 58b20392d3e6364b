#include "scan/UiChannel.h"

#include <QMetaObject>

namespace dravix {

void UiChannel::Post(std::function<void()> update) {
    std::lock_guard lock(m_mutex);
    if (m_receiver == nullptr) return;
    QMetaObject::invokeMethod(m_receiver, std::move(update), Qt::QueuedConnection);
}

void UiChannel::Close() {
    std::lock_guard lock(m_mutex);
    m_receiver = nullptr;
}

}  // namespace dravix

#include "drive/Messages.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace dravix {

namespace {
std::mutex g_mutex;
MessageHandler g_handler;
thread_local const DriveMessageScope* t_scope = nullptr;
}  // namespace

DriveMessageScope::DriveMessageScope(MessageHandler handler)
    : m_handler(std::move(handler)), m_outer(t_scope) {
    t_scope = this;
}

DriveMessageScope::~DriveMessageScope() {
    t_scope = m_outer;
}

void SetDriveMessageHandler(MessageHandler handler) {
    std::lock_guard lock(g_mutex);
    g_handler = std::move(handler);
}

void ShowDriveMessage(const std::string& text) {
    if (t_scope != nullptr) {
        if (t_scope->m_handler) t_scope->m_handler(text);
        return;
    }
    MessageHandler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    if (handler) {
        handler(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

}  // namespace dravix

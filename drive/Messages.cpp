#include "drive/Messages.h"

#include <cstdio>
#include <utility>

namespace dravix {

namespace {
thread_local const DriveMessageScope* t_scope = nullptr;
}  // namespace

DriveMessageScope::DriveMessageScope(MessageHandler handler)
    : m_handler(std::move(handler)), m_outer(t_scope) {
    t_scope = this;
}

DriveMessageScope::~DriveMessageScope() {
    t_scope = m_outer;
}

void ShowDriveMessage(const MessageHandler& handler, const std::string& text) {
    if (t_scope != nullptr) {
        if (t_scope->m_handler) t_scope->m_handler(text);
        return;
    }
    if (handler) {
        handler(text);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

}  // namespace dravix

#include "drive/Messages.h"

#include <cstdio>
#include <mutex>

namespace dravix {

namespace {
std::mutex g_mutex;
MessageHandler g_handler;
}  // namespace

void SetDriveMessageHandler(MessageHandler handler) {
    std::lock_guard lock(g_mutex);
    g_handler = std::move(handler);
}

void ShowDriveMessage(const std::string& text) {
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

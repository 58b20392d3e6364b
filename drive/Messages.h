#pragma once

#include <functional>
#include <string>

namespace dravix {

// The drive layer's own message boxes ("Can't load WNASPI32.DLL!!", "Unexpected ASPI Failure")
// go to the handler the table was given (DriveServices): the program shows a box, the command
// line prints a line.
using MessageHandler = std::function<void(const std::string& text)>;
// Shows one such message: the innermost DriveMessageScope of this thread gets it, else `handler`,
// else standard error.
void ShowDriveMessage(const MessageHandler& handler, const std::string& text);

// While it lives, the messages raised on this thread go to `handler` instead: a window's worker
// hands them to its window. Scopes on one thread nest; the innermost one gets the message.
class DriveMessageScope final {
  public:
    explicit DriveMessageScope(MessageHandler handler);
    ~DriveMessageScope();
    DriveMessageScope(const DriveMessageScope&) = delete;
    DriveMessageScope& operator=(const DriveMessageScope&) = delete;

  private:
    friend void ShowDriveMessage(const MessageHandler& handler, const std::string& text);

    MessageHandler m_handler;
    const DriveMessageScope* m_outer;
};

inline constexpr const char* kMsgCantLoadAspi = "Can't load WNASPI32.DLL!!";
inline constexpr const char* kMsgUnexpectedAspiFailure = "Unexpected ASPI Failure";

}  // namespace dravix

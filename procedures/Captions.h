#pragma once

namespace dravix {

// The captions of the message boxes the pages show and the command line prints before a message.
inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionWarning = "Warning";
inline constexpr const char* kCaptionFail = "FAIL";
inline constexpr const char* kCaptionConfirm = "Confirm";
inline constexpr const char* kCaptionNote = "NOTE";

}  // namespace dravix

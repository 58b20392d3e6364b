#pragma once

namespace dravix {

// What the pages and the command line say when a drive cannot be used or none is there (the
// support check's outcome: drive/Support.h).
inline constexpr const char* kMsgFirmwareNotSupported =
    "Firmware or product not supported.\nPlease check FAQ in user manual or help files.";
inline constexpr const char* kMsgNoDeviceFound = "No Device found!";
inline constexpr const char* kMsgInitialFail = "Initial fail.";

}  // namespace dravix

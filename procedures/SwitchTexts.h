#pragma once

#include "procedures/Captions.h"

namespace dravix {

// What the pages and the command line show about these switches.
namespace option_texts {

inline constexpr const char* kSetCommandFail = "Set Command FAIL";
// A refused vendor mode: before a read or the Lumard clean tool string 104 under "Error", before
// a write this application message.
inline constexpr const char* kNotSupportTheDrive = "Not support the drive!";
inline constexpr const char* kInitialFail = "Initial fail.";
// The switch pages' boxes are shown under the common captions.
using ::dravix::kCaptionConfirm;
using ::dravix::kCaptionError;
using ::dravix::kCaptionNote;
using ::dravix::kCaptionWarning;

inline constexpr const char* kMustSelectOverSpeed = "Must select Enable or Disable <Overspeed> first";
inline constexpr const char* kMustSelectTestWrite = "Must select Enable or Disable <Test Write> first";
inline constexpr const char* kMustSelectWopc = "Must select Enable or Disable <WOPC> first";
inline constexpr const char* kMustSelectLumard = "Must select one of setting first";

inline constexpr const char* kOverSpeedWarning =
    "Please note Over-Speed Burning is highly dependent on\nthe media quality, and therefore, autual "
    "burning speed and \nquality may vary. In some circumstances, activating this feature\nmay result "
    "in write failure.\n\n\nDo you still want to activate it ?\n";
inline constexpr const char* kConfirmTemporary =
    "Do you make sure to do the change temporally ?\n( the setting would be back to default after boot-up "
    "your system )";
inline constexpr const char* kConfirmPermanent =
    "Do you make sure to do the change Permanently ?\n( the setting would be kept until next setting "
    "change )";
inline constexpr const char* kRemoveMedia = "Please make sure there is no any media inserted.";

inline constexpr const char* kLumardOverSpeedActive =
    "Lumard setting can't be modified when OverSpeed is activated,\nplease disable OverSpeed first\n";
inline constexpr const char* kCleanWarning =
    "Warning ! All learned Disc by Lumard would be removed, do you want to do it ?";
inline constexpr const char* kClearFail = "Clear up EEPROM FAIL";
inline constexpr const char* kResponseError = "Response error data!";

// What an option state the drive reports comes to, beside the state icon of its page.
inline constexpr const char* kOnUntilRestart = "on until the computer restarts";
inline constexpr const char* kOnKept = "on, kept after a restart";
inline constexpr const char* kOffUntilRestart = "off until the computer restarts";
inline constexpr const char* kOffKept = "off, kept after a restart";

// The command line's own: a declined confirmation, and a pair it cannot keep as it is.
inline constexpr const char* kNothingChanged = "Nothing changed.";
inline constexpr const char* kNotReadBack = "sent, but the drive's state could not be read back";
inline constexpr const char* kNotTaken = "The drive did not take the setting.";
inline constexpr const char* kClearedListUnread =
    "The learned discs were cleared, but their list could not be read";
inline constexpr const char* kNoValidState =
    "The drive reports no valid state for this pair; give it on or off:";

}  // namespace option_texts

}  // namespace dravix

#pragma once

#include "procedures/InfoProcedures.h"
#include "procedures/SupportTexts.h"

// Every text the Probix page, the Smart report and the command line show about a scan. The
// widgets, the command line and the tests all use these constants.
namespace dravix::scan_texts {

// Status line of the page.
inline constexpr const char* kInitial = "Initial...";
inline constexpr const char* kInsertBlankDisc = kStatusInsertBlank;
inline constexpr const char* kDiscNotSupported = kStatusDiscNotSupported;
inline constexpr const char* kReady = "Ready.";
inline constexpr const char* kTesting = "Testing...";
inline constexpr const char* kUserAbort = "User abort!";
inline constexpr const char* kNotAvailable = kTextNotAvailable;

// Verdicts.
inline constexpr const char* kVerdictOk = "This disc is ok for writing under this speed setting.";
inline constexpr const char* kVerdictNotRecommended =
    "This disc is not recommended for writing under this speed setting.";

// A run that ends without a verdict.
inline constexpr const char* kNoPosition = "No position to measure in this range.";
inline constexpr const char* kRangeNotSupported = kStatusDiscNotSupported;  // its end is below its start
inline constexpr const char* kDiscChanged =
    "The disc was changed during the test; there is no verdict. Please test again.";

// Failure paths of a run.
inline constexpr const char* kWarningCaption = "Probix Warning";
inline constexpr const char* kNoDiscInside = "No disc inside.";
inline constexpr const char* kDriveActivating = "Drive activating... Please retry.";
inline constexpr const char* kFirmwareNotSupported = kMsgFirmwareNotSupported;
// A drive that stopped answering during a run, whatever the path.
inline constexpr const char* kDriveGone = "The drive is no longer there.";

// Range checks.
inline constexpr const char* kStartAddressWrong = "The start address isn't correct.";
inline constexpr const char* kEndAddressWrong = "The end address isn't correct.";
inline constexpr const char* kMinimumLength = "The minimum length is 150000.";
inline constexpr const char* kEndAddressExceeds = "The end address exceed the maximum.";

// Page initialisation.
inline constexpr const char* kInitialFail = kMsgInitialFail;
inline constexpr const char* kNoDeviceFound = kMsgNoDeviceFound;

// A results file once written, as the page and the Smart report name it.
inline constexpr const char* kSavedAs = "Saved as ";  // + the file's path

// Elapsed time field, filled with whole seconds.
inline constexpr const char* kElapsedFormat = "%ld seconds";

// Smart Mode report.
inline constexpr const char* kReportCaption = "Smart Mode Report";
inline constexpr const char* kReportNote =
    "The result is acquired thru measuring TE/FE value at certain point on the outer track.";
inline constexpr const char* kSpeedOk = "OK.";
inline constexpr const char* kSpeedNotRecommended = "Not recommended.";
inline constexpr const char* kSpeedTesting = "Testing...";
inline constexpr const char* kReportNotSupport = "Not Support.";
inline constexpr const char* kCapacityUnread = kTextNoCapacity;
// A whole report in one line (the command line's last line, a saved report's verdict).
inline constexpr const char* kHighestRecommended = "Highest recommended speed: ";  // + the speed
inline constexpr const char* kNoSpeedRecommended = "No speed is recommended for this disc.";
inline constexpr const char* kMeasurementFailed = "The measurement failed.";
inline constexpr const char* kIdentifiersUnread =
    "The disc's Manufacture ID and Media Type ID could not be read; no speed is recommended.";

}  // namespace dravix::scan_texts

#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "drive/BookTypeCommands.h"
#include "procedures/Captions.h"
#include "procedures/WriteCheck.h"

namespace dravix {

class DriveTable;

// What the Book Type page and the command line run on a drive: Check Drive, Check Media and the
// two sets with the checks after them, the notices they give, and how the rows and the loaded
// disc are shown. Both front ends call these and only present what they tell.

inline constexpr const char* kBookTypeNotAvailable = "N/A";
inline constexpr const char* kLabelSetDvdRom = "Set to DVD-ROM Type";
inline constexpr const char* kLabelSetDvdPlusRw = "Set to DVD+RW Type";
inline constexpr const char* kLabelSetDvdPlusR = "Set to DVD+R Type";
inline constexpr const char* kLabelSetDvdPlusRDl = "Set to DVD+R DL Type";
// Labels of the loaded disc's kind and book type.
inline constexpr const char* kLabelCurrentMedia = "Current Media :";
inline constexpr const char* kLabelMediaBookType = "Book Type :";

// "DVD-ROM", "DVD+R", "DVD+RW", "DVD+R DL"; "N/A" for 00h and every other byte.
const char* BookTypeName(uint8_t value);
// The book type nibbles of a disc that have a name (DVD-ROM … DVD+R DL).
bool KnownDiscBookNibble(uint8_t nibble);

// How the page and the command line name each row.
struct BookTypeRowText {
    const char* label;       // "For DVD+RW Disc :"
    const char* name;        // "dvd+rw", the command line's name of the row
    const char* ownLabel;    // "Set to DVD+RW Type"
    int confirmationString;  // string table id of the Modify confirmation
};
const BookTypeRowText& TextsOfRow(BookTypeRow row);
std::optional<BookTypeRow> RowFromName(std::string_view name);

// How a row shows the byte the drive reported.
struct RowDisplay {
    const char* status;
    const char* buttonLabel;
    bool buttonEnabled;
};
RowDisplay DisplayOfRow(BookTypeRow row, uint8_t value);

// What a row's Modify button with this label sets: 01h for "Set to DVD-ROM Type", the row's own
// byte for its own label, nothing for any other label.
std::optional<uint8_t> TargetOfRowLabel(BookTypeRow row, std::string_view label);

// What the page shows for the kind: "CD-ROM" … "DVD+R DL", "None", "N/A".
const char* MediaKindName(MediaKind kind);
// A set of the drive's book type ejects the tray first unless it holds one of these (or nothing).
bool SetNeedsEject(MediaKind kind);

// How the loaded disc's book type (the upper four bits of its physical format information) is
// shown: the name, the Modify label it offers (none: label unchanged), and whether it enables
// Modify. `nibble` is empty when the read failed.
struct DiscBookDisplay {
    const char* name;
    const char* modifyLabel;  // null: unchanged
    bool enablesModify;
};
DiscBookDisplay DisplayOfDiscBookType(std::optional<uint8_t> nibble);

// What the disc's Modify button with this label sets: 01h, 92h, or nothing.
std::optional<uint8_t> TargetOfMediaLabel(std::string_view label);

// --- procedures ------------------------------------------------------------------------------

// The messages the procedures give. The front end shows them (a message box, a line on standard
// error) with TextOf's caption and text; string-table texts carry their id as well.
enum class BookTypeNotice {
    DriveNotSupported,  // string 104, "Error"
    CheckDriveFailed,   // "FAIL"
    SetDriveFailed,     // "FAIL"
    SetMediaFailed,     // "FAIL"
    // A set whose answer failed or was lost, and the read after it failed too: the set's failure
    // text, and that nobody knows what the drive holds (the front end adds how to check it).
    SetDriveAnswerLost,       // "FAIL"
    SetMediaAnswerLost,       // "FAIL"
    GetConfigurationFailed,   // application title
    GetConfigurationTimeout,  // application title
    DvdPlusRwOnly,            // "Error"
    IncorrectMedia,           // string 105, "Warning"
    DriveEmpty,               // string 106, "Warning"
};
struct NoticeText {
    const char* caption;  // null: the application's title
    const char* text;
    int stringId;  // its string table id, 0 when it is not in the table
    // The answer-lost notices: the page's button that reads the setting again ("Check Drive").
    const char* checkButton = nullptr;
};
NoticeText TextOf(BookTypeNotice notice);

inline constexpr const char* kMsgCheckDriveFail = "Check Drive Book Type Fail !!";
inline constexpr const char* kMsgSetDriveFail = "Set Drive Book Type Fail !!";
inline constexpr const char* kMsgSetMediaFail = "Set Media Book Type Fail !!";
inline constexpr const char* kMsgGetConfigurationFail = "Get Configuration fail.";
inline constexpr const char* kMsgGetConfigurationTimeout = "Get Configuration timeout.";
inline constexpr const char* kMsgDvdPlusRwOnly = "For DVD+RW disc only...";
inline constexpr const char* kMsgChangeBookTypeNow = "Change the book type now?";
inline constexpr const char* kMsgBookTypeChanged =
    "Book type has been changed! \r\nEnd process and check status now?";

// The Modify confirmations of the drive rows (strings 107, 108, 109).
const char* RowConfirmationText(BookTypeRow row);

// Receives what a procedure finds, as it finds it, so a page can show each step at once.
class BookTypeObserver {
  public:
    virtual ~BookTypeObserver() = default;
    virtual void Notice(BookTypeNotice notice) = 0;
    virtual void RowRead(BookTypeRow /*row*/, uint8_t /*value*/) {}
    virtual void MediaKindFound(MediaKind /*kind*/) {}
    // A DVD+RW disc with nothing recorded: no book type to show or change.
    virtual void BlankDvdPlusRw() {}
    // The loaded disc's book type nibble, none when its read failed.
    virtual void DiscBookTypeRead(std::optional<uint8_t> /*nibble*/) {}
    // Asked before each read of Check Drive: true ends the check there, with the rows not read
    // yet left empty (a command line stopped with Ctrl+C).
    virtual bool StopRequested() const { return false; }
};

struct DriveRows {
    std::optional<uint8_t> values[3];  // by BookTypeRow; empty when not read
    bool writesDvdPlusRDl = false;
    bool failed = false;   // a row read failed; the rows after it were not read
    bool stopped = false;  // the observer asked for a stop; the rows after it were not read
};

// Check Drive after the wait: the DVD+R row, the feature list (does the drive write DVD+R DL?),
// the DVD+R DL row when it does, the DVD+RW row. A failed row read ends the check. The caller
// selects the drive and waits for it first. Each message is told where the check meets it: a failed
// row read's before its vendor mode off, the feature list's before the rows after it.
DriveRows CheckDriveRows(DriveTable& table, BookTypeObserver& observer);

// Check Drive in pieces that end at its messages, for a front end that shows a message before the
// check goes on: each call runs up to the next message and returns it (the caller shows it and
// calls again while the check is not finished), or runs to the end and returns none.
enum class CheckDriveStage { PlusR, Features, PlusRDl, PlusRw, Done };
struct CheckDriveProgress {
    DriveRows rows;
    CheckDriveStage next = CheckDriveStage::PlusR;
    bool vendorModeOn = false;  // a failed row read's message comes before its vendor mode off
    bool Finished() const { return next == CheckDriveStage::Done && !vendorModeOn; }
};
std::optional<BookTypeNotice> ContinueCheckDrive(DriveTable& table, CheckDriveProgress& progress,
                                                 BookTypeObserver& observer);

// How the set command of a book type went.
enum class SetSent {
    NotSent,    // vendor mode was refused, or the disc is no DVD+RW: the procedure said so
    Completed,  // the drive answered that it took the set
    Failed,     // the set's answer was a failure, or never came: only reading the drive tells
};

// Sets a row's book type: ejects the tray first unless it holds DVD+R, DVD+RW, DVD+R DL or
// nothing, then vendor mode on, the set, vendor mode off. Tells only a refused vendor mode: what a
// set that was sent came to, the rows read after it tell (CheckDriveAfterSet).
SetSent SetRowBookType(DriveTable& table, BookTypeRow row, uint8_t value, BookTypeObserver& observer);

// Sets the loaded disc's book type; only with a DVD+RW in the tray. Tells a disc of another kind
// and a refused vendor mode; what a set that was sent came to, the disc read after it tells
// (CheckMediaAfterSet).
SetSent SetDiscBookType(DriveTable& table, uint8_t value, BookTypeObserver& observer);

// What a set came to, from how it was sent and the book type read after it (empty: not read).
WriteOutcome BookTypeSetOutcome(SetSent sent, std::optional<bool> holdsValue);

struct MediaCheck {
    MediaKind kind = MediaKind::Failed;
    bool blankDvdPlusRw = false;    // the check ended after the disc status
    bool discStatusUnread = false;  // a DVD+RW whose disc status read failed (taken as recorded)
    std::optional<uint8_t> nibble;  // the loaded disc's book type, when read
};

// Check Media after the caller's select and wait: the media kind with its warnings, the disc
// status of a DVD+RW (a blank one ends the check) and the loaded disc's book type. A warning is
// told before the book type is read.
MediaCheck CheckMediaBookType(DriveTable& table, BookTypeObserver& observer);

// Check Media in pieces that end at its warning, as ContinueCheckDrive.
struct CheckMediaProgress {
    MediaCheck check;
    bool kindKnown = false;
    bool done = false;
};
std::optional<BookTypeNotice> ContinueCheckMedia(DriveTable& table, CheckMediaProgress& progress,
                                                 BookTypeObserver& observer);

// After a change of the disc's book type: eject, load, wait until the drive is ready again. False
// when the tray did not close again.
bool ReloadDisc(DriveTable& table);

// Check Drive after a set of `row` to `value` was sent (the caller selects the drive and waits for
// it first). The rows the drive now reports decide what the set came to: a set that failed is
// told (SetDriveFailed) only when the row holds another value, and as SetDriveAnswerLost when the
// row could not be read (the check's own failure then goes untold). After a set the drive took, a
// refused vendor mode is a failed check, not an unsupported drive.
struct RowSetCheck {
    WriteOutcome outcome;
    DriveRows rows;
};
RowSetCheck CheckDriveAfterSet(DriveTable& table, BookTypeRow row, uint8_t value, SetSent sent,
                               BookTypeObserver& observer);

// Check Media after a set of the loaded disc's book type was sent and the disc reloaded (the caller
// selects the drive and waits for it first), told as CheckDriveAfterSet tells the rows
// (SetMediaFailed, SetMediaAnswerLost).
struct MediaSetCheck {
    WriteOutcome outcome;
    MediaCheck media;
};
MediaSetCheck CheckMediaAfterSet(DriveTable& table, uint8_t value, SetSent sent, BookTypeObserver& observer);

}  // namespace dravix

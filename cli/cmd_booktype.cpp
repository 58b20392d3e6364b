// booktype: the book types the drive writes on DVD+RW, DVD+R and DVD+R DL media and the loaded
// disc's, read and changed with the Book Type page's procedures, confirmations and messages.

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "drive/DriveTable.h"
#include "drive/Support.h"
#include "probix/ScanTexts.h"
#include "procedures/BookTypeProcedures.h"
#include "procedures/WriteCheck.h"

namespace dravix::cli {

namespace {

// Tells the procedures' messages and remembers how they went: the warnings about the disc as
// notes, everything else as a failure (which the command's exit status may still overrule).
class CliObserver final : public BookTypeObserver {
  public:
    explicit CliObserver(CliContext& context) : m_context(context) {}

    void Notice(BookTypeNotice notice) override {
        const NoticeText text = TextOf(notice);
        switch (notice) {
            case BookTypeNotice::DriveNotSupported:
                m_refused = true;
                m_context.Fail(kExitNoDrive, text.text);
                break;
            case BookTypeNotice::IncorrectMedia:
            case BookTypeNotice::DriveEmpty:
                m_context.Note(std::string(text.caption) + ": " + text.text);
                break;
            case BookTypeNotice::SetDriveAnswerLost:
            case BookTypeNotice::SetMediaAnswerLost:
                m_failed = true;
                m_context.Fail(kExitFailed,
                               write_texts::AnswerLostUnread(ReadAgainCommand(m_context, "booktype")));
                break;
            default:
                m_failed = true;
                m_context.Fail(kExitFailed, text.text);
                break;
        }
    }

    // Ctrl+C, SIGTERM or SIGHUP ends a check between its reads.
    bool StopRequested() const override { return Interrupted(); }

    // The exit status the messages so far call for.
    int Status() const { return m_refused ? kExitNoDrive : m_failed ? kExitFailed : kExitOk; }
    bool Refused() const { return m_refused; }

  private:
    CliContext& m_context;
    bool m_refused = false;
    bool m_failed = false;
};

// A reload after a set of the disc's book type whose tray did not close again.
constexpr const char* kMsgTrayNotClosed = "The tray did not close again after the write.";
constexpr const char* kMsgWrittenTrayNotClosed =
    "The book type was written, but the tray did not close again; close it and check the disc with ";

// A row the check did not read (it failed, or the drive has no such row): the page's "N/A" would
// look like an answer.
constexpr const char* kNotRead = "(not read)";

std::string Unknown(uint8_t value, const char* format) {
    char text[24];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A byte the drive cannot mean is shown as such, not as the page's "N/A".
std::string RowText(const DriveRows& rows, BookTypeRow row) {
    const auto& value = rows.values[static_cast<size_t>(row)];
    if (!value) return kNotRead;
    if (!KnownDriveBookType(*value)) return Unknown(*value, "unknown (%02Xh)");
    return DisplayOfRow(row, *value).status;
}

std::string MediaBookText(const MediaCheck& media) {
    if (media.blankDvdPlusRw) return kBookTypeNotAvailable;
    if (media.nibble && !KnownDiscBookNibble(*media.nibble)) return Unknown(*media.nibble, "unknown (%Xh)");
    return DisplayOfDiscBookType(media.nibble).name;
}

// Every book type read is one the drive or disc can mean.
bool Plausible(const DriveRows& rows, const MediaCheck& media) {
    const bool rowsKnown = std::all_of(std::begin(rows.values), std::end(rows.values), [](const auto& value) {
        return !value || KnownDriveBookType(*value);
    });
    return rowsKnown && (media.blankDvdPlusRw || !media.nibble || KnownDiscBookNibble(*media.nibble));
}

void PrintRows(CliContext& context, const DriveRows& rows) {
    for (BookTypeRow row : kAllBookTypeRows) {
        context.Out() << TextsOfRow(row).label << " " << RowText(rows, row) << "\n";
    }
}

void PrintMedia(CliContext& context, const MediaCheck& media) {
    context.Out() << kLabelCurrentMedia << " " << MediaKindName(media.kind) << "\n"
                  << kLabelMediaBookType << " " << MediaBookText(media) << "\n";
}

// [{"row", "book_type", "raw"}]: a row not read has both null; "none" is the drive's 00h.
schema::Json RowsJson(const DriveRows& rows) {
    schema::Json list = schema::Json::array();
    for (BookTypeRow row : kAllBookTypeRows) {
        const auto& value = rows.values[static_cast<size_t>(row)];
        schema::Json type = nullptr;
        if (value && *value == kBookNone) type = "none";
        if (value && *value != kBookNone && KnownDriveBookType(*value)) type = BookTypeName(*value);
        list.push_back({{"row", TextsOfRow(row).name},
                        {"book_type", type},
                        {"raw", value ? schema::Json(*value) : nullptr}});
    }
    return list;
}

schema::Json MediaJson(const MediaCheck& media) {
    // No disc, a disc of no known kind, or a kind that could not be read: no kind to name.
    const bool named = media.kind != MediaKind::NoMedium && media.kind != MediaKind::Other &&
                       media.kind != MediaKind::Failed;
    schema::Json type = nullptr;
    if (!media.blankDvdPlusRw && media.nibble && KnownDiscBookNibble(*media.nibble))
        type = DisplayOfDiscBookType(media.nibble).name;
    return {{"kind", named ? schema::Json(MediaKindName(media.kind)) : nullptr},
            {"book_type", type},
            {"raw", media.nibble && !media.blankDvdPlusRw ? schema::Json(*media.nibble) : nullptr},
            {"blank", media.blankDvdPlusRw}};
}

// Every key of the command's result, so that each form of it has the same shape.
void StartResult(CliContext& context) {
    for (const char* key : {"rows", "writes_dvd_plus_r_dl", "media", "write"})
        context.Result()[key] = nullptr;
}

// The drive rows as the page's Check Drive reads them: select, wait, read.
DriveRows ReadRows(DriveTable& table, CliObserver& observer) {
    table.WaitUntilReady();
    return CheckDriveRows(table, observer);
}

MediaCheck ReadMedia(DriveTable& table, CliObserver& observer) {
    table.WaitUntilReady();
    return CheckMediaBookType(table, observer);
}

int Show(CliContext& context, DriveTable& table) {
    CliObserver observer(context);
    const DriveRows rows = ReadRows(table, observer);
    if (observer.Status() == kExitNoDrive) return kExitNoDrive;
    if (rows.stopped) return context.Fail(kExitFailed, scan_texts::kUserAbort);
    const MediaCheck media = ReadMedia(table, observer);
    context.Result()["rows"] = RowsJson(rows);
    context.Result()["writes_dvd_plus_r_dl"] = rows.writesDvdPlusRDl;
    context.Result()["media"] = MediaJson(media);
    if (!context.Json()) {
        PrintRows(context, rows);
        PrintMedia(context, media);
    }
    if (observer.Status() != kExitOk) return observer.Status();
    if (!Plausible(rows, media))
        return context.Fail(kExitFailed, "The drive reports a book type that is not one of its settings.");
    // A + disc always has a book type; not reading it is a failure, not "N/A".
    const bool plusDisc = media.kind == MediaKind::DvdPlusR || media.kind == MediaKind::DvdPlusRw ||
                          media.kind == MediaKind::DvdPlusRDl;
    if (plusDisc && !media.blankDvdPlusRw && !media.nibble)
        return context.Fail(kExitFailed, "The disc's book type could not be read.");
    if (media.discStatusUnread) return context.Fail(kExitFailed, "The disc's status could not be read.");
    return kExitOk;
}

// The byte a row may be set to by name: DVD-ROM, or the row's own type.
std::optional<uint8_t> RowTarget(BookTypeRow row, const std::string& type) {
    if (type == "dvd-rom") return kBookDvdRom;
    if (type == TextsOfRow(row).name) return RowInfo(row).ownValue;
    return std::nullopt;
}

int SetRow(CliContext& context, DriveTable& table, BookTypeRow row, uint8_t target) {
    CliObserver observer(context);
    const DriveRows before = ReadRows(table, observer);
    if (observer.Refused()) return kExitNoDrive;
    // A stop asked for before or during the reads (which then end early) ends the command here.
    if (context.StopBeforeWrite()) return kExitFailed;

    // The page offers no Modify for these rows; neither does the command line. A failure
    // elsewhere in the check (the feature list, a row after this one) leaves this row's Modify
    // on the page, so it does not stop the set here either.
    const size_t index = static_cast<size_t>(row);
    if (row == BookTypeRow::PlusRDl && !before.writesDvdPlusRDl) {
        return context.Fail(kExitFailed,
                            "The drive does not write DVD+R DL media; that row has no book type to set.");
    }
    if (!before.values[index]) return context.FailedStatus();  // its read failed, and said so
    if (!DisplayOfRow(row, *before.values[index]).buttonEnabled) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02Xh", *before.values[index]);
        return context.Fail(kExitFailed, std::string("The drive reports an unknown book type (") + hex +
                                             ") for this row; it cannot be changed.");
    }

    if (!context.Confirm(RowConfirmationText(row))) return context.Fail(kExitFailed, "Cancelled.");
    if (context.StopBeforeWrite()) return kExitFailed;
    const SetSent sent = SetRowBookType(table, row, target, observer);
    if (sent == SetSent::NotSent) {
        // As on the page, the rows are read again after the refusal too.
        const DriveRows after = ReadRows(table, observer);
        context.Result()["rows"] = RowsJson(after);
        context.Result()["writes_dvd_plus_r_dl"] = after.writesDvdPlusRDl;
        context.Result()["write"] = schema::Write(FactsOf({WriteCheck::Refused, false}));
        if (!context.Json()) PrintRows(context, after);
        return observer.Status();
    }
    // The rows read again decide what the set came to, whatever it answered.
    table.WaitUntilReady();
    const RowSetCheck after = CheckDriveAfterSet(table, row, target, sent, observer);
    context.Result()["rows"] = RowsJson(after.rows);
    context.Result()["writes_dvd_plus_r_dl"] = after.rows.writesDvdPlusRDl;
    context.Result()["write"] = schema::Write(FactsOf(after.outcome));
    if (!context.Json()) PrintRows(context, after.rows);
    switch (after.outcome.check) {
        case WriteCheck::Confirmed:
            if (after.outcome.answerLost) context.Note(write_texts::kAnswerLostSettingHeld);
            return kExitOk;
        case WriteCheck::Differs:
            return context.Fail(kExitFailed,
                                "The drive still reports " + RowText(after.rows, row) + " for this row.");
        case WriteCheck::ReadBackFailed:
        case WriteCheck::WriteFailed:
        case WriteCheck::Unknown:
        case WriteCheck::Refused:
            break;
    }
    // The check or the set has said what failed.
    return observer.Status() != kExitOk ? observer.Status() : context.Fail(kExitFailed, kMsgSetDriveFail);
}

int SetMedia(CliContext& context, DriveTable& table, uint8_t target) {
    CliObserver observer(context);
    // Refuse before asking what the page's Modify button would not have offered.
    table.WaitUntilReady();
    if (DetermineMediaKind(table) != MediaKind::DvdPlusRw) {
        observer.Notice(BookTypeNotice::DvdPlusRwOnly);
        return context.FailedStatus();
    }
    bool empty = false;
    if (ReadDiscStatus(table, empty) == 0 && empty) {
        return context.Fail(kExitFailed,
                            "The DVD+RW disc is blank; only a recorded disc has a book type to change.");
    }

    if (!context.Confirm(kMsgChangeBookTypeNow)) return context.Fail(kExitFailed, "Cancelled.");
    if (context.StopBeforeWrite()) return kExitFailed;
    const SetSent sent = SetDiscBookType(table, target, observer);
    if (sent == SetSent::NotSent) {
        context.Result()["write"] = schema::Write(FactsOf({WriteCheck::Refused, false}));
        return observer.Status();
    }
    // After a set that failed or lost its answer, only the disc read after the reload can tell
    // what it holds: the reload is done without asking.
    if (sent == SetSent::Completed && !context.Confirm(kMsgBookTypeChanged)) {
        // Not read again: whether the disc took it shows after the next load.
        context.Result()["write"] = schema::Write(FactsOf(ClassifyWrite(true, std::nullopt)));
        context.Note("The disc was not reloaded; run 'booktype' to see its book type.");
        return kExitOk;
    }
    if (!ReloadDisc(table)) {
        // An open tray holds no disc to read: the disc is not gone, it is out of reach.
        const WriteOutcome outcome = BookTypeSetOutcome(sent, std::nullopt);
        context.Result()["write"] = schema::Write(FactsOf(outcome));
        const std::string readAgain = ReadAgainCommand(context, "booktype");
        if (outcome.check == WriteCheck::Unknown) {
            context.Note(kMsgTrayNotClosed);
            return context.Fail(kExitFailed, write_texts::AnswerLostUnread(readAgain));
        }
        return context.Fail(kExitFailed, std::string(kMsgWrittenTrayNotClosed) + readAgain + ".");
    }
    table.WaitUntilReady();
    const MediaSetCheck after = CheckMediaAfterSet(table, target, sent, observer);
    context.Result()["media"] = MediaJson(after.media);
    context.Result()["write"] = schema::Write(FactsOf(after.outcome));
    if (!context.Json()) PrintMedia(context, after.media);
    switch (after.outcome.check) {
        case WriteCheck::Confirmed:
            if (after.outcome.answerLost) context.Note(write_texts::kAnswerLostSettingHeld);
            return kExitOk;
        case WriteCheck::Differs:
        case WriteCheck::ReadBackFailed:
            if (observer.Status() != kExitOk) return observer.Status();
            return context.Fail(kExitFailed, "The disc still reports " + MediaBookText(after.media) + ".");
        case WriteCheck::WriteFailed:
        case WriteCheck::Unknown:
        case WriteCheck::Refused:
            break;
    }
    return observer.Status() != kExitOk ? observer.Status() : context.Fail(kExitFailed, kMsgSetMediaFail);
}

}  // namespace

int RunBookType(CliContext& context, const CommandArgs& command) {
    const std::vector<std::string>& args = command.words;
    std::optional<BookTypeRow> row;
    std::optional<uint8_t> target;
    enum class Action { Show, SetRow, SetMedia } action = Action::Show;
    if (args.empty()) {
        action = Action::Show;
    } else if (args[0] == "set" && args.size() == 3) {
        action = Action::SetRow;
        row = RowFromName(args[1]);
        if (!row) return UsageError(context, "unknown row '" + args[1] + "' (dvd+rw, dvd+r, dvd+r-dl)");
        target = RowTarget(*row, args[2]);
        if (!target) {
            return UsageError(
                context, "the " + args[1] + " row takes dvd-rom or " + args[1] + ", not '" + args[2] + "'");
        }
    } else if (args[0] == "set-media" && args.size() == 2) {
        action = Action::SetMedia;
        if (args[1] == "dvd-rom") target = kBookDvdRom;
        if (args[1] == "dvd+rw") target = kBookDvdPlusRw;
        if (!target) return UsageError(context, "set-media takes dvd-rom or dvd+rw, not '" + args[1] + "'");
    } else {
        return UsageError(context, "booktype takes nothing, set ROW TYPE or set-media TYPE");
    }

    DriveTable* table = context.UseDrive({.feature = kFeatureBookType});
    if (table == nullptr) return context.FailedStatus();
    StartResult(context);
    switch (action) {
        case Action::Show:
            return Show(context, *table);
        case Action::SetRow:
            return SetRow(context, *table, *row, *target);
        case Action::SetMedia:
            return SetMedia(context, *table, *target);
    }
    return kExitFailed;
}

}  // namespace dravix::cli

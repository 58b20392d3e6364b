// booktype: the book types the drive writes on DVD+RW, DVD+R and DVD+R DL media and the loaded
// disc's, read and changed with the Book Type page's procedures, confirmations and messages.

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "drive/BookTypeCommands.h"
#include "drive/DriveTable.h"

namespace dravix::cli {

namespace {

constexpr const char* kSynopsis =
    "booktype [set dvd+rw|dvd+r|dvd+r-dl dvd-rom|dvd+rw|dvd+r|dvd+r-dl | set-media dvd-rom|dvd+rw]";

// Prints the procedures' messages on standard error and remembers how they went.
class CliObserver final : public BookTypeObserver {
  public:
    explicit CliObserver(CliContext& context) : m_context(context) {}

    void Notice(BookTypeNotice notice) override {
        const NoticeText text = TextOf(notice);
        if (text.caption != nullptr) m_context.Err() << text.caption << ": ";
        m_context.Err() << text.text << "\n";
        switch (notice) {
            case BookTypeNotice::DriveNotSupported:
                m_refused = true;
                break;
            case BookTypeNotice::IncorrectMedia:
            case BookTypeNotice::DriveEmpty:
                break;  // warnings about the disc, not failures
            default:
                m_failed = true;
                break;
        }
    }

    // The exit status the messages so far call for.
    int Status() const { return m_refused ? kExitNoDrive : m_failed ? kExitFailed : kExitOk; }
    bool Refused() const { return m_refused; }

  private:
    CliContext& m_context;
    bool m_refused = false;
    bool m_failed = false;
};

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
        context.Out() << RowInfo(row).label << " " << RowText(rows, row) << "\n";
    }
}

void PrintMedia(CliContext& context, const MediaCheck& media) {
    context.Out() << kLabelCurrentMedia << " " << MediaKindName(media.kind) << "\n"
                  << kLabelMediaBookType << " " << MediaBookText(media) << "\n";
}

nlohmann::json RowsJson(const DriveRows& rows) {
    nlohmann::json object = nlohmann::json::object();
    for (BookTypeRow row : kAllBookTypeRows) {
        const auto& value = rows.values[static_cast<size_t>(row)];
        object[RowInfo(row).name] = value
                                        ? nlohmann::json{{"value", *value}, {"bookType", RowText(rows, row)}}
                                        : nlohmann::json(nullptr);
    }
    return object;
}

nlohmann::json MediaJson(const MediaCheck& media) {
    return {{"kind", MediaKindName(media.kind)},
            {"bookType", MediaBookText(media)},
            {"blank", media.blankDvdPlusRw}};
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
    const MediaCheck media = ReadMedia(table, observer);
    if (context.Options().json) {
        context.PrintJson({{"drive", CliContext::Escaped(table.DriveLabel())},
                           {"rows", RowsJson(rows)},
                           {"writesDvdPlusRDl", rows.writesDvdPlusRDl},
                           {"media", MediaJson(media)}});
    } else {
        PrintRows(context, rows);
        PrintMedia(context, media);
    }
    if (observer.Status() == kExitOk && !Plausible(rows, media)) {
        context.Err() << "The drive reports a book type that is not one of its settings.\n";
        return kExitFailed;
    }
    // A + disc always has a book type; not reading it is a failure, not "N/A".
    const bool plusDisc = media.kind == MediaKind::DvdPlusR || media.kind == MediaKind::DvdPlusRw ||
                          media.kind == MediaKind::DvdPlusRDl;
    if (observer.Status() == kExitOk && plusDisc && !media.blankDvdPlusRw && !media.nibble) {
        context.Err() << "The disc's book type could not be read.\n";
        return kExitFailed;
    }
    if (observer.Status() == kExitOk && media.discStatusUnread) {
        context.Err() << "The disc's status could not be read.\n";
        return kExitFailed;
    }
    return observer.Status();
}

// The byte a row may be set to by name: DVD-ROM, or the row's own type.
std::optional<uint8_t> RowTarget(BookTypeRow row, const std::string& type) {
    if (type == "dvd-rom") return kBookDvdRom;
    if (type == RowInfo(row).name) return RowInfo(row).ownValue;
    return std::nullopt;
}

int SetRow(CliContext& context, DriveTable& table, BookTypeRow row, uint8_t target) {
    CliObserver observer(context);
    const DriveRows before = ReadRows(table, observer);
    if (observer.Refused()) return kExitNoDrive;

    // The page offers no Modify for these rows; neither does the command line. A failure
    // elsewhere in the check (the feature list, a row after this one) leaves this row's Modify
    // on the page, so it does not stop the set here either.
    const size_t index = static_cast<size_t>(row);
    if (row == BookTypeRow::PlusRDl && !before.writesDvdPlusRDl) {
        context.Err() << "The drive does not write DVD+R DL media; that row has no book type to set.\n";
        return kExitFailed;
    }
    if (!before.values[index]) return kExitFailed;  // its read failed, and said so
    if (!DisplayOfRow(row, *before.values[index]).buttonEnabled) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02Xh", *before.values[index]);
        context.Err() << "The drive reports an unknown book type (" << hex
                      << ") for this row; it cannot be changed.\n";
        return kExitFailed;
    }

    if (!context.Confirm(RowConfirmationText(row))) {
        context.Err() << "Cancelled.\n";
        return kExitFailed;
    }
    const bool set = SetRowBookType(table, row, target, observer);
    // As on the page, the rows are read again whatever the set did.
    const DriveRows after = ReadRows(table, observer);
    if (context.Options().json) {
        context.PrintJson({{"drive", CliContext::Escaped(table.DriveLabel())},
                           {"row", RowInfo(row).name},
                           {"requested", BookTypeName(target)},
                           {"set", set},
                           {"rows", RowsJson(after)}});
    } else {
        PrintRows(context, after);
    }
    if (observer.Refused()) return kExitNoDrive;
    if (!set) return kExitFailed;
    if (after.values[index] != target) {
        context.Err() << "The drive still reports " << RowText(after, row) << " for this row.\n";
        return kExitFailed;
    }
    return kExitOk;
}

int SetMedia(CliContext& context, DriveTable& table, uint8_t target) {
    CliObserver observer(context);
    // Refuse before asking what the page's Modify button would not have offered.
    table.WaitUntilReady();
    if (DetermineMediaKind(table) != MediaKind::DvdPlusRw) {
        observer.Notice(BookTypeNotice::DvdPlusRwOnly);
        return kExitFailed;
    }
    bool empty = false;
    if (ReadDiscStatus(table, empty) == 0 && empty) {
        context.Err() << "The DVD+RW disc is blank; only a recorded disc has a book type to change.\n";
        return kExitFailed;
    }

    if (!context.Confirm(kMsgChangeBookTypeNow)) {
        context.Err() << "Cancelled.\n";
        return kExitFailed;
    }
    if (!SetDiscBookType(table, target, observer)) return observer.Status();
    if (!context.Confirm(kMsgBookTypeChanged)) {
        context.Err() << "The disc was not reloaded; run 'booktype' to see its book type.\n";
        return kExitOk;
    }
    ReloadDisc(table);
    const MediaCheck media = ReadMedia(table, observer);
    if (context.Options().json) {
        context.PrintJson({{"drive", CliContext::Escaped(table.DriveLabel())},
                           {"requested", BookTypeName(target)},
                           {"media", MediaJson(media)}});
    } else {
        PrintMedia(context, media);
    }
    if (observer.Status() != kExitOk) return observer.Status();
    if (media.nibble != static_cast<uint8_t>(target >> 4)) {
        context.Err() << "The disc still reports " << MediaBookText(media) << ".\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int RunBookType(CliContext& context, const std::vector<std::string>& args) {
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
        return UsageError(context, std::string("usage: ") + kSynopsis);
    }

    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;
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

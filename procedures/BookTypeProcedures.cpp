#include "procedures/BookTypeProcedures.h"

#include <vector>

#include "drive/DriveTable.h"
#include "drive/Scsi.h"
#include "drive/VendorMode.h"
#include "res/StringTable.h"

namespace dravix {

namespace {

// clang-format off
constexpr BookTypeRowText kRowTexts[] = {
    {"For DVD+RW Disc :", "dvd+rw", kLabelSetDvdPlusRw, 107},
    {"For DVD+R Disc :", "dvd+r", kLabelSetDvdPlusR, 108},
    {"For DVD+R DL Disc :", "dvd+r-dl", kLabelSetDvdPlusRDl, 109},
};
// clang-format on

size_t IndexOf(BookTypeRow row) {
    return static_cast<size_t>(row);
}

}  // namespace

const char* BookTypeName(uint8_t value) {
    switch (value) {
        case kBookDvdRom:
            return "DVD-ROM";
        case kBookDvdPlusR:
            return "DVD+R";
        case kBookDvdPlusRw:
            return "DVD+RW";
        case kBookDvdPlusRDl:
            return "DVD+R DL";
        default:
            return kBookTypeNotAvailable;
    }
}

bool KnownDiscBookNibble(uint8_t nibble) {
    return DisplayOfDiscBookType(nibble).name != kBookTypeNotAvailable;
}

const BookTypeRowText& TextsOfRow(BookTypeRow row) {
    return kRowTexts[IndexOf(row)];
}

std::optional<BookTypeRow> RowFromName(std::string_view name) {
    for (BookTypeRow row : kAllBookTypeRows) {
        if (name == TextsOfRow(row).name) return row;
    }
    return std::nullopt;
}

const char* RowConfirmationText(BookTypeRow row) {
    return StringText(TextsOfRow(row).confirmationString);
}

RowDisplay DisplayOfRow(BookTypeRow row, uint8_t value) {
    const BookTypeRowText& info = TextsOfRow(row);
    switch (value) {
        case kBookDvdRom:
            return {"DVD-ROM", info.ownLabel, true};
        case kBookDvdPlusR:
            // A DVD+RW row that writes DVD+R offers its own type back.
            return {"DVD+R", row == BookTypeRow::PlusRw ? kLabelSetDvdPlusRw : kLabelSetDvdRom, true};
        case kBookDvdPlusRw:
            return {"DVD+RW", kLabelSetDvdRom, true};
        case kBookDvdPlusRDl:
            return {"DVD+R DL", kLabelSetDvdRom, true};
        case kBookNone:
            return {kBookTypeNotAvailable, info.ownLabel, true};
        default:
            return {kBookTypeNotAvailable, kLabelSetDvdRom, false};
    }
}

std::optional<uint8_t> TargetOfRowLabel(BookTypeRow row, std::string_view label) {
    if (label == kLabelSetDvdRom) return kBookDvdRom;
    if (label == TextsOfRow(row).ownLabel) return RowInfo(row).ownValue;
    return std::nullopt;
}

const char* MediaKindName(MediaKind kind) {
    switch (kind) {
        case MediaKind::CdRom:
            return "CD-ROM";
        case MediaKind::CdR:
            return "CD-R";
        case MediaKind::CdRw:
            return "CD-RW";
        case MediaKind::DvdRom:
            return "DVD-ROM";
        case MediaKind::DvdPlusR:
            return "DVD+R";
        case MediaKind::DvdPlusRw:
            return "DVD+RW";
        case MediaKind::DvdMinusR:
            return "DVD-R";
        case MediaKind::DvdMinusRw:
            return "DVD-RW";
        case MediaKind::DvdRam:
            return "DVD-RAM";
        case MediaKind::DvdPlusRDl:
            return "DVD+R DL";
        case MediaKind::NoMedium:
            return "None";
        case MediaKind::Other:
        case MediaKind::Failed:
            break;
    }
    return kBookTypeNotAvailable;
}

bool SetNeedsEject(MediaKind kind) {
    return kind != MediaKind::DvdPlusR && kind != MediaKind::DvdPlusRw && kind != MediaKind::DvdPlusRDl &&
           kind != MediaKind::NoMedium;
}

DiscBookDisplay DisplayOfDiscBookType(std::optional<uint8_t> nibble) {
    if (!nibble) return {kBookTypeNotAvailable, nullptr, false};
    switch (*nibble) {
        case 0x0:
            return {"DVD-ROM", kLabelSetDvdPlusRw, false};
        case 0x1:
            return {"DVD-RAM", kLabelSetDvdPlusRw, false};
        case 0x2:
            return {"DVD-R", kLabelSetDvdPlusRw, false};
        case 0x3:
            return {"DVD-RW", nullptr, false};
        case 0x9:
            return {"DVD+RW", kLabelSetDvdRom, true};
        case 0xA:
            return {"DVD+R", kLabelSetDvdRom, false};
        case 0xE:
            return {"DVD+R DL", kLabelSetDvdRom, false};
        default:
            return {kBookTypeNotAvailable, nullptr, false};
    }
}

std::optional<uint8_t> TargetOfMediaLabel(std::string_view label) {
    if (label == kLabelSetDvdRom) return kBookDvdRom;
    if (label == kLabelSetDvdPlusRw) return kBookDvdPlusRw;
    return std::nullopt;
}

NoticeText TextOf(BookTypeNotice notice) {
    switch (notice) {
        case BookTypeNotice::DriveNotSupported:
            return {kCaptionError, StringText(kStringDriveNotSupported), kStringDriveNotSupported};
        case BookTypeNotice::CheckDriveFailed:
            return {kCaptionFail, kMsgCheckDriveFail, 0};
        case BookTypeNotice::SetDriveFailed:
            return {kCaptionFail, kMsgSetDriveFail, 0};
        case BookTypeNotice::SetMediaFailed:
            return {kCaptionFail, kMsgSetMediaFail, 0};
        case BookTypeNotice::SetDriveAnswerLost:
            return {kCaptionFail, kMsgSetDriveFail, 0, "Check Drive"};
        case BookTypeNotice::SetMediaAnswerLost:
            return {kCaptionFail, kMsgSetMediaFail, 0, "Check Media"};
        case BookTypeNotice::GetConfigurationFailed:
            return {nullptr, kMsgGetConfigurationFail, 0};
        case BookTypeNotice::GetConfigurationTimeout:
            return {nullptr, kMsgGetConfigurationTimeout, 0};
        case BookTypeNotice::DvdPlusRwOnly:
            return {kCaptionError, kMsgDvdPlusRwOnly, 0};
        case BookTypeNotice::IncorrectMedia:
            return {kCaptionWarning, StringText(kStringIncorrectMedia), kStringIncorrectMedia};
        case BookTypeNotice::DriveEmpty:
            return {kCaptionWarning, StringText(kStringDriveEmpty), kStringDriveEmpty};
    }
    return {kCaptionError, "", 0};
}

std::optional<BookTypeNotice> ContinueCheckDrive(DriveTable& table, CheckDriveProgress& progress,
                                                 BookTypeObserver& observer) {
    if (progress.vendorModeOn) {
        // The failed read's message has been shown: now its vendor mode off.
        progress.vendorModeOn = false;
        VendorModeScope::Resume(table).End();
    }
    DriveRows& rows = progress.rows;
    auto readRow = [&](BookTypeRow row) -> std::optional<BookTypeNotice> {
        VendorModeScope vendorMode(table);
        if (!vendorMode) {
            rows.failed = true;
            progress.next = CheckDriveStage::Done;
            return BookTypeNotice::DriveNotSupported;
        }
        uint8_t value = 0;
        if (ReadDriveBookType(table, row, value) != kCommandCompleted) {
            // The message comes before vendor mode off, which the next call sends.
            vendorMode.Keep();
            progress.vendorModeOn = true;
            rows.failed = true;
            progress.next = CheckDriveStage::Done;
            return BookTypeNotice::CheckDriveFailed;
        }
        vendorMode.End();
        rows.values[IndexOf(row)] = value;
        observer.RowRead(row, value);
        return std::nullopt;
    };

    while (progress.next != CheckDriveStage::Done) {
        if (observer.StopRequested()) {
            rows.stopped = true;
            progress.next = CheckDriveStage::Done;
            break;
        }
        switch (progress.next) {
            case CheckDriveStage::PlusR:
                progress.next = CheckDriveStage::Features;
                if (auto notice = readRow(BookTypeRow::PlusR)) return notice;
                break;
            case CheckDriveStage::Features: {
                std::vector<uint8_t> features;
                const uint8_t status = ReadAllFeatures(table, features);
                if (status == kCommandCompleted) rows.writesDvdPlusRDl = WritesDvdPlusRDl(features);
                progress.next = rows.writesDvdPlusRDl ? CheckDriveStage::PlusRDl : CheckDriveStage::PlusRw;
                if (status != kCommandCompleted) {
                    return status == kCommandTimedOut ? BookTypeNotice::GetConfigurationTimeout
                                                      : BookTypeNotice::GetConfigurationFailed;
                }
                break;
            }
            case CheckDriveStage::PlusRDl:
                progress.next = CheckDriveStage::PlusRw;
                if (auto notice = readRow(BookTypeRow::PlusRDl)) return notice;
                break;
            case CheckDriveStage::PlusRw:
                progress.next = CheckDriveStage::Done;
                if (auto notice = readRow(BookTypeRow::PlusRw)) return notice;
                break;
            case CheckDriveStage::Done:
                break;
        }
    }
    return std::nullopt;
}

DriveRows CheckDriveRows(DriveTable& table, BookTypeObserver& observer) {
    CheckDriveProgress progress;
    do {
        if (auto notice = ContinueCheckDrive(table, progress, observer)) observer.Notice(*notice);
    } while (!progress.Finished());
    return progress.rows;
}

SetSent SetRowBookType(DriveTable& table, BookTypeRow row, uint8_t value, BookTypeObserver& observer) {
    if (SetNeedsEject(DetermineMediaKind(table))) table.MoveTray(true);
    VendorModeScope vendorMode(table);
    if (!vendorMode) {
        observer.Notice(BookTypeNotice::DriveNotSupported);
        return SetSent::NotSent;
    }
    const bool done = SetDriveBookTypeCommand(table, row, value) == kCommandCompleted;
    vendorMode.End();
    return done ? SetSent::Completed : SetSent::Failed;
}

SetSent SetDiscBookType(DriveTable& table, uint8_t value, BookTypeObserver& observer) {
    if (DetermineMediaKind(table) != MediaKind::DvdPlusRw) {
        observer.Notice(BookTypeNotice::DvdPlusRwOnly);
        return SetSent::NotSent;
    }
    // Vendor mode is left also after a refused set, so the drive is not kept in it.
    VendorModeScope vendorMode(table);
    if (!vendorMode) {
        observer.Notice(BookTypeNotice::DriveNotSupported);
        return SetSent::NotSent;
    }
    const bool done = SetDiscBookTypeCommand(table, value) == kCommandCompleted;
    vendorMode.End();
    return done ? SetSent::Completed : SetSent::Failed;
}

WriteOutcome BookTypeSetOutcome(SetSent sent, std::optional<bool> holdsValue) {
    if (sent == SetSent::NotSent) return {WriteCheck::Refused, false};
    return ClassifyWrite(sent == SetSent::Completed, holdsValue);
}

std::optional<BookTypeNotice> ContinueCheckMedia(DriveTable& table, CheckMediaProgress& progress,
                                                 BookTypeObserver& observer) {
    MediaCheck& check = progress.check;
    if (!progress.kindKnown) {
        progress.kindKnown = true;
        check.kind = DetermineMediaKind(table);
        observer.MediaKindFound(check.kind);
        switch (check.kind) {
            case MediaKind::CdRom:
            case MediaKind::CdR:
            case MediaKind::CdRw:
            case MediaKind::Other:
            case MediaKind::Failed:
                return BookTypeNotice::IncorrectMedia;
            case MediaKind::NoMedium:
                return BookTypeNotice::DriveEmpty;
            case MediaKind::DvdPlusRw: {
                bool empty = false;
                const bool read = ReadDiscStatus(table, empty) == kCommandCompleted;
                check.discStatusUnread = !read;
                if (read && empty) {
                    check.blankDvdPlusRw = true;
                    progress.done = true;
                    observer.BlankDvdPlusRw();
                    return std::nullopt;
                }
                break;
            }
            default:
                break;
        }
    }
    ReadDiscBookType(table, check.nibble);
    progress.done = true;
    observer.DiscBookTypeRead(check.nibble);
    return std::nullopt;
}

MediaCheck CheckMediaBookType(DriveTable& table, BookTypeObserver& observer) {
    CheckMediaProgress progress;
    do {
        if (auto notice = ContinueCheckMedia(table, progress, observer)) observer.Notice(*notice);
    } while (!progress.done);
    return progress.check;
}

bool ReloadDisc(DriveTable& table) {
    table.MoveTray(true);
    const bool closed = table.MoveTray(false);
    table.WaitUntilReady();
    return closed;
}

namespace {

// The check that follows a set: what it finds goes on at once, its notices wait until the set's
// outcome is known, which decides how they are told. It asks for no stop: once a set was sent,
// only the read after it tells what the drive holds.
class AfterSetObserver final : public BookTypeObserver {
  public:
    AfterSetObserver(BookTypeObserver& target, SetSent sent) : m_target(target), m_sent(sent) {}

    void Notice(BookTypeNotice notice) override {
        // The drive took the set, so it is one this program serves: a refusal now is a check that
        // failed.
        if (notice == BookTypeNotice::DriveNotSupported && m_sent == SetSent::Completed)
            notice = BookTypeNotice::CheckDriveFailed;
        m_notices.push_back(notice);
    }
    void RowRead(BookTypeRow row, uint8_t value) override { m_target.RowRead(row, value); }
    void MediaKindFound(MediaKind kind) override { m_target.MediaKindFound(kind); }
    void BlankDvdPlusRw() override { m_target.BlankDvdPlusRw(); }
    void DiscBookTypeRead(std::optional<uint8_t> nibble) override { m_target.DiscBookTypeRead(nibble); }

    // Tells the check's notices and then the set's outcome: its failure when the drive holds
    // another value; when nothing tells what it holds, that alone (the check's failure is part of
    // it).
    void Finish(const WriteOutcome& outcome, BookTypeNotice failed, BookTypeNotice answerLost) {
        const bool unknown = outcome.check == WriteCheck::Unknown;
        for (BookTypeNotice notice : m_notices) {
            const bool checkFailure =
                notice == BookTypeNotice::CheckDriveFailed || notice == BookTypeNotice::DriveNotSupported;
            if (!(unknown && checkFailure)) m_target.Notice(notice);
        }
        if (outcome.check == WriteCheck::WriteFailed) m_target.Notice(failed);
        if (unknown) m_target.Notice(answerLost);
    }

  private:
    BookTypeObserver& m_target;
    SetSent m_sent;
    std::vector<BookTypeNotice> m_notices;
};

}  // namespace

RowSetCheck CheckDriveAfterSet(DriveTable& table, BookTypeRow row, uint8_t value, SetSent sent,
                               BookTypeObserver& observer) {
    AfterSetObserver afterSet(observer, sent);
    RowSetCheck check;
    check.rows = CheckDriveRows(table, afterSet);
    const std::optional<uint8_t>& read = check.rows.values[IndexOf(row)];
    check.outcome = BookTypeSetOutcome(sent, read ? std::optional<bool>(*read == value) : std::nullopt);
    afterSet.Finish(check.outcome, BookTypeNotice::SetDriveFailed, BookTypeNotice::SetDriveAnswerLost);
    return check;
}

MediaSetCheck CheckMediaAfterSet(DriveTable& table, uint8_t value, SetSent sent, BookTypeObserver& observer) {
    AfterSetObserver afterSet(observer, sent);
    MediaSetCheck check;
    check.media = CheckMediaBookType(table, afterSet);
    const std::optional<uint8_t> nibble = check.media.blankDvdPlusRw ? std::nullopt : check.media.nibble;
    const auto wanted = static_cast<uint8_t>(value >> 4);
    check.outcome = BookTypeSetOutcome(sent, nibble ? std::optional<bool>(*nibble == wanted) : std::nullopt);
    afterSet.Finish(check.outcome, BookTypeNotice::SetMediaFailed, BookTypeNotice::SetMediaAnswerLost);
    return check;
}

}  // namespace dravix

#include <algorithm>
#include <cstring>

#include "emu/Commands.h"

namespace dravix::emu::detail {

namespace {

constexpr uint8_t kSignature[4] = {'Z', 'A', 'R', 'N'};

constexpr uint8_t kVendorModeOn = 0xF1;
constexpr uint8_t kVendorModeOff = 0xF2;
constexpr uint8_t kFamilyCommand = 0x1B;  // feature list and option commands
constexpr uint8_t kSwitchCommand = 0xFB;

constexpr uint8_t kFeatureListFunction = 0x0E;
constexpr uint8_t kOptionFunction = 0x16;

constexpr uint8_t kBookDvdRom = 0x01, kBookDvdPlusRw = 0x92, kBookDvdPlusR = 0xA1, kBookDvdPlusRDl = 0xE1;

bool KnowsVendorCommands(const DriveState& s) {
    return s.kind != DriveKind::OtherMaker;
}

OptionSetting& Option(DriveState& s, OptionKind kind) {
    return s.options[static_cast<size_t>(kind)];
}

// --- feature list ----------------------------------------------------------------------------

void FeatureList(Command& c) {
    c.allocation = GetBe16(&c.cdb[7]);
    const std::vector<uint8_t>& all = c.state.featureCodes;
    const std::vector<uint8_t> codes(all.begin(),
                                     all.begin() + static_cast<long>(std::min<size_t>(all.size(), 255)));
    c.reply.assign(8, 0);
    // Old firmware answers in an earlier layout that lacks the signature.
    if (c.state.kind == DriveKind::Maker) std::memcpy(c.reply.data(), kSignature, 4);
    c.reply[4] = 0x01;  // layout version
    c.reply[7] = static_cast<uint8_t>(codes.size());
    c.reply.insert(c.reply.end(), codes.begin(), codes.end());
}

// --- option command --------------------------------------------------------------------------

constexpr uint8_t kReadAllOptions = 0x01, kWriteLumard = 0x02, kClearLearned = 0x03, kLearnedCount = 0x05,
                  kWriteOverSpeed = 0x06, kMediaInformation = 0x07;

bool ValidOptionState(uint8_t state) {
    return state <= 3;
}

void MediaInformation(Command& c) {
    // The record length is one byte: never more records than fit in it.
    const std::vector<std::string>& all = c.state.learnedDiscs;
    const std::vector<std::string> ids(
        all.begin(), all.begin() + static_cast<long>(std::min(all.size(), kMaxLearnedDiscs)));
    c.reply.assign(8 + kLearnedIdLength * ids.size(), 0);
    std::memcpy(c.reply.data(), kSignature, 4);
    c.reply[5] = kOptionFunction;
    c.reply[6] = kMediaInformation;
    c.reply[7] = static_cast<uint8_t>(kLearnedIdLength * ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        std::memcpy(&c.reply[8 + kLearnedIdLength * i], ids[i].data(),
                    std::min(ids[i].size(), kLearnedIdLength));
    }
}

void OptionCommand(Command& c) {
    DriveState& s = c.state;
    switch (c.cdb[7]) {
        case kReadAllOptions:
            c.reply = {Option(s, OptionKind::UnknownDisc).Reported(),
                       Option(s, OptionKind::SupportedDisc).Reported(),
                       Option(s, OptionKind::OverSpeed).Reported(), 0};
            return;
        case kWriteLumard:
            if (!ValidOptionState(c.cdb[8]) || !ValidOptionState(c.cdb[9])) return c.Fail(kInvalidFieldInCdb);
            Option(s, OptionKind::UnknownDisc).Write(c.cdb[8]);
            Option(s, OptionKind::SupportedDisc).Write(c.cdb[9]);
            return;
        case kWriteOverSpeed:
            if (!ValidOptionState(c.cdb[8])) return c.Fail(kInvalidFieldInCdb);
            Option(s, OptionKind::OverSpeed).Write(c.cdb[8]);
            return;
        case kLearnedCount:
            c.reply.assign(2, 0);
            PutBe16(c.reply.data(), static_cast<uint16_t>(s.learnedDiscs.size()));
            return;
        case kMediaInformation:
            return MediaInformation(c);
        case kClearLearned:
            s.learnedDiscs.clear();
            return;
        default:
            return c.Fail(kInvalidFieldInCdb);
    }
}

// --- switch command --------------------------------------------------------------------------

constexpr uint8_t kReadSwitches = 0x00, kSetTestWrite = 0x02, kSetWopc = 0x03, kTeFe = 0x05;
constexpr uint8_t kMeasure = 0x00, kTeReference = 0x03, kFeReference = 0x04;
constexpr uint8_t kReferenceMarker = 0x02;  // byte 7 of a reference read

void TeFe(Command& c) {
    const uint8_t kind = c.cdb[11];
    const uint8_t speedCode = c.cdb[7];
    if (kind == kTeReference || kind == kFeReference) {
        if (speedCode != kReferenceMarker) return c.Fail(kInvalidFieldInCdb);
    } else if (kind != kMeasure || speedCode < kFirstSpeedCode || speedCode > kLastSpeedCode) {
        return c.Fail(kInvalidFieldInCdb);
    }
    if (auto problem = MediumProblem(c.state, c.nowMs)) return c.Fail(*problem);
    const MediaInfo& media = *LoadedMedia(c.state);
    if (!media.tefe) return c.Fail(kIncompatibleMedium);  // no groove to track: pressed DVD or CD
    const uint32_t psn = GetBe24(&c.cdb[8]);
    if (!RadialPosition(media, psn)) return c.Fail(kLbaOutOfRange);

    if (kind != kMeasure) {
        c.reply.assign(4, 0);
        PutBe16(&c.reply[1], kind == kTeReference ? media.tefe->teReference : media.tefe->feReference);
        return;
    }
    const TeFeLevels levels = MeasureLevels(media, psn, speedCode);
    c.reply.assign(8, 0);
    PutBe16(&c.reply[1], levels.teRaw);
    PutBe16(&c.reply[5], levels.feRaw);
}

void SwitchCommand(Command& c) {
    DriveState& s = c.state;
    switch (c.cdb[6]) {
        case kReadSwitches:
            c.reply = {0, static_cast<uint8_t>(s.testWrite ? 1 : 0),
                       static_cast<uint8_t>(s.wopcDisabled ? 1 : 0), 0};
            return;
        case kSetTestWrite:
            if (c.cdb[9] > 1) return c.Fail(kInvalidFieldInCdb);
            s.testWrite = c.cdb[9] == 1;
            return;
        case kSetWopc:
            if (c.cdb[9] > 1) return c.Fail(kInvalidFieldInCdb);
            s.wopcDisabled = c.cdb[9] == 1;
            return;
        case kTeFe:
            return TeFe(c);
        default:
            return c.Fail(kInvalidFieldInCdb);
    }
}

bool KnownBookType(uint8_t value) {
    return value == kBookDvdRom || value == kBookDvdPlusRw || value == kBookDvdPlusR ||
           value == kBookDvdPlusRDl;
}

void SetDiscBookType(Command& c) {
    const uint8_t value = c.cdb[2];
    if (value != kBookDvdRom && value != kBookDvdPlusRw) return c.Fail(kInvalidFieldInCdb);
    if (auto problem = MediumProblem(c.state, c.nowMs)) return c.Fail(*problem);
    const MediaInfo& media = *LoadedMedia(c.state);
    // Only a recorded DVD+RW carries physical format information that can be rewritten.
    if (media.family != MediaFamily::DvdPlusRw || media.blank) return c.Fail(kIncompatibleMedium);
    c.state.disc->bookType = value;
}

}  // namespace

void VendorFrame(Command& c) {
    DriveState& s = c.state;
    if (!KnowsVendorCommands(s)) return c.Fail(kInvalidOpcode);
    if (std::memcmp(&c.cdb[2], kSignature, 4) != 0) return c.Fail(kInvalidFieldInCdb);
    const uint8_t subCode = c.cdb[1];
    if (subCode == kVendorModeOn) {
        s.vendorMode = true;
        return;
    }
    if (subCode == kVendorModeOff) {
        s.vendorMode = false;
        return;
    }
    if (subCode != kFamilyCommand && subCode != kSwitchCommand) return c.Fail(kInvalidOpcode);
    // Outside vendor mode the firmware does not know its own commands.
    if (!s.vendorMode) return c.Fail(kInvalidOpcode);
    if (subCode == kSwitchCommand) return SwitchCommand(c);
    switch (c.cdb[6]) {
        case kFeatureListFunction:
            return FeatureList(c);
        case kOptionFunction:
            return OptionCommand(c);
        default:
            return c.Fail(kInvalidFieldInCdb);
    }
}

void ReadBookType(Command& c) {
    DriveState& s = c.state;
    if (!KnowsVendorCommands(s) || !s.vendorMode) return c.Fail(kInvalidOpcode);
    std::optional<BookTypeRow> row;
    if (c.cdb[1] == 0x00 && c.cdb[2] == 0x00) row = BookTypeRow::PlusRw;
    if (c.cdb[1] == 0x10 && c.cdb[2] == 0x00) row = BookTypeRow::PlusR;
    if (c.cdb[1] == 0x10 && c.cdb[2] == 0x01 && s.writesDvdPlusRDl) row = BookTypeRow::PlusRDl;
    if (!row) return c.Fail(kInvalidFieldInCdb);
    c.reply = {s.bookTypes[static_cast<size_t>(*row)], 0};
}

void SetBookType(Command& c) {
    DriveState& s = c.state;
    if (!KnowsVendorCommands(s) || !s.vendorMode) return c.Fail(kInvalidOpcode);
    const uint8_t target = c.cdb[1];
    const uint8_t value = c.cdb[2];
    if (target == 0x02) return SetDiscBookType(c);
    std::optional<BookTypeRow> row;
    if (target == 0x04 && c.cdb[3] == 0x00) row = BookTypeRow::PlusRw;
    if (target == 0x05 && c.cdb[3] == 0x00) row = BookTypeRow::PlusR;
    if (target == 0x05 && c.cdb[3] == 0x01 && s.writesDvdPlusRDl) row = BookTypeRow::PlusRDl;
    if (!row || !KnownBookType(value)) return c.Fail(kInvalidFieldInCdb);
    s.bookTypes[static_cast<size_t>(*row)] = value;
}

}  // namespace dravix::emu::detail

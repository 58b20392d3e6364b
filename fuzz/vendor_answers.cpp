// The answers of the maker's commands (fuzz/AnswerFuzz.h): the option and switch state bytes,
// the learned-disc count, the learned media records, the feature list of the support check and
// the drive's book type of each media row.

#include <algorithm>

#include "base/ByteOrder.h"
#include "drive/BookTypeCommands.h"
#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "drive/Support.h"
#include "fuzz/AnswerFuzz.h"
#include "fuzz/FuzzCheck.h"
#include "procedures/BookTypeProcedures.h"
#include "procedures/PageTitles.h"

namespace {

using namespace dravix;
using fuzz::Decoded;
using fuzz::Note;

std::string StateText(std::optional<bool> state) {
    return state ? (*state ? "on" : "off") : "unknown";
}

// A state byte says on or off only for its own values: 0..3 for the options, 0..1 for switches.
void CheckStateBytes(const OptionReply& reply) {
    for (uint8_t b : reply) {
        FUZZ_CHECK(OptionStateIsOn(b).has_value() == (b <= 3));
        FUZZ_CHECK(SwitchFlag(b).has_value() == (b <= 1));
    }
}

enum Answer : uint8_t {
    kOptionStates,
    kSwitchStates,
    kLearnedCount,
    kMediaInformation,
    kFeatureList,
    kRowPlusRw,
    kRowPlusR,
    kRowPlusRDl,
    kAnswerCount,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto input = fuzz::ParseAnswerInput(data, size);
    if (!input) return 0;
    fuzz::AnsweringDrive& drive = fuzz::SharedAnsweringDrive();
    size_t needed = 0;
    const auto run = [&](const std::function<Decoded(DriveTable&)>& decode) {
        drive.Run(input->answer, decode, [&] { return needed; });
    };

    switch (static_cast<Answer>(input->which % kAnswerCount)) {
        case kOptionStates:
        case kSwitchStates: {
            const bool options = input->which % kAnswerCount == kOptionStates;
            needed = 3;
            run([&](DriveTable& table) {
                Decoded d;
                OptionReply reply{};
                d.status = options ? ReadOptionStates(table, reply) : ReadSwitchStates(table, reply);
                if (d.status == kCommandCompleted) {
                    CheckStateBytes(reply);
                    for (size_t i = 0; i < 3; ++i)
                        Note(d.values, "state",
                             StateText(options ? OptionStateIsOn(reply[i]) : SwitchFlag(reply[i])));
                }
                return d;
            });
            break;
        }
        case kLearnedCount: {
            needed = 2;
            run([&](DriveTable& table) {
                Decoded d;
                OptionReply reply{};
                d.status = ReadLearnedCount(table, reply);
                if (d.status == kCommandCompleted) {
                    const auto count = PlausibleLearnedCount(reply);
                    FUZZ_CHECK(count.has_value() == (GetBe16(reply.data()) <= kMaxMediaRecords));
                    Note(d.values, "count", count ? *count : -1);
                }
                return d;
            });
            break;
        }
        case kMediaInformation: {
            run([&](DriveTable& table) {
                Decoded d;
                MediaInformationReply reply{};
                d.status = ReadMediaInformation(table, reply);
                needed = 8;
                if (d.status == kCommandCompleted) {
                    const MediaInformation info = DecodeMediaInformation(reply);
                    FUZZ_CHECK(info.records.size() <= kMaxMediaRecords);
                    FUZZ_CHECK(info.headerValid || info.records.empty());
                    // Every record shown arrived whole.
                    needed = kMediaRecordsOffset + info.records.size() * kLearnedRecordLength;
                    Note(d.values, "header", info.headerValid);
                    for (const std::string& record : info.records) {
                        FUZZ_CHECK(record.size() == kLearnedRecordLength &&
                                   record.find('\0') == std::string::npos);
                        Note(d.values, "record", record);
                    }
                }
                return d;
            });
            break;
        }
        case kFeatureList: {
            run([&](DriveTable& table) {
                Decoded d;
                uint8_t list[kFeatureListLength];
                d.status = ReadFeatureList(table, list);
                needed = 8;
                if (d.status == kCommandCompleted) {
                    const std::vector<uint8_t> codes = FeatureCodesOf(list);
                    // Every code listed arrived.
                    needed = 8 + codes.size();
                    FUZZ_CHECK(needed <= kFeatureListLength);
                    Note(d.values, "signature", HasSignature(list));
                    for (uint8_t code : codes) {
                        const char* title = FeaturePageTitle(code);
                        Note(d.values, "page", title ? title : "-");
                    }
                }
                return d;
            });
            break;
        }
        case kRowPlusRw:
        case kRowPlusR:
        case kRowPlusRDl: {
            const auto row = static_cast<BookTypeRow>(input->which % kAnswerCount - kRowPlusRw);
            needed = 1;
            run([&](DriveTable& table) {
                Decoded d;
                uint8_t value = 0;
                d.status = ReadDriveBookType(table, row, value);
                if (d.status == kCommandCompleted) {
                    const RowDisplay display = DisplayOfRow(row, value);
                    // A byte the drive cannot mean is never the basis of a change.
                    if (!KnownDriveBookType(value)) FUZZ_CHECK(!display.buttonEnabled);
                    Note(d.values, "status", display.status);
                    Note(d.values, "button", display.buttonLabel ? display.buttonLabel : "-");
                    Note(d.values, "enabled", display.buttonEnabled);
                }
                return d;
            });
            break;
        }
        case kAnswerCount:
            break;
    }
    return 0;
}

// The answers the scan reads (fuzz/AnswerFuzz.h): the disc type, the write speeds of GET
// PERFORMANCE as the speed list shows them, and the TE/FE references and measurements.

#include <algorithm>
#include <array>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "fuzz/AnswerFuzz.h"
#include "fuzz/FuzzCheck.h"
#include "probix/ScanEngine.h"
#include "probix/SpeedList.h"

namespace {

using namespace dravix;
using fuzz::Decoded;
using fuzz::Note;

// The speed list takes only speeds of its table, each with its own code and label, no more than
// the answer holds whole descriptors for, and the End LBA of the answer's last descriptor.
void CheckSpeeds(const DiscSpeeds& speeds, std::span<const uint8_t> answer) {
    FUZZ_CHECK(speeds.codes.size() == speeds.kbps.size() && speeds.codes.size() == speeds.labels.size());
    FUZZ_CHECK(speeds.codes.size() <= kMaxSpeedCount);
    FUZZ_CHECK(speeds.codes.size() <= (answer.size() >= 8 ? (answer.size() - 8) / 16 : 0));
    for (size_t i = 0; i < speeds.codes.size(); ++i) {
        FUZZ_CHECK(speeds.codes[i] >= kFirstSpeedCode && speeds.codes[i] <= kLastSpeedCode);
        const SpeedEntry* speed = SpeedOfCode(speeds.codes[i]);
        FUZZ_CHECK(speed != nullptr && speed->kbps == speeds.kbps[i]);
        FUZZ_CHECK(speeds.labels[i].find(std::to_string(speeds.kbps[i])) != std::string::npos);
    }
    FUZZ_CHECK(speeds.lastLba == LastEndLbaOf(answer));
}

// Per cent of a reference, truncated, and the limits judged on it.
void CheckPercent(uint16_t raw, uint16_t reference) {
    const uint16_t percent = PercentOf(raw, reference);
    const uint64_t scaled = uint64_t{raw} * 100;
    if (percent != UINT16_MAX) {
        FUZZ_CHECK(uint64_t{percent} * reference <= scaled && scaled < uint64_t{percent + 1u} * reference);
    } else {
        FUZZ_CHECK(reference == 0 || scaled >= uint64_t{UINT16_MAX} * reference);
    }
    if (reference != 0) {
        FUZZ_CHECK(OverTeLimit(percent) == (scaled >= uint64_t{kTeLimitPercent + 1u} * reference));
        FUZZ_CHECK(OverFeLimit(percent) == (scaled >= uint64_t{kFeLimitPercent + 1u} * reference));
    }
}

constexpr std::array<uint8_t, 4> kDiscs = {kScanDvdPlusRDl, kScanDvdPlusR, kScanDvdMinusR, kScanDiscUnknown};

enum Answer : uint8_t {
    kDiscType,
    kWriteSpeeds,
    kTeReference,
    kFeReference,
    kMeasurement,
    kAnswerCount,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto input = fuzz::ParseAnswerInput(data, size);
    if (!input) return 0;
    const fuzz::ScriptedAnswer& answer = input->answer;
    fuzz::AnsweringDrive& drive = fuzz::SharedAnsweringDrive();
    // The higher bits of the first byte choose the disc of the references.
    const uint8_t disc = kDiscs[(input->which / kAnswerCount) % kDiscs.size()];
    size_t needed = 0;
    const auto run = [&](const std::function<Decoded(DriveTable&)>& decode) {
        drive.Run(answer, decode, [&] { return needed; });
    };

    switch (static_cast<Answer>(input->which % kAnswerCount)) {
        case kDiscType: {
            needed = 8;
            run([&](DriveTable& table) {
                Decoded d;
                const uint8_t code = ReadDiscType(table);
                d.status = table.LastFailure().status;
                if (d.status != kCommandCompleted) FUZZ_CHECK(code == kScanDiscUnknown);
                FUZZ_CHECK(ScanSupportsDisc(code) == (ScanDiscName(code) != nullptr));
                Note(d.values, "disc", code);
                return d;
            });
            break;
        }
        case kWriteSpeeds: {
            needed = 8;
            const size_t sent =
                std::min<size_t>(answer.bytes.size(), std::max<int32_t>(answer.transferred, 0));
            const auto exact = fuzz::Exactly(answer.bytes.first(sent));
            CheckSpeeds(DecodeWriteSpeeds(exact), exact);
            run([&](DriveTable& table) {
                Decoded d;
                std::array<uint8_t, kPerformanceLength> buffer{};
                size_t received = 0;
                d.status = ReadWriteSpeeds(table, buffer, received);
                FUZZ_CHECK(received <= buffer.size());
                if (d.status != kCommandCompleted) FUZZ_CHECK(received == 0);
                const auto speeds = DecodeWriteSpeeds(std::span(buffer).first(received));
                CheckSpeeds(speeds, std::span(buffer).first(received));
                for (const std::string& label : speeds.labels) Note(d.values, "speed", label);
                Note(d.values, "last", speeds.lastLba ? *speeds.lastLba : -1);
                return d;
            });
            break;
        }
        case kTeReference:
        case kFeReference: {
            const auto channel =
                input->which % kAnswerCount == kTeReference ? TeFeChannel::Te : TeFeChannel::Fe;
            needed = 3;
            run([&](DriveTable& table) {
                Decoded d;
                const ReferenceReading reading = ReadTeFeReference(table, channel, disc);
                d.status = reading.status;
                // No level of all ones, and none from a failed command.
                FUZZ_CHECK(reading.value != kInvalidReference);
                if (reading.status != kCommandCompleted) FUZZ_CHECK(reading.value == 0);
                Note(d.values, "reference", reading.value);
                return d;
            });
            break;
        }
        case kMeasurement: {
            needed = 7;
            run([&](DriveTable& table) {
                Decoded d;
                const TeFeReading reading = MeasureTeFe(table, kFirstSpeedCode, kFeReferencePsn);
                d.status = reading.status;
                if (reading.Ok()) {
                    // References as the drive may give them: the smallest, ordinary ones, the largest.
                    for (uint16_t reference : {uint16_t{0}, uint16_t{1}, reading.feRaw, uint16_t{0xFFFE}}) {
                        CheckPercent(reading.teRaw, reference);
                        CheckPercent(reading.feRaw, reference);
                    }
                }
                Note(d.values, "ok", reading.Ok());
                Note(d.values, "te", reading.teRaw);
                Note(d.values, "fe", reading.feRaw);
                return d;
            });
            break;
        }
        case kAnswerCount:
            break;
    }
    return 0;
}

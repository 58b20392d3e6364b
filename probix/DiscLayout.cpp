#include "probix/DiscLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"

namespace dravix {

namespace {

constexpr uint8_t kUnitAttention = 0x06;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kAscLogicalUnitNotSupported = 0x25;
constexpr uint16_t kMaxTracks = 99;
// A disc this large is no CD: the speed unit of a drive that does not tell its profile.
constexpr uint32_t kLargestCdLba = 450000;

bool IsDvdProfile(uint16_t profile) {
    return profile >= 0x10 && profile <= 0x2F;
}
bool IsCdProfile(uint16_t profile) {
    return profile >= 0x08 && profile <= 0x0A;
}

// Runs a layout command; a reset or a medium change reported by it (the first command after a
// load) is taken and the command sent once more. `changed` is set when it was a medium change.
template <typename Command>
uint8_t Send(DriveTable& table, bool& changed, Command command) {
    uint8_t status = command();
    for (int attempt = 0; attempt < 2 && status == kCommandFailed && table.SenseKey() == kUnitAttention;
         ++attempt) {
        if (table.SenseAsc() == kAscMediumMayHaveChanged) changed = true;
        status = command();
    }
    return status;
}

std::string Refused(const char* command, const DriveTable& table, const char* fallback) {
    return std::string(command) + " refused" + FailureDetail(table.LastFailure()) + ": " + fallback;
}

}  // namespace

const char* TrackSourceName(TrackSource source) {
    switch (source) {
        case TrackSource::TrackInformation:
            return "READ TRACK INFORMATION";
        case TrackSource::Toc:
            return "READ TOC";
        case TrackSource::Capacity:
            break;
    }
    return "READ CAPACITY";
}

uint64_t DiscLayout::DataSectors() const {
    uint64_t sectors = 0;
    for (const LayoutTrack& track : tracks) {
        if (track.data && track.lastLba >= track.firstLba)
            sectors += uint64_t{track.lastLba} - track.firstLba + 1;
    }
    return sectors;
}

bool MediumChanged(const Sense& sense) {
    return (sense.key == kUnitAttention && sense.asc == kAscMediumMayHaveChanged) || sense == kSenseNoMedium;
}

bool DriveGone(uint8_t status, const Sense& sense, int osError) {
    if (status != kCommandFailed) return false;
    if (sense.key == kIllegalRequest && sense.asc == kAscLogicalUnitNotSupported) return true;
    return sense == Sense{} && osError != 0;
}

LayoutReading ReadDiscLayout(DriveTable& table) {
    LayoutReading reading;
    DiscLayout& layout = reading.layout;
    auto fail = [&](LayoutOutcome outcome) {
        reading.outcome = outcome;
        reading.status = table.LastFailure().status;
        reading.sense = table.LastSense();
        reading.osError = table.LastOsError();
        return reading;
    };

    switch (table.WaitForDrive()) {
        case ReadyState::Ready:
            break;
        case ReadyState::NoMedium:
            return fail(LayoutOutcome::NoDisc);
        default:
            return fail(LayoutOutcome::DriveFailed);
    }

    bool changed = false;
    uint8_t profileAnswer[kProfileLength];
    if (Send(table, changed, [&] { return ReadCurrentProfile(table, profileAnswer); }) == kCommandCompleted) {
        layout.profile = CurrentProfileOf(table.Received(profileAnswer));
    } else {
        layout.notes.push_back(Refused("GET CONFIGURATION", table, "the disc's kind is judged by its size"));
    }
    if (layout.profile != 0 && !IsDvdProfile(layout.profile) && !IsCdProfile(layout.profile))
        return fail(LayoutOutcome::Unreadable);

    DiscRecording recording;
    if (Send(table, changed, [&] { return ReadDiscRecording(table, recording); }) == kCommandCompleted) {
        if (recording.status == DiscStatus::Empty) return fail(LayoutOutcome::Blank);
        layout.sessions = std::max<uint16_t>(recording.sessions, 1);
    } else {
        if (MediumChanged(table.LastSense())) return fail(LayoutOutcome::NoDisc);
        layout.notes.push_back(Refused("READ DISC INFORMATION", table, "the disc is taken as recorded"));
    }

    Capacity capacity;
    const bool capacityRead =
        Send(table, changed, [&] { return ReadCapacity(table, capacity); }) == kCommandCompleted;
    if (!capacityRead)
        layout.notes.push_back(Refused("READ CAPACITY", table, "the size comes from READ TOC"));

    Toc toc;
    const bool tocRead =
        Send(table, changed, [&] { return ReadToc(table, toc); }) == kCommandCompleted && !toc.tracks.empty();
    if (!tocRead) layout.notes.push_back(Refused("READ TOC", table, "the tracks come from READ CAPACITY"));

    if (capacityRead) {
        layout.lastLba = capacity.lastLba;
    } else if (tocRead && toc.leadOut && *toc.leadOut > 0) {
        layout.lastLba = *toc.leadOut - 1;
    } else {
        return fail(LayoutOutcome::Unreadable);
    }
    // A blank disc answers with nothing recorded: no table of contents and a capacity of 0.
    if (!tocRead && layout.lastLba == 0) return fail(LayoutOutcome::Blank);
    layout.dvd = layout.profile != 0 ? IsDvdProfile(layout.profile) : layout.lastLba > kLargestCdLba;

    // The tracks: READ TRACK INFORMATION for each track the table of contents or the disc
    // information names; without it, the table of contents; without that, one track.
    const uint16_t trackCount = std::min<uint16_t>(
        tocRead ? static_cast<uint16_t>(toc.tracks.size()) : recording.lastTrackOfLastSession, kMaxTracks);
    bool trackInformation = trackCount > 0;
    std::vector<LayoutTrack> tracks;
    for (uint16_t i = 0; trackInformation && i < trackCount; ++i) {
        const uint16_t number =
            tocRead ? toc.tracks[i].number : static_cast<uint16_t>(recording.firstTrack + i);
        TrackInformation info;
        if (Send(table, changed, [&] { return ReadTrackInformation(table, number, info); }) !=
            kCommandCompleted) {
            layout.notes.push_back(
                Refused("READ TRACK INFORMATION", table,
                        tocRead ? "the tracks come from READ TOC" : "one track from READ CAPACITY"));
            trackInformation = false;
            break;
        }
        if (info.blank || info.size == 0) continue;
        const uint32_t last = info.lastRecordedLba.value_or(info.startLba + info.size - 1);
        tracks.push_back({info.track, info.session, info.startLba, last, info.IsData()});
    }
    if (trackInformation) {
        layout.trackSource = TrackSource::TrackInformation;
    } else if (tocRead) {
        tracks.clear();
        layout.trackSource = TrackSource::Toc;
        const uint32_t end = toc.leadOut ? *toc.leadOut : layout.lastLba + 1;
        for (size_t i = 0; i < toc.tracks.size() && i < kMaxTracks; ++i) {
            const uint32_t next = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].startLba : end;
            if (next <= toc.tracks[i].startLba) continue;
            tracks.push_back(
                {toc.tracks[i].number, 1, toc.tracks[i].startLba, next - 1, toc.tracks[i].IsData()});
        }
    } else {
        tracks = {{1, 1, 0, layout.lastLba, true}};
        layout.trackSource = TrackSource::Capacity;
    }
    // Nothing beyond the last sector the drive reads.
    for (LayoutTrack& track : tracks) {
        if (track.firstLba > layout.lastLba) continue;
        track.lastLba = std::min(track.lastLba, layout.lastLba);
        layout.tracks.push_back(track);
    }
    if (changed) return fail(LayoutOutcome::DiscChanged);
    if (layout.tracks.empty()) return fail(LayoutOutcome::Blank);
    if (layout.DataSectors() == 0) return fail(LayoutOutcome::NoDataTrack);

    if (layout.dvd) {
        LayerInfo layers;
        if (Send(table, changed, [&] { return ReadLayerInfo(table, layers); }) == kCommandCompleted) {
            layout.layers = layers.layers;
            layout.parallelTrackPath = layers.layers >= 2 && !layers.oppositeTrackPath;
            if (layers.layerBreakLba && *layers.layerBreakLba <= layout.lastLba)
                layout.layerBreakLba = layers.layerBreakLba;
        } else {
            layout.notes.push_back(Refused("READ DVD STRUCTURE", table, "one layer assumed"));
        }
    }

    std::vector<PerformanceDescriptor> performance;
    if (Send(table, changed, [&] { return ReadPerformance(table, false, performance); }) ==
        kCommandCompleted) {
        layout.readPerformance = performance;
    } else {
        layout.notes.push_back(
            Refused("GET PERFORMANCE", table, "the read speeds come from the capabilities page"));
    }
    CapabilitySpeeds speeds;
    if (Send(table, changed, [&] { return ReadCapabilitySpeeds(table, speeds); }) == kCommandCompleted) {
        layout.capabilitySpeeds = speeds;
    } else {
        layout.notes.push_back(
            Refused("MODE SENSE page 2Ah", table, "no read speed from the capabilities page"));
    }
    uint32_t fastest = 0;
    for (const PerformanceDescriptor& d : layout.readPerformance)
        fastest = std::max({fastest, d.startKBps, d.endKBps});
    if (fastest == 0 && layout.capabilitySpeeds) fastest = layout.capabilitySpeeds->maxReadKBps;
    layout.maxReadSpeedX = fastest / layout.KBpsAt1X();
    if (changed) return fail(LayoutOutcome::DiscChanged);

    reading.outcome = LayoutOutcome::Ready;
    return reading;
}

const char* SpeedMethodName(SpeedMethod method) {
    switch (method) {
        case SpeedMethod::SetStreaming:
            return "SET STREAMING";
        case SpeedMethod::SetCdSpeed:
            return "SET CD SPEED";
        case SpeedMethod::Max:
            break;
    }
    return "Max";
}

SpeedSetting ApplyReadSpeed(DriveTable& table, const DiscLayout& layout, ReadSpeed speed) {
    SpeedSetting setting;
    setting.requested = speed;
    const uint32_t lastLba = layout.lastLba;
    bool changed = false;
    std::vector<std::string> lost, refused;
    // Ends the setting at a medium change (or a disc gone) reported by the last command.
    const auto discChanged = [&] {
        if (!changed && !MediumChanged(table.LastSense())) return false;
        setting.discChanged = true;
        setting.status = table.LastFailure().status;
        setting.sense = table.LastSense();
        return true;
    };
    enum class Answer { Done, Refused, Lost };
    const auto send = [&](SpeedMethod method, const auto& command) {
        const uint8_t status = Send(table, changed, command);
        if (status == kCommandCompleted) return Answer::Done;
        const bool answerLost =
            status == kCommandTimedOut || (status == kCommandFailed && table.LastFailure().adapterError);
        (answerLost ? lost : refused).emplace_back(SpeedMethodName(method));
        return answerLost ? Answer::Lost : Answer::Refused;
    };
    // What the drive reads at after a lost answer, in kB/s (0: not read back).
    const auto readBack = [&] {
        uint32_t kbps = 0;
        if (Send(table, changed, [&] { return ReadCurrentReadSpeed(table, kbps); }) != kCommandCompleted)
            kbps = 0;
        setting.answerLost = true;
        setting.reportedX = std::round(kbps / layout.KBpsAt1X() * 10) / 10;
        return kbps;
    };
    const auto joined = [](const std::vector<std::string>& names) {
        std::string text;
        for (size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : " and ") + names[i];
        return text;
    };
    char text[160];

    const auto streaming = [&](uint32_t kbps, bool restore) {
        return SetStreaming(table, 0, lastLba, kbps, restore);
    };
    const auto cdSpeed = [&](uint32_t kbps) {
        return SetCdSpeed(table, static_cast<uint16_t>(std::min<uint32_t>(kbps, kMaxSpeedKBps)));
    };
    if (speed.IsMax()) {
        // The drive's own speeds again, in case an earlier run lowered them.
        Answer answer = send(SpeedMethod::SetStreaming, [&] { return streaming(0, true); });
        if (discChanged()) return setting;
        if (answer != Answer::Done) {
            answer = send(SpeedMethod::SetCdSpeed, [&] { return cdSpeed(kMaxSpeedKBps); });
            if (discChanged()) return setting;
        }
        setting.text = SpeedMethodName(SpeedMethod::Max);
        if (answer != Answer::Done && !lost.empty()) {
            readBack();
            if (discChanged()) return setting;
            if (setting.reportedX > 0) {
                std::snprintf(text, sizeof text, "Max (the answer to %s was lost; the drive reports %gX)",
                              joined(lost).c_str(), setting.reportedX);
            } else {
                std::snprintf(text, sizeof text,
                              "Max (the answer to %s was lost, and the drive's speed could not be read back)",
                              joined(lost).c_str());
            }
            setting.text = text;
        }
        return setting;
    }
    const auto kbps = static_cast<uint32_t>(std::lround(speed.x * layout.KBpsAt1X()));
    // A drive that reads at the speed asked took it, give or take the steps of its own speeds.
    // (The disc's fastest as the layout saw it may be a limit an earlier run left.)
    constexpr double kTolerance = 0.05;
    const auto took = [&](uint32_t now) {
        return now > 0 && std::abs(static_cast<double>(now) - kbps) <= kbps * kTolerance;
    };
    const SpeedMethod first = layout.dvd ? SpeedMethod::SetStreaming : SpeedMethod::SetCdSpeed;
    const SpeedMethod second = layout.dvd ? SpeedMethod::SetCdSpeed : SpeedMethod::SetStreaming;
    for (SpeedMethod method : {first, second}) {
        const Answer answer =
            method == SpeedMethod::SetStreaming
                ? send(method, [&] { return streaming(kbps, false); })
                : send(method, [&] { return cdSpeed(std::min<uint32_t>(kbps, kMaxSpeedKBps - 1)); });
        if (discChanged()) return setting;
        if (answer == Answer::Refused) continue;
        if (answer == Answer::Lost) {
            const uint32_t now = readBack();
            if (discChanged()) return setting;
            if (!took(now)) continue;
        }
        setting.method = method;
        setting.kbps = kbps;
        if (answer == Answer::Lost) {
            std::snprintf(text, sizeof text,
                          "%gX by %s (%u kB/s; its answer was lost, the drive reports %gX)", speed.x,
                          SpeedMethodName(method), kbps, setting.reportedX);
        } else {
            std::snprintf(text, sizeof text, "%gX by %s (%u kB/s)", speed.x, SpeedMethodName(method), kbps);
        }
        setting.text = text;
        return setting;
    }
    if (lost.empty()) {
        setting.text = "Max (the drive refused SET STREAMING and SET CD SPEED)";
    } else {
        std::string why = "the answer to " + joined(lost) + " was lost";
        if (!refused.empty()) why += ", the drive refused " + joined(refused);
        if (setting.reportedX > 0) {
            std::snprintf(text, sizeof text, "%gX as the drive reports it (%s)", setting.reportedX,
                          why.c_str());
        } else {
            std::snprintf(text, sizeof text, "not known (%s, and the drive's speed could not be read back)",
                          why.c_str());
        }
        setting.text = text;
    }
    return setting;
}

}  // namespace dravix

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
    if (speed.IsMax()) {
        // The drive's own speeds again, in case an earlier run lowered them.
        if (SetStreaming(table, 0, lastLba, 0, true) != kCommandCompleted) SetCdSpeed(table, kMaxSpeedKBps);
        setting.text = SpeedMethodName(SpeedMethod::Max);
        return setting;
    }
    const auto kbps = static_cast<uint32_t>(std::lround(speed.x * layout.KBpsAt1X()));
    auto streaming = [&] { return SetStreaming(table, 0, lastLba, kbps, false) == kCommandCompleted; };
    auto cdSpeed = [&] {
        return SetCdSpeed(table, static_cast<uint16_t>(std::min<uint32_t>(kbps, kMaxSpeedKBps - 1))) ==
               kCommandCompleted;
    };
    const SpeedMethod first = layout.dvd ? SpeedMethod::SetStreaming : SpeedMethod::SetCdSpeed;
    const SpeedMethod second = layout.dvd ? SpeedMethod::SetCdSpeed : SpeedMethod::SetStreaming;
    for (SpeedMethod method : {first, second}) {
        if (method == SpeedMethod::SetStreaming ? streaming() : cdSpeed()) {
            setting.method = method;
            setting.kbps = kbps;
            char text[96];
            std::snprintf(text, sizeof text, "%gX by %s (%u kB/s)", speed.x, SpeedMethodName(method), kbps);
            setting.text = text;
            return setting;
        }
    }
    setting.text = "Max (the drive refused SET STREAMING and SET CD SPEED)";
    return setting;
}

}  // namespace dravix

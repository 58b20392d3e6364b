#include "emu/DriveState.h"

#include <algorithm>

#include "emu/Media.h"

namespace dravix::emu {

namespace {

constexpr std::array<std::string_view, 3> kKindNames{"maker", "other-maker", "old-firmware"};
constexpr std::array<std::string_view, kLatencyClassCount> kLatencyNames{"command", "tray",   "vendor",
                                                                         "tefe",    "spinup", "spindown"};
constexpr std::array<std::string_view, 3> kRowNames{"dvd+rw", "dvd+r", "dvd+r-dl"};
constexpr std::array<std::string_view, 3> kOptionNames{"unknown-disc", "supported-disc", "overspeed"};
constexpr std::array<std::string_view, 4> kReadModelNames{"cav", "p-cav", "z-clv", "clv"};
constexpr std::array<std::string_view, 8> kActionNames{
    "check", "timeout", "busy", "bad-answer", "reply", "applied-timeout", "applied-check", "adapter-error"};

bool Printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

std::string_view DriveKindName(DriveKind kind) {
    return kKindNames[static_cast<size_t>(kind)];
}

std::optional<DriveKind> DriveKindFromName(std::string_view name) {
    for (size_t i = 0; i < kKindNames.size(); ++i) {
        if (kKindNames[i] == name) return static_cast<DriveKind>(i);
    }
    return std::nullopt;
}

std::string_view LatencyClassName(LatencyClass latencyClass) {
    return kLatencyNames[static_cast<size_t>(latencyClass)];
}

std::optional<LatencyClass> LatencyClassFromName(std::string_view name) {
    for (size_t i = 0; i < kLatencyNames.size(); ++i) {
        if (kLatencyNames[i] == name) return static_cast<LatencyClass>(i);
    }
    return std::nullopt;
}

std::string_view ReadSpeedModelName(ReadSpeedModel model) {
    return kReadModelNames[static_cast<size_t>(model)];
}

std::optional<ReadSpeedModel> ReadSpeedModelFromName(std::string_view name) {
    for (size_t i = 0; i < kReadModelNames.size(); ++i) {
        if (kReadModelNames[i] == name) return static_cast<ReadSpeedModel>(i);
    }
    return std::nullopt;
}

namespace {
constexpr std::array<std::string_view, 6> kWriteStrategyNames = {"auto", "clv", "z-clv", "p-cav", "cav", "marginal"};
}  // namespace

std::string_view WriteStrategyName(WriteStrategy strategy) {
    return kWriteStrategyNames[static_cast<size_t>(strategy)];
}

std::optional<WriteStrategy> WriteStrategyFromName(std::string_view name) {
    for (size_t i = 0; i < kWriteStrategyNames.size(); ++i) {
        if (kWriteStrategyNames[i] == name) return static_cast<WriteStrategy>(i);
    }
    return std::nullopt;
}

std::string_view BookTypeRowName(BookTypeRow row) {
    return kRowNames[static_cast<size_t>(row)];
}

std::string_view OptionKindName(OptionKind kind) {
    return kOptionNames[static_cast<size_t>(kind)];
}

std::string_view FaultActionName(FaultRule::Action action) {
    return kActionNames[static_cast<size_t>(action)];
}

std::optional<FaultRule::Action> FaultActionFromName(std::string_view name) {
    for (size_t i = 0; i < kActionNames.size(); ++i) {
        if (kActionNames[i] == name) return static_cast<FaultRule::Action>(i);
    }
    return std::nullopt;
}

void OptionSetting::Write(uint8_t state) {
    if (state & 0x01) {
        temporary = state;
    } else {
        // A permanent write replaces the override too: the drive now runs with what was written.
        permanent = state;
        temporary.reset();
    }
}

bool FaultRule::Matches(const uint8_t* cdb, size_t cdbLength) const {
    auto byteIs = [&](size_t index, uint8_t value) { return index < cdbLength && cdb[index] == value; };
    if (!byteIs(0, opcode)) return false;
    if (subCode && !byteIs(1, *subCode)) return false;
    if (function && !byteIs(6, *function)) return false;
    for (const auto& [index, value] : bytes) {
        if (!byteIs(index, value)) return false;
    }
    return true;
}

DriveState FactoryState(DriveKind kind) {
    DriveState state;
    state.kind = kind;
    switch (kind) {
        case DriveKind::Maker:
            state.vendor = "ZARN";
            state.product = "DVD-RW ZR1680A";
            state.revision = "1.20";
            state.featureCodes = {1, 2, 3, 5, 6, 7};
            break;
        case DriveKind::OldFirmware:
            state.vendor = "ZARN";
            state.product = "DVD-RW ZR1240A";
            state.revision = "0.98";
            state.featureCodes = {1, 5};
            state.bufferKiB = 2048;
            state.writesDvdPlusRDl = false;
            state.readModel = ReadSpeedModel::ZonedClv;
            break;
        case DriveKind::OtherMaker:
            state.vendor = "KORVANE";
            state.product = "DVD+-RW KV880";
            state.revision = "KV31";
            state.bufferKiB = 2048;
            state.readModel = ReadSpeedModel::PartialCav;
            break;
    }
    // Lumard learns unknown discs by default; the other switches start off.
    state.options[static_cast<size_t>(OptionKind::UnknownDisc)].permanent = 2;
    return state;
}

std::string ValidateState(const DriveState& state) {
    if (state.vendor.size() > 8 || !Printable(state.vendor))
        return "vendor must be up to 8 printable characters";
    if (state.product.size() > 16 || !Printable(state.product)) {
        return "product must be up to 16 printable characters";
    }
    if (state.revision.size() > 4 || !Printable(state.revision)) {
        return "revision must be up to 4 printable characters";
    }
    if (state.target && *state.target >= kTargetCount) return "target must be a number from 0 to 7";
    if (state.featureCodes.size() > kMaxFeatureCodes) return "too many feature codes";
    if (state.learnedDiscs.size() > kMaxLearnedDiscs) return "more than 20 learned discs";
    for (const std::string& id : state.learnedDiscs) {
        if (id.size() > kLearnedIdLength || !Printable(id)) {
            return "learned disc identifiers must be up to 12 printable characters";
        }
    }
    for (const OptionSetting& option : state.options) {
        if ((option.permanent & ~0x02) != 0) return "a permanent option state must be 0 or 2";
        if (option.temporary && *option.temporary != 1 && *option.temporary != 3) {
            return "a temporary option state must be 1 or 3";
        }
    }
    for (const uint32_t latency : state.latencyMs) {
        if (latency > kMaxLatencyMs) return "a latency must be at most 120000 ms";
    }
    if (state.interfaceKBps < kMinInterfaceKBps || state.interfaceKBps > kMaxInterfaceKBps)
        return "the interface rate must be from 150 to 1000000 kB/s";
    if (state.disc && !FindMedia(state.disc->media)) return "unknown media \"" + state.disc->media + "\"";
    if (state.pendingAttention != kNoAttention && state.pendingAttention != kAttentionMediumChanged &&
        state.pendingAttention != kAttentionPowerOn) {
        return "pending attention must be 0, 40 (28h) or 41 (29h)";
    }
    if (state.damage.size() > kMaxDamagedSpots) return "at most 256 damaged spots";
    for (const DamagedSpot& spot : state.damage) {
        if (spot.count == 0 || spot.firstLba > UINT32_MAX - (spot.count - 1))
            return "a damaged spot must hold at least one sector below LBA 4294967296";
    }
    for (const FaultRule& rule : state.faults) {
        for (const auto& entry : rule.bytes) {
            if (entry.first >= 16) return "a fault matches a CDB byte beyond byte 15";
        }
    }
    return {};
}

}  // namespace dravix::emu

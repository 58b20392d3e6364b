#include "probix/WriteTestSetup.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/OptionCommands.h"
#include "drive/ReadCommands.h"
#include "drive/Support.h"
#include "drive/WriteCommands.h"
#include "procedures/SwitchProcedures.h"

namespace dravix {

std::string WriteTestMarkerPath() {
    std::filesystem::path folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
        folder = state;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folder = std::filesystem::path(home) / ".local" / "state";
    } else {
        return {};
    }
    return (folder / "dravix" / "write-test-on").string();
}

std::optional<WriteTestMarker> ReadWriteTestMarker(const std::string& path) {
    std::error_code ignored;
    if (path.empty() || !std::filesystem::exists(path, ignored)) return std::nullopt;
    WriteTestMarker marker;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string key = line.substr(0, space);
        const std::string value = line.substr(space + 1);
        if (key == "drive") {
            marker.driveName = value;
        } else if (key == "simulation") {
            marker.method = value == "page" ? SimulationMethod::ModePage : SimulationMethod::MakerSwitch;
        } else if (key == "earlier") {
            marker.earlierOn = value == "on";
        }
    }
    return marker;
}

WriteTestDisc ReadWriteTestDisc(DriveTable& table) {
    WriteTestDisc disc;
    table.WaitUntilReady();
    std::array<uint8_t, kProfileLength> profile{};
    if (ReadCurrentProfile(table, profile) != kCommandCompleted) return disc;
    disc.ready = true;
    disc.profile = CurrentProfileOf(table.Received(profile));
    disc.method = SimulationMethodOfProfile(disc.profile);
    if (disc.method == SimulationMethod::None) return disc;
    DiscRecording recording;
    disc.blank =
        ReadDiscRecording(table, recording) == kCommandCompleted && recording.status == DiscStatus::Empty;
    std::array<uint8_t, kPerformanceLength> performance{};
    if (ReadWriteSpeedDescriptors(table, performance) == kCommandCompleted) {
        disc.writeSpeedsKBps = WriteSpeedsKBpsOf(table.Received(performance));
        std::sort(disc.writeSpeedsKBps.begin(), disc.writeSpeedsKBps.end(), std::greater<>());
        disc.writeSpeedsKBps.erase(std::unique(disc.writeSpeedsKBps.begin(), disc.writeSpeedsKBps.end()),
                                   disc.writeSpeedsKBps.end());
    }
    if (disc.method == SimulationMethod::MakerSwitch) {
        WithVendorMode(table, [&] {
            uint8_t list[kFeatureListLength] = {};
            if (ReadFeatureList(table, list) != kCommandCompleted) return;
            const std::vector<uint8_t> codes = FeatureCodesOf(list);
            disc.makerTestWrite = std::find(codes.begin(), codes.end(), kFeatureTestWrite) != codes.end();
        });
    }
    return disc;
}

const char* WriteTestDiscRefusal(const WriteTestDisc& disc) {
    if (disc.Testable()) return "";
    if (!disc.ready || !disc.blank || disc.method == SimulationMethod::None) return kWriteTestNeedsBlankDisc;
    return kWriteTestNoMakerSwitch;
}

std::optional<bool> ReadMarkedSimulation(DriveTable& table, const WriteTestMarker& marker) {
    table.WaitUntilReady();
    if (marker.method == SimulationMethod::ModePage) {
        WriteParametersPage page;
        if (ReadWriteParameters(table, page) != kCommandCompleted) return std::nullopt;
        return page.testWrite;
    }
    OptionReply states{};
    uint8_t status = kCommandFailed;
    if (!WithVendorMode(table, [&] { status = ReadSwitchStates(table, states); }) ||
        status != kCommandCompleted)
        return std::nullopt;
    return SwitchFlag(states[kTestWriteByte]);
}

}  // namespace dravix

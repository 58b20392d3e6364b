#include "probix/WriteTest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/OptionCommands.h"
#include "drive/ReadCommands.h"
#include "drive/Support.h"
#include "drive/WriteCommands.h"
#include "probix/Rotation.h"
#include "procedures/SwitchProcedures.h"
#include "turns/SharedDrive.h"

namespace dravix {

namespace {

int64_t SteadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsCdProfile(uint16_t profile) {
    return profile == 0x09 || profile == 0x0A;
}

double UsedBytes(const BufferCapacity& buffer) {
    return static_cast<double>(buffer.lengthBytes - std::min(buffer.blankBytes, buffer.lengthBytes));
}

// The earlier simulation setting: the page as it was, or the switch's state.
struct EarlierSetting {
    WriteParametersPage page;
    bool switchOn = false;
};

class Run {
  public:
    Run(DriveTable& table, const WriteTestSettings& settings, const WriteTestHooks& hooks)
        : m_table(table), m_settings(settings), m_hooks(hooks) {
        if (!m_hooks.clock) m_hooks.clock = SteadyMicroseconds;
    }

    WriteTestResult Go() {
        const int64_t began = m_hooks.clock();
        if (CheckDisc() && SwitchSimulationOn()) {
            WriteAll();
            Finish();
        }
        m_result.elapsedSeconds = static_cast<double>(m_hooks.clock() - began) / 1e6;
        return m_result;
    }

  private:
    bool Refuse(const char* text) {
        m_result.end = WriteTestEnd::Refused;
        m_result.message = text;
        return false;
    }

    // Step 1: a blank disc of the six kinds.
    bool CheckDisc() {
        std::array<uint8_t, kProfileLength> profile{};
        if (ReadCurrentProfile(m_table, profile) != kCommandCompleted) return Refuse(kWriteTestNeedsBlankDisc);
        m_result.profile = CurrentProfileOf(m_table.Received(profile));
        m_result.method = SimulationMethodOfProfile(m_result.profile);
        if (m_result.method == SimulationMethod::None) return Refuse(kWriteTestNeedsBlankDisc);
        if (!DiscIsBlank()) return Refuse(kWriteTestNeedsBlankDisc);
        TrackInformation track;
        if (ReadTrackInformation(m_table, 1, track) != kCommandCompleted || !track.nextWritableLba)
            return Refuse(kWriteTestNeedsBlankDisc);
        m_result.startLba = *track.nextWritableLba;
        const uint64_t free = track.freeBlocks;
        m_result.layout.profile = m_result.profile;
        m_result.layout.dvd = !IsCdProfile(m_result.profile);
        m_result.layout.lastLba = static_cast<uint32_t>(m_result.startLba + std::max<uint64_t>(free, 1) - 1);
        if (m_result.profile == 0x2B) {
            m_result.layout.layers = 2;
            m_result.layout.layerBreakLba = (m_result.layout.lastLba + 1) / 2;
        }
        m_result.plannedSectors = std::min<uint64_t>(free, m_settings.lengthSectors.value_or(free));
        if (m_result.plannedSectors == 0) return Refuse(kWriteTestNeedsBlankDisc);
        std::array<uint8_t, kPerformanceLength> performance{};
        if (ReadWriteSpeedDescriptors(m_table, performance) == kCommandCompleted)
            m_result.writeSpeedsKBps = WriteSpeedsKBpsOf(m_table.Received(performance));
        return true;
    }

    bool DiscIsBlank() {
        DiscRecording recording;
        return ReadDiscRecording(m_table, recording) == kCommandCompleted && recording.status == DiscStatus::Empty;
    }

    void WriteMarker() {
        if (m_settings.markerPath.empty()) return;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(m_settings.markerPath).parent_path(), ignored);
        std::ofstream marker(m_settings.markerPath, std::ios::trunc);
        marker << "drive " << m_settings.driveName << "\n"
               << "simulation " << (m_result.method == SimulationMethod::MakerSwitch ? "switch" : "page") << "\n"
               << "earlier " << (m_result.method == SimulationMethod::MakerSwitch ? (m_earlier.switchOn ? "on" : "off")
                                                                                  : (m_earlier.page.testWrite ? "on" : "off"))
               << "\n";
        m_markerWritten = true;
    }

    // Step 2: simulation on, read back from the drive.
    bool SwitchSimulationOn() {
        if (m_result.method == SimulationMethod::ModePage) {
            if (ReadWriteParameters(m_table, m_earlier.page) != kCommandCompleted)
                return Refuse(kWriteTestCannotSimulate);
            WriteMarker();
            WriteParametersPage wanted = m_earlier.page;
            wanted.testWrite = true;
            wanted.dataBlockType = 8;  // mode 1, 2048 bytes
            if (IsCdProfile(m_result.profile)) {
                wanted.writeType = 1;  // track at once
            } else {
                wanted.writeType = 0;  // incremental: fixed packets of 16 sectors
                if (wanted.page.size() >= 14) {
                    wanted.page[3] = static_cast<uint8_t>(wanted.page[3] | 0x20);
                    PutBe32(&wanted.page[10], 16);
                }
            }
            m_setSent = true;
            WriteParametersPage back;
            if (SetWriteParameters(m_table, wanted) != kCommandCompleted ||
                ReadWriteParameters(m_table, back) != kCommandCompleted || !back.testWrite) {
                RestoreSetting();
                return Refuse(kWriteTestCannotSimulate);
            }
            return true;
        }
        // The maker's switch: only on a drive whose feature list holds Test Write.
        std::vector<uint8_t> codes;
        OptionReply states{};
        uint8_t statesStatus = kCommandFailed;
        const bool vendorMode = WithVendorMode(m_table, [&] {
            uint8_t list[kFeatureListLength] = {};
            if (ReadFeatureList(m_table, list) == kCommandCompleted) codes = FeatureCodesOf(list);
            statesStatus = ReadSwitchStates(m_table, states);
        });
        const std::optional<bool> earlier = SwitchFlag(states[kTestWriteByte]);
        if (!vendorMode || std::find(codes.begin(), codes.end(), kFeatureTestWrite) == codes.end() ||
            statesStatus != kCommandCompleted || !earlier)
            return Refuse(kWriteTestCannotSimulate);
        m_earlier.switchOn = *earlier;
        WriteMarker();
        m_setSent = true;
        const VerifiedWrite set = SetTestWriteVerified(m_table, true);
        if (!set.Done() || set.reported[kTestWriteByte] != 1) {
            RestoreSetting();
            return Refuse(kWriteTestCannotSimulate);
        }
        return true;
    }

    // Steps 3 and 4: sequential writes, each timed; the disc read again after the first.
    void WriteAll() {
        const uint32_t request = std::clamp<uint32_t>(m_settings.requestSectors, 1, 0xFFFF);
        const std::vector<uint8_t> pattern(size_t{request} * kSectorSize, 0x5A);
        m_result.speedKBps =
            m_settings.speedX > 0 ? static_cast<uint32_t>(std::lround(m_settings.speedX * m_result.layout.KBpsAt1X())) : 0;
        if (m_result.speedKBps != 0) {
            const auto kbps = static_cast<uint16_t>(std::min<uint32_t>(m_result.speedKBps, 0xFFFE));
            if (m_result.layout.dvd) {
                SetStreaming(m_table, m_result.startLba, m_result.layout.lastLba, m_result.speedKBps, false);
            } else {
                SetCdSpeed(m_table, kMaxSpeedKBps, kbps);
            }
        }
        const uint64_t pointSectors =
            std::max<uint64_t>(request, m_result.plannedSectors / kTargetPoints / request * request);
        uint32_t lba = m_result.startLba;
        uint64_t pointBytes = 0;
        uint32_t pointLba = lba;
        // The disc goes on writing from the buffer while the host does anything else (reads the
        // buffer, the disc, its own work): a point and the average are timed on the clock from
        // the first write on, never as the sum of the write requests alone.
        m_writesBeganUs = m_pointBeganUs = m_hooks.clock();
        m_result.end = WriteTestEnd::Finished;
        while (m_result.writtenSectors < m_result.plannedSectors) {
            if (m_hooks.stopRequested && m_hooks.stopRequested()) {
                m_result.end = WriteTestEnd::Stopped;
                break;
            }
            const auto count = static_cast<uint16_t>(
                std::min<uint64_t>(request, m_result.plannedSectors - m_result.writtenSectors));
            const uint8_t status = WriteSectors(m_table, lba, count, pattern);
            if (status != kCommandCompleted) {
                // A unit attention (a restart drops the switch), a time-out or a failed transport:
                // nothing more is written.
                m_result.end = WriteTestEnd::DriveFailed;
                m_result.endStatus = status;
                m_result.endSense = m_table.LastSense();
                break;
            }
            ++m_result.writeRequests;
            m_result.writtenSectors += count;
            lba += count;
            pointBytes += uint64_t{count} * kSectorSize;
            if (m_result.writeRequests == 1) {
                if (!DiscIsBlank()) {
                    m_result.end = WriteTestEnd::Recorded;
                    m_result.message = kWriteTestRecorded;
                    break;
                }
                // While the disc was read the drive had only the first request to write, and may
                // have stood still: the curve starts after the check, from the buffer as it is then
                // (likely empty, so it stays as read until the next write).
                if (m_result.writtenSectors < m_result.plannedSectors) {
                    BufferCapacity buffer;
                    if (ReadBufferCapacity(m_table, buffer) == kCommandCompleted)
                        m_bufferUsedBytes = UsedBytes(buffer);
                    m_pointBeganUs = m_hooks.clock();
                    pointLba = lba;
                    pointBytes = 0;
                    continue;
                }
            }
            if (lba - pointLba >= pointSectors || m_result.writtenSectors == m_result.plannedSectors) {
                AddPoint(pointLba, pointBytes);
                pointLba = lba;
                pointBytes = 0;
            }
        }
    }

    // A point from the buffer read at its end back to the one before: what went onto the disc
    // in that time is what was sent, less what the buffer took of it.
    void AddPoint(uint32_t lba, uint64_t bytes) {
        WritePoint point;
        point.lba = lba;
        double discBytes = static_cast<double>(bytes);
        // The drive tells its buffer as it was when the request came: the point ends then.
        const int64_t now = m_hooks.clock();
        BufferCapacity buffer;
        const bool read = ReadBufferCapacity(m_table, buffer) == kCommandCompleted;
        const int64_t us = now - m_pointBeganUs;
        if (us <= 0) return;
        m_pointBeganUs = now;
        if (read && buffer.lengthBytes > 0) {
            point.bufferFill = buffer.Fill().value_or(0);
            const double used = UsedBytes(buffer);
            discBytes = std::max(0.0, discBytes - (used - m_bufferUsedBytes));
            m_bufferUsedBytes = used;
        }
        point.speedX = discBytes / (static_cast<double>(us) / 1e6) / m_result.layout.BytesPerSecondAt1X();
        point.rpm = RotationRpm(m_result.layout, lba, point.speedX);
        m_result.points.push_back(point);
        if (m_hooks.onPoint) m_hooks.onPoint(point, m_result.writtenSectors, m_result.plannedSectors);
    }

    void Summarise(int64_t totalUs) {
        if (m_result.points.empty() || totalUs <= 0) return;
        TransferSummary t;
        const auto& points = m_result.points;
        t.startX = points.front().speedX;
        t.endX = points.back().speedX;
        t.averageX = static_cast<double>(m_result.writtenSectors) * kSectorSize / (static_cast<double>(totalUs) / 1e6) /
                     m_result.layout.BytesPerSecondAt1X();
        const auto slowest = std::min_element(points.begin(), points.end(),
                                              [](const WritePoint& a, const WritePoint& b) { return a.speedX < b.speedX; });
        t.minimumX = slowest->speedX;
        t.minimumLba = slowest->lba;
        std::vector<SpeedPoint> curve;
        for (const WritePoint& p : points) {
            if (m_result.layout.layerBreakLba && p.lba >= *m_result.layout.layerBreakLba) break;
            curve.push_back(SpeedPoint{p.lba, p.speedX, p.rpm});
        }
        t.mode = RecogniseReadMode(curve, m_result.layout);
        m_result.summary = t;
        const double discBytes = (static_cast<double>(m_result.layout.lastLba) + 1 - m_result.startLba) * kSectorSize;
        if (t.averageX > 0) m_result.fullDiscSeconds = discBytes / (t.averageX * m_result.layout.BytesPerSecondAt1X());
    }

    // Puts the earlier setting back and reads it back; true when the drive holds it.
    bool RestoreSetting() {
        if (!m_setSent) return true;
        if (m_result.method == SimulationMethod::ModePage) {
            WriteParametersPage back;
            return SetWriteParameters(m_table, m_earlier.page) == kCommandCompleted &&
                   ReadWriteParameters(m_table, back) == kCommandCompleted &&
                   back.testWrite == m_earlier.page.testWrite;
        }
        const VerifiedWrite set = SetTestWriteVerified(m_table, m_earlier.switchOn);
        return set.Done();
    }

    // Steps 5 and 6: flush, then only after it the setting back; the disc must still be blank.
    void Finish() {
        const int64_t flushBegan = m_hooks.clock();
        const bool flushed = SynchronizeCache(m_table) == kCommandCompleted;
        // The average runs until the last sector is on the disc.
        Summarise((flushed ? m_hooks.clock() : flushBegan) - m_writesBeganUs);
        if (!flushed) {
            m_result.simulationLeftOn = true;
            m_result.message = kWriteTestStillOn;
        } else {
            m_result.settingRestored = RestoreSetting();
            if (!m_result.settingRestored) {
                m_result.message = kWriteTestNotRestored;
            } else if (m_markerWritten) {
                std::error_code ignored;
                std::filesystem::remove(m_settings.markerPath, ignored);
            }
        }
        m_result.blankAfter = DiscIsBlank();
        if (!m_result.blankAfter) {
            m_result.end = WriteTestEnd::Recorded;
            // A warning of the end (the setting left on, or not put back) stays beside it; the
            // recording itself is told once.
            if (!m_result.message.empty() && m_result.message != kWriteTestRecorded)
                m_result.notes.push_back(m_result.message);
            m_result.message = kWriteTestRecorded;
        }
    }

    DriveTable& m_table;
    const WriteTestSettings& m_settings;
    WriteTestHooks m_hooks;
    WriteTestResult m_result;
    EarlierSetting m_earlier;
    bool m_setSent = false;
    bool m_markerWritten = false;
    int64_t m_writesBeganUs = 0;
    int64_t m_pointBeganUs = 0;
    double m_bufferUsedBytes = 0;
};

}  // namespace

SimulationMethod SimulationMethodOfProfile(uint16_t profile) {
    switch (profile) {
        case 0x09:  // CD-R
        case 0x0A:  // CD-RW
        case 0x11:  // DVD-R sequential
        case 0x14:  // DVD-RW sequential
            return SimulationMethod::ModePage;
        case 0x1B:  // DVD+R
        case 0x2B:  // DVD+R DL
            return SimulationMethod::MakerSwitch;
        default:
            return SimulationMethod::None;
    }
}

const char* WriteTestEndName(WriteTestEnd end) {
    switch (end) {
        case WriteTestEnd::Finished:
            return "finished";
        case WriteTestEnd::Stopped:
            return "stopped";
        case WriteTestEnd::Refused:
            return "refused";
        case WriteTestEnd::Recorded:
            return "recorded";
        case WriteTestEnd::DriveFailed:
            return "drive-failed";
    }
    return "refused";
}

WriteTestResult RunWriteTest(SharedDrive& drive, const WriteTestSettings& settings, const WriteTestHooks& hooks) {
    // The turn is held from the disc's check to the setting read back: no other command between.
    return drive.Locked([&](DriveTable& table) { return Run(table, settings, hooks).Go(); });
}

}  // namespace dravix

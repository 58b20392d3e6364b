#include "probix/ScanStatistics.h"

#include <cstdio>

namespace dravix {

namespace {

struct ChannelSum {
    ChannelStatistics stats;
    uint64_t sum = 0;

    void Add(uint16_t percent, int32_t lba, bool over, bool first) {
        if (first || percent > stats.maxPercent) {
            stats.maxPercent = percent;
            stats.maxLba = lba;
        }
        sum += percent;
        if (over) ++stats.overLimit;
    }
    ChannelStatistics Finish(int samples) {
        if (samples > 0) stats.averagePercent = static_cast<double>(sum) / samples;
        return stats;
    }
};

struct PartSum {
    int samples = 0;
    ChannelSum te;
    ChannelSum fe;

    void Add(const ScanSample& s) {
        const bool first = samples == 0;
        te.Add(s.tePercent, s.lba, OverTeLimit(s.tePercent), first);
        fe.Add(s.fePercent, s.lba, OverFeLimit(s.fePercent), first);
        ++samples;
    }
    PartStatistics Finish() { return PartStatistics{samples, te.Finish(samples), fe.Finish(samples)}; }
};

std::string ChannelSummary(const char* name, const ChannelStatistics& c, int limit) {
    char text[160];
    std::snprintf(text, sizeof text, "%s max %u %% at LBA %ld, avg %.1f %%, %d over %d %%", name,
                  static_cast<unsigned>(c.maxPercent), static_cast<long>(c.maxLba), c.averagePercent,
                  c.overLimit, limit);
    return text;
}

}  // namespace

ScanStatistics ComputeStatistics(std::span<const ScanSample> samples, uint8_t discTypeCode, int32_t lastLba) {
    PartSum all;
    std::array<PartSum, kScanZoneCount> zones;
    for (const ScanSample& s : samples) {
        all.Add(s);
        zones[static_cast<size_t>(ZoneOf(s.lba, discTypeCode, lastLba))].Add(s);
    }
    ScanStatistics stats;
    stats.all = all.Finish();
    for (size_t z = 0; z < zones.size(); ++z) stats.zones[z] = zones[z].Finish();
    return stats;
}

std::vector<std::string> StatisticsSummaryLines(const PartStatistics& part) {
    if (part.samples == 0) return {};
    return {ChannelSummary("TE", part.te, kTeLimitPercent), ChannelSummary("FE", part.fe, kFeLimitPercent)};
}

std::string StatisticsSummary(const PartStatistics& part) {
    const std::vector<std::string> lines = StatisticsSummaryLines(part);
    return lines.empty() ? std::string() : lines[0] + "; " + lines[1];
}

}  // namespace dravix

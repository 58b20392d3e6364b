#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "probix/ScanEngine.h"

namespace dravix {

// The figures of one run, worked out once here and shown alike by the page, the results file,
// the command line's JSON, the comparison and the report.

struct ChannelStatistics {
    uint16_t maxPercent = 0;
    int32_t maxLba = 0;  // the first position where the maximum was measured
    double averagePercent = 0.0;
    int overLimit = 0;  // samples above the channel's limit

    bool operator==(const ChannelStatistics&) const = default;
};

// The samples of the whole run, or of one zone.
struct PartStatistics {
    int samples = 0;  // 0: the channels hold nothing
    ChannelStatistics te;
    ChannelStatistics fe;

    bool operator==(const PartStatistics&) const = default;
};

struct ScanStatistics {
    PartStatistics all;
    std::array<PartStatistics, kScanZoneCount> zones;

    bool operator==(const ScanStatistics&) const = default;
};

ScanStatistics ComputeStatistics(std::span<const ScanSample> samples, uint8_t discTypeCode, int32_t lastLba);

// "TE max 25 % at LBA 2015232, avg 14.2 %, 0 over 27 %; FE max 12 % at LBA 0, avg 9.8 %, 0 over
// 18 %". Empty for a run without samples.
std::string StatisticsSummary(const PartStatistics& part);
// The same as two lines, TE then FE (a picture's header). Empty for a run without samples.
std::vector<std::string> StatisticsSummaryLines(const PartStatistics& part);

}  // namespace dravix

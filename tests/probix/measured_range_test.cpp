// The LBAs our own charts span: what a result measured (both results' when one is laid over the
// other), the whole disc when nothing was measured, and a range of its own for a lone position.

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "probix/MeasuredRange.h"

namespace dravix {
namespace {

ScanResults Scan(std::initializer_list<int32_t> lbas, int32_t lastLba = 2295103) {
    ScanResults r;
    r.lastLba = lastLba;
    for (const int32_t lba : lbas) {
        ScanSample s;
        s.lba = lba;
        r.samples.push_back(s);
    }
    return r;
}

// A read test from 90000 to 130000 of a disc ending at 2295103.
ReadTestResult Read(ReadTestEnd end, std::initializer_list<uint32_t> points) {
    ReadTestResult r;
    r.end = end;
    r.layout.lastLba = 2295103;
    r.range = {90000, 130000};
    for (const uint32_t lba : points) r.points.push_back({lba, 8.0});
    return r;
}

TEST(MeasuredRange, OurChartsSpanWhatWasMeasured) {
    struct Case {
        std::string what;
        std::function<LbaSpan()> axis;
        LbaSpan expected;
    };
    const std::vector<Case> cases = {
        {"a Customize scan from 0 to 300000",
         [] {
             return ChartAxisLbas(Scan({0, 49152, 98304, 294912}));
         },
         {0, 294912}},
        {"a scan whose samples a file holds out of order",
         [] {
             return ChartAxisLbas(Scan({500000, 120000, 760000}));
         },
         {120000, 760000}},
        {"a read test that finished: its whole range, past its last point's start",
         [] {
             return ChartAxisLbas(Read(ReadTestEnd::Finished, {90000, 110000, 129984}));
         },
         {90000, 130000}},
        {"a read test stopped after an unreadable stretch and a skipped one",
         [] {
             ReadTestResult r = Read(ReadTestEnd::Stopped, {90000, 95000});
             r.failures = {{{100000, 100063}, kCommandFailed, {}}};
             r.skipped = {{100064, 102111}};
             return ChartAxisLbas(r);
         },
         {90000, 102111}},
        {"two scans laid over each other: the union of their ranges",
         [] {
             const ScanResults a = Scan({300000, 900000});
             const ScanResults b = Scan({100000, 400000});
             return ChartAxisLbas(a, &b);
         },
         {100000, 900000}},
        {"two read tests laid over each other",
         [] {
             const ReadTestResult a = Read(ReadTestEnd::Stopped, {90000, 100000});
             ReadTestResult b = Read(ReadTestEnd::Stopped, {200000, 250000});
             return ChartAxisLbas(a, &b);
         },
         {90000, 250000}},
        {"a scan laid over one without samples",
         [] {
             const ScanResults a = Scan({});
             const ScanResults b = Scan({100000, 400000});
             return ChartAxisLbas(a, &b);
         },
         {100000, 400000}},
        {"a scan without samples: the whole disc", [] { return ChartAxisLbas(Scan({})); }, {0, 2295103}},
        {"two empty scans: the larger disc",
         [] {
             const ScanResults a = Scan({});
             const ScanResults b = Scan({}, 4173823);
             return ChartAxisLbas(a, &b);
         },
         {0, 4173823}},
        {"an access-time run draws nothing: the whole disc",
         [] { return ChartAxisLbas(Read(ReadTestEnd::Finished, {})); },
         {0, 2295103}},
        {"a single sample: a range about it", [] { return ChartAxisLbas(Scan({150000})); }, {149950, 150050}},
        {"a single sample at the disc's start", [] { return ChartAxisLbas(Scan({0})); }, {0, 100}},
        {"a single sample at the disc's end",
         [] { return ChartAxisLbas(Scan({2295103})); },
         {2295003, 2295103}},
        {"a single unreadable sector",
         [] {
             ReadTestResult r = Read(ReadTestEnd::Stopped, {});
             r.failures = {{{90000, 90000}, kCommandTimedOut, {}}};
             return ChartAxisLbas(r);
         },
         {89950, 90050}},
        {"a single sample on a disc of 40 sectors", [] { return ChartAxisLbas(Scan({20}, 39)); }, {0, 39}},
        {"a write test: from its first request, which is no point, to its last sector",
         [] {
             WriteTestResult r;
             r.layout.lastLba = 2295103;
             r.startLba = 0;
             r.writtenSectors = 256000;
             for (uint32_t lba = 32; lba < 256000; lba += 32) r.points.push_back({lba, 8.0, 1.0, 9000});
             return ChartAxisLbas(r);
         },
         {0, 255999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LbaSpan axis = c.axis();
        EXPECT_EQ(axis.first, c.expected.first);
        EXPECT_EQ(axis.last, c.expected.last);
    }
}

}  // namespace
}  // namespace dravix

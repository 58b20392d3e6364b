#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "procedures/WriteCheck.h"

namespace dravix {
class DriveTable;
struct ScanStatistics;
struct PartStatistics;
struct WriteTestResult;
}  // namespace dravix

// The shapes every command's JSON is built from, so that one value looks the same wherever it
// appears. The conventions (see the command-line page of the guide):
// - every object carries "schema", "command" and "error" first; "error" is null, or
//   {"code": exit status, "message": text} when the command failed;
// - keys are snake_case; numbers are numbers with their unit in the key (capacity_bytes,
//   speed kbps); on/off values are booleans;
// - a value that is absent (no disc) or was not read (its command failed) is null;
// - a byte the drive reported that is none of its settings keeps the byte in "raw" while the
//   decoded keys beside it are null, and the command fails;
// - strings the drive gave are trimmed, with control characters and bytes that are not UTF-8 as
//   \xNN; a file name that is not valid UTF-8 has U+FFFD for each invalid byte and a sibling key
//   ending in _hex with its bytes in hex;
// - later versions only add keys; "schema" grows when a key changes meaning or goes away.
namespace dravix::cli::schema {

using Json = nlohmann::ordered_json;

inline constexpr int kVersion = 2;

// A drive's text (an identifier, a learned disc) as a JSON string: trimmed, escaped.
Json Text(const std::string& text);
// The same, null when the text is one of the pages' stand-ins for "nothing" ("N/A", "NA").
Json TextOrNull(const std::string& text);

// {"index", "vendor", "product", "revision", "label", "nodes", "adapter", "target", "location"}:
// the drive at `index` of the table. "nodes" lists its device nodes (empty on the ASPI path, where
// "adapter" and "target" say where it is; null on the pass-through path); "location" is the text
// the drive list shows after the label.
Json Drive(const DriveTable& table, uint8_t index);

// {"type", "manufacturer_id", "media_type_id", "capacity_bytes", "capacity_mb"}: capacity from the
// last LBA the drive reports for writing (its End LBA), in bytes and in MB of 2^20 bytes rounded
// to one decimal as the Information page shows it.
Json Disc(const Json& type, const Json& manufacturerId, const Json& mediaTypeId,
          std::optional<int32_t> endLba);

// {"label": "8X", "kbps": 11080}.
Json Speed(const std::string& label, uint32_t kbps);

// An option state byte: {"on", "temporary", "raw"}.
Json Setting(uint8_t raw);
// A switch flag: {"on", "raw"}; `on` is empty when the byte means nothing.
Json Switch(std::optional<bool> on, uint8_t raw);

// {"written", "confirmed", "answer_lost"}: whether the drive completed the write (null: its answer
// was lost and reading it back failed too), whether the drive, read again, reports what was
// written (null: it was not read again), and whether the write's answer was lost (the outcome
// then comes from reading the drive back).
Json Write(const WriteFacts& facts);

// A run's statistics: the whole run's part and "zones" (ten parts, inner to outer), a part being
// {"samples", "te", "fe"} with each channel {"over_limit", "max_percent", "max_lba",
// "average_percent"} (null figures for a part without samples).
Json Statistics(const ScanStatistics& statistics);
Json Part(const PartStatistics& part);

// A write test's summary: {"start_x", "end_x", "average_x", "minimum_x", "mode",
// "full_disc_seconds"}; null for a run without one.
Json WriteSummary(const WriteTestResult& result);

}  // namespace dravix::cli::schema

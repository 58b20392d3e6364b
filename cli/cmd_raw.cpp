// raw: one command block to the chosen drive, its status, sense and answer in hex.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/Scsi.h"
#include "procedures/Diagnosis.h"

namespace dravix::cli {

namespace {

constexpr uint32_t kMaxTransfer = 1u << 20;

// One hex word ("12", "120000", "0x12") onto bytes: two digits a byte, so an odd number of
// digits is refused rather than guessed at ("120" could be 12 0 or 01 20).
bool AppendHexWord(std::string_view word, std::vector<uint8_t>& bytes) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.remove_prefix(2);
    if (word.empty() || word.size() % 2 != 0) return false;
    for (char c : word) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    for (size_t i = 0; i < word.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(word.substr(i, 2)), nullptr, 16)));
    }
    return true;
}

// Hex text of blank-separated words into bytes; false on anything else.
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (!AppendHexWord(word, bytes)) return false;
    }
    return true;
}

// The data-out file: hex words, at most kMaxTransfer bytes. Read in pieces, so that a file that
// never ends (a device) or holds one endless word stops at the limit instead of filling memory.
bool ReadHexFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        problem = "cannot read " + path;
        return false;
    }
    std::string word;
    auto finishWord = [&] {
        if (word.empty()) return true;
        const bool ok = AppendHexWord(word, bytes);
        if (!ok) problem = path + ": '" + word.substr(0, 16) + "' is not hex bytes";
        word.clear();
        return ok;
    };
    char chunk[65536];
    constexpr size_t kLongestWord = 2 * kMaxTransfer + 2;
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        for (std::streamsize i = 0; i < file.gcount(); ++i) {
            const char c = chunk[i];
            if (std::isspace(static_cast<unsigned char>(c))) {
                if (!finishWord()) return false;
            } else {
                word.push_back(c);
            }
            if (bytes.size() + word.size() / 2 > kMaxTransfer || word.size() > kLongestWord) {
                problem = path + " holds more than " + std::to_string(kMaxTransfer) + " bytes";
                return false;
            }
        }
    }
    if (file.bad()) {
        problem = "cannot read " + path;
        return false;
    }
    return finishWord();
}

bool ParseCount(const std::string& text, uint32_t& value, uint32_t max) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const unsigned long long v = std::stoull(text);
    if (v > max) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// 16 bytes a line: offset, hex, printable characters.
std::string HexDump(const uint8_t* data, size_t length) {
    std::string out;
    for (size_t line = 0; line < length; line += 16) {
        char head[24];
        std::snprintf(head, sizeof head, "%04zx  ", line);
        out += head;
        std::string text;
        for (size_t i = line; i < line + 16; ++i) {
            if (i < length) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X ", data[i]);
                out += hex;
                text.push_back(std::isprint(data[i]) ? static_cast<char>(data[i]) : '.');
            } else {
                out += "   ";
            }
        }
        out += " " + text + "\n";
    }
    return out;
}

}  // namespace

int RunRaw(CliContext& context, const CommandArgs& args) {
    uint32_t inLength = 0;
    uint32_t timeout = 30;
    const std::string outFile = args.Value("--out").value_or("");
    std::vector<uint8_t> cdb;
    if (const std::optional<std::string> in = args.Value("--in");
        in && !ParseCount(*in, inLength, kMaxTransfer))
        return UsageError(context, "--in takes a byte count up to " + std::to_string(kMaxTransfer));
    if (const std::optional<std::string> seconds = args.Value("--timeout");
        seconds && !ParseCount(*seconds, timeout, 86400)) {
        return UsageError(context, "--timeout takes seconds");
    }
    if (args.Has("--out") && outFile.empty()) return UsageError(context, "--out takes a file name");
    for (const std::string& word : args.words) {
        if (!ParseHex(word, cdb))
            return UsageError(context, "'" + word + "' is not hex bytes (two digits a byte)");
    }
    if (inLength != 0 && !outFile.empty()) return UsageError(context, "--in and --out exclude each other");
    if (cdb.empty()) return UsageError(context, "raw needs the command block as hex bytes");
    const size_t cdbLength = static_cast<size_t>(CdbLength(cdb[0]));
    // The whole block is given: a byte left out is not silently a zero.
    if (cdb.size() != cdbLength) {
        char text[112];
        std::snprintf(text, sizeof text, "operation code %02Xh takes a %zu-byte command block, not %zu bytes",
                      cdb[0], cdbLength, cdb.size());
        return UsageError(context, text);
    }
    cdb.resize(kMaxCdbLength, 0);

    std::vector<uint8_t> data;
    int direction = kNoData;
    if (!outFile.empty()) {
        std::string problem;
        if (!ReadHexFile(outFile, data, problem)) return context.Fail(kExitFailed, problem);
        direction = kDataOut;
    } else if (inLength != 0) {
        data.assign(inLength, 0);
        direction = kDataIn;
    }

    // Exactly the block given reaches the drive: no wait for it, no other command before.
    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return context.FailedStatus();
    const uint8_t status = table->SendCommand(cdb.data(), direction, data.empty() ? nullptr : data.data(),
                                              static_cast<uint32_t>(data.size()), timeout);
    const DriveTable::Failure failure = table->LastFailure();
    const Sense sense = table->LastSense();
    const int osError = table->LastOsError();
    // Only what the drive sent is shown.
    const uint32_t transferred = table->LastTransferred();
    const bool kernelRefused = RefusedByKernel(failure);
    const bool dataIn = direction == kDataIn && status == kCommandCompleted;

    schema::Json& json = context.Result();
    json["cdb"] = HexBytes(cdb.data(), cdbLength);
    json["status"] = status;
    json["sense"] = {{"key", sense.key}, {"asc", sense.asc}, {"ascq", sense.ascq}};
    json["os_error"] = osError != 0 ? schema::Json(osError) : nullptr;
    json["refused_by_kernel"] = kernelRefused;
    json["transferred"] = direction != kNoData ? schema::Json(transferred) : nullptr;
    json["data"] = dataIn ? schema::Json(HexBytes(data.data(), transferred)) : nullptr;
    if (!context.Json()) {
        context.Out() << "status: " << static_cast<int>(status)
                      << (status == kCommandCompleted  ? " (completed)"
                          : status == kCommandTimedOut ? " (timed out)"
                                                       : " (failed)")
                      << "\n";
        char text[64];
        std::snprintf(text, sizeof text, "sense: %02X/%02X/%02X\n", sense.key, sense.asc, sense.ascq);
        context.Out() << text;
        if (kernelRefused) {
            context.Out() << "refused by the kernel (permission denied): vendor command codes need read and "
                             "write access to the drive's SCSI generic node (/dev/sg*)\n";
        } else if (osError != 0) {
            context.Out() << "operating-system error: " << osError << "\n";
        }
        if (direction != kNoData) {
            context.Out() << "transferred: " << transferred << " of " << data.size() << " bytes\n";
        }
        if (dataIn) context.Out() << HexDump(data.data(), transferred);
    }
    if (status == kCommandCompleted) return kExitOk;
    return context.Fail(kExitFailed, "The command did not complete" + FailureDetail(failure) + ".");
}

}  // namespace dravix::cli

// raw: one command block to the chosen drive, its status, sense and answer in hex.

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/Scsi.h"

namespace dravix::cli {

namespace {

constexpr uint32_t kMaxTransfer = 1u << 20;

// Hex text ("12 00 00", "120000", "0x12") into bytes; false on anything else.
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    std::string digits;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.erase(0, 2);
        for (char c : word) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        }
        if (word.size() % 2 != 0) word.insert(0, "0");
        digits += word;
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
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

int RunRaw(CliContext& context, const std::vector<std::string>& args) {
    uint32_t inLength = 0;
    uint32_t timeout = 30;
    std::string outFile;
    std::vector<uint8_t> cdb;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--in" || a == "--out" || a == "--timeout") {
            if (i + 1 >= args.size()) return UsageError(context, a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--in" && !ParseCount(v, inLength, kMaxTransfer)) {
                return UsageError(context, "--in takes a byte count up to " + std::to_string(kMaxTransfer));
            }
            if (a == "--timeout" && !ParseCount(v, timeout, 86400)) {
                return UsageError(context, "--timeout takes seconds");
            }
            if (a == "--out") outFile = v;
        } else if (!ParseHex(a, cdb)) {
            return UsageError(context, "'" + a + "' is not hex bytes");
        }
    }
    if (inLength != 0 && !outFile.empty()) return UsageError(context, "--in and --out exclude each other");
    if (cdb.empty()) return UsageError(context, "raw needs the command block as hex bytes");
    const size_t cdbLength = static_cast<size_t>(CdbLength(cdb[0]));
    if (cdb.size() > cdbLength) {
        char text[96];
        std::snprintf(text, sizeof text, "operation code %02Xh takes a %zu-byte command block", cdb[0],
                      cdbLength);
        return UsageError(context, text);
    }
    cdb.resize(kMaxCdbLength, 0);  // shorter blocks are padded with zeros

    std::vector<uint8_t> data;
    int direction = kNoData;
    if (!outFile.empty()) {
        std::ifstream file(outFile);
        std::stringstream text;
        text << file.rdbuf();
        if (!file || !ParseHex(text.str(), data)) {
            context.Err() << "dravix-cli: cannot read hex bytes from " << outFile << std::endl;
            return kExitFailed;
        }
        direction = kDataOut;
    } else if (inLength != 0) {
        data.assign(inLength, 0);
        direction = kDataIn;
    }

    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;
    const uint8_t status = table->SendCommand(cdb.data(), direction, data.empty() ? nullptr : data.data(),
                                              static_cast<uint32_t>(data.size()), timeout);
    const Sense sense = table->LastSense();
    const int osError = table->LastOsError();
    const bool kernelRefused = osError == EPERM || osError == EACCES;

    if (context.Options().json) {
        nlohmann::json j = {{"cdb", HexBytes(cdb.data(), cdbLength)},
                            {"status", status},
                            {"sense", {sense.key, sense.asc, sense.ascq}}};
        if (osError != 0) j["os_error"] = osError;
        if (kernelRefused) j["refused_by"] = "kernel";
        if (direction == kDataIn && status == kCommandCompleted)
            j["data"] = HexBytes(data.data(), data.size());
        context.PrintJson(j);
    } else {
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
        if (direction == kDataIn && status == kCommandCompleted)
            context.Out() << HexDump(data.data(), data.size());
    }
    return status == kCommandCompleted ? kExitOk : kExitFailed;
}

}  // namespace dravix::cli

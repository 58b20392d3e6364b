#include "cli/Names.h"

#include <cstdio>

namespace dravix::cli {

namespace {

std::string Hex(std::string_view bytes) {
    std::string out;
    char pair[4];
    for (const char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        out += pair;
    }
    return out;
}

// Every invalid byte as U+FFFD.
std::string Replaced(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            out += text.substr(0, length);
            text.remove_prefix(length);
        }
    }
    return out;
}

}  // namespace

void PutName(schema::Json& object, const std::string& key, const std::string& name) {
    object[key] = Replaced(name);
    if (!ValidUtf8(name)) object[key + "_hex"] = Hex(name);
}

void PutNames(schema::Json& object, const std::string& key, const std::vector<std::string>& names) {
    schema::Json list = schema::Json::array();
    schema::Json hex = schema::Json::array();
    bool anyInvalid = false;
    for (const std::string& name : names) {
        list.push_back(Replaced(name));
        const bool valid = ValidUtf8(name);
        hex.push_back(valid ? schema::Json(nullptr) : schema::Json(Hex(name)));
        anyInvalid = anyInvalid || !valid;
    }
    object[key] = list;
    if (anyInvalid) object[key + "_hex"] = hex;
}

}  // namespace dravix::cli

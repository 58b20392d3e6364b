#include "probix/FileFields.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace dravix {

std::string EscapeField(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::optional<std::string> UnescapeField(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string_view> SplitCommas(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(
            line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

std::string FaultText(const std::string& name, const FileFault& fault) {
    return name + (fault.line > 0 ? ", line " + std::to_string(fault.line) : std::string()) + ": " +
           fault.what;
}

bool FileLines::Next(std::string& line) {
    line.clear();
    int c = 0;
    bool any = false;
    while ((c = m_in.get()) != std::char_traits<char>::eof()) {
        any = true;
        if (c == '\n') break;
        if (line.size() >= m_maxLength) {
            m_tooLong = true;
            return false;
        }
        line += static_cast<char>(c);
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written or edited on Windows
    ++m_number;
    return true;
}

}  // namespace dravix

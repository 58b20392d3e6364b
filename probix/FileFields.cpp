#include "probix/FileFields.h"

#include <algorithm>
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

std::optional<FileFault> FileHeader::Read(FileLines& lines, std::string& line,
                                          std::initializer_list<std::string_view> repeatable,
                                          const LineCheck& check) {
    for (;;) {
        if (!lines.Next(line))
            return FileFault{lines.TooLong() ? lines.Number() + 1 : 0,
                             lines.TooLong() ? "the line is too long"
                                             : "the file ends before its table (it is cut short)"};
        if (line.empty() || line[0] != '#') return std::nullopt;
        const size_t colon = line.find(": ");
        if (line.rfind("# ", 0) != 0 || colon == std::string::npos)
            return FileFault{lines.Number(), "a description line without \"# key: value\""};
        std::string key = line.substr(2, colon - 2);
        const HeaderLine header{lines.Number(), line.substr(colon + 2)};
        if (Has(key) && std::find(repeatable.begin(), repeatable.end(), key) == repeatable.end())
            return FileFault{header.line, "a second \"" + key + "\" line"};
        if (check) {
            if (std::optional<FileFault> fault = check(key, header)) return fault;
        }
        m_lines.emplace(std::move(key), header);
    }
}

std::optional<HeaderLine> FileHeader::One(const std::string& key) const {
    const auto found = m_lines.find(key);
    if (found == m_lines.end()) return std::nullopt;
    return found->second;
}

std::vector<HeaderLine> FileHeader::All(const std::string& key) const {
    std::vector<HeaderLine> lines;
    const auto [first, last] = m_lines.equal_range(key);
    for (auto it = first; it != last; ++it) lines.push_back(it->second);
    return lines;
}

std::optional<FileFault> DescriptionReader::One(const char* key, HeaderLine& out) const {
    const std::optional<HeaderLine> found = m_header.One(key);
    if (!found)
        return FileFault{m_lines.Number(), std::string("the description has no \"") + key + "\" line"};
    out = *found;
    return std::nullopt;
}

std::optional<FileFault> DescriptionReader::Text(const char* key, std::string& value) const {
    HeaderLine h;
    if (auto fault = One(key, h)) return fault;
    const std::optional<std::string> text = UnescapeField(h.value);
    if (!text) return Damaged(h, key);
    value = *text;
    return std::nullopt;
}

FileFault DescriptionReader::Damaged(const HeaderLine& h, const char* key) {
    return FileFault{h.line, std::string("the \"") + key + "\" value is damaged"};
}

}  // namespace dravix

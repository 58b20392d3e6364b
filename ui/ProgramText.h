#pragma once

#include <QString>
#include <string>

namespace dravix {

// The program's own texts as the windows show them: the message texts kept as plain strings
// beside the commands and the engine that use them, and the lines the engine and the results
// files make. They are UTF-8 (the message texts plain ASCII); this is the one place they are
// decoded. A null text is an empty one.
inline QString ProgramText(const char* text) {
    return QString::fromUtf8(text);
}
inline QString ProgramText(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace dravix

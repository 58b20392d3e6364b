#pragma once

namespace dravix {

// The string table, by resource id, as UTF-8. No Qt, so that every layer can read it: the pages and
// the command line show these texts from here. An id without a text gives an empty string.
const char* StringText(int id);

// Ids of the texts shown by more than one part of the program.
inline constexpr int kStringDriveNotSupported = 104;  // "This drive is not supported"
inline constexpr int kStringIncorrectMedia = 105;
inline constexpr int kStringDriveEmpty = 106;

}  // namespace dravix

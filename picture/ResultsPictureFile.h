#pragma once

#include <string>

#include "base/Result.h"
#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/WriteTestFile.h"

// The labelled chart picture of a result, as the command line writes it: needs no window and no
// display. A build without the chart writes none (NoPictures.cpp): the writers then refuse with a
// message saying so and the data URIs are empty.
namespace dravix {

// Writes the picture of `results` (with `compared` laid over it) in the format of the path's
// extension. Done, or why it could not be written.
Result<void> WriteResultsPicture(const std::string& path, const ScanResults& results,
                                 const ScanResults* compared = nullptr);

// The same picture as a PNG data URI ("data:image/png;base64,..."), for embedding in a page;
// empty when it could not be made.
std::string ResultsPictureDataUri(const ScanResults& results);

// The same for a read test: its speed curve (and a second one laid over it), unread ranges in red.
Result<void> WriteReadTestPicture(const std::string& path, const ReadTestRecord& record,
                                  const ReadTestRecord* compared = nullptr);
std::string ReadTestPictureDataUri(const ReadTestRecord& record);

// The same for a write test: its write speed, buffer level and rotation (and a second run laid over it).
Result<void> WriteWriteTestPicture(const std::string& path, const WriteTestRecord& record,
                                   const WriteTestRecord* compared = nullptr);
std::string WriteTestPictureDataUri(const WriteTestRecord& record);

}  // namespace dravix

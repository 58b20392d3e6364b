// The command line's picture functions in a build without the chart: no picture is written, and
// a report has no chart in it.
#include "picture/ResultsPictureFile.h"

namespace dravix {

namespace {

constexpr const char* kNoPictures = "this build writes no pictures (it was built without the GUI)";

}  // namespace

Result<void> WriteResultsPicture(const std::string&, const ScanResults&, const ScanResults*) {
    return Error{kNoPictures};
}

std::string ResultsPictureDataUri(const ScanResults&) {
    return {};
}

Result<void> WriteReadTestPicture(const std::string&, const ReadTestRecord&, const ReadTestRecord*) {
    return Error{kNoPictures};
}

std::string ReadTestPictureDataUri(const ReadTestRecord&) {
    return {};
}

Result<void> WriteWriteTestPicture(const std::string&, const WriteTestRecord&, const WriteTestRecord*) {
    return Error{kNoPictures};
}

std::string WriteTestPictureDataUri(const WriteTestRecord&) {
    return {};
}

}  // namespace dravix

#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How every file of the program is written and its input files are opened. A file is written to a
// new file created exclusively beside it under a random name and renamed over it only once it is
// complete and on disk: a failure anywhere leaves the old file as it was and no temporary file
// behind. A name that stands for a FIFO, a device or a folder is refused before anything is
// written; reading opens without waiting and takes regular files only. A short write, a full disk
// and a file-size limit (EFBIG) are ordinary write errors.
namespace dravix {

enum class FileProblem {
    None,
    NotRegularFile,  // the name stands for a FIFO, a device, a folder, or a link to one of them
    Exists,          // a write that may not replace found a file of that name
    Missing,         // a file to read is not there
    Failed,          // anything else: the folder, permissions, a full disk, a read error
};

struct [[nodiscard]] FileResult {
    FileProblem problem = FileProblem::None;
    std::string detail;  // why, without the file's name ("the folder 'x' is not writable")

    bool Ok() const noexcept { return problem == FileProblem::None; }
    // What a user is told about writing `path`: "'PATH' is not a regular file; choose another
    // name." or "cannot write 'PATH': DETAIL".
    std::string WriteMessage(const std::string& path) const;
};

// What a file named for one command or one window's action is to that action, for telling why an
// output may not have its name.
enum class FileRole {
    Input,        // read by the action (a results file, an image to verify against, a picture)
    ResultsFile,  // a results file it writes
    Picture,      // a picture it writes
    Output,       // any other file it writes (a report, a converted picture)
};

struct ActionFile {
    std::string path;  // as the user gave it; empty for a file not asked for (left out)
    FileRole role = FileRole::Input;
};

// The refusal of the first output that is one of the action's inputs or an earlier output of it
// (the same existing file by device and inode, through links; for names with no file yet, the
// same folder, its links resolved, and name):
// "'PATH' is also an input of this OWNER; choose another name." ("... also the results file ...",
// "... also the picture ...", "... also an output ..."), OWNER being "command" or "window"; empty
// when no output clashes. Checked before anything is read or written, so that no output ever
// replaces what the action reads or another file it makes.
std::string OutputClash(const std::vector<ActionFile>& files, std::string_view owner);

// Whether `path` can be written, before the work that produces its content begins: an existing
// file must be a regular file that may be written, and the folder must let a file be created in
// it, which is tried by creating and removing a temporary file there. Nothing else is touched.
FileResult CheckWritableTarget(const std::string& path);

// One file being written. Begin creates the temporary file; Write buffers; Commit puts the file in
// place. Abandon (and the destructor, when Commit was not reached) removes the temporary file.
class SafeFile final {
  public:
    // Replace: an existing regular file is replaced (a symbolic link of that name is replaced by
    // the file, the file it pointed to stays). NoReplace: Commit fails with Exists if any file of
    // that name is there by then.
    enum class Mode { Replace, NoReplace };

    SafeFile() = default;
    ~SafeFile();
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    FileResult Begin(const std::string& path, Mode mode = Mode::Replace);
    // False once any write of this file has failed; later writes are dropped.
    bool Write(const void* data, size_t size) noexcept;
    bool Write(std::string_view bytes) noexcept { return Write(bytes.data(), bytes.size()); }
    // Hands what is buffered to the system, so that a full disk shows now; false once any write
    // of this file has failed.
    bool Flush() noexcept;
    // Flushes, syncs, closes and renames the file into place. On failure the temporary file is
    // gone and the target is as it was.
    FileResult Commit();
    void Abandon() noexcept;
    bool IsOpen() const noexcept { return m_fd >= 0; }

  private:
    std::string m_target;
    std::string m_temporary;
    Mode m_mode = Mode::Replace;
    int m_fd = -1;
    int m_writeError = 0;  // errno of the first failed write
    std::string m_buffer;
};

// The whole of `bytes` as the file `path`, through a SafeFile.
FileResult WriteFileSafely(const std::string& path, std::string_view bytes,
                           SafeFile::Mode mode = SafeFile::Mode::Replace);

// Creates `path` as an empty file, only if no file of that name exists (Exists otherwise).
FileResult CreateEmptyFile(const std::string& path);

// Opens a regular file for reading without ever waiting: a FIFO, a device or a folder is refused
// at once (NotRegularFile, "not a regular file"), a missing file gives Missing. The descriptor is
// close-on-exec; -1 with `result` set on failure.
int OpenFileForReading(const std::string& path, FileResult* result, off_t* size = nullptr);

// The whole content of a regular file of at most `limit` bytes (larger ones fail).
FileResult ReadFileContent(const std::string& path, std::string* content, size_t limit);

}  // namespace dravix

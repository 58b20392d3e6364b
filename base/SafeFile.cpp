#include "base/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace dravix {

namespace {

// Written in pieces of this size; image writers hand over a few bytes at a time.
constexpr size_t kBufferSize = 64 * 1024;
// Random names that are all taken mean something else is wrong with the folder.
constexpr int kNameAttempts = 64;

FileResult Failure(std::string detail) {
    return FileResult{FileProblem::Failed, std::move(detail)};
}

FileResult NotRegular() {
    return FileResult{FileProblem::NotRegularFile, "not a regular file"};
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

// The folder a file of `path` goes into, as the user wrote it ("." when none was written).
std::string FolderOf(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

std::string FolderProblem(int error, const std::string& folder) {
    switch (error) {
        case ENOENT: {
            // A folder that is there and still says "no such file" takes no new files (/proc).
            struct stat info {};
            if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
                return "no file can be made in the folder '" + folder + "'";
            return "the folder '" + folder + "' does not exist";
        }
        case ENOTDIR:
            return "'" + folder + "' is not a folder";
        case EACCES:
        case EPERM:
        case EROFS:
            return "the folder '" + folder + "' is not writable";
        default:
            return ErrorText(error);
    }
}

// A hidden name of fixed length, whatever the length of the target's name, so it always fits
// NAME_MAX.
std::string TemporaryName(const std::string& folder) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char name[32];
    std::snprintf(name, sizeof name, ".dravix-%012llx.tmp",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    return (std::filesystem::path(folder) / name).string();
}

// Creates a new file beside the target; never opens one that exists, never follows a link.
int CreateTemporary(const std::string& folder, mode_t mode, std::string* name, FileResult* result) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        *name = TemporaryName(folder);
        const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) {
            *result = Failure(FolderProblem(errno, folder));
            name->clear();
            return -1;
        }
    }
    *result = Failure("no temporary file can be made in the folder '" + folder + "'");
    name->clear();
    return -1;
}

struct Existing {
    bool replaced = false;  // a regular file of that name will be replaced
    struct stat info {};
};

// What stands at `path` now, and whether a write may go there.
FileResult InspectTarget(const std::string& path, SafeFile::Mode mode, Existing* existing) {
    if (path.empty()) return Failure("no file name given");
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};  // the folder's problems show on creation
        return Failure(ErrorText(errno));
    }
    if (mode == SafeFile::Mode::NoReplace) return FileResult{FileProblem::Exists, "the file exists"};
    if (S_ISLNK(entry.st_mode)) {
        // The link itself is replaced; only what it points to decides whether that is sensible.
        struct stat pointed {};
        if (::stat(path.c_str(), &pointed) == 0 && !S_ISREG(pointed.st_mode)) return NotRegular();
        return {};
    }
    if (!S_ISREG(entry.st_mode)) return NotRegular();
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES)
        return Failure("the file is read-only");
    existing->replaced = true;
    existing->info = entry;
    return {};
}

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;  // EFBIG past a file-size limit, ENOSPC, EIO...
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A file's identity: device and inode when it exists, otherwise its resolved folder and name.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
};

Identity IdentityOf(const std::string& path) {
    Identity identity;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        identity.exists = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        return identity;
    }
    const std::filesystem::path name(path);
    std::error_code error;
    std::filesystem::path folder = std::filesystem::weakly_canonical(FolderOf(path), error);
    if (error) folder = std::filesystem::absolute(FolderOf(path), error).lexically_normal();
    identity.name = (folder / name.filename()).string();
    return identity;
}

bool SameIdentity(const Identity& a, const Identity& b) {
    if (a.exists != b.exists) return false;
    return a.exists ? a.device == b.device && a.inode == b.inode : a.name == b.name;
}

const char* RoleText(FileRole role) {
    switch (role) {
        case FileRole::Input:
            return "an input";
        case FileRole::ResultsFile:
            return "the results file";
        case FileRole::Picture:
            return "the picture";
        case FileRole::Output:
            break;
    }
    return "an output";
}

}  // namespace

std::string OutputClash(const std::vector<ActionFile>& files, std::string_view owner) {
    std::vector<std::pair<Identity, const ActionFile*>> known;
    for (const ActionFile& file : files) {
        if (!file.path.empty() && file.role == FileRole::Input)
            known.emplace_back(IdentityOf(file.path), &file);
    }
    for (const ActionFile& file : files) {
        if (file.path.empty() || file.role == FileRole::Input) continue;
        Identity identity = IdentityOf(file.path);
        for (const auto& [other, named] : known) {
            if (SameIdentity(identity, other)) {
                return "'" + file.path + "' is also " + RoleText(named->role) + " of this " +
                       std::string(owner) + "; choose another name.";
            }
        }
        known.emplace_back(std::move(identity), &file);
    }
    return {};
}

std::string FileResult::WriteMessage(const std::string& path) const {
    if (problem == FileProblem::NotRegularFile)
        return "'" + path + "' is not a regular file; choose another name.";
    return "cannot write '" + path + "'" + (detail.empty() ? std::string() : ": " + detail);
}

FileResult CheckWritableTarget(const std::string& path) {
    Existing existing;
    if (FileResult inspected = InspectTarget(path, SafeFile::Mode::Replace, &existing); !inspected.Ok())
        return inspected;
    std::string probe;
    FileResult result;
    const int fd = CreateTemporary(FolderOf(path), 0600, &probe, &result);
    if (fd < 0) return result;
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

SafeFile::~SafeFile() {
    Abandon();
}

FileResult SafeFile::Begin(const std::string& path, Mode mode) {
    Abandon();
    Existing existing;
    if (FileResult inspected = InspectTarget(path, mode, &existing); !inspected.Ok()) return inspected;
    const mode_t permissions = existing.replaced ? existing.info.st_mode & 0777 : 0666;
    FileResult result;
    m_fd = CreateTemporary(FolderOf(path), permissions, &m_temporary, &result);
    if (m_fd < 0) return result;
    if (existing.replaced) {
        // The new file keeps the old one's owner (only root can give it away; should that fail,
        // the content still counts) and its permissions, without the umask.
        if (::geteuid() == 0) {
            const int owned = ::fchown(m_fd, existing.info.st_uid, existing.info.st_gid);
            static_cast<void>(owned);
        }
        ::fchmod(m_fd, permissions);
    }
    m_target = path;
    m_mode = mode;
    m_writeError = 0;
    m_buffer.clear();
    m_buffer.reserve(kBufferSize);
    return {};
}

bool SafeFile::Write(const void* data, size_t size) noexcept {
    if (m_fd < 0 || m_writeError != 0) return false;
    const char* bytes = static_cast<const char*>(data);
    if (m_buffer.size() + size <= kBufferSize) {
        m_buffer.append(bytes, size);
        return true;
    }
    if (!Flush()) return false;
    if (size < kBufferSize) {
        m_buffer.append(bytes, size);
        return true;
    }
    m_writeError = WriteAll(m_fd, bytes, size);
    return m_writeError == 0;
}

bool SafeFile::Flush() noexcept {
    if (m_fd < 0 || m_writeError != 0) return false;
    m_writeError = WriteAll(m_fd, m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return m_writeError == 0;
}

FileResult SafeFile::Commit() {
    if (m_fd < 0) return Failure("the file was not opened");
    int error = Flush() ? 0 : m_writeError;
    if (error == 0 && ::fsync(m_fd) != 0) error = errno;
    if (::close(m_fd) != 0 && error == 0) error = errno;
    m_fd = -1;
    if (error != 0) {
        Abandon();
        return Failure(ErrorText(error));
    }
    if (m_mode == Mode::Replace) {
        // The name may have become something else while the content was written.
        Existing existing;
        if (FileResult inspected = InspectTarget(m_target, m_mode, &existing);
            inspected.problem == FileProblem::NotRegularFile) {
            Abandon();
            return inspected;
        }
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
            const int renameError = errno;
            Abandon();
            return Failure(ErrorText(renameError));
        }
    } else {
        // Atomically only if no file of that name appeared meanwhile; a hard link where the
        // file system cannot rename that way.
        int linked = ::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE);
        if (linked != 0 && (errno == EINVAL || errno == ENOSYS)) {
            linked = ::link(m_temporary.c_str(), m_target.c_str());
            if (linked == 0) ::unlink(m_temporary.c_str());
        }
        if (linked != 0) {
            const int linkError = errno;
            Abandon();
            if (linkError == EEXIST) return FileResult{FileProblem::Exists, "the file exists"};
            return Failure(ErrorText(linkError));
        }
    }
    m_temporary.clear();
    SyncFolder(FolderOf(m_target));
    return {};
}

void SafeFile::Abandon() noexcept {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
    m_buffer.clear();
}

FileResult WriteFileSafely(const std::string& path, std::string_view bytes, SafeFile::Mode mode) {
    SafeFile file;
    if (FileResult begun = file.Begin(path, mode); !begun.Ok()) return begun;
    file.Write(bytes);
    return file.Commit();
}

FileResult CreateEmptyFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return FileResult{FileProblem::Exists, "the file exists"};
        return Failure(FolderProblem(errno, FolderOf(path)));
    }
    const bool closed = ::close(fd) == 0;
    return closed ? FileResult{} : Failure(ErrorText(errno));
}

int OpenFileForReading(const std::string& path, FileResult* result, off_t* size) {
    // Looked at before it is opened: opening a device can have effects of its own, and opening
    // a FIFO would wait for a writer.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *result = errno == ENOENT ? FileResult{FileProblem::Missing, "no such file"}
                                  : Failure("cannot open: " + ErrorText(errno));
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        *result = NotRegular();
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *result = errno == ENOENT ? FileResult{FileProblem::Missing, "no such file"}
                                  : Failure("cannot open: " + ErrorText(errno));
        return -1;
    }
    // The name may have been replaced by something else in between.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *result = NotRegular();
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size != nullptr) *size = info.st_size;
    *result = {};
    return fd;
}

FileResult ReadFileContent(const std::string& path, std::string* content, size_t limit) {
    FileResult result;
    off_t size = 0;
    const int fd = OpenFileForReading(path, &result, &size);
    if (fd < 0) return result;
    if (static_cast<uint64_t>(size) > limit) {
        ::close(fd);
        return Failure("the file is too large");
    }
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return Failure("cannot read: " + ErrorText(error));
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<size_t>(n) > limit) {
            ::close(fd);
            return Failure("the file is too large");
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    *content = std::move(bytes);
    return {};
}

}  // namespace dravix

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/SafeFile.h"

namespace dravix {

// Where every image writer puts its bytes. The first failed write latches the sink into the
// failed state: later writes are dropped, so a writer can emit a whole header and check once.
class ByteSink {
  public:
    virtual ~ByteSink() = default;

    // False once any write or flush of this sink has failed.
    bool Write(const void* data, size_t size) noexcept;
    bool Write(const std::vector<uint8_t>& bytes) noexcept { return Write(bytes.data(), bytes.size()); }
    bool Put(uint8_t byte) noexcept { return Write(&byte, 1); }
    bool Flush() noexcept;
    bool Failed() const noexcept { return m_failed; }

  protected:
    ByteSink() = default;
    virtual bool DoWrite(const void* data, size_t size) noexcept = 0;
    virtual bool DoFlush() noexcept { return true; }
    void MarkFailed() noexcept { m_failed = true; }

  private:
    bool m_failed = false;
};

// A file written beside its target and put in place only by Commit (see base/SafeFile.h): a
// failed or abandoned write leaves the target as it was.
class FileSink final : public ByteSink {
  public:
    FileSink() = default;

    // Makes the temporary file for `path`; nothing can be written when this fails.
    FileResult Begin(const std::string& path) { return m_file.Begin(path); }
    bool IsOpen() const noexcept { return m_file.IsOpen(); }
    // Puts the file in place; fails when anything written was lost (a full disk shows here).
    FileResult Commit();
    // Drops what was written; the target stays as it was.
    void Abandon() noexcept { m_file.Abandon(); }

  private:
    bool DoWrite(const void* data, size_t size) noexcept override { return m_file.Write(data, size); }
    bool DoFlush() noexcept override { return m_file.Flush(); }

    SafeFile m_file;
};

// Collects the bytes in memory; used for encoders that have to seek back (TIFF, JPEG-2000) and
// by tests. An optional limit makes writes past it fail, which is how tests provoke a full disk.
class MemorySink final : public ByteSink {
  public:
    MemorySink() = default;
    explicit MemorySink(size_t limit) : m_limit(limit) {}

    const std::vector<uint8_t>& Bytes() const noexcept { return m_bytes; }
    std::vector<uint8_t> TakeBytes() noexcept { return std::move(m_bytes); }

  private:
    bool DoWrite(const void* data, size_t size) noexcept override;

    std::vector<uint8_t> m_bytes;
    size_t m_limit = SIZE_MAX;
};

}  // namespace dravix

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

// A file opened for binary writing and truncated; buffered by stdio.
class FileSink final : public ByteSink {
  public:
    explicit FileSink(const std::string& path);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool IsOpen() const noexcept { return m_file != nullptr; }
    // Flushes and closes; false when anything written was lost (a full disk shows up here).
    bool Close() noexcept;

  private:
    bool DoWrite(const void* data, size_t size) noexcept override;
    bool DoFlush() noexcept override;

    std::FILE* m_file = nullptr;
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

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace dravix {

// Random-access input for the image readers. Reads are all-or-nothing, so a reader never works
// on a half-filled header.
class ByteSource {
  public:
    virtual ~ByteSource() = default;

    virtual bool Read(void* data, size_t size) noexcept = 0;
    virtual bool Seek(uint64_t offset) noexcept = 0;
    virtual uint64_t Position() const noexcept = 0;
    virtual uint64_t Size() const noexcept = 0;

  protected:
    ByteSource() = default;
};

// A regular file opened for binary reading; anything else (a FIFO, a device) is not opened.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool IsOpen() const noexcept { return m_file != nullptr; }

    bool Read(void* data, size_t size) noexcept override;
    bool Seek(uint64_t offset) noexcept override;
    uint64_t Position() const noexcept override { return m_position; }
    uint64_t Size() const noexcept override { return m_size; }

  private:
    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_position = 0;
};

// Bytes already in memory; the caller keeps them alive.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

    bool Read(void* data, size_t size) noexcept override;
    bool Seek(uint64_t offset) noexcept override;
    uint64_t Position() const noexcept override { return m_position; }
    uint64_t Size() const noexcept override { return m_bytes.size(); }

  private:
    std::span<const uint8_t> m_bytes;
    uint64_t m_position = 0;
};

}  // namespace dravix

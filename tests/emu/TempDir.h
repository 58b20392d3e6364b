#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace dravix::emu::test {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir final {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dravix-emu-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace dravix::emu::test

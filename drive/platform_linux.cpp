// Linux: pass-through over SG_IO unless DRAVIX_ASPI_LIBRARY names an ASPI library to load.

#include <dlfcn.h>

#include <cstdlib>

#include "drive/Platform.h"
#include "drive/SgSystem.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

class DlLibrary final : public AspiLibrary {
  public:
    explicit DlLibrary(void* handle) : m_handle(handle) {}
    ~DlLibrary() override { ::dlclose(m_handle); }

    aspi::GetSupportInfoFn SupportInfo() const override {
        return reinterpret_cast<aspi::GetSupportInfoFn>(::dlsym(m_handle, aspi::kSupportInfoName));
    }
    aspi::SendCommandFn SendCommand() const override {
        return reinterpret_cast<aspi::SendCommandFn>(::dlsym(m_handle, aspi::kSendCommandName));
    }
    aspi::WaitCommandFn WaitCommand() const override {
        return reinterpret_cast<aspi::WaitCommandFn>(::dlsym(m_handle, aspi::kWaitCommandName));
    }

  private:
    void* m_handle;
};

const char* AspiLibraryPath() {
    const char* path = std::getenv(kAspiLibraryVariable);
    return (path != nullptr && *path != '\0') ? path : nullptr;
}

class LinuxPlatform final : public Platform {
  public:
    bool PassThroughFamily() override { return AspiLibraryPath() == nullptr; }

    std::unique_ptr<TransportPath> MakePassThroughPath() override { return MakeSgPath(RealSgSystem()); }

    std::unique_ptr<AspiLibrary> LoadAspiLibrary() override {
        const char* path = AspiLibraryPath();
        return path != nullptr ? LoadAspiLibraryFile(path) : nullptr;
    }

    // No event objects here: requests are polled.
    std::unique_ptr<CompletionEvent> CreateCompletionEvent() override { return nullptr; }
};

}  // namespace

std::unique_ptr<AspiLibrary> LoadAspiLibraryFile(const std::string& path) {
    // Kept mapped after the last close: a library may still be finishing a request on its own
    // thread when the table that loaded it goes away.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) return nullptr;
    return std::make_unique<DlLibrary>(handle);
}

std::shared_ptr<Platform> SystemPlatform() {
    static const std::shared_ptr<Platform> platform = std::make_shared<LinuxPlatform>();
    return platform;
}

}  // namespace dravix

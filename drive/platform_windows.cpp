// Windows: pass-through on the NT family, the WNASPI32 library elsewhere.

#include <windows.h>

#include <algorithm>

#include "drive/Platform.h"
#include "drive/SptiSystem.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

class Win32Library final : public AspiLibrary {
  public:
    explicit Win32Library(HMODULE module) : m_module(module) {}
    ~Win32Library() override { ::FreeLibrary(m_module); }

    aspi::GetSupportInfoFn SupportInfo() const override {
        return reinterpret_cast<aspi::GetSupportInfoFn>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, aspi::kSupportInfoName)));
    }
    aspi::SendCommandFn SendCommand() const override {
        return reinterpret_cast<aspi::SendCommandFn>(
            reinterpret_cast<void*>(::GetProcAddress(m_module, aspi::kSendCommandName)));
    }

  private:
    HMODULE m_module;
};

class Win32Event final : public CompletionEvent {
  public:
    explicit Win32Event(HANDLE event) : m_event(event) {}
    ~Win32Event() override { ::CloseHandle(m_event); }
    void* NativeHandle() override { return m_event; }
    bool Wait(std::chrono::milliseconds limit) override {
        const DWORD ms = limit.count() >= static_cast<long long>(INFINITE)
                             ? INFINITE - 1
                             : static_cast<DWORD>(std::max<long long>(limit.count(), 0));
        return ::WaitForSingleObject(m_event, ms) == WAIT_OBJECT_0;
    }

  private:
    HANDLE m_event;
};

class WindowsPlatform final : public Platform {
  public:
    bool PassThroughFamily() override {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!::GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
        return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }

    std::unique_ptr<TransportPath> MakePassThroughPath() override {
        return MakeSptiPath(RealSptiSystem());
    }

    std::unique_ptr<AspiLibrary> LoadAspiLibrary() override {
        return LoadAspiLibraryFile("WNASPI32");
    }

    std::unique_ptr<CompletionEvent> CreateCompletionEvent() override {
        HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) return nullptr;
        return std::make_unique<Win32Event>(event);
    }
};

}  // namespace

std::unique_ptr<AspiLibrary> LoadAspiLibraryFile(const std::string& path) {
    HMODULE module = ::LoadLibraryA(path.c_str());
    if (module == nullptr) return nullptr;
    return std::make_unique<Win32Library>(module);
}

std::shared_ptr<Platform> SystemPlatform() {
    static const std::shared_ptr<Platform> platform = std::make_shared<WindowsPlatform>();
    return platform;
}

}  // namespace dravix

#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "drive/Platform.h"
#include "drive/SgSystem.h"
#include "drive/TransportPath.h"

namespace dravix::test {

// A platform whose pass-through path runs over a given SgSystem and whose ASPI library comes from
// a loader of the test's choice.
class TestPlatform final : public Platform {
  public:
    bool passThrough = true;
    std::shared_ptr<SgSystem> sg;
    std::function<std::unique_ptr<AspiLibrary>()> loadAspi;
    std::function<std::chrono::steady_clock::time_point()> now;  // empty: the steady clock

    bool PassThroughFamily() override { return passThrough; }
    std::unique_ptr<TransportPath> MakePassThroughPath() override { return MakeSgPath(sg); }
    std::unique_ptr<AspiLibrary> LoadAspiLibrary() override { return loadAspi ? loadAspi() : nullptr; }
    std::unique_ptr<CompletionEvent> CreateCompletionEvent() override { return nullptr; }
    std::chrono::steady_clock::time_point Now() override { return now ? now() : Platform::Now(); }
};

// An ASPI library made of two plain functions (tests keep their state in globals).
class FunctionLibrary final : public AspiLibrary {
  public:
    FunctionLibrary(aspi::GetSupportInfoFn info, aspi::SendCommandFn send) : m_info(info), m_send(send) {}
    aspi::GetSupportInfoFn SupportInfo() const override { return m_info; }
    aspi::SendCommandFn SendCommand() const override { return m_send; }

  private:
    aspi::GetSupportInfoFn m_info;
    aspi::SendCommandFn m_send;
};

}  // namespace dravix::test

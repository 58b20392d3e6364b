#pragma once

// What the Information and Book Type page tests share: a virtual drive on the bus, a prompter
// that records every message box and answers from a script, and small accessors by control id.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

#include "tests/support/ScriptedPrompter.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace dravix::test {

using Bytes = std::vector<uint8_t>;

struct PageFixture : ::testing::Test {
    PageFixture() { services.drives = bus.Drives(); }

    void SetUp() override { services.prompter = prompter; }

    void Insert(const char* media) {
        ASSERT_TRUE(drive.Insert(media));
        bus.ClearCommands();
    }

    emu::FaultRule& Fault(uint8_t opcode, std::map<uint8_t, uint8_t> bytes = {}) {
        emu::FaultRule rule;
        rule.opcode = opcode;
        rule.bytes = std::move(bytes);
        rule.sense = emu::kInvalidFieldInCdb;
        pending.push_back(rule);
        return pending.back();
    }
    void Arm() {
        for (const auto& rule : pending) drive.AddFault(rule);
        pending.clear();
    }

    size_t CountSent(const Bytes& cdb) const {
        const auto commands = bus.Commands();
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), cdb));
    }
    bool Sent(const Bytes& cdb) const { return CountSent(cdb) != 0; }
    size_t CountOpcode(uint8_t opcode) const {
        const auto commands = bus.Commands();
        return static_cast<size_t>(
            std::count_if(commands.begin(), commands.end(), [&](const Bytes& c) { return c[0] == opcode; }));
    }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    std::shared_ptr<ScriptedPrompter> prompter = std::make_shared<ScriptedPrompter>();
    AppServices services;
    std::deque<emu::FaultRule> pending;
};

inline QString Text(const PropertyPage& page, int id) {
    if (auto* label = page.Control<QLabel>(id)) return label->text();
    if (auto* button = page.Control<QAbstractButton>(id)) return button->text();
    ADD_FAILURE() << "no control " << id;
    return {};
}

inline bool Enabled(const PropertyPage& page, int id) {
    return page.Control(id)->isEnabled();
}

// A click, and what it started run to its end.
inline void Click(const PropertyPage& page, int id) {
    auto* button = page.Control<QAbstractButton>(id);
    ASSERT_NE(button, nullptr) << id;
    button->click();
    EXPECT_TRUE(Settle(page));
}

}  // namespace dravix::test

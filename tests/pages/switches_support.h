#pragma once

// What the switch page tests share: a virtual drive on the bus, a prompter that records and
// answers every message box, a dialog runner that clicks the setting-scope dialog's buttons, and
// the command blocks the pages send.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "drive/OptionCommands.h"
#include "res/Icons.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace dravix::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Vendor(uint8_t subCode, Bytes from6 = {}) {
    Bytes cdb = {0xFD, subCode, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    std::copy(from6.begin(), from6.end(), cdb.begin() + 6);
    return cdb;
}

inline const Bytes kVendorOn = Vendor(0xF1);
inline const Bytes kVendorOff = Vendor(0xF2);
inline const Bytes kReadOptions = Vendor(0x1B, {0x16, 0x01, 0x04});
inline const Bytes kReadSwitches = Vendor(0xFB, {0x00, 0x00, 0x04});
inline const Bytes kLearnedCount = Vendor(0x1B, {0x16, 0x05, 0x02});
inline const Bytes kMediaInformation = Vendor(0x1B, {0x16, 0x07});
inline Bytes OverSpeedWrite(uint8_t state) {
    return Vendor(0x1B, {0x16, 0x06, state});
}
inline Bytes LumardWrite(uint8_t unknownDisc, uint8_t supportedDisc) {
    return Vendor(0x1B, {0x16, 0x02, unknownDisc, supportedDisc});
}

// Drives the modal setting-scope dialog: clicks the button with the given id (0 = closes it with
// the close box) and records what it found.
struct DialogScript {
    int click = 0;
    int runs = 0;
    bool buttonsEnabled = false;
    QString text1077, text1078;
};

struct SwitchPageFixture : ::testing::Test {
    SwitchPageFixture() { services.drives = bus.Drives(); }

    void SetUp() override {
        services.prompter = prompter;
        prompter->runaway = [this] { drive.RemoveDisc(); };
        services.dialogRunner = [this](QDialog& dialog) {
            ++dialogScript.runs;
            // The dialog finds its drives first.
            EXPECT_TRUE(Settle(dialog));
            auto* temporary = dialog.findChild<QPushButton*>(ControlName(1010));
            auto* permanent = dialog.findChild<QPushButton*>(ControlName(1015));
            dialogScript.buttonsEnabled =
                temporary && permanent && temporary->isEnabled() && permanent->isEnabled();
            if (auto* label = dialog.findChild<QLabel*>(ControlName(1077)))
                dialogScript.text1077 = label->text();
            if (auto* label = dialog.findChild<QLabel*>(ControlName(1078)))
                dialogScript.text1078 = label->text();
            if (dialogScript.click != 0) {
                dialog.findChild<QPushButton*>(ControlName(dialogScript.click))->click();
                EXPECT_TRUE(Settle(dialog));
            }
            return dialog.result();
        };
    }

    // Makes the drive answer `reply` instead of running the matching command, or fail it when
    // there is no reply.
    void Fault(uint8_t subCode, std::optional<uint8_t> function, std::map<uint8_t, uint8_t> bytes,
               std::optional<Bytes> reply = std::nullopt) {
        emu::FaultRule rule;
        rule.opcode = 0xFD;
        rule.subCode = subCode;
        rule.function = function;
        rule.bytes = std::move(bytes);
        rule.sense = emu::kInvalidFieldInCdb;
        if (reply) {
            rule.action = emu::FaultRule::Action::Reply;
            rule.reply = std::move(*reply);
        }
        drive.AddFault(rule);
    }
    void OptionReply(Bytes reply) { Fault(0x1B, 0x16, {{7, 0x01}}, std::move(reply)); }
    void SwitchReply(Bytes reply) { Fault(0xFB, 0x00, {}, std::move(reply)); }

    bool Sent(const Bytes& cdb) const {
        const auto commands = bus.Commands();
        return std::find(commands.begin(), commands.end(), cdb) != commands.end();
    }
    size_t CountSent(const Bytes& cdb) const {
        const auto commands = bus.Commands();
        return static_cast<size_t>(std::count(commands.begin(), commands.end(), cdb));
    }
    std::vector<Bytes> VendorCommands() const {
        std::vector<Bytes> vendor;
        for (const Bytes& cdb : bus.Commands()) {
            if (cdb[0] == 0xFD) vendor.push_back(cdb);
        }
        return vendor;
    }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    std::shared_ptr<ScriptedPrompter> prompter = std::make_shared<ScriptedPrompter>();
    DialogScript dialogScript;
    AppServices services;
};

inline bool ShowsIcon(const QWidget* page, int controlId, int iconId) {
    const auto* label = page->findChild<QLabel*>(ControlName(controlId));
    if (label == nullptr || label->pixmap().isNull()) return false;
    return label->pixmap().toImage() == LoadIconPixmap(iconId, 32).toImage();
}

inline bool HasIcon(const QWidget* page, int controlId) {
    const auto* label = page->findChild<QLabel*>(ControlName(controlId));
    return label != nullptr && !label->pixmap().isNull();
}

inline bool Checked(const QWidget* page, int controlId) {
    return page->findChild<QAbstractButton*>(ControlName(controlId))->isChecked();
}

// A click, and what it started run to its end.
inline void Click(const QWidget* page, int controlId) {
    page->findChild<QAbstractButton*>(ControlName(controlId))->click();
    EXPECT_TRUE(Settle(*page));
}

inline QString Text(const QWidget* page, int controlId) {
    return page->findChild<QLabel*>(ControlName(controlId))->text();
}

}  // namespace dravix::test

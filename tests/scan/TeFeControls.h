#pragma once

// The Probix page as its controls show it, found by their object names: what the poll and the
// runs have left in the speed list, and whether any of the page's workers still goes.

#include <QAction>
#include <QComboBox>
#include <cstdint>
#include <optional>
#include <vector>

#include "probix/ResultsFile.h"
#include "scan/ResultsWindow.h"
#include "scan/TeFe.h"
#include "ui/DriveSequence.h"
#include "ui/PropertyPage.h"
#include "ui/Workers.h"

namespace dravix::test {

inline QComboBox* SpeedListOf(const CTEFE& page) {
    return page.findChild<QComboBox*>(ControlName(CTEFE::kSpeedComboId));
}

// The speed codes the list offers, line by line; empty while it shows "N/A" or nothing.
inline std::vector<uint8_t> OfferedSpeedCodes(const CTEFE& page) {
    std::vector<uint8_t> codes;
    const QComboBox* list = SpeedListOf(page);
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemData(i).isValid()) codes.push_back(static_cast<uint8_t>(list->itemData(i).toUInt()));
    }
    return codes;
}

// The code of the chosen speed line; 0 when the line is not a speed.
inline uint8_t ChosenSpeedCode(const CTEFE& page) {
    const QVariant code = SpeedListOf(page)->currentData();
    return code.isValid() ? static_cast<uint8_t>(code.toUInt()) : 0;
}

// The page's polls, runs and steps that have not ended (a stopped run still at the drive among
// them): the workers of its drive sequence (none before the initialisation).
inline size_t RunningWorkers(const CTEFE& page) {
    const auto* sequence = page.findChild<DriveSequence*>(QString(), Qt::FindDirectChildrenOnly);
    if (sequence == nullptr) return 0;
    return sequence
        ->findChild<Workers*>(QString::fromLatin1(DriveSequence::kWorkersName), Qt::FindDirectChildrenOnly)
        ->Running();
}

// The page's command of that object name (Save Scan Results..., Show in Results Window...).
inline QAction* PageCommand(const CTEFE& page, const char* name) {
    return page.findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

// What the page keeps of its last run, as its "Show in Results Window" shows it (the window is
// closed again); none while the command is not offered.
inline std::optional<ScanResults> KeptRun(const CTEFE& page) {
    QAction* show = PageCommand(page, CTEFE::kShowResultsName);
    if (show == nullptr || !show->isEnabled()) return std::nullopt;
    const QList<CResultsWindow*> before = page.window()->findChildren<CResultsWindow*>();
    show->trigger();
    for (CResultsWindow* window : page.window()->findChildren<CResultsWindow*>()) {
        if (before.contains(window)) continue;
        ScanResults results = window->Results();
        delete window;
        return results;
    }
    return std::nullopt;
}

}  // namespace dravix::test

#pragma once

// The main window's controls as the user sees them, found by their object names.

#include <QComboBox>
#include <QMenuBar>
#include <QTimer>

#include "app/MainDialog.h"
#include "ui/PropertyPage.h"

namespace dravix::test {

inline QComboBox* DriveListOf(const CMainDialog& window) {
    return window.findChild<QComboBox*>(ControlName(CMainDialog::kDriveListId), Qt::FindDirectChildrenOnly);
}

inline QTimer& TimerOf(const CMainDialog& window) {
    return *window.findChild<QTimer*>(QString::fromLatin1(CMainDialog::kTimerName),
                                      Qt::FindDirectChildrenOnly);
}

inline QMenuBar* MenuBarOf(const CMainDialog& window) {
    return window.findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly);
}

}  // namespace dravix::test

#pragma once

// Waits, processing the UI thread's events, until a window's drive work is done: its drive
// sequences and every worker it started have delivered what they found. No sleeps: the wait ends
// as soon as the work is done.

#include <gtest/gtest.h>

#include <QObject>
#include <QTest>

#include "ui/DriveSequence.h"

namespace dravix::test {

inline bool Settle(const QObject& window, int timeoutMs = 60000) {
    return QTest::qWaitFor([&] { return !DriveSequence::AnyWorking(window); }, timeoutMs);
}

// A page's initialisation, a notification from the sheet, and one tray poll, each run to its end.
template <typename Page>
void Init(Page& page) {
    page.EnsureInitialised();
    EXPECT_TRUE(Settle(page));
}
template <typename Page>
void Notify(Page& page) {
    page.OnSheetNotify();
    EXPECT_TRUE(Settle(page));
}
template <typename Page>
void Poll(Page& page) {
    page.PollTray();
    EXPECT_TRUE(Settle(page));
}

}  // namespace dravix::test

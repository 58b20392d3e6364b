#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QUrl>
#include <memory>
#include <vector>

#include "ui/HyperLink.h"
#include "ui/Services.h"

namespace dravix::test {

// Records every message box and answers OK.
class RecordingPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget*, const PromptRecord& record) override {
        records.push_back(record);
        return PromptAnswer::Ok;
    }
    std::vector<PromptRecord> records;
};

// Keeps an environment variable as it was before the test.
class SavedEnv final {
  public:
    explicit SavedEnv(const char* name)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_value(qgetenv(name)) {}
    ~SavedEnv() {
        if (m_wasSet)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }
    SavedEnv(const SavedEnv&) = delete;
    SavedEnv& operator=(const SavedEnv&) = delete;

  private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_value;
};

// Links open nothing real here: the desktop's answer and the browser start are scripted, and
// every box and every attempt is recorded.
class LinkFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        services.prompter = m_prompter;
        services.urlOpener = [this](const QUrl& url) {
            opened.push_back(url);
            return desktopOpens;
        };
        services.linkLauncher = [this](const LaunchCommand& command) {
            launched.push_back(command);
            return launchResult;
        };
        // A known browser command, whatever this machine has.
        qputenv("BROWSER", "test-browser");
    }
    const std::vector<PromptRecord>& Boxes() const { return m_prompter->records; }

    AppServices services;
    bool desktopOpens = true;
    int launchResult = kLinkOpened;
    std::vector<QUrl> opened;
    std::vector<LaunchCommand> launched;

  private:
    SavedEnv m_browser{"BROWSER"};
    SavedEnv m_path{"PATH"};
    std::shared_ptr<RecordingPrompter> m_prompter = std::make_shared<RecordingPrompter>();
};

}  // namespace dravix::test

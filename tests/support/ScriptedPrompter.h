#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "ui/Prompter.h"

namespace dravix::test {

// Records every message box the program asks for and answers it: from `answers` in order while
// any are left, then with the test's answer function if it gave one, else Yes to questions and OK
// to the rest. Too many boxes in one test mean a loop that would never end: the test fails and
// `runaway` may break the loop.
class ScriptedPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget*, const PromptRecord& record) override {
        asked.push_back(record);
        if (asked.size() > 50) {
            ADD_FAILURE() << "more than 50 message boxes, last: " << record.text.toStdString();
            if (runaway) runaway();
        }
        if (!answers.empty()) {
            const PromptAnswer next = answers.front();
            answers.pop_front();
            return next;
        }
        if (answer) return answer(record);
        return record.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const PromptRecord& r : asked) texts.push_back(r.text);
        return texts;
    }

    std::vector<PromptRecord> asked;
    std::deque<PromptAnswer> answers;
    std::function<PromptAnswer(const PromptRecord&)> answer;
    std::function<void()> runaway;
};

}  // namespace dravix::test

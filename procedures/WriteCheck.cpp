#include "procedures/WriteCheck.h"

namespace dravix {

WriteOutcome ClassifyWrite(bool writeCompleted, std::optional<bool> holdsRequested) {
    if (writeCompleted) {
        if (!holdsRequested) return {WriteCheck::ReadBackFailed, false};
        return {*holdsRequested ? WriteCheck::Confirmed : WriteCheck::Differs, false};
    }
    // The failure the write reported stands only when the drive agrees with it.
    if (!holdsRequested) return {WriteCheck::Unknown, true};
    if (*holdsRequested) return {WriteCheck::Confirmed, true};
    return {WriteCheck::WriteFailed, false};
}

WriteFacts FactsOf(const WriteOutcome& outcome) {
    switch (outcome.check) {
        case WriteCheck::Confirmed:
            return {true, true, outcome.answerLost};
        case WriteCheck::Differs:
            return {true, false, false};
        case WriteCheck::ReadBackFailed:
            return {true, std::nullopt, false};
        case WriteCheck::WriteFailed:
            return {false, false, false};
        case WriteCheck::Unknown:
            return {std::nullopt, std::nullopt, true};
        case WriteCheck::Refused:
            break;
    }
    return {false, std::nullopt, false};
}

namespace write_texts {

std::string AnswerLostUnread(const std::string& howToCheck) {
    return "The drive's answer to the write was lost and its setting could not be read back; check it with " +
           howToCheck + ".";
}

}  // namespace write_texts

}  // namespace dravix

#include "probix/Judgement.h"

#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"

namespace dravix {

namespace {

bool IsVerdict(const std::string& text) {
    return text == scan_texts::kVerdictOk || text == scan_texts::kVerdictNotRecommended ||
           text.rfind(scan_texts::kHighestRecommended, 0) == 0 || text == scan_texts::kNoSpeedRecommended;
}

std::optional<StoredVerdictFault> Disagrees(const char* key, std::string what) {
    return StoredVerdictFault{key, std::move(what)};
}

std::optional<StoredVerdictFault> CheckScan(const ScanResults& r) {
    const size_t planned = SamplePoints(r.range, BaseStepOf(r.mode), r.discTypeCode, r.lastLba).size();
    const size_t measured = r.samples.size();
    if (measured > planned) {
        return Disagrees("samples", "the file holds " + std::to_string(measured) +
                                        " samples where its range has " + std::to_string(planned) +
                                        " positions");
    }
    const bool over = r.statistics.all.te.overLimit != 0 || r.statistics.all.fe.overLimit != 0;
    const std::string& verdict = r.verdictText;
    switch (r.outcome) {
        case RunOutcome::Ok:
        case RunOutcome::NotRecommended: {
            // A verdict judges every position of the range.
            if (measured != planned) {
                return Disagrees("result", "a verdict needs all " + std::to_string(planned) +
                                               " positions of the range, the file holds " +
                                               std::to_string(measured) + " samples");
            }
            const RunOutcome judged = over ? RunOutcome::NotRecommended : RunOutcome::Ok;
            if (r.outcome != judged)
                return Disagrees("result", std::string("the result is not the samples' verdict (") +
                                               OutcomeName(judged) + ")");
            const char* text = over ? scan_texts::kVerdictNotRecommended : scan_texts::kVerdictOk;
            if (verdict != text) return Disagrees("verdict", "the verdict is not the samples' verdict");
            return std::nullopt;
        }
        case RunOutcome::Stopped:
            if (verdict != scan_texts::kUserAbort)
                return Disagrees("verdict", "the verdict does not match the result (stopped)");
            return std::nullopt;
        case RunOutcome::Failed:
            if (IsVerdict(verdict))
                return Disagrees("verdict", "the verdict does not match the result (failed)");
            return std::nullopt;
        case RunOutcome::NoVerdict:
            // Nothing measured (a range without positions, or another disc before the first), or
            // every position measured on a disc that was changed meanwhile.
            if (measured != 0 && measured != planned)
                return Disagrees("result", "a run without a verdict holds none or all of its samples");
            for (NoVerdictReason reason : {NoVerdictReason::NoPosition, NoVerdictReason::EndBelowStart,
                                           NoVerdictReason::DiscChanged}) {
                if (verdict == NoVerdictText(reason)) return std::nullopt;
            }
            return Disagrees("verdict", "the verdict does not match the result (no_verdict)");
        case RunOutcome::DiscChanged:
            break;
    }
    return Disagrees("result", "a TE/FE run's result is never disc_changed");
}

}  // namespace

SmartVerdict JudgeSmartReport(std::span<const SmartRow> rows, const SmartDisc& disc) {
    SmartVerdict verdict;
    bool stopped = false;
    bool failed = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        stopped = stopped || rows[i].result == SpeedResult::Stopped;
        failed = failed || rows[i].result == SpeedResult::Failed;
        if (rows[i].result == SpeedResult::Fit &&
            (!verdict.recommended || rows[i].kbps > rows[*verdict.recommended].kbps))
            verdict.recommended = i;
    }
    if (disc.changed) {
        verdict.outcome = RunOutcome::DiscChanged;
        verdict.text = scan_texts::kDiscChanged;
    } else if (stopped || disc.stoppedBeforeCheck) {
        verdict.outcome = RunOutcome::Stopped;
        verdict.text = scan_texts::kUserAbort;
    } else if (disc.identifiersUnread) {
        verdict.outcome = RunOutcome::Failed;
        verdict.text = scan_texts::kIdentifiersUnread;
    } else if (failed) {
        verdict.outcome = RunOutcome::Failed;
        verdict.text = scan_texts::kMeasurementFailed;
    } else if (verdict.recommended) {
        verdict.outcome = RunOutcome::Ok;
        verdict.text = scan_texts::kHighestRecommended +
                       std::string(ShortSpeedLabel(rows[*verdict.recommended].speedCode));
        return verdict;
    } else {
        verdict.outcome = RunOutcome::NotRecommended;
        verdict.text = scan_texts::kNoSpeedRecommended;
    }
    verdict.recommended.reset();
    return verdict;
}

bool SmartIdentifiersUnread(const ScanResults& results) {
    if (results.identifiersRead) return !*results.identifiersRead;
    return results.manufacturerId == scan_texts::kNotAvailable &&
           results.mediaTypeId == scan_texts::kNotAvailable;
}

std::optional<StoredVerdictFault> CheckStoredVerdict(const ScanResults& r) {
    if (r.kind == ScanResults::Kind::Scan) return CheckScan(r);
    // The file keeps no sign of a changed disc or of a stop before the last check but the result
    // itself; either only takes a verdict away.
    const SmartDisc disc{r.outcome == RunOutcome::DiscChanged, SmartIdentifiersUnread(r),
                         r.outcome == RunOutcome::Stopped};
    const SmartVerdict judged = JudgeSmartReport(r.speeds, disc);
    if (judged.outcome != r.outcome)
        return Disagrees("result", std::string("the result is not the speed rows' verdict (") +
                                       OutcomeName(judged.outcome) + ")");
    if (judged.text != r.verdictText)
        return Disagrees("verdict", "the verdict is not the speed rows' verdict");
    return std::nullopt;
}

}  // namespace dravix

#include "emu/Scenario.h"

#include <algorithm>
#include <stdexcept>

#include "emu/Media.h"
#include "emu/StateFile.h"

namespace dravix::emu {

namespace {

DriveState WithDisc(DriveState state, const char* media) {
    const MediaInfo* info = FindMedia(media);
    state.disc = Disc{info->name, info->bookType};
    return state;
}

// The lowest target that none of `states` has; none when all are taken.
std::optional<uint8_t> LowestFreeTarget(const std::vector<DriveState>& states) {
    for (uint8_t target = 0; target < kTargetCount; ++target) {
        if (std::none_of(states.begin(), states.end(),
                         [target](const DriveState& s) { return s.target == target; }))
            return target;
    }
    return std::nullopt;
}

// Every drive without a target gets the lowest free one, in list order (a state file written
// before drives had targets lists them at 0, 1, 2...).
void AssignTargets(std::vector<DriveState>& states) {
    for (DriveState& state : states) {
        if (!state.target) state.target = LowestFreeTarget(states);
    }
}

}  // namespace

std::optional<Preset> PresetFromName(std::string_view name) {
    if (name == "demo") return Preset::Demo;
    if (name == "minimal") return Preset::Minimal;
    if (name == "two-drives") return Preset::TwoDrives;
    return std::nullopt;
}

static std::vector<DriveState> PresetStates(Preset preset) {
    switch (preset) {
        case Preset::Demo: {
            DriveState maker = WithDisc(FactoryState(DriveKind::Maker), "dvd+r");
            maker.learnedDiscs = {"ORIONDSCR16", "BUDGETMDR08", "PRISMADR16G1"};
            // What a real drive takes: a tray movement, a disc spinning up, a vendor command, a sample.
            maker.latencyMs[static_cast<size_t>(LatencyClass::Tray)] = 800;
            maker.latencyMs[static_cast<size_t>(LatencyClass::SpinUp)] = 1000;
            maker.latencyMs[static_cast<size_t>(LatencyClass::SpinDown)] = 600;
            maker.latencyMs[static_cast<size_t>(LatencyClass::Vendor)] = 20;
            maker.latencyMs[static_cast<size_t>(LatencyClass::TeFe)] = 40;
            DriveState other = WithDisc(FactoryState(DriveKind::OtherMaker), "dvd-rom");
            other.latencyMs[static_cast<size_t>(LatencyClass::Tray)] = 800;
            other.latencyMs[static_cast<size_t>(LatencyClass::SpinUp)] = 1000;
            other.latencyMs[static_cast<size_t>(LatencyClass::SpinDown)] = 600;
            return {maker, other};
        }
        case Preset::Minimal:
            return {WithDisc(FactoryState(DriveKind::Maker), "dvd+r")};
        case Preset::TwoDrives: {
            DriveState second = WithDisc(FactoryState(DriveKind::Maker), "dvd+rw-recorded");
            second.revision = "1.08";
            second.featureCodes = {2, 3, 5};
            return {WithDisc(FactoryState(DriveKind::Maker), "dvd+r"), second};
        }
    }
    return {};
}

std::vector<DriveState> PresetDrives(Preset preset) {
    std::vector<DriveState> drives = PresetStates(preset);
    AssignTargets(drives);
    return drives;
}

Scenario::Scenario() = default;

Scenario::Scenario(Preset preset) : Scenario(PresetDrives(preset)) {}

Scenario::Scenario(const std::vector<DriveState>& drives) {
    Apply(drives);
}

Scenario::~Scenario() = default;

Result<std::unique_ptr<Scenario>> Scenario::Open(const std::string& path) {
    Result<std::optional<std::string>> read = ReadTextFile(path);
    if (!read) return Error{path + ": " + read.Failure().text};
    if (!read->has_value()) return Error{path + ": no such file (create it with: dravix-vdrive init)"};
    const std::string& text = **read;
    const Result<std::vector<DriveState>> drives = StateFromText(text);
    if (!drives) return Error{path + ": " + drives.Failure().text};
    auto scenario = std::make_unique<Scenario>(*drives);
    scenario->m_path = path;
    scenario->m_fileLock = std::make_unique<StateFileLock>(path);
    scenario->m_lastText = text;
    return scenario;
}

Result<void> Scenario::BindToFile(const std::string& path) {
    std::lock_guard guard(m_mutex);
    auto lock = std::make_unique<StateFileLock>(path);
    lock->Acquire();
    const std::string text = StateToText(CurrentStates());
    const Result<void> written = WriteTextFileAtomically(path, text);
    lock->Release();
    if (!written) return Error{path + ": " + written.Failure().text};
    m_path = path;
    m_fileLock = std::move(lock);
    m_lastText = text;
    m_fileBad = false;
    m_error.clear();
    return {};
}

size_t Scenario::DriveCount() {
    Lock();
    const size_t count = m_listed.size();
    Unlock(false);
    return count;
}

VirtualDrive& Scenario::Drive(size_t index) {
    Lock();
    VirtualDrive* drive = index < m_listed.size() ? m_listed[index] : nullptr;
    Unlock(false);
    if (!drive) throw std::out_of_range("no virtual drive " + std::to_string(index));
    return *drive;
}

VirtualDrive* Scenario::DriveAtTarget(uint8_t target) {
    Lock();
    const auto found = std::find_if(m_listed.begin(), m_listed.end(), [target](const VirtualDrive* drive) {
        return drive->Target() == target;
    });
    VirtualDrive* drive = found != m_listed.end() ? *found : nullptr;
    Unlock(false);
    return drive;
}

VirtualDrive& Scenario::AddDrive(DriveKind kind) {
    return AddDrive(FactoryState(kind));
}

VirtualDrive& Scenario::AddDrive(const DriveState& state) {
    Lock();
    std::vector<DriveState> states = CurrentStates();
    DriveState added = state;
    if (!added.target || std::any_of(states.begin(), states.end(),
                                     [&](const DriveState& s) { return s.target == added.target; }))
        added.target = LowestFreeTarget(states);
    VirtualDrive& drive = FreeDrive(m_listed);
    drive.ReplaceState(added);
    drive.SetDetached(false);
    m_listed.push_back(&drive);
    Unlock(true);
    return drive;
}

bool Scenario::RemoveDrive(size_t index) {
    Lock();
    std::vector<DriveState> states = CurrentStates();
    const bool found = index < states.size();
    if (found) {
        states.erase(states.begin() + static_cast<std::ptrdiff_t>(index));
        Apply(states);
    }
    Unlock(found);
    return found;
}

std::vector<DriveState> Scenario::States() {
    Lock();
    std::vector<DriveState> states = CurrentStates();
    Unlock(false);
    return states;
}

std::string Scenario::Text() {
    return StateToText(States());
}

std::string Scenario::LastError() {
    std::lock_guard guard(m_mutex);
    return m_error;
}

void Scenario::SetErrorSink(std::function<void(const std::string&)> sink) {
    std::lock_guard guard(m_mutex);
    m_errorSink = std::move(sink);
}

void Scenario::SetClock(NowFunction now) {
    std::lock_guard guard(m_mutex);
    m_now = now;
    for (auto& drive : m_drives) drive->SetClock(now);
}

void Scenario::SetSleeper(SleepFunction sleep) {
    std::lock_guard guard(m_mutex);
    m_sleep = sleep;
    for (auto& drive : m_drives) drive->SetSleeper(sleep);
}

void Scenario::SetMicrosecondSleeper(MicrosecondSleepFunction sleep) {
    std::lock_guard guard(m_mutex);
    m_microSleep = sleep;
    for (auto& drive : m_drives) drive->SetMicrosecondSleeper(sleep);
}

void Scenario::Lock() {
    m_mutex.lock();
    if (m_depth++ == 0 && m_fileLock) {
        m_fileLock->Acquire();
        Refresh();
    }
}

bool Scenario::Unlock(bool changed) {
    m_dirty = m_dirty || changed;
    bool saved = true;
    if (--m_depth == 0 && m_fileLock) {
        if (m_dirty) saved = Save();
        m_fileLock->Release();
    }
    if (m_depth == 0) m_dirty = false;
    m_mutex.unlock();
    return saved;
}

// With the file locked: takes over what another process wrote since we last looked.
void Scenario::Refresh() {
    const Result<std::optional<std::string>> read = ReadTextFile(m_path);
    if (!read) {
        m_fileBad = true;
        m_lastText.clear();
        ReportError(m_path + ": " + read.Failure().text);
        return;
    }
    if (!read->has_value()) {
        // Deleted under us: keep running and write it anew at the next change.
        m_fileBad = false;
        m_lastText.clear();
        m_error.clear();
        return;
    }
    const std::string& text = **read;
    if (text == m_lastText) return;  // unchanged, good or bad
    const Result<std::vector<DriveState>> states = StateFromText(text);
    if (!states) {
        m_fileBad = true;
        m_lastText = text;
        ReportError(m_path + ": " + states.Failure().text);
        return;
    }
    m_fileBad = false;
    m_error.clear();
    m_lastText = text;
    Apply(*states);
}

bool Scenario::Save() {
    // A file we could not read is the user's to repair, not ours to replace: nothing is kept.
    if (m_fileBad) return false;
    const std::string text = StateToText(CurrentStates());
    if (text == m_lastText) return true;
    if (const Result<void> written = WriteTextFileAtomically(m_path, text); !written) {
        ReportError(m_path + ": " + written.Failure().text);
        return false;
    }
    m_lastText = text;
    m_error.clear();
    return true;
}

void Scenario::Apply(const std::vector<DriveState>& given) {
    std::vector<DriveState> states = given;
    AssignTargets(states);
    // Each drive stays the object it was, found by its target; only a drive that joins takes a
    // free one. References to a drive keep meaning that drive wherever the list moves it.
    std::vector<VirtualDrive*> listed;
    for (const DriveState& state : states) {
        const auto same = std::find_if(m_listed.begin(), m_listed.end(), [&](const VirtualDrive* drive) {
            return state.target && drive->Target() == state.target &&
                   std::find(listed.begin(), listed.end(), drive) == listed.end();
        });
        listed.push_back(same != m_listed.end() ? *same : nullptr);
    }
    for (size_t i = 0; i < states.size(); ++i) {
        if (!listed[i]) listed[i] = &FreeDrive(listed);
    }
    for (size_t i = 0; i < states.size(); ++i) {
        listed[i]->ReplaceState(states[i]);
        listed[i]->SetDetached(false);
    }
    for (const auto& drive : m_drives) {
        if (std::find(listed.begin(), listed.end(), drive.get()) == listed.end()) drive->SetDetached(true);
    }
    m_listed = std::move(listed);
}

VirtualDrive& Scenario::FreeDrive(const std::vector<VirtualDrive*>& listed) {
    // An object that `listed` does not use (a drive removed or detached by a shorter file), so
    // references stay unique.
    for (const auto& drive : m_drives) {
        if (std::find(listed.begin(), listed.end(), drive.get()) == listed.end()) return *drive;
    }
    auto drive = std::make_unique<VirtualDrive>(DriveState{});
    if (m_now) drive->SetClock(m_now);
    if (m_sleep) drive->SetSleeper(m_sleep);
    if (m_microSleep) drive->SetMicrosecondSleeper(m_microSleep);
    drive->AttachStore(this);
    m_drives.push_back(std::move(drive));
    return *m_drives.back();
}

void Scenario::ReportError(std::string error) {
    if (error == m_error) return;
    m_error = std::move(error);
    if (m_errorSink) m_errorSink(m_error);
}

std::vector<DriveState> Scenario::CurrentStates() const {
    std::vector<DriveState> states;
    for (const VirtualDrive* drive : m_listed) states.push_back(drive->LocalState());
    return states;
}

}  // namespace dravix::emu

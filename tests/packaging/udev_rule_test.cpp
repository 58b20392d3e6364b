// The drive access rule the package installs, read with udev's syntax and run over devices as the
// kernel presents them: it must load the SCSI generic driver when a CD/DVD drive appears and tag
// the SCSI generic node of CD/DVD drives, and do nothing else.
//
// udev itself cannot be asked offline (its test commands need the real device in sysfs), so this
// file carries a small evaluator of the part of the rule language the rule may use: match keys on
// the device and on one of its parents, TAG assignments, RUN{builtin} with the kmod builtin, GOTO
// and LABEL. A key, operator or builtin outside that part fails the test rather than being
// skipped.

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kRuleFile = DRAVIX_PACKAGING_DIR "/70-dravix.rules";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Key {
    std::string name;       // ACTION, ATTRS, …
    std::string attribute;  // the part in braces, if any
    std::string op;
    std::string value;
};
using Rule = std::vector<Key>;

const std::set<std::string> kDeviceKeys = {"ACTION", "SUBSYSTEM", "KERNEL", "DRIVER", "ATTR", "ENV"};
const std::set<std::string> kParentKeys = {"SUBSYSTEMS", "KERNELS", "DRIVERS", "ATTRS"};

bool IsMatch(const std::string& op) {
    return op == "==" || op == "!=";
}

// Parses the rule file the way udev splits it: one rule per line (backslash continues it), keys
// separated by commas, values in double quotes. Fails the test on anything it does not know.
std::vector<Rule> ParseRules(const std::string& text) {
    std::vector<Rule> rules;
    std::string joined;
    std::istringstream lines(text);
    static const std::regex key(
        R"re(\s*([A-Z]+)(\{([A-Za-z0-9_]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$))re");
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\\') {
            joined += line.substr(0, line.size() - 1);
            continue;
        }
        line = joined + line;
        joined.clear();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        Rule rule;
        for (auto it = line.cbegin() + static_cast<std::ptrdiff_t>(first); it != line.cend();) {
            std::smatch m;
            if (!std::regex_search(it, line.cend(), m, key, std::regex_constants::match_continuous)) {
                ADD_FAILURE() << "not a key: " << std::string(it, line.cend());
                break;
            }
            Key k{m[1], m[3], m[4], m[5]};
            const bool known = kDeviceKeys.count(k.name) || kParentKeys.count(k.name) || k.name == "TAG" ||
                               k.name == "RUN" || k.name == "GOTO" || k.name == "LABEL";
            EXPECT_TRUE(known) << "key " << k.name << " is not read by this test";
            const bool needsAttribute =
                k.name == "ATTR" || k.name == "ATTRS" || k.name == "ENV" || k.name == "RUN";
            EXPECT_EQ(needsAttribute, !k.attribute.empty()) << k.name;
            if (kDeviceKeys.count(k.name) || kParentKeys.count(k.name)) {
                EXPECT_TRUE(IsMatch(k.op)) << k.name << k.op;
            } else if (k.name == "GOTO" || k.name == "LABEL") {
                EXPECT_EQ(k.op, "=") << k.name;
            } else if (k.name == "RUN") {
                // Only udev's own module loader: no program is started, and nothing earlier is
                // replaced.
                EXPECT_EQ(k.attribute, "builtin");
                EXPECT_EQ(k.op, "+=");
                EXPECT_EQ(k.value.rfind("kmod load ", 0), 0u) << k.value;
            } else {
                EXPECT_TRUE(IsMatch(k.op) || k.op == "+=" || k.op == "-=") << "TAG" << k.op;
            }
            rule.push_back(k);
            it += m.length(0);
        }
        rules.push_back(rule);
    }
    return rules;
}

struct Device {
    std::string subsystem;
    std::string kernel;
    std::string driver;
    std::map<std::string, std::string> attributes;
    const Device* parent = nullptr;
    std::map<std::string, std::string> env = {};  // the event's properties: DEVTYPE
};

// udev's patterns: shell globs, alternatives separated by "|".
bool Matches(const std::string& pattern, const std::string& value) {
    std::istringstream alternatives(pattern);
    for (std::string one; std::getline(alternatives, one, '|');) {
        if (::fnmatch(one.c_str(), value.c_str(), 0) == 0) return true;
    }
    return false;
}

bool Compare(const Key& key, const std::optional<std::string>& value) {
    const bool matched = value.has_value() && Matches(key.value, *value);
    return key.op == "==" ? matched : !matched;
}

std::optional<std::string> DeviceValue(const Key& key, const Device& device, const std::string& action,
                                       const std::set<std::string>& tags) {
    if (key.name == "ACTION") return action;
    if (key.name == "SUBSYSTEM" || key.name == "SUBSYSTEMS") return device.subsystem;
    if (key.name == "KERNEL" || key.name == "KERNELS") return device.kernel;
    if (key.name == "DRIVER" || key.name == "DRIVERS") return device.driver;
    const auto* values = key.name == "ENV" ? &device.env : &device.attributes;
    if (key.name == "ATTR" || key.name == "ATTRS" || key.name == "ENV") {
        const auto it = values->find(key.attribute);
        if (it == values->end()) return std::nullopt;
        return it->second;
    }
    if (key.name == "TAG")
        return tags.count(key.value) ? std::optional<std::string>(key.value) : std::nullopt;
    return std::nullopt;
}

// What the rules did for one event: the tags the device ends with, the modules loaded.
struct Outcome {
    std::set<std::string> tags;
    std::vector<std::string> loaded;
};

// Runs the rules for one event of `device`.
Outcome RunRules(const std::vector<Rule>& rules, const Device& device, const std::string& action) {
    std::set<std::string> tags;
    std::vector<std::string> loaded;
    for (size_t i = 0; i < rules.size(); ++i) {
        const Rule& rule = rules[i];
        bool matched = true;
        for (const Key& key : rule) {
            if (key.name == "TAG" && !IsMatch(key.op)) continue;
            if (kDeviceKeys.count(key.name) || key.name == "TAG") {
                matched = matched && Compare(key, DeviceValue(key, device, action, tags));
            }
        }
        // All parent keys of a rule must hold on one and the same device: itself or a parent.
        bool anyParentKey = false;
        bool parentFound = false;
        for (const Device* d = &device; d != nullptr && !parentFound; d = d->parent) {
            bool all = true;
            for (const Key& key : rule) {
                if (!kParentKeys.count(key.name)) continue;
                anyParentKey = true;
                all = all && Compare(key, DeviceValue(key, *d, action, tags));
            }
            parentFound = all;
        }
        if (!matched || (anyParentKey && !parentFound)) continue;
        for (const Key& key : rule) {
            if (key.name == "TAG" && key.op == "+=") tags.insert(key.value);
            if (key.name == "TAG" && key.op == "-=") tags.erase(key.value);
            if (key.name == "RUN") {
                std::istringstream modules(key.value.substr(std::string("kmod load ").size()));
                for (std::string module; modules >> module;) loaded.push_back(module);
            }
            if (key.name == "GOTO") {
                size_t label = i + 1;
                while (label < rules.size() &&
                       !(rules[label].size() == 1 && rules[label][0].name == "LABEL" &&
                         rules[label][0].value == key.value)) {
                    ++label;
                }
                EXPECT_LT(label, rules.size()) << "GOTO " << key.value << " has no LABEL after it";
                i = label;
            }
        }
    }
    return {tags, loaded};
}

TEST(DriveAccessRule, LoadsTheGenericDriverForAndOpensOnlyCdDvdDrives) {
    const std::vector<Rule> rules = ParseRules(ReadAll(kRuleFile));
    ASSERT_FALSE(rules.empty());

    // The SCSI devices behind the nodes, by their peripheral device type.
    const std::map<std::string, std::string> scsiDevice = {{"DEVTYPE", "scsi_device"}};
    const Device host{"scsi", "host2", "", {}, nullptr, {{"DEVTYPE", "scsi_host"}}};
    const Device usb{
        "usb", "2-1", "usb-storage", {{"type", "5"}}, nullptr};  // a bridge with a "type" of its own
    const Device dvd{"scsi", "2:0:0:0", "sr", {{"type", "5"}}, &host, scsiDevice};
    const Device disk{"scsi", "0:0:0:0", "sd", {{"type", "0"}}, &host, scsiDevice};
    const Device tape{"scsi", "3:0:0:0", "st", {{"type", "1"}}, &host, scsiDevice};
    const Device worm{"scsi", "4:0:0:0", "", {{"type", "4"}}, &host, scsiDevice};
    const Device scanner{"scsi", "5:0:0:0", "", {{"type", "6"}}, &host, scsiDevice};
    const Device changer{"scsi", "6:0:0:0", "ch", {{"type", "8"}}, &host, scsiDevice};
    const Device bridgedDisk{"scsi", "7:0:0:0", "sd", {{"type", "0"}}, &usb, scsiDevice};
    const Device bridgedTarget{"scsi", "target7:0:0", "", {}, &usb, {{"DEVTYPE", "scsi_target"}}};
    const std::vector<std::string> sg = {"sg"};
    const std::vector<std::string> none;
    struct Case {
        const char* name;
        Device device;
        const char* action;
        bool tagged;
        std::vector<std::string> loaded;
    };
    const Case cases[] = {
        {"a DVD drive appears", dvd, "add", false, sg},
        {"the same, when the rules are applied again", dvd, "change", false, sg},
        {"the same, on removal", dvd, "remove", false, none},
        {"generic node of a DVD drive", {"scsi_generic", "sg1", "", {}, &dvd}, "add", true, none},
        {"the same, when the rules are applied again",
         {"scsi_generic", "sg1", "", {}, &dvd},
         "change",
         true,
         none},
        {"the same, on removal", {"scsi_generic", "sg1", "", {}, &dvd}, "remove", false, none},
        {"the drive's block node (the distribution's business)",
         {"block", "sr0", "", {}, &dvd},
         "add",
         false,
         none},
        {"a disk appears", disk, "add", false, none},
        {"a write-once device appears", worm, "add", false, none},
        {"the SCSI host of a drive", host, "add", false, none},
        {"a SCSI target behind a bridge typed 5", bridgedTarget, "add", false, none},
        {"a disk behind a bridge typed 5", bridgedDisk, "add", false, none},
        {"generic node of a disk", {"scsi_generic", "sg0", "", {}, &disk}, "add", false, none},
        {"generic node of a tape", {"scsi_generic", "sg2", "", {}, &tape}, "add", false, none},
        {"generic node of a write-once device", {"scsi_generic", "sg3", "", {}, &worm}, "add", false, none},
        {"generic node of a scanner", {"scsi_generic", "sg4", "", {}, &scanner}, "add", false, none},
        {"generic node of a medium changer", {"scsi_generic", "sg5", "", {}, &changer}, "add", false, none},
        {"generic node of a disk behind a bridge typed 5",
         {"scsi_generic", "sg6", "", {}, &bridgedDisk},
         "add",
         false,
         none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + c.action);
        const Outcome outcome = RunRules(rules, c.device, c.action);
        EXPECT_EQ(outcome.tags.count("uaccess") == 1, c.tagged);
        EXPECT_LE(outcome.tags.size(), 1u);  // no other tag, no seat of its own
        EXPECT_EQ(outcome.loaded, c.loaded);
    }
}

TEST(DriveAccessRule, RunsBeforeTheSeatRules) {
    // The seat rules turn the uaccess tag into access for the session's user; udev reads all rule
    // files in the order of their names.
    const std::string name = std::string(kRuleFile).substr(std::string(kRuleFile).rfind('/') + 1);
    EXPECT_LT(name, "71-seat.rules");
    EXPECT_LT(name, "73-seat-late.rules");
}

}  // namespace

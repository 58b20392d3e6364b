// Device events through libudev's monitor: block devices named srN and SCSI generic nodes.

#include <libudev.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "drive/HotPlug.h"

namespace dravix {

namespace {

class UdevMonitor final : public HotPlugMonitor {
  public:
    UdevMonitor(udev* context, udev_monitor* monitor) : m_udev(context), m_monitor(monitor) {}
    ~UdevMonitor() override {
        udev_monitor_unref(m_monitor);
        udev_unref(m_udev);
    }
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    int Descriptor() const override { return udev_monitor_get_fd(m_monitor); }

    bool DrainDriveEvents() override {
        bool relevant = false;
        // The monitor's socket does not block: it gives null once every waiting event is read.
        while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
            const char* subsystem = udev_device_get_subsystem(device);
            const char* name = udev_device_get_sysname(device);
            if (subsystem != nullptr && name != nullptr) {
                if (std::strcmp(subsystem, "scsi_generic") == 0) relevant = true;
                if (std::strcmp(subsystem, "block") == 0 && std::strncmp(name, "sr", 2) == 0) relevant = true;
            }
            udev_device_unref(device);
        }
        return relevant;
    }

  private:
    udev* m_udev;
    udev_monitor* m_monitor;
};

}  // namespace

std::unique_ptr<HotPlugMonitor> OpenHotPlugMonitor() {
    udev* context = udev_new();
    if (context == nullptr) return nullptr;
    // Events after udev's rules ran, so the node exists with its final owner and mode.
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "scsi_generic", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor != nullptr) udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<UdevMonitor>(context, monitor);
}

SystemFacts ReadSystemFacts() {
    SystemFacts facts;
    // Only "Linux version <release>": the rest names whoever built the kernel.
    std::ifstream version("/proc/version");
    std::string word;
    for (int i = 0; i < 3 && version >> word; ++i) facts.kernel += (i ? " " : "") + word;
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string value = line.substr(std::strlen("PRETTY_NAME="));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        facts.distribution = value;
    }
    return facts;
}

}  // namespace dravix

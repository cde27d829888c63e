#include "gui/device_events.h"

#include <libudev.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

// udevd's control socket: present while udevd runs.
constexpr const char* kUdevControl = "/run/udev/control";

}  // namespace

DeviceEvents::DeviceEvents(QObject* parent) : QObject(parent) {
    context = udev_new();
    if (context == nullptr) {
        return;
    }
    // udevd re-sends each event once it has applied its rules (the device's permissions
    // among them). Without udevd only the kernel's own events come, before any rule ran.
    const char* source = access(kUdevControl, F_OK) == 0 ? "udev" : "kernel";
    monitor = udev_monitor_new_from_netlink(context, source);
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "net", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
            monitor = nullptr;
        }
        udev_unref(context);
        context = nullptr;
        return;
    }
    notifier = new QSocketNotifier(udev_monitor_get_fd(monitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &DeviceEvents::receive);
}

DeviceEvents::~DeviceEvents() {
    delete notifier;
    notifier = nullptr;
    if (monitor != nullptr) {
        udev_monitor_unref(monitor);
    }
    if (context != nullptr) {
        udev_unref(context);
    }
}

bool DeviceEvents::available() const {
    return monitor != nullptr;
}

// The monitor's socket does not block: take every event queued, so that one wake-up of the
// notifier is never left with events behind it.
void DeviceEvents::receive() {
    while (udev_device* device = udev_monitor_receive_device(monitor)) {
        const QString subsystem = QString::fromUtf8(udev_device_get_subsystem(device));
        const QString action = QString::fromUtf8(udev_device_get_action(device));
        const QString name = QString::fromUtf8(udev_device_get_sysname(device));
        udev_device_unref(device);
        emit changed(subsystem, action, name);
    }
}

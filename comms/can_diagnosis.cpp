#include "comms/can_diagnosis.h"

#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#ifndef PF_CAN
#define PF_CAN 29
#endif

namespace {

constexpr int kCanRaw = 1;  // CAN_RAW of linux/can.h

// Only these two say the kernel lacks the protocol; a failure for want of privileges or
// descriptors says nothing about it.
bool kernel_has_can() {
    const int fd = socket(PF_CAN, SOCK_RAW, kCanRaw);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT;
}

}  // namespace

CanSystemView can_system_view(const std::string& name, const std::string& sysfs_net) {
    CanSystemView view;
    view.kernel_has_can = kernel_has_can();
    view.exists = can_interface_name_valid(name) && if_nametoindex(name.c_str()) != 0;
    view.is_can = can_interface_state(name, &view.iface, sysfs_net);
    for (const CanInterface& iface : list_can_interfaces(sysfs_net)) {
        view.can_interfaces.push_back(iface.name);
    }
    return view;
}

std::string can_link_problem(const std::string& name, const CanSystemView& view) {
    if (!view.kernel_has_can) {
        return "this kernel has no CAN support";
    }
    if (!view.exists && !view.is_can) {
        std::string known;
        for (const std::string& n : view.can_interfaces) {
            known += (known.empty() ? "" : ", ") + n;
        }
        return "no such interface: " + name +
               (known.empty() ? " (no CAN interfaces)" : " (CAN interfaces: " + known + ")");
    }
    if (!view.is_can) {
        return name + " is not a CAN FD interface";
    }
    // A controller's MTU follows "fd on" as it is brought up: down comes first.
    if (!view.iface.up) {
        return name + " is down: " + can_fd_up_command(view.iface);
    }
    if (!view.iface.fd_capable) {
        return name + " is not a CAN FD interface";
    }
    return std::string();
}

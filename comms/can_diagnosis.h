// Why a CAN FD interface cannot carry the unit's frames, found from the system: no CAN in the
// kernel, no such interface, not a CAN FD interface, or down. The findings are gathered first
// (can_system_view) and judged apart (can_link_problem), so that the judgement can be tried on
// any system.
#pragma once

#include <string>
#include <vector>

#include "comms/can_interfaces.h"

struct CanSystemView {
    bool kernel_has_can = true;               // a PF_CAN socket can be made
    bool exists = false;                      // the kernel knows an interface of that name
    bool is_can = false;                      // of type ARPHRD_CAN
    CanInterface iface;                       // its state, when is_can
    std::vector<std::string> can_interfaces;  // every CAN interface, sorted
};

// The system as it is for the interface `name`: the kernel through a socket and
// if_nametoindex, the interfaces through `sysfs_net`.
CanSystemView can_system_view(const std::string& name,
                              const std::string& sysfs_net = "/sys/class/net");

// The first reason, in the order a user fixes them, that `name` cannot carry CAN FD frames:
// "this kernel has no CAN support", "no such interface: nosuch0 (CAN interfaces: can0,
// vcan0)", "can0 is down: sudo ip link set ...", "lo is not a CAN FD interface"; "" when the
// interface looks ready (the unit itself did not answer).
std::string can_link_problem(const std::string& name, const CanSystemView& view);

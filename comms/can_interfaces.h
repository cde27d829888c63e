// The host's CAN network interfaces as sysfs describes them, and the command that readies one
// for the unit's bus. Reads files only: no socket, no privileges, nothing written.
#pragma once

#include <string>
#include <vector>

struct CanInterface {
    std::string name;
    bool fd_capable = false;  // MTU 72: carries CAN FD frames
    bool up = false;          // IFF_UP is set
    bool is_virtual = false;  // no device behind it (vcan, vxcan)
};

// Whether the kernel would accept `name` for an interface: 1 to 15 characters, not "." or
// "..", and no '/', ':' or white space.
bool can_interface_name_valid(const std::string& name);

// Every interface of type ARPHRD_CAN (280) under `sysfs_net`, sorted by name. A missing or
// unreadable attribute counts as not FD-capable, not up.
std::vector<CanInterface> list_can_interfaces(const std::string& sysfs_net = "/sys/class/net");

// The state of one interface; false when the name is not valid, or the interface is absent
// or not a CAN interface. `out` may be null.
bool can_interface_state(const std::string& name, CanInterface* out,
                         const std::string& sysfs_net = "/sys/class/net");

// The command a user runs to bring the interface up for CAN FD: bit rates for a real
// controller (500 kbit/s, 2 Mbit/s data phase), the CAN FD MTU for a virtual one. "" for a
// name the kernel would not accept.
std::string can_fd_up_command(const CanInterface& iface);

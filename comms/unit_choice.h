// The units a connection attempt found on the links it tried, and which one it uses: the one
// named, or the only one; never a guess between two.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"

// One unit interface found: a USB HID interface, or a unit answering on a CAN bus.
struct FoundUnit {
    COMM_INTERFACE_t link = USB_HID;
    std::string device;     // the hidraw path, or the CAN interface
    bool answered = false;  // false: found but not identified (serial and firmware unknown)
    uint32_t serial = 0xFFFFFFFF;
    fwversion_t firmware = {0};  // 0.0.0 for a legacy unit
    uint32_t round_trip_us = 0;
    // One of several units answering on one bus: every answer would be ambiguous and a write
    // would reach them all, so the bus is not used.
    bool shared_bus = false;
};

enum class UnitPick {
    InUse,         // one unit chosen
    NoneFound,     // no unit answered on a usable link
    ChoiceNeeded,  // several answered and none was named
    NotFound,      // the unit named is not among those that answered
};

struct UnitChoice {
    UnitPick pick = UnitPick::NoneFound;
    uint32_t serial = 0xFFFFFFFF;  // the unit in use when pick is InUse
};

// The serial numbers of the units that can be used, each once, in the order found.
std::vector<uint32_t> usable_serials(const std::vector<FoundUnit>& found);
// The serial numbers heard on a shared bus, each once.
std::vector<uint32_t> shared_bus_serials(const std::vector<FoundUnit>& found);

// `wanted`: the unit named (nothing else will do). `preferred`: the unit chosen last time,
// used when it is found; otherwise the only unit, or a choice is needed.
UnitChoice choose_unit(const std::vector<FoundUnit>& found, std::optional<uint32_t> wanted,
                       std::optional<uint32_t> preferred);

// "0x00C0FFEE, 0x00BADA55"
std::string serials_text(const std::vector<uint32_t>& serials);
// "2 units are connected (0x00C0FFEE, 0x00BADA55)"
std::string units_connected_text(const std::vector<uint32_t>& serials);
// "2 units answer on can0 (serials 0x00C0FFEE, 0x00BADA55); this bus can hold one unit:
// connect one at a time or use USB"
std::string shared_bus_text(const std::string& interface_name,
                            const std::vector<uint32_t>& serials);

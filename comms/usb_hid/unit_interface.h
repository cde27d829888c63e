// Finding the unit's interface among the HID interfaces hidapi enumerates, and asking whether
// it is attached without opening it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct hid_device_info;

// hidapi keeps its last global error in one unguarded variable that hid_init, hid_exit,
// hid_enumerate and hid_open_path all replace: callers on different threads hold this lock
// around those calls.
std::mutex& hidapi_global_lock();

// The first entry of `list`, in hidapi's order, of vendor_id:product_id on the vendor-defined
// usage page 0xFF00; null when there is none. The unit's other interfaces (and other devices)
// carry no frames. An entry without a path cannot be opened.
const hid_device_info* find_unit_interface(const hid_device_info* list, uint16_t vendor_id,
                                           uint16_t product_id);

// True when the unit's interface is attached, whether or not this process may open it (a
// hidraw node appears before udev has given the user access to it). Writes nothing; safe to
// call from any thread, with or without an open link.
bool usb_unit_present(uint16_t vendor_id, uint16_t product_id);

// The paths of every interface of vendor_id:product_id on usage page 0xFF00, in hidapi's
// order: one per unit attached.
std::vector<std::string> usb_unit_paths(uint16_t vendor_id, uint16_t product_id);

#include "comms/usb_hid/unit_interface.h"

#include <hidapi.h>

namespace {

constexpr uint16_t kVendorUsagePage = 0xFF00;

}  // namespace

std::mutex& hidapi_global_lock() {
    static std::mutex lock;
    return lock;
}

const hid_device_info* find_unit_interface(const hid_device_info* list, uint16_t vendor_id,
                                           uint16_t product_id) {
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        if (d->vendor_id == vendor_id && d->product_id == product_id &&
            d->usage_page == kVendorUsagePage) {
            return d;
        }
    }
    return nullptr;
}

bool usb_unit_present(uint16_t vendor_id, uint16_t product_id) {
    std::lock_guard<std::mutex> lock(hidapi_global_lock());
    hid_device_info* devices = hid_enumerate(vendor_id, product_id);
    const hid_device_info* match = find_unit_interface(devices, vendor_id, product_id);
    const bool present = match != nullptr && match->path != nullptr;
    hid_free_enumeration(devices);
    return present;
}

std::vector<std::string> usb_unit_paths(uint16_t vendor_id, uint16_t product_id) {
    std::vector<std::string> paths;
    std::lock_guard<std::mutex> lock(hidapi_global_lock());
    hid_device_info* devices = hid_enumerate(vendor_id, product_id);
    for (const hid_device_info* d = devices; d != nullptr; d = d->next) {
        d = find_unit_interface(d, vendor_id, product_id);
        if (d == nullptr) {
            break;
        }
        if (d->path != nullptr) {
            paths.emplace_back(d->path);
        }
    }
    hid_free_enumeration(devices);
    return paths;
}

#include "comms/usb_hid/USBHID.h"

#include <hidapi.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "comms/usb_hid/unit_interface.h"

namespace {

constexpr size_t kInputReportMax = 128;
constexpr int kReadTimeoutMs = 1000;
// Report ID, iface, can_ID and msg_len precede the payload of an input report.
constexpr int kInputHeaderLen = 7;
// can_ID and msg_len precede the payload of an output report (after the report ID).
constexpr size_t kOutputHeaderLen = 5;

}  // namespace

USBHID::USBHID() : device_handle(nullptr), connected(false), report_ID(5) {
    std::lock_guard<std::mutex> lock(hidapi_global_lock());
    hid_init();
}

USBHID::~USBHID() {
    disconnect();
    std::lock_guard<std::mutex> lock(hidapi_global_lock());
    hid_exit();
}

bool USBHID::connect(uint16_t vendor_id, uint16_t product_id) {
    if (connected || device_handle != nullptr) {
        disconnect();
    }
    link_lost = false;
    std::lock_guard<std::mutex> lock(hidapi_global_lock());
    hid_device_info* devices = hid_enumerate(vendor_id, product_id);
    if (devices == nullptr) {
        connected = false;
        return false;
    }
    const hid_device_info* match = find_unit_interface(devices, vendor_id, product_id);
    if (match == nullptr || match->path == nullptr) {
        hid_free_enumeration(devices);
        connected = false;
        return false;
    }
    device_handle = hid_open_path(match->path);
    device_path = match->path;
    hid_free_enumeration(devices);
    if (device_handle == nullptr) {
        device_path.clear();
        connected = false;
        return false;
    }
    connected = true;
    return true;
}

bool USBHID::connectPath(const std::string& path) {
    if (connected || device_handle != nullptr) {
        disconnect();
    }
    link_lost = false;
    std::lock_guard<std::mutex> lock(hidapi_global_lock());
    device_handle = hid_open_path(path.c_str());
    if (device_handle == nullptr) {
        connected = false;
        return false;
    }
    device_path = path;
    connected = true;
    return true;
}

std::string USBHID::path() const {
    return device_path;
}

void USBHID::disconnect() {
    if (device_handle != nullptr) {
        hid_close(device_handle);
        device_handle = nullptr;
    }
    device_path.clear();
    connected = false;
    link_lost = false;
}

bool USBHID::isConnected() const {
    return connected;
}

bool USBHID::linkLost() const {
    return link_lost;
}

int USBHID::read(COMMS_MSG_t* msg) {
    return read_report(msg, kReadTimeoutMs);
}

int USBHID::read_nowait(COMMS_MSG_t* msg) {
    return read_report(msg, 0);
}

int USBHID::read_report(COMMS_MSG_t* msg, int timeout_ms) {
    if (!connected || device_handle == nullptr || msg == nullptr) {
        return -1;
    }
    uint8_t buffer[kInputReportMax];
    std::memset(buffer, 0, sizeof(buffer));
    const int result = hid_read_timeout(device_handle, buffer, sizeof(buffer), timeout_ms);
    if (result < 0) {
        // On hidraw a failed read means the node is gone: the unit was unplugged or reset.
        link_lost = true;
    }
    if (result <= 0) {
        return result;
    }
    if (result < kInputHeaderLen) {
        return -1;
    }
    COMMS_MSG_t frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.iface = static_cast<COMM_INTERFACE_t>(buffer[1]);
    frame.can_ID = static_cast<uint32_t>(buffer[2]) | static_cast<uint32_t>(buffer[3]) << 8 |
                   static_cast<uint32_t>(buffer[4]) << 16 | static_cast<uint32_t>(buffer[5]) << 24;
    frame.msg_len = static_cast<CAN_MSG_LEN_t>(buffer[6]);
    const int delivered = std::min(result, static_cast<int>(kInputReportMax)) - kInputHeaderLen;
    const size_t count = std::min<size_t>(
        {can_msg_payload_len(frame.msg_len), static_cast<size_t>(delivered), sizeof(frame.data)});
    std::memcpy(frame.data, buffer + kInputHeaderLen, count);
    std::memcpy(msg, &frame, sizeof(frame));
    if (frame_tap != nullptr) {
        TappedFrame tapped;
        tapped.time_us = frame_tap_time_us();
        tapped.iface = USB_HID;
        tapped.can_id = frame.can_ID;
        tapped.len = static_cast<uint8_t>(count);
        std::memcpy(tapped.data, frame.data, count);
        (*frame_tap)(tapped);
    }
    return result;
}

int USBHID::write(const COMMS_MSG_t& msg) {
    if (!connected || device_handle == nullptr) {
        return -1;
    }
    const size_t payload = can_msg_payload_len(msg.msg_len);
    uint8_t buffer[kOutputHeaderLen + sizeof(msg.data)];
    std::memset(buffer, 0, sizeof(buffer));
    const uint32_t id = msg.can_ID;
    buffer[0] = static_cast<uint8_t>(id);
    buffer[1] = static_cast<uint8_t>(id >> 8);
    buffer[2] = static_cast<uint8_t>(id >> 16);
    buffer[3] = static_cast<uint8_t>(id >> 24);
    buffer[4] = msg.msg_len;
    std::memcpy(buffer + kOutputHeaderLen, msg.data, payload);
    return write(buffer, kOutputHeaderLen + payload);
}

int USBHID::write(const uint8_t* data, size_t length) {
    if (!connected || device_handle == nullptr || (data == nullptr && length > 0)) {
        return -1;
    }
    std::vector<uint8_t> report(length + 1, 0);
    report[0] = report_ID;
    if (length > 0) {
        std::memcpy(report.data() + 1, data, length);
    }
    const int result = hid_write(device_handle, report.data(), report.size());
    if (result < 0) {
        link_lost = true;
    }
    if (result > 0 && frame_tap != nullptr) {
        tap_sent(data, length);
    }
    return result;
}

void USBHID::setFrameTap(const FrameTap* tap) {
    frame_tap = tap;
}

// The report as the unit reads it: header bytes that are missing count as zero, and the
// payload is what the length code asks for as far as the report reaches. `data` may be null
// when `length` is 0.
void USBHID::tap_sent(const uint8_t* data, size_t length) const {
    uint8_t header[kOutputHeaderLen] = {};
    if (length > 0) {
        std::memcpy(header, data, std::min(length, kOutputHeaderLen));
    }
    TappedFrame tapped;
    tapped.time_us = frame_tap_time_us();
    tapped.sent = true;
    tapped.iface = USB_HID;
    tapped.can_id = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                    static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
    const size_t carried = length > kOutputHeaderLen ? length - kOutputHeaderLen : 0;
    const size_t count = std::min(
        static_cast<size_t>(can_msg_payload_len(static_cast<CAN_MSG_LEN_t>(header[4]))), carried);
    tapped.len = static_cast<uint8_t>(count);
    if (count > 0) {
        std::memcpy(tapped.data, data + kOutputHeaderLen, count);
    }
    (*frame_tap)(tapped);
}

// USB HID link to the unit: one COMMS_MSG_t per HID report, through hidapi.
// Writes no log lines; every outcome is a return value.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "EFIS_shared/comms_types.h"
#include "comms/frame_tap.h"

struct hid_device_;

class USBHID {
public:
    USBHID();
    ~USBHID();
    USBHID(const USBHID&) = delete;
    USBHID& operator=(const USBHID&) = delete;

    // Opens the first interface of vendor_id:product_id on usage page 0xFF00.
    bool connect(uint16_t vendor_id, uint16_t product_id);
    // Opens the interface at `path`, as hid_enumerate names it: one unit among several.
    bool connectPath(const std::string& path);
    // The open interface's path; "" when closed.
    std::string path() const;
    void disconnect();
    bool isConnected() const;
    // True once a read or write on the open link failed in hidapi, which on hidraw means the
    // device node is gone; cleared by connect and disconnect. May be asked from another thread
    // than the one that used the link.
    bool linkLost() const;

    // Waits up to 1000 ms for one input report. Returns the byte count hidapi delivered
    // (report ID included) when a frame was decoded, 0 when nothing arrived in time,
    // negative on failure.
    int read(COMMS_MSG_t* msg);
    // As read, without waiting: takes a report that has already arrived; 0 when none has.
    int read_nowait(COMMS_MSG_t* msg);
    // Sends one output report (report ID, can_ID, msg_len, payload); returns hid_write's
    // byte count (L + 6) or -1.
    int write(const COMMS_MSG_t& msg);
    // Sends `length` raw bytes behind the report ID; returns hid_write's result or -1.
    int write(const uint8_t* data, size_t length);

    // Shown every report written and every frame decoded; null (the default) for none. The
    // function must outlive its use here.
    void setFrameTap(const FrameTap* tap);

private:
    int read_report(COMMS_MSG_t* msg, int timeout_ms);
    void tap_sent(const uint8_t* data, size_t length) const;

    hid_device_* device_handle;
    bool connected;
    uint8_t report_ID;
    std::string device_path;
    std::atomic<bool> link_lost{false};
    const FrameTap* frame_tap = nullptr;
};

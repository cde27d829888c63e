// Helpers shared by the comms tests: raw reports for the emulated USB link, captured output
// and a fixture with the USB link open on the emulated unit.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"

namespace comms_test {

using Bytes = std::vector<uint8_t>;

// `head` followed by `payload`, sized once: appending to a short vector makes GCC 12 at -O2
// warn of an out-of-bounds copy in the reallocation (-Warray-bounds).
inline Bytes with_payload(std::initializer_list<uint8_t> head, const Bytes& payload) {
    Bytes r(head.size() + payload.size());
    std::copy(head.begin(), head.end(), r.begin());
    std::copy(payload.begin(), payload.end(), r.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return r;
}

// An input report as the unit sends it: report ID, iface, can_ID LE, length code, payload.
inline Bytes input_report(uint32_t can_id, uint8_t code, const Bytes& payload,
                          uint8_t report_id = 0x05, uint8_t iface = USB_HID) {
    return with_payload(
        {report_id, iface, static_cast<uint8_t>(can_id), static_cast<uint8_t>(can_id >> 8),
         static_cast<uint8_t>(can_id >> 16), static_cast<uint8_t>(can_id >> 24), code},
        payload);
}

inline void inject(uint32_t can_id, uint8_t code, const Bytes& payload) {
    emu_hid::inject_input_report(input_report(can_id, code, payload));
}

// A frame the link delivers once the next request has gone out, as part of its answer: the
// drain before each request drops whatever was put on the link earlier.
inline void inject_after_request(uint32_t can_id, uint8_t code, const Bytes& payload) {
    emu_hid::inject_after_next_write(input_report(can_id, code, payload));
}

// Captured output without the drain's line: on a busy link, whether a frame happens to be
// due at the moment of a request is a matter of timing.
inline std::string without_drop_line(const std::string& out) {
    const std::string head = "Dropped ";
    const std::string tail = " stale frame(s) before the request\n";
    const size_t end = out.find(tail);
    if (out.rfind(head, 0) != 0 || end == std::string::npos || end == head.size()) {
        return out;
    }
    for (size_t i = head.size(); i < end; ++i) {
        if (out[i] < '0' || out[i] > '9') {
            return out;
        }
    }
    return out.substr(end + tail.size());
}

// The output report a frame must become: report ID 5, can_ID LE, length code, payload.
inline Bytes output_report(uint32_t can_id, uint8_t code, const Bytes& payload) {
    return with_payload(
        {0x05, static_cast<uint8_t>(can_id), static_cast<uint8_t>(can_id >> 8),
         static_cast<uint8_t>(can_id >> 16), static_cast<uint8_t>(can_id >> 24), code},
        payload);
}

inline fwversion_t version(uint8_t major, uint8_t minor, uint8_t patch, uint8_t rc = 0) {
    fwversion_t v;
    v.version = 0;
    v.fields.major = major;
    v.fields.minor = minor;
    v.fields.patch = patch;
    v.fields.rc = rc;
    return v;
}

// Which generation the tool believes it talks to.
enum class Cache { Empty, Current, Legacy };

inline void set_cache(Cache c) {
    reset_whoami_fwversion_cache();
    if (c == Cache::Current) {
        cache_whoami_fwversion(version(0, 2, 12));
    } else if (c == Cache::Legacy) {
        cache_whoami_fwversion(version(0, 0, 0));
    }
}

inline const char* cache_name(Cache c) {
    switch (c) {
    case Cache::Empty:
        return "NoHandshake";
    case Cache::Current:
        return "Current";
    case Cache::Legacy:
        return "Legacy";
    }
    return "?";
}

// A fresh emulated unit with the manager's USB link open on it and an empty version cache.
class UsbLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu_hid::reset();
        reset_whoami_fwversion_cache();
        comms = std::make_unique<CommsManager>();
        ASSERT_TRUE(comms->connectUSB(vendor_id, product_id));
        emu_hid::clear_output_reports();
    }
    void TearDown() override {
        comms.reset();
        reset_whoami_fwversion_cache();
        emu_hid::reset();
    }

    // Make the unit and the tool agree on a generation.
    void use_generation(Cache c) {
        emu_hid::unit().set_generation(c == Cache::Legacy ? emu::Generation::Legacy
                                                          : emu::Generation::Current);
        set_cache(c);
    }

    std::unique_ptr<CommsManager> comms;
};

}  // namespace comms_test

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>

#include "EFIS_shared/can_export.h"
#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/legacy_can_export.h"
#include "comms/usb_hid/USBHID.h"

fwversion_t g_whoami_fwversion = {0};
bool g_whoami_fwversion_known = false;

namespace {
uint32_t g_whoami_round_trip_us = 0;
}  // namespace

uint32_t whoami_round_trip_us() {
    return g_whoami_round_trip_us;
}

uint32_t measured_round_trip_us(std::chrono::nanoseconds elapsed) {
    const auto us = std::chrono::ceil<std::chrono::microseconds>(elapsed).count();
    return static_cast<uint32_t>(
        std::clamp<decltype(us)>(us, 1, std::numeric_limits<uint32_t>::max()));
}

void reset_whoami_fwversion_cache() {
    g_whoami_fwversion_known = false;
}

void cache_whoami_fwversion(const fwversion_t& v) {
    g_whoami_fwversion = v;
    g_whoami_fwversion_known = true;
}

bool fwversion_ge(const fwversion_t& v, uint8_t major, uint8_t minor, uint8_t patch) {
    if (v.fields.major != major) {
        return v.fields.major > major;
    }
    if (v.fields.minor != minor) {
        return v.fields.minor > minor;
    }
    return v.fields.patch >= patch;
}

bool device_firmware_at_least_0_2_12() {
    return g_whoami_fwversion_known && fwversion_ge(g_whoami_fwversion, 0, 2, 12);
}

bool device_whoami_fwversion_known() {
    return g_whoami_fwversion_known;
}

namespace {

constexpr uint32_t kCanStdIdMask = 0x7FF;
constexpr uint32_t primary_whoami = CANMSG_WHOAMI;
constexpr uint32_t legacy_whoami = LEGACY_CANMSG_WHOAMI;
constexpr auto kWhoamiReplyTimeout = std::chrono::milliseconds(2000);
constexpr uint8_t kMarker0 = 0xEF;
constexpr uint8_t kMarker1 = 0x15;
constexpr uint32_t kNoSerial = 0xFFFFFFFF;

// Frames from the CAN socket carry the whole identifier word; only the 11-bit part names
// the message.
bool std_can_id_matches(uint32_t a, uint32_t b) {
    return ((a ^ b) & kCanStdIdMask) == 0;
}

bool whoami_probe_is_legacy(uint32_t id) {
    return std_can_id_matches(id, legacy_whoami);
}

// The identifier of the request the last identification answered.
uint32_t g_answered_whoami_id = primary_whoami;

// A reply to the request on `whoami_id`; false for any other frame.
bool decode_whoami_reply(const COMMS_MSG_t& reply, uint32_t whoami_id, uint32_t* serial,
                         fwversion_t* version) {
    if (!std_can_id_matches(reply.can_ID, whoami_id) || reply.msg_len != CAN_8_BYTES) {
        return false;
    }
    version->version = 0;
    if (whoami_probe_is_legacy(whoami_id)) {
        if (reply.data[0] != kMarker0 || reply.data[1] != kMarker1) {
            return false;
        }
        *serial = static_cast<uint32_t>(reply.data[4]) | static_cast<uint32_t>(reply.data[5]) << 8 |
                  static_cast<uint32_t>(reply.data[6]) << 16 |
                  static_cast<uint32_t>(reply.data[7]) << 24;
        return true;
    }
    // The current unit sends its serial number most significant byte first.
    *serial = static_cast<uint32_t>(reply.data[0]) << 24 |
              static_cast<uint32_t>(reply.data[1]) << 16 |
              static_cast<uint32_t>(reply.data[2]) << 8 | static_cast<uint32_t>(reply.data[3]);
    version->fields.rc = reply.data[4];
    version->fields.patch = reply.data[5];
    version->fields.minor = reply.data[6];
    version->fields.major = reply.data[7];
    return true;
}

// The link under test, used on its own rather than through the manager's link choice.
class ProbeLink {
public:
    ProbeLink(CommsManager* comms, COMM_INTERFACE_t iface)
        : usb_(iface == USB_HID ? comms->getUSBHID() : nullptr),
          can_(iface == CAN_FD ? comms->getCANFD() : nullptr) {}

    bool usable() const {
        return (usb_ != nullptr && usb_->isConnected()) || (can_ != nullptr && can_->isConnected());
    }
    bool is_can() const { return can_ != nullptr; }
    int write(const COMMS_MSG_t& msg) {
        return usb_ != nullptr ? usb_->write(msg) : can_->write(msg);
    }
    int read(COMMS_MSG_t* msg) { return usb_ != nullptr ? usb_->read(msg) : can_->read(msg); }

private:
    USBHID* usb_;
    CANFD* can_;
};

uint32_t probe_whoami(CommsManager* comms, COMM_INTERFACE_t iface, uint32_t whoami_id,
                      fwversion_t* fw, bool verbose) {
    COMMS_MSG_t request;
    std::memset(&request, 0, sizeof(request));
    request.iface = iface;
    request.can_ID = whoami_id;
    request.msg_len = CAN_2_BYTES;
    request.data[0] = kMarker0;
    request.data[1] = kMarker1;

    ProbeLink link(comms, iface);
    if (!link.usable()) {
        return kNoSerial;
    }
    drain_stale_frames(comms, iface);
    if (link.write(request) <= 0) {
        if (verbose) {
            puts("get_serialnumber: Failed to send message to device.");
        }
        return kNoSerial;
    }
    const auto sent_at = std::chrono::steady_clock::now();

    const auto deadline = std::chrono::steady_clock::now() + kWhoamiReplyTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        COMMS_MSG_t reply;
        std::memset(&reply, 0, sizeof(reply));
        const int result = link.read(&reply);
        if (result < 0) {
            const int err = errno;
            // A quiet bus shows as the socket's receive time-out; keep listening until the
            // deadline.
            if (link.is_can() && err == EAGAIN) {
                continue;
            }
            if (verbose) {
                printf("get_serialnumber: Error reading response from device (%s).\n",
                       strerror(err));
            }
            return kNoSerial;
        }
        if (result == 0) {
            continue;
        }
        uint32_t serial = 0;
        fwversion_t version;
        version.version = 0;
        if (!decode_whoami_reply(reply, whoami_id, &serial, &version)) {
            continue;
        }
        if (fw != nullptr) {
            *fw = version;
        }
        cache_whoami_fwversion(version);
        g_whoami_round_trip_us = measured_round_trip_us(std::chrono::steady_clock::now() - sent_at);
        g_answered_whoami_id = whoami_id;
        return serial;
    }
    if (verbose) {
        puts("get_serialnumber: No valid WHOAMI response before timeout.");
    }
    return kNoSerial;
}

}  // namespace

uint32_t get_serialnumber(CommsManager* comms, COMM_INTERFACE_t iface, fwversion_t* fw) {
    if (comms == nullptr) {
        return kNoSerial;
    }
    const uint32_t serial = probe_whoami(comms, iface, primary_whoami, fw, false);
    if (serial != kNoSerial) {
        return serial;
    }
    printf("get_serialnumber: current WHOAMI (0x%03X) failed; retrying legacy WHOAMI (0x%03X).\n",
           primary_whoami, legacy_whoami);
    return probe_whoami(comms, iface, legacy_whoami, fw, true);
}

std::vector<uint32_t> other_whoami_answers(CommsManager* comms, uint32_t serial,
                                           std::chrono::milliseconds window) {
    std::vector<uint32_t> others;
    if (comms == nullptr) {
        return others;
    }
    CANFD* can = comms->getCANFD();
    if (can == nullptr || !can->isConnected()) {
        return others;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + window;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        if (!can->wait_readable(static_cast<int>(left.count()))) {
            continue;
        }
        COMMS_MSG_t reply;
        std::memset(&reply, 0, sizeof(reply));
        const int result = can->read_nowait(&reply);
        if (result < 0) {
            break;
        }
        uint32_t other = kNoSerial;
        fwversion_t version;
        version.version = 0;
        if (result > 0 && decode_whoami_reply(reply, g_answered_whoami_id, &other, &version) &&
            other != serial && std::find(others.begin(), others.end(), other) == others.end()) {
            others.push_back(other);
        }
    }
    return others;
}

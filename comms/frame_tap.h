// A hook on the links that sees every frame sent or received, for traces.
#pragma once

#include <time.h>

#include <cstdint>
#include <functional>

#include "EFIS_shared/comms_types.h"

// One frame as it went out or came in on a link, for traces.
struct TappedFrame {
    int64_t time_us = 0;  // CLOCK_REALTIME microseconds when sent or decoded
    bool sent = false;
    COMM_INTERFACE_t iface = USB_HID;
    // CAN: the socket frame's identifier word with its flag bits (CAN_EFF_FLAG, CAN_RTR_FLAG,
    // CAN_ERR_FLAG); USB: the report's can_ID
    uint32_t can_id = 0;
    bool fd = true;     // false only for a classic CAN frame received on the socket
    uint8_t flags = 0;  // CAN FD flags as on the socket frame (CANFD_BRS, CANFD_ESI); 0 on USB
    // Payload bytes actually carried. USB: the length code's byte count (0 for codes above
    // 15), less any bytes the report was too short to hold.
    uint8_t len = 0;
    uint8_t data[64] = {};
};

// Called on the thread that sent or read the frame; it must not call back into the link.
using FrameTap = std::function<void(const TappedFrame&)>;

// Wall-clock time, so that a trace lines up with other logs of the bus.
inline int64_t frame_tap_time_us() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// A received SocketCAN frame of any content into the tool's frame: the frame must be
// overwritten whole, carry the smallest length code that covers the received byte count
// (capped at 64), copy exactly that many payload bytes, and go back on the bus unchanged.
#include <linux/can.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "comms/canfd/canfd_frame_map.h"
#include "fuzz_support.h"

namespace {

void check_round_trip(const COMMS_MSG_t& msg) {
    const canfd_frame out = canfd_frame_from_msg(msg);
    const size_t count = can_msg_payload_len(msg.msg_len);
    fuzz::check(out.can_id == msg.can_ID, "sent: identifier unchanged");
    fuzz::check(out.len == count, "sent: byte count of the length code");
    fuzz::check(out.flags == CANFD_BRS && out.__res0 == 0 && out.__res1 == 0,
                "sent: bit-rate switching, reserved bytes zero");
    fuzz::check(std::memcmp(out.data, msg.data, count) == 0, "sent: payload");
    for (size_t i = count; i < sizeof(out.data); ++i) {
        fuzz::check(out.data[i] == 0, "sent: zero beyond the payload");
    }
    COMMS_MSG_t again;
    std::memset(&again, 0x5A, sizeof(again));
    msg_from_canfd_frame(out, &again);
    fuzz::check(fuzz::same_frame(again, msg), "a frame sent and received again is the same");
}

}  // namespace

// The input is the frame as the socket read left it: a short read (a classic frame of 16
// bytes, say) leaves the rest of the zero-filled frame as it was.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    std::memcpy(&frame, data, std::min(size, sizeof(frame)));

    COMMS_MSG_t msg;
    std::memset(&msg, 0xA5, sizeof(msg));
    msg_from_canfd_frame(frame, &msg);

    const size_t received = std::min<size_t>(frame.len, sizeof(frame.data));
    const size_t count = can_msg_payload_len(msg.msg_len);
    fuzz::check(msg.iface == CAN_FD, "iface is CAN_FD");
    fuzz::check(msg.can_ID == frame.can_id, "identifier word kept with its flag bits");
    fuzz::check(msg.msg_len <= 15, "a valid length code");
    fuzz::check(count >= received, "the length code covers every received byte");
    fuzz::check(msg.msg_len == 0 ||
                    can_msg_payload_len(static_cast<CAN_MSG_LEN_t>(msg.msg_len - 1)) < received,
                "the smallest length code that does");
    fuzz::check(std::memcmp(msg.data, frame.data, count) == 0, "payload copied");
    for (size_t i = count; i < sizeof(msg.data); ++i) {
        fuzz::check(msg.data[i] == 0, "zero beyond the length code");
    }
    fuzz::check(msg.padding[0] == 0 && msg.padding[1] == 0, "padding is zero");

    check_round_trip(msg);
    return 0;
}

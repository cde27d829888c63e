#include "comms/canfd/canfd_frame_map.h"

#include <cstring>

canfd_frame canfd_frame_from_msg(const COMMS_MSG_t& msg) {
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_id = msg.can_ID;
    frame.len = can_msg_payload_len(msg.msg_len);
    frame.flags = CANFD_BRS;
    if (frame.len >= 1 && frame.len <= sizeof(frame.data)) {
        std::memcpy(frame.data, msg.data, frame.len);
    }
    return frame;
}

void msg_from_canfd_frame(const canfd_frame& frame, COMMS_MSG_t* msg) {
    COMMS_MSG_t out;
    std::memset(&out, 0, sizeof(out));
    out.iface = CAN_FD;
    out.can_ID = frame.can_id;
    out.msg_len = can_msg_len_from_payload(frame.len);
    size_t count = can_msg_payload_len(out.msg_len);
    if (count > sizeof(out.data)) {
        count = sizeof(out.data);
    }
    std::memcpy(out.data, frame.data, count);
    std::memcpy(msg, &out, sizeof(out));
}

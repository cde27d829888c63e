#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"

namespace {

enum AckPayloadFormat : uint32_t {
    Legacy6Byte = 0,
    Compact4Byte = 1,
};

// Every answer is due within one read time-out of its link (1000 ms on USB HID); the bound
// only ends a wait that unrelated traffic would otherwise keep alive.
constexpr auto kAckWaitBound = std::chrono::milliseconds(3000);
constexpr uint8_t kMarker0 = 0xEF;
constexpr uint8_t kMarker1 = 0x15;

AckPayloadFormat device_ack_payload_format() {
    return device_firmware_at_least_0_2_12() ? Compact4Byte : Legacy6Byte;
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads until the first frame on the ACK identifier, which decides the wait; other frames
// are passed over. false when the link went quiet, failed or the bound ran out.
bool next_ack_frame(CommsManager* comms, uint32_t ack_id, COMMS_MSG_t* frame) {
    const auto on_ack_id = [ack_id](const COMMS_MSG_t& f) { return f.can_ID == ack_id; };
    switch (await_frame(comms, on_ack_id, frame, nullptr)) {
    case FRAME_WAIT_FOUND:
        return true;
    case FRAME_WAIT_SILENT:
        puts("No ACK received from device (timeout or no data).");
        return false;
    case FRAME_WAIT_READ_ERROR:
        puts("Error reading ACK from device.");
        return false;
    case FRAME_WAIT_DEADLINE:
        printf("No ACK received from device before the deadline (expected CAN ID 0x%03X).\n",
               ack_id);
        return false;
    }
    return false;
}

// The flash acknowledgement waits' counterpart of next_ack_frame.
bool next_mx25_frame(CommsManager* comms, const std::function<bool(const COMMS_MSG_t&)>& awaited,
                     COMMS_MSG_t* frame) {
    switch (await_frame(comms, awaited, frame, nullptr)) {
    case FRAME_WAIT_FOUND:
        return true;
    case FRAME_WAIT_SILENT:
        puts("wait_for_mx25_ack: No response received (timeout or no data).");
        return false;
    case FRAME_WAIT_READ_ERROR:
        puts("wait_for_mx25_ack: Error reading response from device.");
        return false;
    case FRAME_WAIT_DEADLINE:
        puts("wait_for_mx25_ack: No response before the deadline.");
        return false;
    }
    return false;
}

bool wait_for_ack_legacy(CommsManager* comms, uint32_t can_id) {
    const uint32_t ack_id = canmsg_ack();
    COMMS_MSG_t frame;
    if (!next_ack_frame(comms, ack_id, &frame)) {
        return false;
    }
    if (frame.msg_len != CAN_6_BYTES) {
        printf("ACK validation failed: msg_len mismatch (expected CAN_6_BYTES, got 0x%02X)\n",
               unsigned{frame.msg_len});
        return false;
    }
    const uint32_t acked = le32(frame.data);
    if (acked != can_id) {
        printf("ACK validation failed: data can_ID mismatch (expected 0x%08X, got 0x%08X)\n",
               can_id, acked);
        return false;
    }
    if (frame.data[4] != kMarker0 || frame.data[5] != kMarker1) {
        printf(
            "ACK validation failed: data[4-5] mismatch (expected 0xEF 0x15, got 0x%02X 0x%02X)\n",
            unsigned{frame.data[4]}, unsigned{frame.data[5]});
        return false;
    }
    return true;
}

bool wait_for_ack_compact(CommsManager* comms, uint32_t can_id) {
    const uint32_t expected = can_id & 0xFFFF;
    const uint32_t ack_id = canmsg_ack();
    COMMS_MSG_t frame;
    if (!next_ack_frame(comms, ack_id, &frame)) {
        return false;
    }
    if (frame.msg_len != CAN_4_BYTES) {
        printf("ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x%02X)\n",
               unsigned{frame.msg_len});
        return false;
    }
    const uint32_t acked =
        static_cast<uint32_t>(frame.data[1]) | static_cast<uint32_t>(frame.data[2]) << 8;
    if (acked != expected) {
        printf("ACK validation failed: payload can_ID mismatch (expected 0x%03X, got 0x%03X)\n",
               expected, acked);
        return false;
    }
    const uint8_t status = frame.data[3];
    if (status == ACK) {
        return true;
    }
    if (status == NACK) {
        printf("NACK received for command CAN ID 0x%03X.\n", acked);
        return false;
    }
    printf("ACK validation failed: invalid status byte %u (expected 0 or 1)\n", unsigned{status});
    return false;
}

void store_flash_echo(const COMMS_MSG_t& frame, uint8_t* op_type, uint32_t* address) {
    if (op_type != nullptr) {
        *op_type = frame.data[0];
    }
    if (address != nullptr) {
        *address = le32(frame.data + 1);
    }
}

bool wait_for_mx25_ack_legacy(CommsManager* comms, uint8_t* op_type, uint32_t* address) {
    const uint32_t ack_id = canmsg_mx25_ack();
    const uint32_t nack_id = canmsg_mx25_nack_wire_id();
    // A length code above 15 (only a malformed report has one) carries no payload at all.
    const auto decides = [ack_id, nack_id](const COMMS_MSG_t& f) {
        return (f.can_ID == ack_id && can_msg_payload_len(f.msg_len) > 4) || f.can_ID == nack_id;
    };
    COMMS_MSG_t frame;
    if (!next_mx25_frame(comms, decides, &frame)) {
        return false;
    }
    if (frame.can_ID == nack_id) {
        puts("wait_for_mx25_ack: Operation failed (MX25 NACK)");
        return false;
    }
    store_flash_echo(frame, op_type, address);
    return true;
}

bool wait_for_mx25_ack_unified(CommsManager* comms, uint8_t* op_type, uint32_t* address) {
    const uint32_t ack_id = canmsg_mx25_ack();
    const auto decides = [ack_id](const COMMS_MSG_t& f) {
        return f.can_ID == ack_id && f.msg_len == CAN_6_BYTES;
    };
    COMMS_MSG_t frame;
    if (!next_mx25_frame(comms, decides, &frame)) {
        return false;
    }
    store_flash_echo(frame, op_type, address);
    const uint8_t status = frame.data[5];
    if (status == ACK) {
        return true;
    }
    if (status == NACK) {
        printf("wait_for_mx25_ack: MX25 NACK (op=0x%02X)\n", unsigned{frame.data[0]});
        return false;
    }
    printf("wait_for_mx25_ack: invalid status byte %u (expected 0 or 1)\n", unsigned{status});
    return false;
}

}  // namespace

frame_wait_t await_frame(CommsManager* comms,
                         const std::function<bool(const COMMS_MSG_t&)>& awaited, COMMS_MSG_t* frame,
                         int* read_result) {
    const auto deadline = std::chrono::steady_clock::now() + kAckWaitBound;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) {
            return FRAME_WAIT_DEADLINE;
        }
        std::memset(frame, 0, sizeof(*frame));
        const int result = comms->read(frame);
        if (read_result != nullptr) {
            *read_result = result;
        }
        if (result == 0) {
            return FRAME_WAIT_SILENT;
        }
        if (result < 0) {
            return FRAME_WAIT_READ_ERROR;
        }
        if (awaited(*frame)) {
            return FRAME_WAIT_FOUND;
        }
    }
}

bool wait_for_ack(CommsManager* comms, uint32_t can_id) {
    if (comms == nullptr || !comms->isConnected()) {
        return false;
    }
    if (device_ack_payload_format() == Compact4Byte) {
        return wait_for_ack_compact(comms, can_id);
    }
    return wait_for_ack_legacy(comms, can_id);
}

bool wait_for_mx25_ack(CommsManager* comms, uint8_t* op_type, uint32_t* address) {
    if (comms == nullptr || !comms->isConnected()) {
        return false;
    }
    if (device_firmware_at_least_0_2_12()) {
        return wait_for_mx25_ack_unified(comms, op_type, address);
    }
    return wait_for_mx25_ack_legacy(comms, op_type, address);
}

#include <chrono>
#include <cstdio>
#include <cstring>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"

namespace {

constexpr auto kReplyTimeout = std::chrono::milliseconds(500);
constexpr int kConfirmRequests = 3;

void put_le32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// Sends one frame and waits for the unit's acknowledgement of it.
int send_and_confirm(CommsManager* comms, const COMMS_MSG_t& msg) {
    if (comms == nullptr || !comms->isConnected()) {
        return -1;
    }
    drain_stale_frames(comms);
    if (comms->write(msg) <= 0) {
        return -1;
    }
    return wait_for_ack(comms, msg.can_ID) ? 0 : -1;
}

}  // namespace

bool get_value_checked(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t* value) {
    if (comms == nullptr || !comms->isConnected()) {
        puts("CommsManager not connected.");
        return false;
    }
    const bool settings = target == SETTINGS_COMMS;
    const uint32_t reply_id = settings ? canmsg_send_user_setting() : canmsg_send_sensor_calib();

    COMMS_MSG_t request;
    std::memset(&request, 0, sizeof(request));
    request.can_ID = settings ? canmsg_request_user_setting() : canmsg_request_sensor_calib();
    request.msg_len = CAN_1_BYTES;
    request.data[0] = index;
    drain_stale_frames(comms);
    if (comms->write(request) <= 0) {
        puts("Failed to send COMMS_MSG_t to device.");
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) {
            printf("get_value: timeout waiting for response (expected CAN ID 0x%03X).\n", reply_id);
            return false;
        }
        COMMS_MSG_t reply;
        std::memset(&reply, 0, sizeof(reply));
        const int result = comms->read(&reply);
        if (result == 0) {
            puts("No response received from device (timeout or no data).");
            return false;
        }
        if (result < 0) {
            puts("Error reading response from device.");
            return false;
        }
        // A length code above 15 (only a malformed report has one) carries no payload at all.
        if (reply.can_ID != reply_id || can_msg_payload_len(reply.msg_len) < 4) {
            continue;
        }
        if (value != nullptr) {
            *value = static_cast<uint32_t>(reply.data[0]) |
                     static_cast<uint32_t>(reply.data[1]) << 8 |
                     static_cast<uint32_t>(reply.data[2]) << 16 |
                     static_cast<uint32_t>(reply.data[3]) << 24;
        }
        return true;
    }
}

bool get_value_confirmed(CommsManager* comms, target_comms_t target, uint8_t index,
                         uint32_t* value) {
    uint32_t previous = 0;
    if (!get_value_checked(comms, target, index, &previous)) {
        return false;
    }
    for (int request = 1; request < kConfirmRequests; ++request) {
        uint32_t next = 0;
        if (!get_value_checked(comms, target, index, &next)) {
            return false;
        }
        if (next == previous) {
            if (value != nullptr) {
                *value = next;
            }
            return true;
        }
        previous = next;
    }
    printf("get_value: no two answers for index %u agree.\n", unsigned{index});
    return false;
}

uint32_t get_value(CommsManager* comms, target_comms_t target, uint8_t index) {
    uint32_t value = 0;
    return get_value_checked(comms, target, index, &value) ? value : 0xFFFFFFFF;
}

int set_value(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t value) {
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = target == SETTINGS_COMMS ? canmsg_set_user_setting() : canmsg_set_sensor_calib();
    msg.msg_len = CAN_5_BYTES;
    msg.data[0] = index;
    put_le32(msg.data + 1, value);
    return send_and_confirm(comms, msg);
}

int store_value(CommsManager* comms, target_comms_t target, uint32_t value) {
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID =
        target == SETTINGS_COMMS ? canmsg_save_user_settings() : canmsg_save_sensor_calib();
    msg.msg_len = CAN_4_BYTES;
    put_le32(msg.data, value);
    return send_and_confirm(comms, msg);
}

int enter_boot_loader(CommsManager* comms) {
    if (comms == nullptr) {
        return -1;
    }
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = canmsg_enter_bl();
    msg.msg_len = CAN_1_BYTES;
    msg.data[0] = 0x48;
    return comms->write(msg);
}

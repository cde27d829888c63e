// Transport-neutral message frame shared with the unit's firmware.
// Layout and values must match the firmware bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

enum COMM_INTERFACE_t : uint8_t {
    USB_HID = 0,
    CAN_FD = 1,
};

enum ACK_NACK_t : uint8_t {
    NACK = 0,
    ACK = 1,
};

// CAN FD data length codes, named by the byte count they must carry.
enum CAN_MSG_LEN_t : uint8_t {
    CAN_0_BYTES = 0,
    CAN_1_BYTES = 1,
    CAN_2_BYTES = 2,
    CAN_3_BYTES = 3,
    CAN_4_BYTES = 4,
    CAN_5_BYTES = 5,
    CAN_6_BYTES = 6,
    CAN_7_BYTES = 7,
    CAN_8_BYTES = 8,
    CAN_9_BYTES = 9,
    CAN_10_BYTES = 9,
    CAN_11_BYTES = 9,
    CAN_12_BYTES = 9,
    CAN_13_BYTES = 10,
    CAN_14_BYTES = 10,
    CAN_15_BYTES = 10,
    CAN_16_BYTES = 10,
    CAN_17_BYTES = 11,
    CAN_18_BYTES = 11,
    CAN_19_BYTES = 11,
    CAN_20_BYTES = 11,
    CAN_21_BYTES = 12,
    CAN_22_BYTES = 12,
    CAN_23_BYTES = 12,
    CAN_24_BYTES = 12,
    CAN_25_BYTES = 13,
    CAN_26_BYTES = 13,
    CAN_27_BYTES = 13,
    CAN_28_BYTES = 13,
    CAN_29_BYTES = 13,
    CAN_30_BYTES = 13,
    CAN_31_BYTES = 13,
    CAN_32_BYTES = 13,
    CAN_33_BYTES = 14,
    CAN_34_BYTES = 14,
    CAN_35_BYTES = 14,
    CAN_36_BYTES = 14,
    CAN_37_BYTES = 14,
    CAN_38_BYTES = 14,
    CAN_39_BYTES = 14,
    CAN_40_BYTES = 14,
    CAN_41_BYTES = 14,
    CAN_42_BYTES = 14,
    CAN_43_BYTES = 14,
    CAN_44_BYTES = 14,
    CAN_45_BYTES = 14,
    CAN_46_BYTES = 14,
    CAN_47_BYTES = 14,
    CAN_48_BYTES = 14,
    CAN_49_BYTES = 15,
    CAN_50_BYTES = 15,
    CAN_51_BYTES = 15,
    CAN_52_BYTES = 15,
    CAN_53_BYTES = 15,
    CAN_54_BYTES = 15,
    CAN_55_BYTES = 15,
    CAN_56_BYTES = 15,
    CAN_57_BYTES = 15,
    CAN_58_BYTES = 15,
    CAN_59_BYTES = 15,
    CAN_60_BYTES = 15,
    CAN_61_BYTES = 15,
    CAN_62_BYTES = 15,
    CAN_63_BYTES = 15,
    CAN_64_BYTES = 15,
};

#pragma pack(push, 1)
struct COMMS_MSG_t {
    COMM_INTERFACE_t iface;
    uint32_t can_ID;
    CAN_MSG_LEN_t msg_len;
    uint8_t data[64];
    uint8_t padding[2];
};
#pragma pack(pop)

static_assert(sizeof(COMM_INTERFACE_t) == 1, "iface is one byte");
static_assert(sizeof(CAN_MSG_LEN_t) == 1, "msg_len is one byte");
static_assert(sizeof(ACK_NACK_t) == 1, "status is one byte");
static_assert(sizeof(COMMS_MSG_t) == 72, "frame is 72 bytes");
static_assert(offsetof(COMMS_MSG_t, iface) == 0, "iface offset");
static_assert(offsetof(COMMS_MSG_t, can_ID) == 1, "can_ID offset");
static_assert(offsetof(COMMS_MSG_t, msg_len) == 5, "msg_len offset");
static_assert(offsetof(COMMS_MSG_t, data) == 6, "data offset");
static_assert(offsetof(COMMS_MSG_t, padding) == 70, "padding offset");

// Smallest length code that carries a byte count, indexed 0 to 64.
inline constexpr uint8_t dlc_lookup[65] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,                               // 0..8
    9,  9,  9,  9,                                                   // 9..12
    10, 10, 10, 10,                                                  // 13..16
    11, 11, 11, 11,                                                  // 17..20
    12, 12, 12, 12,                                                  // 21..24
    13, 13, 13, 13, 13, 13, 13, 13,                                  // 25..32
    14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14,  // 33..48
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,  // 49..64
};

static_assert(dlc_lookup[64] == CAN_64_BYTES && dlc_lookup[48] == CAN_48_BYTES &&
                  dlc_lookup[33] == CAN_33_BYTES && dlc_lookup[9] == CAN_9_BYTES,
              "lookup agrees with the length names");

// Payload bytes a length code stands for (ISO 11898-1); codes above 15 carry nothing.
inline constexpr uint8_t can_msg_payload_len(CAN_MSG_LEN_t code) {
    constexpr uint8_t kBytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
    return code < 16 ? kBytes[code] : 0;
}

// Length code for a byte count; counts above 64 are clamped to 64.
inline constexpr CAN_MSG_LEN_t can_msg_len_from_payload(uint8_t bytes) {
    return static_cast<CAN_MSG_LEN_t>(dlc_lookup[bytes < 64 ? bytes : 64]);
}

inline constexpr uint16_t vendor_id = 0x16D0;
inline constexpr uint16_t product_id = 0x14C7;

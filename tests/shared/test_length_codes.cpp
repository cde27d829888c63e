#include <gtest/gtest.h>

#include "EFIS_shared/comms_types.h"

namespace {

constexpr uint8_t kFrameSizes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};

TEST(LengthCodes, EveryCodeCarriesItsIsoByteCount) {
    for (int code = 0; code < 256; ++code) {
        const uint8_t expected = code < 16 ? kFrameSizes[code] : 0;
        EXPECT_EQ(can_msg_payload_len(static_cast<CAN_MSG_LEN_t>(code)), expected) << code;
    }
}

TEST(LengthCodes, EveryCountGetsTheSmallestFrameThatHoldsIt) {
    for (int n = 0; n < 256; ++n) {
        const int wanted = n < 64 ? n : 64;
        int expected = -1;
        for (int code = 0; code < 16; ++code) {
            if (kFrameSizes[code] >= wanted) {
                expected = code;
                break;
            }
        }
        const CAN_MSG_LEN_t code = can_msg_len_from_payload(static_cast<uint8_t>(n));
        EXPECT_EQ(code, expected) << n;
        EXPECT_GE(can_msg_payload_len(code), wanted) << n;
    }
}

TEST(LengthCodes, RoundTripIsExactOnlyForFrameSizes) {
    int exact = 0;
    for (int n = 0; n <= 64; ++n) {
        const uint8_t back = can_msg_payload_len(can_msg_len_from_payload(static_cast<uint8_t>(n)));
        if (back == n) {
            ++exact;
        }
    }
    EXPECT_EQ(exact, 16);
}

struct Named {
    CAN_MSG_LEN_t name;
    int count;
};

TEST(LengthCodes, NamesEqualTheLookupForTheirCount) {
    const Named names[] = {{CAN_0_BYTES, 0},   {CAN_8_BYTES, 8},   {CAN_9_BYTES, 9},
                           {CAN_12_BYTES, 12}, {CAN_13_BYTES, 13}, {CAN_20_BYTES, 20},
                           {CAN_21_BYTES, 21}, {CAN_25_BYTES, 25}, {CAN_32_BYTES, 32},
                           {CAN_33_BYTES, 33}, {CAN_48_BYTES, 48}, {CAN_49_BYTES, 49},
                           {CAN_64_BYTES, 64}};
    for (const Named& n : names) {
        EXPECT_EQ(n.name, dlc_lookup[n.count]) << n.count;
    }
    EXPECT_EQ(CAN_9_BYTES, 9);
    EXPECT_EQ(CAN_13_BYTES, 10);
    EXPECT_EQ(CAN_33_BYTES, 14);
    EXPECT_EQ(CAN_64_BYTES, 15);
}

TEST(Frame, UsbIdentity) {
    EXPECT_EQ(vendor_id, 0x16D0);
    EXPECT_EQ(product_id, 0x14C7);
    EXPECT_EQ(USB_HID, 0);
    EXPECT_EQ(CAN_FD, 1);
    EXPECT_EQ(NACK, 0);
    EXPECT_EQ(ACK, 1);
}

}  // namespace

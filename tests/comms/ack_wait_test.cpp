// Command and flash acknowledgement waits of both firmware generations, fed with frames put
// on the emulated USB link.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "comms/comms.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::Cache;

struct Frame {
    uint32_t id;
    uint8_t code;
    Bytes payload;
};

struct AckCase {
    const char* name;
    Cache cache;
    std::vector<Frame> frames;
    uint32_t awaited;
    bool ok;
    std::string out;
    // The frame that the next read must deliver: a decided wait reads no further.
    uint32_t left_over = 0;
};

class AckWaitTest : public comms_test::UsbLinkTest {
protected:
    void put(const std::vector<Frame>& frames) {
        for (const Frame& f : frames) {
            comms_test::inject(f.id, f.code, f.payload);
        }
    }
    void expect_next_frame(uint32_t id) {
        if (id == 0) {
            return;
        }
        COMMS_MSG_t next;
        std::memset(&next, 0, sizeof(next));
        ASSERT_GT(comms->read(&next), 0);
        EXPECT_EQ(uint32_t{next.can_ID}, id);
    }
};

class CommandAck : public AckWaitTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(CommandAck, FirstFrameOnAckIdentifierDecides) {
    const AckCase& c = GetParam();
    comms_test::set_cache(c.cache);
    put(c.frames);
    testing::internal::CaptureStdout();
    EXPECT_EQ(wait_for_ack(comms.get(), c.awaited), c.ok);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    expect_next_frame(c.left_over);
}

const Frame kUnrelated = {0x100, CAN_8_BYTES, {1, 2, 3, 4, 5, 6, 7, 8}};
const Frame kSettingReply = {0x380, CAN_4_BYTES, {0x50, 0, 0, 0}};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CommandAck,
    ::testing::Values(
        AckCase{"CompactConfirms",
                Cache::Current,
                {{0x0E0, 4, {0x00, 0x90, 0x03, 0x01}}},
                0x390,
                true,
                ""},
        AckCase{"CompactFirstByteNotExamined",
                Cache::Current,
                {{0x0E0, 4, {0xFF, 0xA0, 0x03, 0x01}}},
                0x3A0,
                true,
                ""},
        AckCase{"CompactNack",
                Cache::Current,
                {{0x0E0, 4, {0x00, 0x90, 0x03, 0x00}}},
                0x390,
                false,
                "NACK received for command CAN ID 0x390.\n"},
        AckCase{"CompactInvalidStatus",
                Cache::Current,
                {{0x0E0, 4, {0x00, 0x90, 0x03, 0x02}}},
                0x390,
                false,
                "ACK validation failed: invalid status byte 2 (expected 0 or 1)\n"},
        AckCase{"CompactOtherCommandFailsWithoutWaitingOn",
                Cache::Current,
                {{0x0E0, 4, {0x00, 0xA0, 0x03, 0x01}}, {0x0E0, 4, {0x00, 0x90, 0x03, 0x01}}},
                0x390,
                false,
                "ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x3A0)\n",
                0x0E0},
        AckCase{"CompactWrongLength",
                Cache::Current,
                {{0x0E0, 6, {0x90, 0x03, 0x00, 0x00, 0xEF, 0x15}}},
                0x390,
                false,
                "ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x06)\n"},
        AckCase{"CompactSkipsOtherIdentifiers",
                Cache::Current,
                {kUnrelated,
                 kSettingReply,
                 {0x255, 6, {0x90, 0x03, 0, 0, 0xEF, 0x15}},
                 {0x0F0, 6, {0xAA, 0, 0, 0, 0, 1}},
                 {0x0E0, 4, {0x00, 0x90, 0x03, 0x01}}},
                0x390,
                true,
                ""},
        AckCase{"LegacyConfirms",
                Cache::Legacy,
                {{0x255, 6, {0x78, 0x03, 0x00, 0x00, 0xEF, 0x15}}},
                0x378,
                true,
                ""},
        AckCase{"LegacyMarkersSwapped",
                Cache::Legacy,
                {{0x255, 6, {0x78, 0x03, 0x00, 0x00, 0x15, 0xEF}}},
                0x378,
                false,
                "ACK validation failed: data[4-5] mismatch (expected 0xEF 0x15, got 0x15 0xEF)\n"},
        AckCase{"LegacyOtherCommand",
                Cache::Legacy,
                {{0x255, 6, {0x79, 0x03, 0x00, 0x00, 0xEF, 0x15}},
                 {0x255, 6, {0x78, 0x03, 0x00, 0x00, 0xEF, 0x15}}},
                0x378,
                false,
                "ACK validation failed: data can_ID mismatch (expected 0x00000378, got "
                "0x00000379)\n",
                0x255},
        AckCase{"LegacyIdentifierComparedInFull",
                Cache::Legacy,
                {{0x255, 6, {0x78, 0x03, 0x01, 0x00, 0xEF, 0x15}}},
                0x378,
                false,
                "ACK validation failed: data can_ID mismatch (expected 0x00000378, got "
                "0x00010378)\n"},
        AckCase{"LegacyWrongLength",
                Cache::Legacy,
                {{0x255, 4, {0x78, 0x03, 0x00, 0x01}}},
                0x378,
                false,
                "ACK validation failed: msg_len mismatch (expected CAN_6_BYTES, got 0x04)\n"},
        AckCase{"LegacyNackFrameIsPassedOver",
                Cache::Legacy,
                {{0x254, 6, {0x78, 0x03, 0x00, 0x00, 0xEF, 0x15}},
                 {0x0E0, 4, {0x00, 0x78, 0x03, 0x00}},
                 {0x255, 6, {0x78, 0x03, 0x00, 0x00, 0xEF, 0x15}}},
                0x378,
                true,
                ""},
        AckCase{"NoHandshakeLegacyFormatOnCurrentId",
                Cache::Empty,
                {{0x255, 6, {0x90, 0x03, 0, 0, 0xEF, 0x15}},
                 {0x0E0, 6, {0x90, 0x03, 0, 0, 0xEF, 0x15}}},
                0x390,
                true,
                ""},
        AckCase{"NoHandshakeRejectsCompactFormat",
                Cache::Empty,
                {{0x0E0, 4, {0x00, 0x90, 0x03, 0x01}}},
                0x390,
                false,
                "ACK validation failed: msg_len mismatch (expected CAN_6_BYTES, got 0x04)\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FlashCase {
    const char* name;
    Cache cache;
    std::vector<Frame> frames;
    bool ok;
    std::string out;
    bool filled;  // the out-pointers receive op code and address
    uint8_t op;
    uint32_t address;
};

class FlashAck : public AckWaitTest, public ::testing::WithParamInterface<FlashCase> {};

TEST_P(FlashAck, DecidingFrameFillsOutPointers) {
    const FlashCase& c = GetParam();
    comms_test::set_cache(c.cache);
    put(c.frames);
    uint8_t op = 0x5A;
    uint32_t address = 0xDEADBEEF;
    testing::internal::CaptureStdout();
    EXPECT_EQ(wait_for_mx25_ack(comms.get(), &op, &address), c.ok);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(op, c.filled ? c.op : 0x5A);
    EXPECT_EQ(address, c.filled ? c.address : 0xDEADBEEF);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, FlashAck,
    ::testing::Values(FlashCase{"UnifiedConfirms",
                                Cache::Current,
                                {{0x0F0, 6, {0xAA, 0x00, 0x01, 0x00, 0x00, 1}}},
                                true,
                                "",
                                true,
                                0xAA,
                                0x100},
                      FlashCase{"UnifiedNackStillFills",
                                Cache::Current,
                                {{0x0F0, 6, {0xBE, 0x00, 0x00, 0x01, 0x00, 0}}},
                                false,
                                "wait_for_mx25_ack: MX25 NACK (op=0xBE)\n",
                                true,
                                0xBE,
                                0x10000},
                      FlashCase{"UnifiedInvalidStatus",
                                Cache::Current,
                                {{0x0F0, 6, {0xA1, 0x78, 0x56, 0x34, 0x12, 3}}},
                                false,
                                "wait_for_mx25_ack: invalid status byte 3 (expected 0 or 1)\n",
                                true,
                                0xA1,
                                0x12345678},
                      FlashCase{"UnifiedSkipsOtherLengthsAndNackId",
                                Cache::Current,
                                {{0x0F0, 5, {0xAA, 0x11, 0x11, 0x11, 0x11}},
                                 {0x0F0, 8, {0xAA, 0x22, 0x22, 0x22, 0x22, 1, 0, 0}},
                                 {0x257, 6, {0xAA, 0x33, 0x33, 0x33, 0x33, 0}},
                                 {0x256, 6, {0xAA, 0x44, 0x44, 0x44, 0x44, 0}},
                                 {0x0E0, 4, {0x00, 0x20, 0x04, 0x01}},
                                 {0x0F0, 6, {0xAA, 0x40, 0x00, 0x00, 0x00, 1}}},
                                true,
                                "",
                                true,
                                0xAA,
                                0x40},
                      FlashCase{"LegacyConfirmsFiveBytes",
                                Cache::Legacy,
                                {{0x256, 5, {0xA1, 0x00, 0x10, 0x00, 0x00}}},
                                true,
                                "",
                                true,
                                0xA1,
                                0x1000},
                      FlashCase{"LegacyAcceptsLongerFrames",
                                Cache::Legacy,
                                {{0x256, 8, {0xAE, 0x00, 0x20, 0x00, 0x00, 0, 0, 0}}},
                                true,
                                "",
                                true,
                                0xAE,
                                0x2000},
                      FlashCase{"LegacyNackFailsAtOnce",
                                Cache::Legacy,
                                {{0x257, 0, {}}, {0x256, 5, {0xA1, 0x00, 0x10, 0x00, 0x00}}},
                                false,
                                "wait_for_mx25_ack: Operation failed (MX25 NACK)\n",
                                false,
                                0,
                                0},
                      FlashCase{"LegacySkipsShortAndOtherFrames",
                                Cache::Legacy,
                                {{0x256, 4, {0xAA, 0x11, 0x11, 0x11}},
                                 {0x0F0, 6, {0xAA, 0x22, 0x22, 0x22, 0x22, 1}},
                                 {0x256, 16, {}},
                                 {0x255, 6, {0x15, 0x04, 0, 0, 0xEF, 0x15}},
                                 {0x256, 6, {0xAA, 0x40, 0x00, 0x00, 0x00, 0}}},
                                true,
                                "",
                                true,
                                0xAA,
                                0x40},
                      FlashCase{"NoHandshakeLegacyFormOnCurrentId",
                                Cache::Empty,
                                {{0x256, 5, {0xAA, 1, 1, 1, 1}},
                                 {0x0F0, 5, {0xAA, 0x00, 0x01, 0x00, 0x00}}},
                                true,
                                "",
                                true,
                                0xAA,
                                0x100},
                      FlashCase{"NoHandshakeNack",
                                Cache::Empty,
                                {{0x257, 6, {0xAA, 0, 0, 0, 0, 1}}},
                                false,
                                "wait_for_mx25_ack: Operation failed (MX25 NACK)\n",
                                false,
                                0,
                                0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AckWaitTest, FlashWaitAcceptsNullOutPointers) {
    comms_test::set_cache(Cache::Current);
    comms_test::inject(0x0F0, 6, {0xAA, 0x00, 0x01, 0x00, 0x00, 1});
    EXPECT_TRUE(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
    comms_test::set_cache(Cache::Legacy);
    comms_test::inject(0x256, 5, {0xAA, 0x00, 0x01, 0x00, 0x00});
    EXPECT_TRUE(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
}

TEST_F(AckWaitTest, NoManagerOrNoLinkFailsSilently) {
    CommsManager unconnected;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(wait_for_ack(nullptr, 0x390));
    EXPECT_FALSE(wait_for_ack(&unconnected, 0x390));
    EXPECT_FALSE(wait_for_mx25_ack(nullptr, nullptr, nullptr));
    EXPECT_FALSE(wait_for_mx25_ack(&unconnected, nullptr, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(AckWaitTest, SilentLinkEndsWaitsWithNoResponse) {
    for (Cache cache : {Cache::Current, Cache::Legacy}) {
        comms_test::set_cache(cache);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(wait_for_ack(comms.get(), 0x390));
        EXPECT_FALSE(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "No ACK received from device (timeout or no data).\n"
                  "wait_for_mx25_ack: No response received (timeout or no data).\n")
            << comms_test::cache_name(cache);
    }
}

TEST_F(AckWaitTest, LostLinkEndsWaitsWithReadError) {
    emu_hid::vanish_after(0);
    for (Cache cache : {Cache::Current, Cache::Legacy}) {
        comms_test::set_cache(cache);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(wait_for_ack(comms.get(), 0x390));
        EXPECT_FALSE(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "Error reading ACK from device.\n"
                  "wait_for_mx25_ack: Error reading response from device.\n")
            << comms_test::cache_name(cache);
    }
}

// A busy bus keeps every read returning a frame; the waits must still end.
TEST_F(AckWaitTest, CommandAckWaitEndsAmidUnrelatedTraffic) {
    comms_test::set_cache(Cache::Current);
    emu_hid::set_background_traffic(200, 0x100);
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(wait_for_ack(comms.get(), 0x390));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No ACK received from device before the deadline (expected CAN ID 0x0E0).\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

TEST_F(AckWaitTest, FlashAckWaitEndsAmidUnrelatedTraffic) {
    comms_test::set_cache(Cache::Legacy);
    emu_hid::set_background_traffic(200, 0x100);
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(wait_for_mx25_ack(comms.get(), nullptr, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "wait_for_mx25_ack: No response before the deadline.\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
}

}  // namespace

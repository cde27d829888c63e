// The frame tap on the USB HID link: what it is shown for each write form and each decoded
// report, and that failures and time-outs show nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "comms/usb_hid/USBHID.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::input_report;

Bytes counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(0x40 + i);
    }
    return b;
}

// The frames a tap was shown, with the wall clock around them.
class UsbTapTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu_hid::reset();
        ASSERT_TRUE(usb.connect(vendor_id, product_id));
        usb.setFrameTap(&tap);
        before_us = frame_tap_time_us();
    }
    void TearDown() override { emu_hid::reset(); }

    void expect_one(bool sent, uint32_t can_id, const Bytes& payload) {
        const int64_t after_us = frame_tap_time_us();
        ASSERT_EQ(frames.size(), 1u);
        const TappedFrame& f = frames[0];
        EXPECT_EQ(f.sent, sent);
        EXPECT_EQ(f.iface, USB_HID);
        EXPECT_EQ(f.can_id, can_id);
        EXPECT_TRUE(f.fd);
        EXPECT_EQ(f.flags, 0);
        EXPECT_EQ(Bytes(f.data, f.data + f.len), payload);
        EXPECT_TRUE(
            std::all_of(f.data + f.len, f.data + sizeof(f.data), [](uint8_t b) { return b == 0; }));
        EXPECT_GE(f.time_us, before_us);
        EXPECT_LE(f.time_us, after_us);
    }

    USBHID usb;
    std::vector<TappedFrame> frames;
    FrameTap tap = [this](const TappedFrame& f) { frames.push_back(f); };
    int64_t before_us = 0;
};

COMMS_MSG_t message(uint32_t id, uint8_t code, const Bytes& payload) {
    COMMS_MSG_t m;
    std::memset(&m, 0, sizeof(m));
    m.iface = CAN_FD;
    m.can_ID = id;
    m.msg_len = static_cast<CAN_MSG_LEN_t>(code);
    // Bytes beyond the length code must not reach the tap.
    std::memset(m.data, 0xEE, sizeof(m.data));
    std::copy(payload.begin(), payload.end(), m.data);
    return m;
}

struct SentCase {
    const char* name;
    bool raw;
    COMMS_MSG_t msg;  // the message form
    Bytes report;     // the raw form
    uint32_t can_id;
    Bytes payload;  // as the tap must show it
};

class UsbTapSent : public UsbTapTest, public ::testing::WithParamInterface<SentCase> {};

TEST_P(UsbTapSent, ShowsWhatTheReportCarried) {
    const SentCase& c = GetParam();
    const int result = c.raw ? usb.write(c.report.data(), c.report.size()) : usb.write(c.msg);
    ASSERT_GT(result, 0);
    ASSERT_EQ(emu_hid::output_reports().size(), 1u);
    expect_one(true, c.can_id, c.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, UsbTapSent,
    ::testing::Values(
        SentCase{"Message",
                 false,
                 message(0x390, CAN_5_BYTES, {1, 2, 3, 4, 5}),
                 {},
                 0x390,
                 {1, 2, 3, 4, 5}},
        SentCase{"MessageSixtyFourBytes",
                 false,
                 message(0x420, CAN_64_BYTES, counting(64)),
                 {},
                 0x420,
                 counting(64)},
        SentCase{"MessageCodeAboveFifteen", false, message(0x420, 16, counting(8)), {}, 0x420, {}},
        SentCase{"Raw", true, {}, {0x70, 0x03, 0x00, 0x00, CAN_1_BYTES, 0x18}, 0x370, {0x18}},
        SentCase{"RawShorterThanItsCode",
                 true,
                 {},
                 {0x90, 0x03, 0x00, 0x00, CAN_5_BYTES, 6, 7},
                 0x390,
                 {6, 7}},
        SentCase{"RawShorterThanItsHeader", true, {}, {0x10, 0x02}, 0x210, {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReceivedCase {
    const char* name;
    Bytes report;
    uint32_t can_id;
    Bytes payload;
};

class UsbTapReceived : public UsbTapTest, public ::testing::WithParamInterface<ReceivedCase> {};

TEST_P(UsbTapReceived, ShowsTheDecodedReport) {
    const ReceivedCase& c = GetParam();
    for (bool nowait : {false, true}) {
        SCOPED_TRACE(nowait ? "read_nowait" : "read");
        frames.clear();
        before_us = frame_tap_time_us();
        emu_hid::inject_input_report(c.report);
        COMMS_MSG_t msg{};
        ASSERT_GT(nowait ? usb.read_nowait(&msg) : usb.read(&msg), 0);
        expect_one(false, c.can_id, c.payload);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reports, UsbTapReceived,
    ::testing::Values(
        ReceivedCase{"ValueReply",
                     input_report(0x380, CAN_4_BYTES, {0x78, 0x56, 0x34, 0x12}),
                     0x380,
                     {0x78, 0x56, 0x34, 0x12}},
        ReceivedCase{"BytesBeyondCodeLeftOut", input_report(0x380, CAN_4_BYTES, counting(20)),
                     0x380, counting(4)},
        ReceivedCase{"OnlyTheBytesThatArrived", input_report(0x380, CAN_64_BYTES, counting(10)),
                     0x380, counting(10)},
        ReceivedCase{"CodeAboveFifteen", input_report(0x380, 16, counting(20)), 0x380, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbTapTest, NothingShownForFailuresAndTimeOuts) {
    COMMS_MSG_t msg{};
    EXPECT_EQ(usb.read(&msg), 0);
    EXPECT_EQ(usb.read_nowait(&msg), 0);
    emu_hid::inject_input_report({0x05, 0x00, 0x80, 0x03, 0x00, 0x00});  // shorter than a header
    EXPECT_EQ(usb.read(&msg), -1);
    emu_hid::vanish_after(1);
    EXPECT_GT(usb.write(message(0x370, CAN_1_BYTES, {0x18})), 0);
    ASSERT_EQ(frames.size(), 1u) << "only the write that went out";
    frames.clear();
    EXPECT_EQ(usb.write(message(0x370, CAN_1_BYTES, {0x18})), -1);
    const uint8_t raw[] = {0x70, 0x03, 0x00, 0x00, CAN_1_BYTES, 0x18};
    EXPECT_EQ(usb.write(raw, sizeof(raw)), -1);
    EXPECT_EQ(usb.read(&msg), -1);
    usb.disconnect();
    EXPECT_EQ(usb.write(message(0x370, CAN_1_BYTES, {0x18})), -1);
    EXPECT_TRUE(frames.empty());
}

}  // namespace

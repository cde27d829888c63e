// The USB HID transport against the emulated hidapi: report encoding and decoding, device
// selection, and the closed state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "comms/usb_hid/USBHID.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::input_report;
using comms_test::output_report;

class UsbHidTest : public ::testing::Test {
protected:
    void SetUp() override { emu_hid::reset(); }
    void TearDown() override { emu_hid::reset(); }
};

Bytes counting(size_t n, uint8_t first = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(first + i);
    }
    return b;
}

COMMS_MSG_t frame(uint32_t id, uint8_t code, const Bytes& payload, COMM_INTERFACE_t iface) {
    COMMS_MSG_t m;
    std::memset(&m, 0, sizeof(m));
    m.iface = iface;
    m.can_ID = id;
    m.msg_len = static_cast<CAN_MSG_LEN_t>(code);
    std::copy(payload.begin(), payload.begin() + std::min(payload.size(), sizeof(m.data)), m.data);
    return m;
}

struct OutputCase {
    const char* name;
    uint32_t id;
    uint8_t code;
    Bytes payload;  // the frame's data
    Bytes sent;     // the payload bytes that must go out
};

class UsbHidOutputTest : public UsbHidTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(UsbHidOutputTest, FrameBecomesOneReportWithoutIfaceByte) {
    const OutputCase& c = GetParam();
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    // Bytes beyond the length code must not leak into the report.
    Bytes data = c.payload;
    data.resize(64, 0xEE);
    const Bytes expected = output_report(c.id, c.code, c.sent);
    EXPECT_EQ(usb.write(frame(c.id, c.code, data, CAN_FD)), static_cast<int>(expected.size()));
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], expected);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, UsbHidOutputTest,
    ::testing::Values(
        OutputCase{"ZeroBytesIsSixByteReport", 0x730, CAN_0_BYTES, {}, {}},
        OutputCase{"OneByteRequest", 0x370, CAN_1_BYTES, {0x18}, {0x18}},
        OutputCase{"SetFrame", 0x390, CAN_5_BYTES, {0x18, 0x50, 0, 0, 0}, {0x18, 0x50, 0, 0, 0}},
        OutputCase{"IdentifierLittleEndian", 0x12345678, CAN_2_BYTES, {0xEF, 0x15}, {0xEF, 0x15}},
        OutputCase{"TwelveByteCode", 0x420, CAN_12_BYTES, counting(12), counting(12)},
        OutputCase{"SixtyFourBytesIsSeventyByteReport", 0x420, CAN_64_BYTES, counting(64),
                   counting(64)},
        OutputCase{"CodeAboveFifteenCarriesNothing", 0x420, 16, counting(8), {}},
        OutputCase{"CodeTwoHundredCarriesNothing", 0x420, 200, counting(8), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbHidTest, RawWritePrefixesReportId) {
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    const uint8_t raw[] = {0x70, 0x03, 0x00, 0x00, 0x01, 0x18};
    EXPECT_EQ(usb.write(raw, sizeof(raw)), 7);
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (Bytes{0x05, 0x70, 0x03, 0x00, 0x00, 0x01, 0x18}));
}

TEST_F(UsbHidTest, RawWriteOfNullDataFails) {
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_EQ(usb.write(nullptr, 5), -1);
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

struct InputCase {
    const char* name;
    Bytes report;
    int result;
    uint8_t iface;
    uint32_t id;
    uint8_t code;
    Bytes payload;  // the first 64 data bytes expected; the rest of the frame must be zero
};

class UsbHidInputTest : public UsbHidTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(UsbHidInputTest, ReportDecodesIntoZeroFilledFrame) {
    const InputCase& c = GetParam();
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    for (bool nowait : {false, true}) {
        SCOPED_TRACE(nowait ? "read_nowait" : "read");
        emu_hid::inject_input_report(c.report);
        COMMS_MSG_t msg;
        std::memset(&msg, 0xA5, sizeof(msg));
        ASSERT_EQ(nowait ? usb.read_nowait(&msg) : usb.read(&msg), c.result);
        EXPECT_EQ(msg.iface, c.iface);
        EXPECT_EQ(uint32_t{msg.can_ID}, c.id);
        EXPECT_EQ(msg.msg_len, c.code);
        Bytes expected = c.payload;
        expected.resize(64, 0);
        EXPECT_EQ(Bytes(msg.data, msg.data + 64), expected);
        EXPECT_EQ(msg.padding[0], 0);
        EXPECT_EQ(msg.padding[1], 0);
    }
}

Bytes long_report(uint8_t code, size_t payload_bytes) {
    return input_report(0x380, code, counting(payload_bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Reports, UsbHidInputTest,
    ::testing::Values(
        InputCase{"SevenBytesWithCodeEightHasZeroPayload",
                  input_report(0x380, CAN_8_BYTES, {}),
                  7,
                  USB_HID,
                  0x380,
                  8,
                  {}},
        InputCase{"ValueReply",
                  input_report(0x380, CAN_4_BYTES, {0x78, 0x56, 0x34, 0x12}),
                  11,
                  USB_HID,
                  0x380,
                  4,
                  {0x78, 0x56, 0x34, 0x12}},
        InputCase{"ReportIdNotExaminedIfaceCopied",
                  input_report(0x12345678, CAN_2_BYTES, {0xAB, 0xCD}, 0x42, 0x07),
                  9,
                  0x07,
                  0x12345678,
                  2,
                  {0xAB, 0xCD}},
        InputCase{"BytesBeyondCodeIgnored", long_report(CAN_4_BYTES, 20), 27, USB_HID, 0x380, 4,
                  counting(4)},
        InputCase{"MissingBytesStayZero", long_report(CAN_64_BYTES, 10), 17, USB_HID, 0x380, 15,
                  counting(10)},
        InputCase{"FullReportCarriesSixtyFourBytes", long_report(CAN_64_BYTES, 121), 128, USB_HID,
                  0x380, 15, counting(64)},
        InputCase{"CodeSixteenCopiesNothing", long_report(16, 20), 27, USB_HID, 0x380, 16, {}},
        InputCase{
            "CodeAboveFifteenCopiesNothing", long_report(0xFF, 64), 71, USB_HID, 0x380, 0xFF, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbHidTest, ShortReportFailsAndLeavesFrameUntouched) {
    const Bytes header = input_report(0x380, CAN_4_BYTES, {});
    for (size_t len = 1; len < header.size(); ++len) {
        USBHID usb;
        ASSERT_TRUE(usb.connect(vendor_id, product_id));
        emu_hid::inject_input_report(Bytes(header.begin(), header.begin() + len));
        COMMS_MSG_t msg;
        std::memset(&msg, 0xA5, sizeof(msg));
        EXPECT_EQ(usb.read(&msg), -1) << len << " bytes";
        const Bytes raw(reinterpret_cast<const uint8_t*>(&msg),
                        reinterpret_cast<const uint8_t*>(&msg) + sizeof(msg));
        EXPECT_EQ(raw, Bytes(sizeof(msg), 0xA5)) << len << " bytes";
    }
}

TEST_F(UsbHidTest, ConnectPassesOverOtherInterfacesOfTheDevice) {
    emu_hid::set_interfaces({
        {vendor_id, product_id, 0x0001, "/dev/hidraw-keyboard", false},
        {vendor_id, 0x1234, 0xFF00, "/dev/hidraw-other-product", false},
        {vendor_id, product_id, 0xFF00, "/dev/hidraw-unit", true},
    });
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_TRUE(usb.isConnected());
    EXPECT_EQ(emu_hid::open_count(), 1u);
    // Only the unit's own interface delivers frames to it.
    COMMS_MSG_t m = frame(0x370, CAN_1_BYTES, {0x06}, USB_HID);
    ASSERT_GT(usb.write(m), 0);
    const auto received = emu_hid::unit().received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(uint32_t{received[0].can_ID}, 0x370u);
}

TEST_F(UsbHidTest, ConnectRefusesDeviceWithoutVendorPage) {
    emu_hid::set_interfaces({{vendor_id, product_id, 0x0001, "/dev/hidraw-keyboard", false},
                             {vendor_id, product_id, 0x000C, "/dev/hidraw-consumer", false}});
    USBHID usb;
    EXPECT_FALSE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.isConnected());
    EXPECT_EQ(emu_hid::open_count(), 0u);
}

TEST_F(UsbHidTest, ConnectFailsWithNoDevice) {
    emu_hid::set_interfaces({});
    USBHID usb;
    EXPECT_FALSE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.isConnected());
}

TEST_F(UsbHidTest, ConnectFailsWhenOpenFails) {
    emu_hid::set_fail_open(true);
    USBHID usb;
    EXPECT_FALSE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.isConnected());
    EXPECT_FALSE(emu_hid::device_open());
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    EXPECT_EQ(usb.read(&msg), -1);
    EXPECT_EQ(usb.write(msg), -1);
}

TEST_F(UsbHidTest, ConnectWhileConnectedClosesOldHandleFirst) {
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_EQ(emu_hid::open_count(), 2u);
    EXPECT_EQ(emu_hid::close_count(), 1u);
    EXPECT_TRUE(emu_hid::device_open());
    // A failed reconnect leaves the object closed, the old handle already gone.
    emu_hid::set_fail_open(true);
    EXPECT_FALSE(usb.connect(vendor_id, product_id));
    EXPECT_EQ(emu_hid::close_count(), 2u);
    EXPECT_FALSE(usb.isConnected());
}

TEST_F(UsbHidTest, ReadWithoutWaitingOnAQuietLinkFindsNothing) {
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    // An answer that is not due yet is not waited for.
    emu::Fault late;
    late.answer = emu::AnswerKind::Reply;
    late.delay_ms = 200;
    emu_hid::unit().set_fault(0x370, late);
    ASSERT_GT(usb.write(frame(0x370, CAN_1_BYTES, {0x06}, USB_HID)), 0);
    COMMS_MSG_t msg;
    std::memset(&msg, 0xA5, sizeof(msg));
    EXPECT_EQ(usb.read_nowait(&msg), 0);
    EXPECT_EQ(uint32_t{msg.can_ID}, 0xA5A5A5A5u) << "the frame is left alone";
    EXPECT_EQ(usb.read(&msg), 11);
    EXPECT_EQ(uint32_t{msg.can_ID}, 0x380u);
}

TEST_F(UsbHidTest, ClosedTransportRefusesReadAndWrite) {
    USBHID usb;
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    const uint8_t raw[] = {0x70, 0x03, 0x00, 0x00, 0x00};
    EXPECT_EQ(usb.read(&msg), -1);
    EXPECT_EQ(usb.read_nowait(&msg), -1);
    EXPECT_EQ(usb.write(msg), -1);
    EXPECT_EQ(usb.write(raw, sizeof(raw)), -1);

    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_EQ(usb.read(nullptr), -1);
    EXPECT_EQ(usb.read_nowait(nullptr), -1);
    usb.disconnect();
    usb.disconnect();
    EXPECT_FALSE(usb.isConnected());
    EXPECT_EQ(emu_hid::close_count(), 1u);
    EXPECT_EQ(usb.read(&msg), -1);
    EXPECT_EQ(usb.read_nowait(&msg), -1);
    EXPECT_EQ(usb.write(msg), -1);
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

TEST_F(UsbHidTest, DestructionClosesDeviceAndShutsDownHidapi) {
    {
        USBHID usb;
        EXPECT_EQ(emu_hid::init_count(), 1);
        ASSERT_TRUE(usb.connect(vendor_id, product_id));
    }
    EXPECT_FALSE(emu_hid::device_open());
    EXPECT_EQ(emu_hid::close_count(), 1u);
    EXPECT_EQ(emu_hid::init_count(), 0);
}

}  // namespace

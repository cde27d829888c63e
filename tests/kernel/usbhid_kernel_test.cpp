// The USB HID transport through the real hidapi (hidraw) on a device the kernel builds from
// /dev/uhid, with the emulated unit behind it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comms/usb_hid/USBHID.h"
#include "emulator/efis_unit.h"
#include "emulator/frontends/uhid_frontend.h"
#include "tests/kernel/kernel_test_support.h"

namespace {

using kernel_test::ms_since;

constexpr uint16_t kOtherPage = 0xFF01;

COMMS_MSG_t whoami_request() {
    COMMS_MSG_t m;
    std::memset(&m, 0, sizeof(m));
    m.can_ID = 0x010;
    m.msg_len = CAN_2_BYTES;
    m.data[0] = 0xEF;
    m.data[1] = 0x15;
    return m;
}

// Reads until a frame arrives or `tries` reads came back empty.
int read_frame(USBHID& hid, COMMS_MSG_t* msg, int tries = 3) {
    int got = 0;
    for (int i = 0; i < tries && got == 0; ++i) {
        got = hid.read(msg);
    }
    return got;
}

// A uhid device served on its own thread, present once the hidraw node is enumerable.
struct Device {
    Device(emu::EfisUnit& unit, uint16_t page) : frontend(unit, page) {
        std::string error;
        ok = frontend.open(&error);
        EXPECT_TRUE(ok) << error;
        frontend.start();
    }
    emu::UhidFrontend frontend;
    bool ok = false;
};

class UsbHidOnUhid : public ::testing::Test {
protected:
    void SetUp() override {
        unit_.set_serial(0x12345678);
        unit_.set_version(0, 2, 14, 3);
        device_ = std::make_unique<Device>(unit_, emu::kUnitUsagePage);
        ASSERT_TRUE(device_->ok);
        ASSERT_TRUE(
            kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 1));
    }

    emu::UhidFrontend& frontend() { return device_->frontend; }

    emu::EfisUnit unit_;
    std::unique_ptr<Device> device_;
};

TEST_F(UsbHidOnUhid, ConnectsAndExchangesAFrame) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    EXPECT_TRUE(hid.isConnected());
    ASSERT_EQ(hid.write(whoami_request()), 8);

    COMMS_MSG_t reply;
    ASSERT_EQ(read_frame(hid, &reply), static_cast<int>(emu::kFrameReportSize));
    EXPECT_EQ(reply.iface, USB_HID);
    EXPECT_EQ(reply.can_ID & 0x7FF, 0x010u);
    EXPECT_EQ(reply.msg_len, CAN_8_BYTES);
    const uint8_t expected[8] = {0x12, 0x34, 0x56, 0x78, 3, 14, 2, 0};
    EXPECT_EQ(std::memcmp(reply.data, expected, 8), 0);

    const std::vector<COMMS_MSG_t> seen = unit_.received();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(uint32_t{seen[0].can_ID}, 0x010u);
    EXPECT_EQ(seen[0].msg_len, CAN_2_BYTES);
    EXPECT_EQ(seen[0].data[0], 0xEF);
    EXPECT_EQ(seen[0].data[1], 0x15);
}

TEST_F(UsbHidOnUhid, OutputReportsAreSixToSeventyBytesOnTheUnitSide) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    frontend().clear_output_report_sizes();
    struct Case {
        CAN_MSG_LEN_t code;
        int size;
    };
    // Identifiers the unit does not answer, so that nothing waits in the input queue.
    for (const Case c : {Case{CAN_0_BYTES, 6}, Case{CAN_5_BYTES, 11}, Case{CAN_12_BYTES, 18},
                         Case{CAN_64_BYTES, 70}}) {
        COMMS_MSG_t m;
        std::memset(&m, 0, sizeof(m));
        m.can_ID = 0x7F0;
        m.msg_len = c.code;
        for (int i = 0; i < 64; ++i) {
            m.data[i] = static_cast<uint8_t>(i + 1);
        }
        EXPECT_EQ(hid.write(m), c.size);
    }
    const auto start = kernel_test::Clock::now();
    while (frontend().output_report_sizes().size() < 4 && ms_since(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(frontend().output_report_sizes(), (std::vector<size_t>{6, 11, 18, 70}));
    const std::vector<COMMS_MSG_t> seen = unit_.received();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(uint32_t{seen[3].can_ID}, 0x7F0u);
    EXPECT_EQ(seen[3].msg_len, CAN_64_BYTES);
    EXPECT_EQ(seen[3].data[63], 64);
}

TEST_F(UsbHidOnUhid, SevenByteInputReportYieldsAnEmptyPayload) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    const std::vector<uint8_t> report = {emu::kShortReportId, USB_HID, 0xE0, 0, 0, 0, CAN_8_BYTES};
    ASSERT_TRUE(frontend().send_input_report(report));
    COMMS_MSG_t got;
    std::memset(&got, 0xAA, sizeof(got));
    ASSERT_EQ(read_frame(hid, &got), 7);
    EXPECT_EQ(uint32_t{got.can_ID}, 0x0E0u);
    EXPECT_EQ(got.msg_len, CAN_8_BYTES);
    for (const uint8_t b : got.data) {
        ASSERT_EQ(b, 0);
    }
    EXPECT_EQ(got.padding[0], 0);
    EXPECT_EQ(got.padding[1], 0);
}

TEST_F(UsbHidOnUhid, LengthCodeAboveFifteenCopiesNoPayload) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    std::vector<uint8_t> report(emu::kFrameReportSize, 0x5A);
    report[0] = emu::kFrameReportId;
    report[1] = USB_HID;
    report[2] = 0x80;
    report[3] = 0x03;
    report[4] = 0;
    report[5] = 0;
    report[6] = 16;
    ASSERT_TRUE(frontend().send_input_report(report));
    COMMS_MSG_t got;
    ASSERT_EQ(read_frame(hid, &got), static_cast<int>(emu::kFrameReportSize));
    EXPECT_EQ(uint32_t{got.can_ID}, 0x380u);
    EXPECT_EQ(got.msg_len, 16);
    for (const uint8_t b : got.data) {
        ASSERT_EQ(b, 0);
    }
}

TEST_F(UsbHidOnUhid, ReadReturnsZeroAfterASecondOfSilence) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    COMMS_MSG_t got;
    const auto start = kernel_test::Clock::now();
    EXPECT_EQ(hid.read(&got), 0);
    const long waited = ms_since(start);
    EXPECT_GE(waited, 900);
    EXPECT_LT(waited, 8000);
    EXPECT_TRUE(hid.isConnected());
}

TEST_F(UsbHidOnUhid, ReconnectClosesTheOldHandleFirst) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    EXPECT_TRUE(hid.isConnected());
    hid.disconnect();
    // The kernel tells the unit of the first reader opening and the last one closing: a
    // reconnect that closed the old handle first makes a second open, and after disconnect
    // nothing holds the device. The front end takes these events on its own thread.
    const auto start = kernel_test::Clock::now();
    while ((frontend().open_count() < 2 || frontend().is_open()) && ms_since(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(frontend().open_count(), 2u);
    EXPECT_FALSE(frontend().is_open());

    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    ASSERT_EQ(hid.write(whoami_request()), 8);
    COMMS_MSG_t reply;
    EXPECT_EQ(read_frame(hid, &reply), static_cast<int>(emu::kFrameReportSize));
    EXPECT_EQ(reply.can_ID & 0x7FF, 0x010u);
}

TEST_F(UsbHidOnUhid, ClosedTransportRefusesReadAndWrite) {
    USBHID hid;
    COMMS_MSG_t m = whoami_request();
    EXPECT_EQ(hid.write(m), -1);
    EXPECT_EQ(hid.read(&m), -1);
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    EXPECT_EQ(hid.read(nullptr), -1);
    hid.disconnect();
    hid.disconnect();
    EXPECT_FALSE(hid.isConnected());
    EXPECT_EQ(hid.write(m), -1);
    EXPECT_TRUE(unit_.received().empty());
}

TEST_F(UsbHidOnUhid, VanishedDeviceFailsReadsButStaysConnected) {
    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    device_.reset();
    COMMS_MSG_t got;
    EXPECT_LT(hid.read(&got), 0);
    EXPECT_EQ(hid.write(whoami_request()), -1);
    EXPECT_TRUE(hid.isConnected());
}

TEST(UsbHidEnumeration, NoDeviceMeansNoConnection) {
    ASSERT_TRUE(
        kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 0));
    USBHID hid;
    EXPECT_FALSE(hid.connect(vendor_id, product_id));
    EXPECT_FALSE(hid.isConnected());
}

TEST(UsbHidEnumeration, InterfaceOnAnotherUsagePageIsNotOpened) {
    emu::EfisUnit other_unit;
    Device other(other_unit, kOtherPage);
    ASSERT_TRUE(other.ok);
    ASSERT_TRUE(kernel_test::wait_for_hid_interfaces(vendor_id, product_id, kOtherPage, 1));
    USBHID hid;
    EXPECT_FALSE(hid.connect(vendor_id, product_id));
    EXPECT_EQ(other.frontend.open_count(), 0u);
}

TEST(UsbHidEnumeration, InterfaceOnAnotherUsagePageIsPassedOver) {
    emu::EfisUnit other_unit;
    Device other(other_unit, kOtherPage);  // created first, so enumerated first
    ASSERT_TRUE(other.ok);
    ASSERT_TRUE(kernel_test::wait_for_hid_interfaces(vendor_id, product_id, kOtherPage, 1));
    emu::EfisUnit unit;
    Device device(unit, emu::kUnitUsagePage);
    ASSERT_TRUE(device.ok);
    ASSERT_TRUE(
        kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 1));

    USBHID hid;
    ASSERT_TRUE(hid.connect(vendor_id, product_id));
    ASSERT_EQ(hid.write(whoami_request()), 8);
    COMMS_MSG_t reply;
    EXPECT_EQ(read_frame(hid, &reply), static_cast<int>(emu::kFrameReportSize));
    EXPECT_EQ(unit.received().size(), 1u);
    EXPECT_TRUE(other_unit.received().empty());
    EXPECT_EQ(other.frontend.open_count(), 0u);
}

TEST(UsbHidEnumeration, OtherProductIsNotOpened) {
    // The same vendor-defined page under a product ID that is not the unit's.
    emu::EfisUnit unit;
    Device device(unit, emu::kUnitUsagePage);
    ASSERT_TRUE(device.ok);
    ASSERT_TRUE(
        kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 1));
    USBHID hid;
    EXPECT_FALSE(hid.connect(vendor_id, static_cast<uint16_t>(product_id + 1)));
    EXPECT_TRUE(hid.connect(vendor_id, product_id));
}

}  // namespace

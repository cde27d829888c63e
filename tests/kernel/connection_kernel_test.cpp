// The connection sequence on the kernel's links: the unit on USB HID (uhid), on CAN FD (vcan
// "can0"), on both, on neither, and units that stay silent on one link.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"
#include "emulator/efis_unit.h"
#include "emulator/frontends/socketcan_frontend.h"
#include "emulator/frontends/uhid_frontend.h"
#include "tests/kernel/kernel_test_support.h"

namespace {

using kernel_test::VcanInterface;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The unit on USB HID, present once hidapi can enumerate it.
struct UsbUnit {
    explicit UsbUnit(bool silent = false) : frontend(unit) {
        std::string error;
        ok = frontend.open(&error);
        EXPECT_TRUE(ok) << error;
        frontend.set_silent(silent);
        frontend.start();
        ok = ok &&
             kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 1);
    }
    emu::EfisUnit unit;
    emu::UhidFrontend frontend;
    bool ok = false;
};

// The unit on the bus "can0".
struct CanUnit {
    explicit CanUnit(bool silent = false) : frontend(unit) {
        std::string error;
        ok = bus.ok() && frontend.open("can0", &error);
        EXPECT_TRUE(ok) << error;
        frontend.set_silent(silent);
        frontend.start();
    }
    VcanInterface bus{"can0"};
    emu::EfisUnit unit;
    emu::SocketCanFrontend frontend;
    bool ok = false;
};

struct Outcome {
    bool connected;
    std::string out;
};

Outcome establish(CommsManager& comms, const LinkChoice& links = LinkChoice{}) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool connected = comms.establish_connection(links);
    testing::internal::GetCapturedStderr();
    return {connected, testing::internal::GetCapturedStdout()};
}

class ConnectionSequence : public ::testing::Test {
protected:
    void SetUp() override {
        kernel_test::remove_interface("can0");
        ASSERT_TRUE(
            kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 0));
    }
};

TEST_F(ConnectionSequence, UnitOnUsbOnly) {
    UsbUnit usb;
    ASSERT_TRUE(usb.ok);
    usb.unit.set_serial(0x0BADCAFE);
    usb.unit.set_version(0, 2, 14, 1);
    CommsManager comms;
    const Outcome o = establish(comms);
    ASSERT_TRUE(o.connected) << o.out;
    EXPECT_TRUE(contains(o.out, "Attempting to connect to USB HID device 0x16D0:0x14C7\n"))
        << o.out;
    EXPECT_TRUE(contains(o.out,
                         "Successfully connected to USB HID device! Serial number: "
                         "0x0BADCAFE, firmware 0.2.14 (rc 1)\n"))
        << o.out;
    EXPECT_TRUE(contains(o.out, "Failed to connect to CAN FD interface\n")) << o.out;
    EXPECT_TRUE(contains(o.out, "Connected via USB HID\n")) << o.out;
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
    EXPECT_FALSE(comms.getCANFD()->isConnected());
    EXPECT_TRUE(device_firmware_at_least_0_2_12());
    const std::vector<size_t> sizes = usb.frontend.output_report_sizes();
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.front(), 8u);  // WHOAMI: 6 + 2 payload bytes
}

TEST_F(ConnectionSequence, UnitOnCanFdOnly) {
    CanUnit can;
    ASSERT_TRUE(can.ok);
    can.unit.set_serial(0x00C0FFEE);
    can.unit.set_version(0, 3, 0, 0);
    CommsManager comms;
    const Outcome o = establish(comms);
    ASSERT_TRUE(o.connected) << o.out;
    EXPECT_TRUE(contains(o.out, "Failed to connect to USB HID device\n")) << o.out;
    EXPECT_TRUE(contains(o.out, "Attempting to connect to CAN FD interface: can0\n")) << o.out;
    EXPECT_TRUE(contains(o.out,
                         "Successfully connected to CAN FD interface! Serial number: "
                         "0x00C0FFEE, firmware 0.3.0 (rc 0)\n"))
        << o.out;
    EXPECT_TRUE(contains(o.out, "Connected via CAN FD\n")) << o.out;
    EXPECT_EQ(comms.getActiveInterface(), CAN_FD);
    EXPECT_FALSE(comms.getUSBHID()->isConnected());
    const std::vector<COMMS_MSG_t> seen = can.unit.received();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].iface, CAN_FD);
    EXPECT_EQ(uint32_t{seen[0].can_ID}, 0x010u);
}

TEST_F(ConnectionSequence, LegacyUnitOnCanFd) {
    CanUnit can;
    ASSERT_TRUE(can.ok);
    can.unit.set_generation(emu::Generation::Legacy);
    can.unit.set_serial(0x12345678);
    CommsManager comms;
    const Outcome o = establish(comms);
    ASSERT_TRUE(o.connected) << o.out;
    EXPECT_TRUE(contains(o.out,
                         "get_serialnumber: current WHOAMI (0x010) failed; retrying "
                         "legacy WHOAMI (0x123).\n"))
        << o.out;
    EXPECT_TRUE(contains(o.out,
                         "Successfully connected to CAN FD interface! Serial number: "
                         "0x12345678, firmware 0.0.0 (rc 0)\n"))
        << o.out;
    EXPECT_TRUE(device_whoami_fwversion_known());
    EXPECT_FALSE(device_firmware_at_least_0_2_12());
}

TEST_F(ConnectionSequence, UnitOnBothLinksCanFdDecidesTheVersion) {
    UsbUnit usb;
    ASSERT_TRUE(usb.ok);
    usb.unit.set_version(0, 2, 14, 0);
    CanUnit can;
    ASSERT_TRUE(can.ok);
    can.unit.set_version(0, 2, 11, 0);
    can.unit.set_answers_current_whoami(true);
    CommsManager comms;
    const Outcome o = establish(comms);
    ASSERT_TRUE(o.connected) << o.out;
    EXPECT_TRUE(contains(o.out, "firmware 0.2.14 (rc 0)\n")) << o.out;
    EXPECT_TRUE(contains(o.out, "firmware 0.2.11 (rc 0)\n")) << o.out;
    EXPECT_TRUE(contains(o.out, "Connected via both USB HID and CAN FD\n")) << o.out;
    EXPECT_EQ(g_whoami_fwversion.fields.minor, 2);
    EXPECT_EQ(g_whoami_fwversion.fields.patch, 11);
    EXPECT_FALSE(device_firmware_at_least_0_2_12());

    // Traffic goes over USB HID while both are open.
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
    usb.unit.clear_received();
    can.unit.clear_received();
    COMMS_MSG_t m;
    std::memset(&m, 0, sizeof(m));
    m.can_ID = 0x7F0;
    m.msg_len = CAN_1_BYTES;
    EXPECT_EQ(comms.write(m), 7);
    const auto start = kernel_test::Clock::now();
    while (usb.unit.received().empty() && kernel_test::ms_since(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(usb.unit.received().size(), 1u);
    EXPECT_EQ(usb.unit.received()[0].iface, USB_HID);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(can.unit.received().empty());

    // With USB closed, the next frame goes over CAN FD.
    comms.getUSBHID()->disconnect();
    EXPECT_EQ(comms.getActiveInterface(), CAN_FD);
    EXPECT_EQ(comms.write(m), 1);
    const auto start_can = kernel_test::Clock::now();
    while (can.unit.received().empty() && kernel_test::ms_since(start_can) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(can.unit.received().size(), 1u);
    EXPECT_EQ(can.unit.received()[0].iface, CAN_FD);
}

TEST_F(ConnectionSequence, NoUnitAndNoInterface) {
    CommsManager comms;
    const Outcome o = establish(comms);
    EXPECT_FALSE(o.connected);
    EXPECT_TRUE(contains(o.out, "Failed to connect to USB HID device\n")) << o.out;
    EXPECT_TRUE(contains(o.out, "Failed to connect to CAN FD interface\n")) << o.out;
    EXPECT_TRUE(contains(o.out, "Failed to connect via both USB HID and CAN FD\n")) << o.out;
    EXPECT_FALSE(comms.isConnected());
    EXPECT_FALSE(device_whoami_fwversion_known());
}

TEST_F(ConnectionSequence, SilentUnitOnUsbIsDroppedAndCanFdCarriesOn) {
    UsbUnit usb(true);
    ASSERT_TRUE(usb.ok);
    CanUnit can;
    ASSERT_TRUE(can.ok);
    CommsManager comms;
    const Outcome o = establish(comms);
    ASSERT_TRUE(o.connected) << o.out;
    EXPECT_TRUE(
        contains(o.out, "Failed to get serial number from USB HID device - disconnecting\n"))
        << o.out;
    EXPECT_TRUE(contains(o.out, "Connected via CAN FD\n")) << o.out;
    EXPECT_FALSE(comms.getUSBHID()->isConnected());
    EXPECT_EQ(comms.getActiveInterface(), CAN_FD);
    // The silent unit heard both requests, current then legacy.
    const std::vector<COMMS_MSG_t> seen = usb.unit.received();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(uint32_t{seen[0].can_ID}, 0x010u);
    EXPECT_EQ(uint32_t{seen[1].can_ID}, 0x123u);
}

TEST_F(ConnectionSequence, SilentUnitOnCanFdIsDroppedAndUsbStays) {
    UsbUnit usb;
    ASSERT_TRUE(usb.ok);
    CanUnit can(true);
    ASSERT_TRUE(can.ok);
    CommsManager comms;
    const Outcome o = establish(comms);
    ASSERT_TRUE(o.connected) << o.out;
    EXPECT_TRUE(
        contains(o.out, "Failed to get serial number from CAN FD interface - disconnecting\n"))
        << o.out;
    EXPECT_TRUE(contains(o.out, "Connected via USB HID\n")) << o.out;
    EXPECT_TRUE(comms.getUSBHID()->isConnected());
    EXPECT_FALSE(comms.getCANFD()->isConnected());
    // The USB probe decided the version, the failed CAN FD probe did not touch it.
    EXPECT_TRUE(device_firmware_at_least_0_2_12());
}

TEST_F(ConnectionSequence, SilentUnitsOnBothLinks) {
    UsbUnit usb(true);
    ASSERT_TRUE(usb.ok);
    CanUnit can(true);
    ASSERT_TRUE(can.ok);
    CommsManager comms;
    const Outcome o = establish(comms);
    EXPECT_FALSE(o.connected) << o.out;
    EXPECT_TRUE(contains(o.out, "Failed to connect via both USB HID and CAN FD\n")) << o.out;
    EXPECT_FALSE(comms.isConnected());
}

}  // namespace

// Two units on one bus both answer every request, and a write would reach both: the bus is
// not used.
TEST_F(ConnectionSequence, TwoUnitsOnOneBusAreRefused) {
    CanUnit first;
    ASSERT_TRUE(first.ok);
    first.unit.set_serial(0x00C0FFEE);
    emu::EfisUnit second_unit;
    second_unit.set_serial(0x00BADA55);
    emu::SocketCanFrontend second(second_unit);
    std::string error;
    ASSERT_TRUE(second.open("can0", &error)) << error;
    second.start();
    CommsManager comms;
    LinkChoice links;
    links.usb = false;
    const Outcome o = establish(comms, links);
    second.stop();
    EXPECT_FALSE(o.connected) << o.out;
    EXPECT_TRUE(contains(o.out, "2 units answer on can0 (serials 0x")) << o.out;
    EXPECT_TRUE(contains(o.out, "0x00C0FFEE") && contains(o.out, "0x00BADA55")) << o.out;
    EXPECT_TRUE(contains(o.out,
                         "this bus can hold one unit: connect one at a time or use USB; "
                         "using neither over CAN FD\n"))
        << o.out;
    EXPECT_FALSE(comms.getCANFD()->isConnected());
    EXPECT_EQ(shared_bus_serials(comms.unitsFound()).size(), 2u);
}

// Two uhid units: neither is used until one is named, then that one alone.
TEST_F(ConnectionSequence, TwoUnitsOnUsbOnlyTheNamedOneIsUsed) {
    emu::EfisUnit a;
    emu::EfisUnit b;
    a.set_serial(0x00C0FFEE);
    b.set_serial(0x00BADA55);
    emu::UhidFrontend fa(a);
    emu::UhidFrontend fb(b);
    std::string error;
    ASSERT_TRUE(fa.open(&error)) << error;
    ASSERT_TRUE(fb.open(&error)) << error;
    fa.start();
    fb.start();
    ASSERT_TRUE(
        kernel_test::wait_for_hid_interfaces(vendor_id, product_id, emu::kUnitUsagePage, 2));
    LinkChoice links;
    links.can = false;
    CommsManager comms;
    const Outcome none = establish(comms, links);
    EXPECT_FALSE(none.connected);
    EXPECT_TRUE(contains(none.out, "2 units are connected (0x")) << none.out;
    EXPECT_FALSE(comms.getUSBHID()->isConnected());

    links.serial = 0x00BADA55;
    const Outcome named = establish(comms, links);
    ASSERT_TRUE(named.connected) << named.out;
    EXPECT_EQ(comms.serialNumber(), 0x00BADA55u);
    a.clear_received();
    b.clear_received();
    uint32_t value = 0;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(get_value_checked(&comms, SETTINGS_COMMS, 6, &value));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(a.received().empty());
    EXPECT_FALSE(b.received().empty());
    fa.stop();
    fb.stop();
}

// A unit on USB and another on CAN FD are two units: the one named is the one in use, and
// the serial number the tool names is its own.
TEST_F(ConnectionSequence, UnitOnUsbAndAnotherOnCanTheNamedOneIsUsed) {
    UsbUnit usb;
    ASSERT_TRUE(usb.ok);
    usb.unit.set_serial(0x00C0FFEE);
    CanUnit can;
    ASSERT_TRUE(can.ok);
    can.unit.set_serial(0x00BADA55);
    CommsManager comms;
    const Outcome none = establish(comms);
    EXPECT_FALSE(none.connected);
    EXPECT_TRUE(contains(none.out, "2 units are connected (0x00C0FFEE, 0x00BADA55); none chosen\n"))
        << none.out;

    LinkChoice links;
    links.serial = 0x00BADA55;
    const Outcome named = establish(comms, links);
    ASSERT_TRUE(named.connected) << named.out;
    EXPECT_EQ(comms.getActiveInterface(), CAN_FD);
    EXPECT_FALSE(comms.getUSBHID()->isConnected());
    EXPECT_EQ(comms.serialNumber(), 0x00BADA55u);
}

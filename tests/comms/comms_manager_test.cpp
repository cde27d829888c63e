// The connection sequence and link routing of the comms manager on the emulated USB link
// (this machine has no SocketCAN, so the CAN FD link never opens).
#include <gtest/gtest.h>
#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::output_report;

const char kUsbAttempt[] = "Attempting to connect to USB HID device 0x16D0:0x14C7\n";
const char kUsbVerifying[] = "USB HID device connected, verifying with serial number request...\n";
const char kCanTail[] =
    "Attempting to connect to CAN FD interface: can0\n"
    "Failed to connect to CAN FD interface\n";

std::string can_socket_error() {
    const int fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (fd >= 0) {
        close(fd);
        return std::string();
    }
    return std::strerror(errno);
}

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (can_socket_error().empty()) {
            GTEST_SKIP() << "SocketCAN is available here; the sequence would try a real can0";
        }
        emu_hid::reset();
        reset_whoami_fwversion_cache();
    }
    void TearDown() override {
        reset_whoami_fwversion_cache();
        emu_hid::reset();
    }

    bool establish(CommsManager& comms) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool ok = comms.establish_connection();
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return ok;
    }

    std::string out;
    std::string err;
};

TEST_F(ManagerTest, NoUnitAnywhere) {
    emu_hid::set_interfaces({});
    comms_test::set_cache(comms_test::Cache::Legacy);
    CommsManager comms;
    EXPECT_FALSE(establish(comms));
    EXPECT_EQ(out, std::string(kUsbAttempt) + "Failed to connect to USB HID device\n" + kCanTail +
                       "Failed to connect via both USB HID and CAN FD\n");
    EXPECT_EQ(err, "Failed to create temporary CAN socket: " + can_socket_error() + "\n");
    EXPECT_FALSE(comms.isConnected());
    // Each attempt starts from an empty cache: the current numbering applies again.
    EXPECT_FALSE(device_whoami_fwversion_known());
    EXPECT_EQ(canmsg_ack(), 0x0E0u);
}

TEST_F(ManagerTest, CurrentUnitOnUsb) {
    emu_hid::unit().set_serial(0x00C0FFEE);
    emu_hid::unit().set_version(0, 2, 14, 3);
    CommsManager comms;
    EXPECT_TRUE(establish(comms));
    EXPECT_EQ(out, std::string(kUsbAttempt) + kUsbVerifying +
                       "Successfully connected to USB HID device! Serial number: 0x00C0FFEE, "
                       "firmware 0.2.14 (rc 3)\n" +
                       kCanTail + "Connected via USB HID\n");
    EXPECT_TRUE(comms.isConnected());
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
    EXPECT_TRUE(device_firmware_at_least_0_2_12());
    EXPECT_TRUE(emu_hid::device_open());
}

TEST_F(ManagerTest, LegacyUnitOnUsbPrintsVersionZero) {
    emu_hid::unit().set_generation(emu::Generation::Legacy);
    emu_hid::unit().set_serial(0x12345678);
    CommsManager comms;
    EXPECT_TRUE(establish(comms));
    EXPECT_EQ(out, std::string(kUsbAttempt) + kUsbVerifying +
                       "get_serialnumber: current WHOAMI (0x010) failed; retrying legacy WHOAMI "
                       "(0x123).\n"
                       "Successfully connected to USB HID device! Serial number: 0x12345678, "
                       "firmware 0.0.0 (rc 0)\n" +
                       kCanTail + "Connected via USB HID\n");
    EXPECT_EQ(canmsg_set_user_setting(), 0x378u);
}

TEST_F(ManagerTest, UnitThatDoesNotAnswerIsDisconnected) {
    emu::Fault quiet;
    quiet.answer = emu::AnswerKind::Reply;
    quiet.no_answer = true;
    emu_hid::unit().set_fault(0x010, quiet);
    emu_hid::unit().set_fault(0x123, quiet);
    CommsManager comms;
    EXPECT_FALSE(establish(comms));
    EXPECT_EQ(out, std::string(kUsbAttempt) + kUsbVerifying +
                       "get_serialnumber: current WHOAMI (0x010) failed; retrying legacy WHOAMI "
                       "(0x123).\n"
                       "get_serialnumber: No valid WHOAMI response before timeout.\n"
                       "Failed to get serial number from USB HID device - disconnecting\n" +
                       kCanTail + "Failed to connect via both USB HID and CAN FD\n");
    EXPECT_FALSE(comms.isConnected());
    EXPECT_FALSE(emu_hid::device_open());
    EXPECT_EQ(emu_hid::close_count(), 1u);
}

TEST_F(ManagerTest, FramesGoOverUsbWhileItIsConnected) {
    CommsManager comms;
    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.iface = CAN_FD;
    msg.can_ID = 0x370;
    msg.msg_len = CAN_1_BYTES;
    msg.data[0] = 6;
    EXPECT_EQ(comms.write(msg), 7);
    EXPECT_EQ(msg.iface, CAN_FD);
    EXPECT_EQ(emu_hid::output_reports(),
              std::vector<Bytes>{output_report(0x370, CAN_1_BYTES, {6})});

    emu_hid::inject_input_report(comms_test::input_report(0x0E0, CAN_4_BYTES, {0, 0x90, 3, 1}));
    COMMS_MSG_t in;
    std::memset(&in, 0, sizeof(in));
    EXPECT_EQ(comms.read(&in), 11);
    EXPECT_EQ(uint32_t{in.can_ID}, 0x0E0u);
    EXPECT_EQ(comms.read(nullptr), -1);
}

TEST_F(ManagerTest, NoLinkMeansNoTraffic) {
    CommsManager comms;
    ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
    comms.getUSBHID()->disconnect();
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = 0x370;
    msg.msg_len = CAN_1_BYTES;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(comms.write(msg), -1);
    EXPECT_EQ(comms.read(&msg), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No interface connected.\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(comms.isConnected());
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

TEST_F(ManagerTest, ConnectFailuresAreReportedAsFalse) {
    emu_hid::set_fail_open(true);
    CommsManager comms;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(comms.connectUSB(vendor_id, product_id));
    EXPECT_FALSE(comms.connectCANFD("can0"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to create temporary CAN socket: " + can_socket_error() + "\n");
    EXPECT_FALSE(comms.isConnected());
}

TEST_F(ManagerTest, DestructionClosesTheLinkAndHidapi) {
    {
        CommsManager comms;
        ASSERT_TRUE(comms.connectUSB(vendor_id, product_id));
        EXPECT_EQ(emu_hid::init_count(), 1);
    }
    EXPECT_FALSE(emu_hid::device_open());
    EXPECT_EQ(emu_hid::init_count(), 0);
}

}  // namespace

// The manager's frame tap during a real exchange with the emulated unit over USB: the
// identification handshake (which uses the link directly) and a value read.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::output_report;

bool socketcan_available() {
    const int fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

struct Expected {
    bool sent;
    uint32_t can_id;
    Bytes payload;
};

class ManagerTapTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (socketcan_available()) {
            GTEST_SKIP() << "SocketCAN is available here; the handshake would try a real can0";
        }
        emu_hid::reset();
        reset_whoami_fwversion_cache();
        emu_hid::unit().set_serial(0x00C0FFEE);
        emu_hid::unit().set_version(0, 2, 14, 3);
        Settings_t s = emu_hid::unit().settings();
        uint32_t brightness = 0xA1B2C3D4;
        ASSERT_TRUE(settings_set_value(&s, BACKLIGHT_BRIGHTNESS_INDEX, &brightness));
        emu_hid::unit().set_settings(s);
    }
    void TearDown() override {
        reset_whoami_fwversion_cache();
        emu_hid::reset();
    }

    bool read_brightness(CommsManager& comms) {
        uint32_t value = 0;
        testing::internal::CaptureStdout();
        const bool ok =
            get_value_checked(&comms, SETTINGS_COMMS, BACKLIGHT_BRIGHTNESS_INDEX, &value);
        testing::internal::GetCapturedStdout();
        return ok && value == 0xA1B2C3D4;
    }

    std::vector<TappedFrame> frames;
};

TEST_F(ManagerTapTest, ShowsEveryFrameOfHandshakeAndValueReadInOrder) {
    CommsManager comms;
    comms.setFrameTap([this](const TappedFrame& f) { frames.push_back(f); });
    const int64_t before_us = frame_tap_time_us();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool connected = comms.establish_connection();
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(connected);
    ASSERT_TRUE(read_brightness(comms));
    const int64_t after_us = frame_tap_time_us();

    const std::vector<Expected> expected = {
        {true, 0x010, {0xEF, 0x15}},
        {false, 0x010, {0x00, 0xC0, 0xFF, 0xEE, 3, 14, 2, 0}},
        {true, 0x370, {BACKLIGHT_BRIGHTNESS_INDEX}},
        {false, 0x380, {0xD4, 0xC3, 0xB2, 0xA1}},
    };
    const std::vector<Bytes> reports = emu_hid::output_reports();
    ASSERT_EQ(frames.size(), expected.size());
    size_t report = 0;
    int64_t previous_us = before_us;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TappedFrame& f = frames[i];
        const Bytes payload(f.data, f.data + f.len);
        EXPECT_EQ(f.sent, expected[i].sent);
        EXPECT_EQ(f.iface, USB_HID);
        EXPECT_EQ(f.can_id, expected[i].can_id);
        EXPECT_EQ(payload, expected[i].payload);
        EXPECT_TRUE(f.fd);
        EXPECT_EQ(f.flags, 0);
        EXPECT_GE(f.time_us, previous_us);
        EXPECT_LE(f.time_us, after_us);
        previous_us = f.time_us;
        if (f.sent) {
            ASSERT_LT(report, reports.size());
            EXPECT_EQ(reports[report],
                      output_report(f.can_id, can_msg_len_from_payload(f.len), payload));
            ++report;
        }
    }
    EXPECT_EQ(report, reports.size()) << "every output report was shown to the tap";

    comms.setFrameTap(FrameTap());
    ASSERT_TRUE(read_brightness(comms));
    EXPECT_EQ(emu_hid::output_reports().size(), reports.size() + 1);
    EXPECT_EQ(frames.size(), expected.size()) << "nothing shown once the tap is cleared";
}

}  // namespace

// A unit that goes away: the USB transport and the manager notice a lost link, the manager
// closes everything and connects again, the presence probe needs no open link, and opening
// is retried while the unit is attached but not yet accessible.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"
#include "comms/usb_hid/unit_interface.h"
#include "comms_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

const LinkChoice kUsbOnly{true, false, "can0", 0, {}, {}};

COMMS_MSG_t whoami_request() {
    COMMS_MSG_t m;
    std::memset(&m, 0, sizeof(m));
    m.can_ID = 0x010;
    m.msg_len = CAN_2_BYTES;
    m.data[0] = 0xEF;
    m.data[1] = 0x15;
    return m;
}

// Runs `action` on another thread after `delay_ms` (not at all when negative); joined on
// destruction, so a test waits for it at most that long.
class Later {
public:
    Later(int delay_ms, std::function<void()> action) {
        if (delay_ms >= 0) {
            thread = std::thread([delay_ms, action] {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
                action();
            });
        }
    }
    ~Later() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;

private:
    std::thread thread;
};

long ms_since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class LinkLossTest : public ::testing::Test {
protected:
    void SetUp() override {
        emu_hid::reset();
        reset_whoami_fwversion_cache();
    }
    void TearDown() override {
        reset_whoami_fwversion_cache();
        emu_hid::reset();
    }
};

// What happens on an open USB link, and whether the link then counts as lost.
struct UsbCase {
    const char* name;
    std::function<void(USBHID&)> happen;
    bool lost;
};

class UsbLinkLoss : public LinkLossTest, public ::testing::WithParamInterface<UsbCase> {};

TEST_P(UsbLinkLoss, OnlyAFailureOfTheDeviceCounts) {
    const UsbCase& c = GetParam();
    USBHID usb;
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.linkLost());
    c.happen(usb);
    EXPECT_EQ(usb.linkLost(), c.lost);
    EXPECT_TRUE(usb.isConnected()) << "a failure leaves the link open";
    // Opening again (the unit back after a reset) and closing both start afresh.
    emu_hid::reset();
    ASSERT_TRUE(usb.connect(vendor_id, product_id));
    EXPECT_FALSE(usb.linkLost());
    c.happen(usb);
    EXPECT_EQ(usb.linkLost(), c.lost);
    usb.disconnect();
    EXPECT_FALSE(usb.linkLost());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbLinkLoss,
    ::testing::Values(UsbCase{"ReadAfterUnplug",
                              [](USBHID& usb) {
                                  emu_hid::vanish_after(0);
                                  COMMS_MSG_t m;
                                  EXPECT_LT(usb.read(&m), 0);
                              },
                              true},
                      UsbCase{"ReadWithoutWaitingAfterUnplug",
                              [](USBHID& usb) {
                                  emu_hid::vanish_after(0);
                                  COMMS_MSG_t m;
                                  EXPECT_LT(usb.read_nowait(&m), 0);
                              },
                              true},
                      UsbCase{"WriteAfterUnplug",
                              [](USBHID& usb) {
                                  emu_hid::vanish_after(0);
                                  EXPECT_EQ(usb.write(whoami_request()), -1);
                              },
                              true},
                      UsbCase{"RawWriteAfterUnplug",
                              [](USBHID& usb) {
                                  emu_hid::vanish_after(0);
                                  const uint8_t raw[5] = {0x10, 0, 0, 0, 0};
                                  EXPECT_EQ(usb.write(raw, sizeof(raw)), -1);
                              },
                              true},
                      UsbCase{"LastWriteGoesOutThenTheReadFails",
                              [](USBHID& usb) {
                                  emu_hid::vanish_after(1);
                                  EXPECT_EQ(usb.write(whoami_request()), 8);
                                  EXPECT_FALSE(usb.linkLost());
                                  COMMS_MSG_t m;
                                  EXPECT_LT(usb.read(&m), 0);
                              },
                              true},
                      UsbCase{"ReadTimesOut",
                              [](USBHID& usb) {
                                  COMMS_MSG_t m;
                                  EXPECT_EQ(usb.read(&m), 0);
                              },
                              false},
                      UsbCase{"ShortReport",
                              [](USBHID& usb) {
                                  emu_hid::inject_input_report({0x05, 0x00, 0x10});
                                  COMMS_MSG_t m;
                                  EXPECT_EQ(usb.read(&m), -1);
                              },
                              false},
                      UsbCase{"NullFrame",
                              [](USBHID& usb) {
                                  emu_hid::vanish_after(0);
                                  EXPECT_EQ(usb.read(nullptr), -1);
                              },
                              false},
                      UsbCase{"ExchangeAnswered",
                              [](USBHID& usb) {
                                  ASSERT_EQ(usb.write(whoami_request()), 8);
                                  COMMS_MSG_t m;
                                  EXPECT_GT(usb.read(&m), 0);
                              },
                              false}),
    [](const ::testing::TestParamInfo<UsbCase>& info) { return std::string(info.param.name); });

class ManagerLinkLoss : public LinkLossTest {
protected:
    bool establish(CommsManager& comms, const LinkChoice& links) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool ok = comms.establish_connection(links);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return ok;
    }
    std::string out;
    std::string err;
};

TEST_F(ManagerLinkLoss, UnplugIsSeenThenEverythingClosesAndTheUnitIsFoundAgain) {
    emu_hid::unit().set_serial(0x00C0FFEE);
    CommsManager comms;
    EXPECT_FALSE(comms.linkLost()) << "no link";
    ASSERT_TRUE(establish(comms, kUsbOnly));
    EXPECT_EQ(comms.serialNumber(), 0x00C0FFEEu);
    EXPECT_GT(comms.roundTripUs(), 0u);
    EXPECT_FALSE(comms.linkLost());

    emu_hid::vanish_after(0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(comms.write(whoami_request()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(comms.linkLost());
    EXPECT_TRUE(comms.isConnected()) << "the manager does not close a link on its own";

    const int inits = emu_hid::init_count();
    comms.disconnectAll();
    EXPECT_FALSE(comms.isConnected());
    EXPECT_FALSE(comms.linkLost());
    EXPECT_EQ(comms.serialNumber(), 0xFFFFFFFFu);
    EXPECT_EQ(comms.roundTripUs(), 0u);
    EXPECT_FALSE(emu_hid::device_open());
    EXPECT_EQ(emu_hid::init_count(), inits) << "hidapi stays initialised";
    comms.disconnectAll();
    EXPECT_FALSE(comms.isConnected());

    // The unit comes back with another identity.
    emu_hid::reset();
    emu_hid::unit().set_serial(0x12345678);
    ASSERT_TRUE(establish(comms, kUsbOnly)) << out;
    EXPECT_TRUE(comms.isConnected());
    EXPECT_FALSE(comms.linkLost());
    EXPECT_EQ(comms.serialNumber(), 0x12345678u);
    EXPECT_EQ(comms.getActiveInterface(), USB_HID);
    ASSERT_GT(comms.write(whoami_request()), 0);
    COMMS_MSG_t reply;
    std::memset(&reply, 0, sizeof(reply));
    EXPECT_GT(comms.read(&reply), 0);
    EXPECT_EQ(uint32_t{reply.can_ID}, 0x010u);
}

TEST_F(ManagerLinkLoss, CanInterfaceIsTheOneTheLastAttemptTried) {
    struct Case {
        const char* name;
        LinkChoice links;
        std::string expected;
    };
    emu_hid::set_interfaces({});
    CommsManager comms;
    EXPECT_EQ(comms.canInterface(), "");
    for (const Case& c : {Case{"DefaultLinks", LinkChoice{}, "can0"},
                          Case{"OtherInterface", LinkChoice{true, true, "vcan3", 0, {}, {}}, "vcan3"},
                          Case{"UsbOnly", kUsbOnly, ""},
                          Case{"CanOnly", LinkChoice{false, true, "can1", 0, {}, {}}, "can1"}}) {
        establish(comms, c.links);
        EXPECT_EQ(comms.canInterface(), c.expected) << c.name;
        comms.disconnectAll();
        EXPECT_EQ(comms.canInterface(), c.expected) << c.name << ": kept after disconnectAll";
    }
}

struct PresenceCase {
    const char* name;
    std::vector<emu_hid::Interface> interfaces;
    bool fail_open;
    bool unplugged;
    bool present;
};

class UsbPresence : public LinkLossTest, public ::testing::WithParamInterface<PresenceCase> {};

TEST_P(UsbPresence, SeesTheUnitsInterfaceWithoutOpeningIt) {
    const PresenceCase& c = GetParam();
    emu_hid::set_interfaces(c.interfaces);
    emu_hid::set_fail_open(c.fail_open);
    if (c.unplugged) {
        emu_hid::vanish_after(0);
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(usb_unit_present(vendor_id, product_id), c.present);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(emu_hid::open_count(), 0u);
    // The probe and a connection agree on which interface is the unit's.
    USBHID usb;
    EXPECT_EQ(usb.connect(vendor_id, product_id), c.present && !c.fail_open);
}

const emu_hid::Interface kUnit{vendor_id, product_id, 0xFF00, "/dev/hidraw-unit", true};
const emu_hid::Interface kKeyboard{vendor_id, product_id, 0x0001, "/dev/hidraw-kbd", false};
const emu_hid::Interface kOtherProduct{vendor_id, 0x1234, 0xFF00, "/dev/hidraw-other", false};

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbPresence,
    ::testing::Values(PresenceCase{"Attached", {kUnit}, false, false, true},
                      PresenceCase{"BehindOtherInterfaces", {kKeyboard, kUnit}, false, false, true},
                      PresenceCase{"NotYetAccessible", {kUnit}, true, false, true},
                      PresenceCase{"NothingAttached", {}, false, false, false},
                      PresenceCase{"OnlyOtherUsagePage", {kKeyboard}, false, false, false},
                      PresenceCase{"OnlyOtherProduct", {kOtherProduct}, false, false, false},
                      PresenceCase{"Unplugged", {kUnit}, false, true, false}),
    [](const ::testing::TestParamInfo<PresenceCase>& info) {
        return std::string(info.param.name);
    });

// Opening fails until `open_ok_after_ms` (never when negative); the unit disappears from the
// enumeration at `unplug_after_ms` (never when negative).
struct RetryCase {
    const char* name;
    bool attached;
    int open_ok_after_ms;
    int unplug_after_ms;
    uint32_t retry_ms;
    bool connects;
    long min_ms;
    long max_ms;
};

class UsbOpenRetry : public ManagerLinkLoss, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(UsbOpenRetry, RetriesOnlyWhileTheUnitIsAttached) {
    const RetryCase& c = GetParam();
    emu_hid::unit().set_serial(0x0BADCAFE);
    if (!c.attached) {
        emu_hid::set_interfaces({});
    }
    emu_hid::set_fail_open(true);
    Later allow(c.open_ok_after_ms, [] { emu_hid::set_fail_open(false); });
    Later unplug(c.unplug_after_ms, [] { emu_hid::set_interfaces({}); });
    CommsManager comms;
    LinkChoice links = kUsbOnly;
    links.usb_open_retry_ms = c.retry_ms;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(establish(comms, links), c.connects);
    const long took = ms_since(start);
    EXPECT_GE(took, c.min_ms);
    EXPECT_LT(took, c.max_ms);
    // The retries say nothing: the lines are those of one attempt.
    const std::string attempt = "Attempting to connect to USB HID device 0x16D0:0x14C7\n";
    if (c.connects) {
        EXPECT_EQ(out, attempt +
                           "USB HID device connected, verifying with serial number request...\n"
                           "Successfully connected to USB HID device! Serial number: 0x0BADCAFE, "
                           "firmware 0.2.12 (rc 0)\n"
                           "Connected via USB HID\n");
        EXPECT_EQ(emu_hid::open_count(), 1u);
    } else {
        EXPECT_EQ(out, attempt +
                           "Failed to connect to USB HID device\n"
                           "Failed to connect via both USB HID and CAN FD\n");
        EXPECT_EQ(emu_hid::open_count(), 0u);
    }
    EXPECT_EQ(err, "");
    EXPECT_EQ(comms.isConnected(), c.connects);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsbOpenRetry,
    ::testing::Values(RetryCase{"AccessGrantedWhileRetrying", true, 300, -1, 2000, true, 250, 1900},
                      RetryCase{"NoRetryAsked", true, 300, -1, 0, false, 0, 250},
                      RetryCase{"NoUnitMeansNoWait", false, 300, -1, 2000, false, 0, 250},
                      RetryCase{"GivesUpAtTheBound", true, -1, -1, 400, false, 400, 1500},
                      RetryCase{"StopsWhenTheUnitGoes", true, -1, 300, 5000, false, 250, 2000}),
    [](const ::testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });

}  // namespace

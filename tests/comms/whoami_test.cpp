// The identification handshake on the emulated USB link: both reply forms, what is passed
// over, and the version cache it leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "comms/can_msg_ids.h"
#include "comms/comms.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::inject;
using comms_test::inject_after_request;
using comms_test::output_report;

const Bytes kCurrentRequest = output_report(0x010, CAN_2_BYTES, {0xEF, 0x15});
const Bytes kLegacyRequest = output_report(0x123, CAN_2_BYTES, {0xEF, 0x15});
const std::string kRetryLine =
    "get_serialnumber: current WHOAMI (0x010) failed; retrying legacy WHOAMI (0x123).\n";

class WhoamiTest : public comms_test::UsbLinkTest {
protected:
    // Only injected reports answer.
    void silence_unit() {
        emu::Fault quiet;
        quiet.answer = emu::AnswerKind::Reply;
        quiet.no_answer = true;
        emu_hid::unit().set_fault(0x010, quiet);
        emu_hid::unit().set_fault(0x123, quiet);
    }

    uint32_t identify(fwversion_t* fw) {
        testing::internal::CaptureStdout();
        const uint32_t serial = get_serialnumber(comms.get(), USB_HID, fw);
        out = testing::internal::GetCapturedStdout();
        return serial;
    }

    std::string out;
};

TEST_F(WhoamiTest, CurrentUnitAnswersFirstRequest) {
    emu_hid::unit().set_serial(0x12345678);
    emu_hid::unit().set_version(0, 2, 12, 5);
    fwversion_t fw;
    fw.version = 0xDEADBEEF;
    EXPECT_EQ(identify(&fw), 0x12345678u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(emu_hid::output_reports(), std::vector<Bytes>{kCurrentRequest});
    EXPECT_EQ(fw.fields.major, 0);
    EXPECT_EQ(fw.fields.minor, 2);
    EXPECT_EQ(fw.fields.patch, 12);
    EXPECT_EQ(fw.fields.rc, 5);
    EXPECT_TRUE(device_firmware_at_least_0_2_12());
    EXPECT_EQ(canmsg_ack(), 0x0E0u);
}

TEST_F(WhoamiTest, CurrentReplyCarriesSerialBigEndianAndVersion) {
    silence_unit();
    inject_after_request(0x010, CAN_8_BYTES, {0x12, 0x34, 0x56, 0x78, 0x05, 0x0C, 0x02, 0x00});
    fwversion_t fw;
    fw.version = 0;
    EXPECT_EQ(identify(&fw), 0x12345678u);
    EXPECT_EQ(out, "");
    EXPECT_EQ(fw.version, 0x00020C05u);
    EXPECT_TRUE(device_whoami_fwversion_known());
    EXPECT_EQ(g_whoami_fwversion.version, 0x00020C05u);
    EXPECT_TRUE(device_firmware_at_least_0_2_12());
}

TEST_F(WhoamiTest, FramesOtherThanAnEightByteReplyArePassedOver) {
    silence_unit();
    inject_after_request(0x011, CAN_8_BYTES, {0xAA, 0xAA, 0xAA, 0xAA, 0, 0x0C, 0x02, 0});
    inject_after_request(0x010, CAN_7_BYTES, {0xBB, 0xBB, 0xBB, 0xBB, 0, 0x0C, 0x02});
    inject_after_request(0x010, CAN_12_BYTES,
                         {0xCC, 0xCC, 0xCC, 0xCC, 0, 0x0C, 0x02, 0, 0, 0, 0, 0});
    inject_after_request(0x123, CAN_8_BYTES, {0xEF, 0x15, 0, 0, 0xDD, 0xDD, 0xDD, 0xDD});
    inject_after_request(0x010, CAN_8_BYTES, {0x0A, 0x0B, 0x0C, 0x0D, 0x00, 0x0D, 0x02, 0x00});
    fwversion_t fw;
    fw.version = 0;
    EXPECT_EQ(identify(&fw), 0x0A0B0C0Du);
    EXPECT_EQ(out, "");
    EXPECT_EQ(fw.fields.patch, 13);
}

class WhoamiExtendedId : public WhoamiTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(WhoamiExtendedId, ReplyMatchesOnItsLow11Bits) {
    silence_unit();
    inject_after_request(GetParam(), CAN_8_BYTES, {0x00, 0x00, 0x01, 0x02, 0x00, 0x0C, 0x02, 0x00});
    EXPECT_EQ(identify(nullptr), 0x0102u);
    EXPECT_EQ(out, "");
}

INSTANTIATE_TEST_SUITE_P(Identifiers, WhoamiExtendedId,
                         ::testing::Values(0x00000010u, 0x80000010u, 0x00000810u, 0x9FFFF810u));

TEST_F(WhoamiTest, CurrentReplyBelow_0_2_12SelectsLegacyNumbering) {
    silence_unit();
    inject_after_request(0x010, CAN_8_BYTES, {0x00, 0x00, 0x00, 0x07, 0x09, 0x0B, 0x02, 0x00});
    fwversion_t fw;
    fw.version = 0;
    EXPECT_EQ(identify(&fw), 7u);
    EXPECT_EQ(fw.version, 0x00020B09u);
    EXPECT_TRUE(device_whoami_fwversion_known());
    EXPECT_FALSE(device_firmware_at_least_0_2_12());
    EXPECT_EQ(canmsg_ack(), 0x255u);
    EXPECT_EQ(canmsg_set_user_setting(), 0x378u);
}

TEST_F(WhoamiTest, VersionIsCachedWithoutAnOutVariable) {
    emu_hid::unit().set_version(0, 3, 1, 0);
    EXPECT_NE(identify(nullptr), 0xFFFFFFFFu);
    EXPECT_TRUE(device_whoami_fwversion_known());
    EXPECT_EQ(g_whoami_fwversion.fields.minor, 3);
    EXPECT_EQ(g_whoami_fwversion.fields.patch, 1);
}

TEST_F(WhoamiTest, NullManagerFailsQuietly) {
    fwversion_t fw;
    fw.version = 0xDEADBEEF;
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_serialnumber(nullptr, USB_HID, &fw), 0xFFFFFFFFu);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(fw.version, 0xDEADBEEFu);
}

TEST_F(WhoamiTest, UnusableLinkFailsWithoutSending) {
    const COMM_INTERFACE_t links[] = {CAN_FD, static_cast<COMM_INTERFACE_t>(7)};
    for (COMM_INTERFACE_t link : links) {
        fwversion_t fw;
        fw.version = 0xDEADBEEF;
        testing::internal::CaptureStdout();
        EXPECT_EQ(get_serialnumber(comms.get(), link, &fw), 0xFFFFFFFFu);
        // Only the retry line: neither probe has a link to report on.
        EXPECT_EQ(testing::internal::GetCapturedStdout(), kRetryLine);
        EXPECT_EQ(fw.version, 0xDEADBEEFu);
    }
    EXPECT_TRUE(emu_hid::output_reports().empty());
    EXPECT_FALSE(device_whoami_fwversion_known());
}

TEST_F(WhoamiTest, LinkLostAfterFirstRequest) {
    emu_hid::vanish_after(1);
    fwversion_t fw;
    fw.version = 0xDEADBEEF;
    EXPECT_EQ(identify(&fw), 0xFFFFFFFFu);
    EXPECT_EQ(out, kRetryLine + "get_serialnumber: Failed to send message to device.\n");
    EXPECT_EQ(fw.version, 0xDEADBEEFu);
    EXPECT_FALSE(device_whoami_fwversion_known());
}

TEST_F(WhoamiTest, LegacyUnitAnswersAfterTheCurrentProbeRunsOut) {
    emu_hid::unit().set_generation(emu::Generation::Legacy);
    emu_hid::unit().set_serial(0x12345678);
    fwversion_t fw;
    fw.version = 0xDEADBEEF;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(identify(&fw), 0x12345678u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_EQ(out, kRetryLine);
    EXPECT_EQ(emu_hid::output_reports(), (std::vector<Bytes>{kCurrentRequest, kLegacyRequest}));
    EXPECT_EQ(fw.version, 0u);
    EXPECT_TRUE(device_whoami_fwversion_known());
    EXPECT_EQ(g_whoami_fwversion.version, 0u);
    EXPECT_EQ(canmsg_ack(), 0x255u);
    EXPECT_EQ(canmsg_mx25_ack(), 0x256u);
}

TEST_F(WhoamiTest, LegacyReplyNeedsMarkersAndEightBytes) {
    silence_unit();
    // The replies are put on the link once the legacy request has gone out.
    std::thread answer([] {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (emu_hid::output_reports().size() < 2 && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        inject(0x123, CAN_8_BYTES, {0xEF, 0x16, 0, 0, 0x11, 0x11, 0x11, 0x11});
        inject(0x123, CAN_8_BYTES, {0x15, 0xEF, 0, 0, 0x22, 0x22, 0x22, 0x22});
        inject(0x123, CAN_6_BYTES, {0xEF, 0x15, 0, 0, 0x33, 0x33});
        inject(0x010, CAN_8_BYTES, {0x44, 0x44, 0x44, 0x44, 0, 0x0C, 0x02, 0});
        inject(0x123, CAN_8_BYTES, {0xEF, 0x15, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12});
    });
    fwversion_t fw;
    fw.version = 0xDEADBEEF;
    EXPECT_EQ(identify(&fw), 0x12345678u);
    answer.join();
    EXPECT_EQ(out, kRetryLine);
    EXPECT_EQ(fw.version, 0u);
    EXPECT_TRUE(device_whoami_fwversion_known());
    EXPECT_FALSE(device_firmware_at_least_0_2_12());
}

// An answer quicker than a microsecond (an emulated unit in an optimised build) is still an
// answer: only "none" reads 0, so that the upload plan keeps its duration estimate.
TEST(MeasuredRoundTrip, RoundsUpAndNeverReadsAsNone) {
    using std::chrono::nanoseconds;
    const struct {
        nanoseconds elapsed;
        uint32_t us;
    } cases[] = {
        {nanoseconds(0), 1},
        {nanoseconds(1000), 1},
        {nanoseconds(1001), 2},
        {std::chrono::hours(2), 0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(measured_round_trip_us(c.elapsed), c.us) << c.elapsed.count() << " ns";
    }
}

}  // namespace

// Answers left on the link by an earlier exchange, late or repeated, are dropped before the
// next request instead of being taken for its answer: both generations on the emulated unit.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::Cache;
using comms_test::inject;
using comms_test::output_report;

std::string dropped_line(int n) {
    return "Dropped " + std::to_string(n) + " stale frame(s) before the request\n";
}

class DrainTest : public comms_test::UsbLinkTest {
protected:
    void fault(uint32_t id, emu::AnswerKind kind, emu::Fault f) {
        f.answer = kind;
        emu_hid::unit().set_fault(id, f);
    }
    uint32_t unit_setting(settings_struct_index index) {
        Settings_t s = emu_hid::unit().settings();
        return settings_get_value(&s, index);
    }
};

TEST_F(DrainTest, QuietLinkDropsNothingSaysNothingAndDoesNotWait) {
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStdout();
    EXPECT_EQ(drain_stale_frames(comms.get()), 0);
    EXPECT_EQ(drain_stale_frames(comms.get(), USB_HID), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // A read that waited would take the link's 1000 ms time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

struct CountCase {
    const char* name;
    int queued;
    std::vector<int> drains;  // what each successive drain returns
};

class DrainCount : public DrainTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(DrainCount, DropsAtMost64PerCallAndSaysHowMany) {
    const CountCase& c = GetParam();
    for (bool one_link : {false, true}) {
        for (int i = 0; i < c.queued; ++i) {
            inject(0x0E0 + static_cast<uint32_t>(i % 3), CAN_4_BYTES,
                   {static_cast<uint8_t>(i), 0x90, 0x03, 0x01});
        }
        std::string expected_out;
        testing::internal::CaptureStdout();
        for (int expected : c.drains) {
            EXPECT_EQ(one_link ? drain_stale_frames(comms.get(), USB_HID)
                               : drain_stale_frames(comms.get()),
                      expected)
                << (one_link ? "USB link" : "manager");
            if (expected > 0) {
                expected_out += dropped_line(expected);
            }
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expected_out);
    }
    EXPECT_TRUE(emu_hid::output_reports().empty()) << "a drain sends nothing";
}

INSTANTIATE_TEST_SUITE_P(Queues, DrainCount,
                         ::testing::Values(CountCase{"One", 1, {1, 0}},
                                           CountCase{"Three", 3, {3, 0}},
                                           CountCase{"SixtyFour", 64, {64, 0}},
                                           CountCase{"SeventyTakesTwoCalls", 70, {64, 6, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DrainTest, NoLinkIsAFailureWithoutAMessage) {
    CommsManager unconnected;
    testing::internal::CaptureStdout();
    EXPECT_EQ(drain_stale_frames(nullptr), -1);
    EXPECT_EQ(drain_stale_frames(nullptr, USB_HID), -1);
    EXPECT_EQ(drain_stale_frames(&unconnected), -1);
    EXPECT_EQ(drain_stale_frames(&unconnected, USB_HID), -1);
    EXPECT_EQ(drain_stale_frames(comms.get(), CAN_FD), -1);
    EXPECT_EQ(drain_stale_frames(comms.get(), static_cast<COMM_INTERFACE_t>(7)), -1);
    emu_hid::vanish_after(0);
    EXPECT_EQ(drain_stale_frames(comms.get()), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// The first element's answer is left on the link; the unit refuses the second element.
struct StaleAckCase {
    const char* name;
    Cache cache;
    uint32_t set_id;
    bool late;  // A's ACK comes after its wait ended; otherwise A's ACK is sent twice
    std::string a_out;
    std::string b_refusal;
};

class StaleAck : public DrainTest, public ::testing::WithParamInterface<StaleAckCase> {};

TEST_P(StaleAck, IsNotTakenForTheNextElement) {
    const StaleAckCase& c = GetParam();
    use_generation(c.cache);
    emu::Fault first;
    first.times = 1;
    if (c.late) {
        first.delay_ms = 1500;  // past the 1000 ms read time-out of the USB link
    } else {
        first.repeat = 1;
    }
    fault(c.set_id, emu::AnswerKind::CommandAck, first);
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 180), c.late ? -1 : 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.a_out);
    if (c.late) {
        // A's wait ended 1000 ms after its request; its ACK is due at 1500 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }

    emu::Fault refuse;
    refuse.refuse = true;
    fault(c.set_id, emu::AnswerKind::CommandAck, refuse);
    const uint32_t vs0_before = unit_setting(VS0_INDEX);
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_value(comms.get(), SETTINGS_COMMS, VS0_INDEX, 42), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), dropped_line(1) + c.b_refusal);
    EXPECT_EQ(unit_setting(VS0_INDEX), vs0_before);
    EXPECT_EQ(unit_setting(VNE_INDEX), 180u);
    EXPECT_EQ(emu_hid::output_reports(),
              (std::vector<Bytes>{output_report(c.set_id, CAN_5_BYTES, {VNE_INDEX, 180, 0, 0, 0}),
                                  output_report(c.set_id, CAN_5_BYTES, {VS0_INDEX, 42, 0, 0, 0})}))
        << "nothing is added to the wire";
}

const std::string kNoAck = "No ACK received from device (timeout or no data).\n";

INSTANTIATE_TEST_SUITE_P(
    Generations, StaleAck,
    ::testing::Values(StaleAckCase{"CurrentLate", Cache::Current, 0x390, true, kNoAck,
                                   "NACK received for command CAN ID 0x390.\n"},
                      StaleAckCase{"LegacyLate", Cache::Legacy, 0x378, true, kNoAck, kNoAck},
                      StaleAckCase{"CurrentRepeated", Cache::Current, 0x390, false, "",
                                   "NACK received for command CAN ID 0x390.\n"},
                      StaleAckCase{"LegacyRepeated", Cache::Legacy, 0x378, false, "", kNoAck}),
    [](const auto& info) { return std::string(info.param.name); });

struct StaleReplyCase {
    const char* name;
    Cache cache;
    target_comms_t target;
    uint32_t reply_id;
    uint8_t index;
};

class StaleReply : public DrainTest, public ::testing::WithParamInterface<StaleReplyCase> {};

TEST_P(StaleReply, GetValueReturnsTheFreshValue) {
    const StaleReplyCase& c = GetParam();
    use_generation(c.cache);
    uint32_t fresh = 0;
    if (c.target == SETTINGS_COMMS) {
        Settings_t s = emu_hid::unit().settings();
        fresh = settings_get_value(&s, static_cast<settings_struct_index>(c.index));
    } else {
        SENSOR_CALIB_t k = emu_hid::unit().calibration();
        fresh = calib_get_value(&k, static_cast<sensor_calib_struct_index>(c.index));
    }
    ASSERT_NE(fresh, 0xDEAD0001u);
    inject(c.reply_id, CAN_4_BYTES, {0x01, 0x00, 0xAD, 0xDE});
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), c.target, c.index), fresh);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), dropped_line(1));
    EXPECT_EQ(emu_hid::output_reports().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Generations, StaleReply,
    ::testing::Values(
        StaleReplyCase{"CurrentSettings", Cache::Current, SETTINGS_COMMS, 0x380, VNE_INDEX},
        StaleReplyCase{"LegacySettings", Cache::Legacy, SETTINGS_COMMS, 0x377, VNE_INDEX},
        StaleReplyCase{"CurrentCalibration", Cache::Current, SENSOR_COMMS, 0x340,
                       LSM_ACC_OFFSET_X_INDEX},
        StaleReplyCase{"LegacyCalibration", Cache::Legacy, SENSOR_COMMS, 0x355,
                       LSM_ACC_OFFSET_X_INDEX}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DrainTest, StaleIdentificationReplyIsNotTakenForTheUnits) {
    emu_hid::unit().set_serial(0x12345678);
    inject(0x010, CAN_8_BYTES, {0xBA, 0xD0, 0xBA, 0xD0, 0x00, 0x0C, 0x02, 0x00});
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_serialnumber(comms.get(), USB_HID, nullptr), 0x12345678u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), dropped_line(1));
    EXPECT_EQ(emu_hid::output_reports(),
              std::vector<Bytes>{output_report(0x010, CAN_2_BYTES, {0xEF, 0x15})});
}

}  // namespace

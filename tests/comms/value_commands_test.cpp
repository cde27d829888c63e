// Reading, writing and storing single record elements on the emulated unit, both generations.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "comms_test_support.h"

namespace {

using comms_test::Bytes;
using comms_test::Cache;
using comms_test::inject_after_request;
using comms_test::output_report;
using ::testing::StartsWith;

class ValueTest : public comms_test::UsbLinkTest {
protected:
    void put_setting(settings_struct_index index, uint32_t value) {
        Settings_t s = emu_hid::unit().settings();
        ASSERT_TRUE(settings_set_value(&s, index, &value));
        emu_hid::unit().set_settings(s);
    }
    void put_calib(sensor_calib_struct_index index, uint32_t value) {
        SENSOR_CALIB_t c = emu_hid::unit().calibration();
        ASSERT_TRUE(calib_set_value(&c, index, &value));
        emu_hid::unit().set_calibration(c);
    }
    uint32_t unit_setting(settings_struct_index index) {
        Settings_t s = emu_hid::unit().settings();
        return settings_get_value(&s, index);
    }
    uint32_t unit_calib(sensor_calib_struct_index index) {
        SENSOR_CALIB_t c = emu_hid::unit().calibration();
        return calib_get_value(&c, index);
    }
    void fault(uint32_t id, emu::AnswerKind kind, emu::Fault f) {
        f.answer = kind;
        emu_hid::unit().set_fault(id, f);
    }
};

struct GetCase {
    const char* name;
    Cache cache;
    target_comms_t target;
    uint32_t request_id;
};

class GetValue : public ValueTest, public ::testing::WithParamInterface<GetCase> {};

TEST_P(GetValue, SendsIndexAndReturnsTheUnitsValue) {
    const GetCase& c = GetParam();
    use_generation(c.cache);
    uint8_t index = 0;
    if (c.target == SETTINGS_COMMS) {
        index = BACKLIGHT_BRIGHTNESS_INDEX;
        put_setting(BACKLIGHT_BRIGHTNESS_INDEX, 0xA1B2C3D4);
    } else {
        index = LSM_ACC_OFFSET_Y_INDEX;
        put_calib(LSM_ACC_OFFSET_Y_INDEX, 0xA1B2C3D4);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), c.target, index), 0xA1B2C3D4u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(emu_hid::output_reports(),
              std::vector<Bytes>{output_report(c.request_id, CAN_1_BYTES, {index})});
}

INSTANTIATE_TEST_SUITE_P(
    Requests, GetValue,
    ::testing::Values(GetCase{"CurrentSettings", Cache::Current, SETTINGS_COMMS, 0x370},
                      GetCase{"CurrentCalibration", Cache::Current, SENSOR_COMMS, 0x330},
                      GetCase{"LegacySettings", Cache::Legacy, SETTINGS_COMMS, 0x376},
                      GetCase{"LegacyCalibration", Cache::Legacy, SENSOR_COMMS, 0x354}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ValueTest, GetValueSkipsShortRepliesAndOtherIdentifiers) {
    use_generation(Cache::Current);
    put_setting(VNE_INDEX, 200);
    inject_after_request(0x380, CAN_2_BYTES, {0xAA, 0xBB});
    inject_after_request(0x380, CAN_3_BYTES, {0xAA, 0xBB, 0xCC});
    inject_after_request(0x380, 16, {0xAA, 0xBB, 0xCC, 0xDD});
    inject_after_request(0x340, CAN_4_BYTES, {0x11, 0x11, 0x11, 0x11});
    inject_after_request(0x377, CAN_4_BYTES, {0x22, 0x22, 0x22, 0x22});
    inject_after_request(0x0E0, CAN_4_BYTES, {0x00, 0x70, 0x03, 0x01});
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 200u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(ValueTest, GetValueTakesFirstFourBytesOfALongerReply) {
    use_generation(Cache::Current);
    inject_after_request(0x380, CAN_8_BYTES, {0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB, 0xCC, 0xDD});
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 0x12345678u);
}

TEST_F(ValueTest, GetValueWaitsThroughUnrelatedFramesFromTheUnit) {
    use_generation(Cache::Legacy);
    put_setting(MAX_VOLTS_INDEX, 1450);
    emu::Fault f;
    f.unrelated_before = 20;
    fault(0x376, emu::AnswerKind::Reply, f);
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, MAX_VOLTS_INDEX), 1450u);
}

TEST_F(ValueTest, GetValueDeadlineAmidUnrelatedTraffic) {
    const struct {
        Cache cache;
        uint32_t request;
        const char* line;
    } cases[] = {
        {Cache::Current, 0x370,
         "get_value: timeout waiting for response (expected CAN ID 0x380).\n"},
        {Cache::Legacy, 0x376,
         "get_value: timeout waiting for response (expected CAN ID 0x377).\n"},
    };
    emu_hid::set_background_traffic(200, 0x100);
    for (const auto& c : cases) {
        use_generation(c.cache);
        emu::Fault f;
        f.no_answer = true;
        fault(c.request, emu::AnswerKind::Reply, f);
        testing::internal::CaptureStdout();
        EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
        EXPECT_EQ(comms_test::without_drop_line(testing::internal::GetCapturedStdout()), c.line);
    }
}

TEST_F(ValueTest, GetValueSilentUnit) {
    use_generation(Cache::Current);
    emu::Fault f;
    f.no_answer = true;
    fault(0x370, emu::AnswerKind::Reply, f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "No response received from device (timeout or no data).\n");
}

TEST_F(ValueTest, GetValueLinkLostAfterRequest) {
    emu_hid::vanish_after(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error reading response from device.\n");
}

TEST_F(ValueTest, GetValueSendFails) {
    emu_hid::vanish_after(0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to send COMMS_MSG_t to device.\n");
    EXPECT_TRUE(emu_hid::unit().received().empty());
}

TEST_F(ValueTest, GetValueWithoutLinkSendsNothing) {
    CommsManager unconnected;
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(&unconnected, SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
    EXPECT_EQ(get_value(nullptr, SETTINGS_COMMS, VNE_INDEX), 0xFFFFFFFFu);
    uint32_t value = 0x1234;
    EXPECT_FALSE(get_value_checked(nullptr, SETTINGS_COMMS, VNE_INDEX, &value));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CommsManager not connected.\nCommsManager not connected.\n"
              "CommsManager not connected.\n");
    EXPECT_EQ(value, 0x1234u);
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

TEST_F(ValueTest, CheckedReadTellsStoredAllOnesFromFailure) {
    use_generation(Cache::Current);
    put_setting(AIRPLANE_COLOR_INDEX, 0xFFFFFFFF);
    uint32_t value = 0;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(get_value_checked(comms.get(), SETTINGS_COMMS, AIRPLANE_COLOR_INDEX, &value));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(value, 0xFFFFFFFFu);
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], output_report(0x370, CAN_1_BYTES, {AIRPLANE_COLOR_INDEX}));

    // A failed read leaves the value alone and says what get_value says.
    emu::Fault f;
    f.no_answer = true;
    fault(0x370, emu::AnswerKind::Reply, f);
    emu_hid::set_background_traffic(200, 0x100);
    value = 0x1234;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(get_value_checked(comms.get(), SETTINGS_COMMS, AIRPLANE_COLOR_INDEX, &value));
    const std::string checked_out =
        comms_test::without_drop_line(testing::internal::GetCapturedStdout());
    EXPECT_EQ(value, 0x1234u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(get_value(comms.get(), SETTINGS_COMMS, AIRPLANE_COLOR_INDEX), 0xFFFFFFFFu);
    EXPECT_EQ(comms_test::without_drop_line(testing::internal::GetCapturedStdout()), checked_out);
    EXPECT_EQ(checked_out, "get_value: timeout waiting for response (expected CAN ID 0x380).\n");
}

TEST_F(ValueTest, ConfirmedReadOutlastsTheLateAnswerOfAnEarlierRead) {
    use_generation(Cache::Current);
    put_setting(VNE_INDEX, 200);
    put_setting(VLO_INDEX, 95);
    // Vne's answer comes after its read gave up (a USB read waits 1000 ms), ahead of Vlo's.
    emu::Fault late;
    late.delay_ms = 1300;
    late.times = 1;
    fault(0x370, emu::AnswerKind::Reply, late);
    uint32_t value = 0;
    EXPECT_FALSE(get_value_checked(comms.get(), SETTINGS_COMMS, VNE_INDEX, &value));
    emu_hid::clear_output_reports();
    EXPECT_TRUE(get_value_confirmed(comms.get(), SETTINGS_COMMS, VLO_INDEX, &value));
    EXPECT_EQ(value, 95u);
    // Vne's 200, then two answers of 95.
    EXPECT_EQ(emu_hid::output_reports(),
              std::vector<Bytes>(3, output_report(0x370, CAN_1_BYTES, {VLO_INDEX})));
}

TEST_F(ValueTest, ConfirmedReadTakesTwoAgreeingAnswersAndFailsOnSilence) {
    use_generation(Cache::Legacy);
    put_calib(LSM_ACC_OFFSET_Y_INDEX, 0x3F000000);
    uint32_t value = 0;
    EXPECT_TRUE(get_value_confirmed(comms.get(), SENSOR_COMMS, LSM_ACC_OFFSET_Y_INDEX, &value));
    EXPECT_EQ(value, 0x3F000000u);
    EXPECT_EQ(emu_hid::output_reports(),
              std::vector<Bytes>(2, output_report(0x354, CAN_1_BYTES, {LSM_ACC_OFFSET_Y_INDEX})));

    emu::Fault silent;
    silent.no_answer = true;
    silent.skip_first = 1;
    silent.times = 1;
    fault(0x354, emu::AnswerKind::Reply, silent);
    value = 7;
    EXPECT_FALSE(get_value_confirmed(comms.get(), SENSOR_COMMS, LSM_ACC_OFFSET_Y_INDEX, &value));
    EXPECT_EQ(value, 7u);
}

struct SetCase {
    const char* name;
    Cache cache;
    target_comms_t target;
    uint32_t set_id;
};

class SetValue : public ValueTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetValue, SendsIndexAndValueAndConfirmsTheAck) {
    const SetCase& c = GetParam();
    use_generation(c.cache);
    const uint8_t index = c.target == SETTINGS_COMMS ? uint8_t{BACKLIGHT_BRIGHTNESS_INDEX}
                                                     : uint8_t{LSM_GYRO_BIAS_Z_INDEX};
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_value(comms.get(), c.target, index, 0x01020350), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(
        emu_hid::output_reports(),
        std::vector<Bytes>{output_report(c.set_id, CAN_5_BYTES, {index, 0x50, 0x03, 0x02, 0x01})});
    if (c.target == SETTINGS_COMMS) {
        EXPECT_EQ(unit_setting(BACKLIGHT_BRIGHTNESS_INDEX), 0x01020350u);
    } else {
        EXPECT_EQ(unit_calib(LSM_GYRO_BIAS_Z_INDEX), 0x01020350u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SetValue,
    ::testing::Values(SetCase{"CurrentSettings", Cache::Current, SETTINGS_COMMS, 0x390},
                      SetCase{"CurrentCalibration", Cache::Current, SENSOR_COMMS, 0x350},
                      SetCase{"LegacySettings", Cache::Legacy, SETTINGS_COMMS, 0x378},
                      SetCase{"LegacyCalibration", Cache::Legacy, SENSOR_COMMS, 0x356}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ValueTest, SetValueOfBrightness80) {
    use_generation(Cache::Current);
    EXPECT_EQ(set_value(comms.get(), SETTINGS_COMMS, 24, 80), 0);
    EXPECT_EQ(emu_hid::output_reports(),
              std::vector<Bytes>{output_report(0x390, CAN_5_BYTES, {0x18, 0x50, 0, 0, 0})});
}

struct RefusalCase {
    const char* name;
    Cache cache;
    uint32_t set_id;
    emu::Fault fault;
    std::string out_prefix;
    bool exact;
};

emu::Fault make_fault(bool emu::Fault::*flag) {
    emu::Fault f;
    f.*flag = true;
    return f;
}

class SetValueRefused : public ValueTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SetValueRefused, FailsWithTheWaitsReason) {
    const RefusalCase& c = GetParam();
    use_generation(c.cache);
    fault(c.set_id, emu::AnswerKind::CommandAck, c.fault);
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 180), -1);
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.exact) {
        EXPECT_EQ(out, c.out_prefix);
    } else {
        EXPECT_THAT(out, StartsWith(c.out_prefix));
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SetValueRefused,
    ::testing::Values(
        RefusalCase{"CurrentNack", Cache::Current, 0x390, make_fault(&emu::Fault::refuse),
                    "NACK received for command CAN ID 0x390.\n", true},
        RefusalCase{"CurrentBadStatus", Cache::Current, 0x390,
                    make_fault(&emu::Fault::wrong_status),
                    "ACK validation failed: invalid status byte 2 (expected 0 or 1)\n", true},
        RefusalCase{"CurrentWrongLength", Cache::Current, 0x390,
                    make_fault(&emu::Fault::wrong_length),
                    "ACK validation failed: msg_len mismatch (expected CAN_4_BYTES, got 0x", false},
        RefusalCase{"CurrentOtherCommand", Cache::Current, 0x390,
                    make_fault(&emu::Fault::ack_other_command),
                    "ACK validation failed: payload can_ID mismatch (expected 0x390, got 0x",
                    false},
        RefusalCase{"CurrentSilent", Cache::Current, 0x390, make_fault(&emu::Fault::no_answer),
                    "No ACK received from device (timeout or no data).\n", true},
        RefusalCase{"LegacyRefusalEndsOnTimeout", Cache::Legacy, 0x378,
                    make_fault(&emu::Fault::refuse),
                    "No ACK received from device (timeout or no data).\n", true},
        RefusalCase{"LegacyWrongLength", Cache::Legacy, 0x378,
                    make_fault(&emu::Fault::wrong_length),
                    "ACK validation failed: msg_len mismatch (expected CAN_6_BYTES, got 0x", false},
        RefusalCase{
            "LegacyOtherCommand", Cache::Legacy, 0x378, make_fault(&emu::Fault::ack_other_command),
            "ACK validation failed: data can_ID mismatch (expected 0x00000378, got 0x", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ValueTest, SetAndStoreWithoutLinkOrWhenSendFailsAreSilent) {
    CommsManager unconnected;
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_value(nullptr, SETTINGS_COMMS, VNE_INDEX, 1), -1);
    EXPECT_EQ(set_value(&unconnected, SETTINGS_COMMS, VNE_INDEX, 1), -1);
    EXPECT_EQ(store_value(nullptr, SENSOR_COMMS, 1), -1);
    EXPECT_EQ(store_value(&unconnected, SENSOR_COMMS, 1), -1);
    emu_hid::vanish_after(0);
    EXPECT_EQ(set_value(comms.get(), SETTINGS_COMMS, VNE_INDEX, 1), -1);
    EXPECT_EQ(store_value(comms.get(), SENSOR_COMMS, 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(emu_hid::unit().received().empty());
}

struct StoreCase {
    const char* name;
    Cache cache;
    target_comms_t target;
    uint32_t store_id;
};

class StoreValue : public ValueTest, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(StoreValue, SendsArgumentAndConfirmsTheAck) {
    const StoreCase& c = GetParam();
    use_generation(c.cache);
    emu_hid::unit().set_check_store_crc(false);
    testing::internal::CaptureStdout();
    EXPECT_EQ(store_value(comms.get(), c.target, 0xCAFEF00D), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const auto reports = emu_hid::output_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], output_report(c.store_id, CAN_4_BYTES, {0x0D, 0xF0, 0xFE, 0xCA}));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, StoreValue,
    ::testing::Values(
        StoreCase{"CurrentCalibration", Cache::Current, SENSOR_COMMS, 0x360},
        StoreCase{"LegacyCalibration", Cache::Legacy, SENSOR_COMMS, 0x357},
        StoreCase{"CurrentSettingsSkipsFlashAck", Cache::Current, SETTINGS_COMMS, 0x3A0},
        StoreCase{"LegacySettingsSkipsFlashAck", Cache::Legacy, SETTINGS_COMMS, 0x379}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ValueTest, StoreValueRefused) {
    use_generation(Cache::Current);
    fault(0x360, emu::AnswerKind::CommandAck, make_fault(&emu::Fault::refuse));
    testing::internal::CaptureStdout();
    EXPECT_EQ(store_value(comms.get(), SENSOR_COMMS, 7), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "NACK received for command CAN ID 0x360.\n");
}

}  // namespace

// The settings exchange without a window: load, update and save against the emulated unit,
// which refuses a store whose CRC does not match what it holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "settings/settings_exchange.h"

namespace {

struct Generation {
    const char* name;
    emu::Generation gen;
    uint32_t set_id;
    uint32_t save_id;
    uint32_t request_id;
};

const Generation kGenerations[] = {
    {"Current", emu::Generation::Current, 0x390, 0x3A0, 0x370},
    {"Legacy", emu::Generation::Legacy, 0x378, 0x379, 0x376},
};

Settings_t unitRecordWithCrc() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.magic = SETTINGS_MAGIC_VALUE;
    s.version = 3;
    s.num_elements = 31;
    s.units.units_value = 0x000010AA;
    s.vspeeds = {40, 45, 50, 85, 120, 250, 65, 90};  // Vne above what a form can show
    s.volt_warnings = {118, 700};
    std::memset(s.registration, 0xFF, sizeof(s.registration));
    s.sky_color[0] = 0x8087CEEB;
    s.backlight_brightness = 0xFFFFFFFF;
    s.crc32 = settings_CalcCRC(&s);
    return s;
}

class SettingsExchangeTest : public ::testing::TestWithParam<Generation> {
protected:
    void SetUp() override {
        emu_hid::reset();
        emu_hid::unit().set_generation(GetParam().gen);
        emu_hid::unit().set_settings(unitRecordWithCrc());
        comms = std::make_unique<CommsManager>();
        ASSERT_TRUE(comms->establish_connection());
        emu_hid::unit().clear_received();
    }
    void TearDown() override {
        comms.reset();
        emu_hid::reset();
    }

    size_t framesOn(uint32_t id) const {
        size_t n = 0;
        for (const COMMS_MSG_t& f : emu_hid::unit().received()) {
            n += f.can_ID == id ? 1 : 0;
        }
        return n;
    }

    std::unique_ptr<CommsManager> comms;
    UnitRecord unit;
};

TEST_P(SettingsExchangeTest, LoadThenSaveStoresWhatTheUnitHolds) {
    ASSERT_EQ(settings_load(comms.get(), &unit).status, LoadStatus::Ok);
    const SaveResult saved = settings_save(comms.get(), &unit, {});
    ASSERT_EQ(saved.status, SaveStatus::Ok);
    EXPECT_EQ(emu_hid::unit().store_count(), 1u);
    Settings_t held = emu_hid::unit().settings();
    EXPECT_EQ(saved.crc, settings_CalcCRC(&held));

    const LoadResult again = settings_load(comms.get(), &unit);
    EXPECT_EQ(again.status, LoadStatus::Ok);
    EXPECT_TRUE(again.crc_matches);
}

TEST_P(SettingsExchangeTest, AcknowledgedValuesEnterTheUnitRecordRefusedOnesStayPending) {
    ASSERT_EQ(settings_load(comms.get(), &unit).status, LoadStatus::Ok);
    Settings_t working = unit.record;
    uint32_t vne = 160;
    uint32_t colour = 0xFF00FF00;
    settings_set_value(&working, VNE_INDEX, &vne);
    settings_set_value(&working, GREEN_ARC_COLOR_INDEX, &colour);
    PendingSet pending{VNE_INDEX, GREEN_ARC_COLOR_INDEX};

    emu::Fault refuse;
    refuse.refuse = true;
    refuse.skip_first = 1;  // the second value command: the colour
    emu_hid::unit().set_fault(GetParam().set_id, refuse);
    const UpdateResult result = settings_update(comms.get(), working, &pending, &unit);

    EXPECT_EQ(result.sent, 1);
    EXPECT_EQ(result.failed, std::vector<settings_struct_index>{GREEN_ARC_COLOR_INDEX});
    EXPECT_EQ(pending, PendingSet{GREEN_ARC_COLOR_INDEX});
    EXPECT_EQ(unit.record.vspeeds.Vne, 160);
    EXPECT_EQ(unit.record.green_arc_color, 0u);
    EXPECT_TRUE(unit.sent_not_saved);

    // Save refuses while the colour is pending and sends nothing.
    emu_hid::unit().clear_faults();
    emu_hid::unit().clear_received();
    const SaveResult refused = settings_save(comms.get(), &unit, pending);
    EXPECT_EQ(refused.status, SaveStatus::EditsPending);
    EXPECT_EQ(refused.count, 1u);
    EXPECT_TRUE(emu_hid::unit().received().empty());

    // Once it is sent, the CRC covers both values and the unit accepts it.
    ASSERT_TRUE(settings_update(comms.get(), working, &pending, &unit).failed.empty());
    ASSERT_EQ(settings_save(comms.get(), &unit, pending).status, SaveStatus::Ok);
    EXPECT_FALSE(unit.sent_not_saved);
    EXPECT_EQ(emu_hid::unit().settings().green_arc_color, 0xFF00FF00u);
}

// A pulled cable ends the exchange at the failed request: the rest are not asked for (each
// would wait out a time-out on CAN), and all of them count as unread or unsent.
TEST_P(SettingsExchangeTest, NothingMoreIsAskedOnceTheLinkIsGone) {
    // Four header reads and six value reads reach the unit; the answer to the last is lost.
    emu_hid::clear_output_reports();
    emu_hid::vanish_after(10);
    ::testing::internal::CaptureStdout();
    const LoadResult loaded = settings_load(comms.get(), &unit);
    std::fflush(stdout);
    const std::string loadLog = ::testing::internal::GetCapturedStdout();
    // Every request after the loss would fail to be sent, and say so.
    EXPECT_EQ(loadLog.find("Failed to send"), std::string::npos) << loadLog;
    EXPECT_EQ(emu_hid::output_reports().size(), 10u);
    EXPECT_EQ(loaded.unread.size(), static_cast<size_t>(SETTINGS_LAST_INDEX - 5));
    EXPECT_FALSE(loaded.crc_matches);

    PendingSet pending{VNE_INDEX, APPROACHSPEED_INDEX, GREEN_ARC_COLOR_INDEX};
    emu_hid::clear_output_reports();
    ::testing::internal::CaptureStdout();
    const UpdateResult sent = settings_update(comms.get(), unit.record, &pending, &unit);
    std::fflush(stdout);
    const std::string updateLog = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(updateLog.find("Failed to send"), std::string::npos) << updateLog;
    EXPECT_EQ(sent.sent, 0);
    EXPECT_EQ(sent.failed.size(), 3u);
    EXPECT_EQ(pending.size(), 3u);
    EXPECT_TRUE(emu_hid::output_reports().empty());
}

TEST_P(SettingsExchangeTest, SaveRefusesARecordItDoesNotKnowWhole) {
    // A load stopped at a header read and a load with an unread value both leave values the
    // tool does not know: a CRC over them would not be the unit's.
    emu::Fault silent;
    silent.no_answer = true;
    silent.answer = emu::AnswerKind::Reply;
    silent.times = 1;
    emu_hid::unit().set_fault(GetParam().request_id, silent);
    ASSERT_EQ(settings_load(comms.get(), &unit).status, LoadStatus::ChecksumReadFailed);
    EXPECT_EQ(settings_save(comms.get(), &unit, {}).status, SaveStatus::NotLoaded);

    silent.skip_first = 4 + VNE_INDEX;
    emu_hid::unit().set_fault(GetParam().request_id, silent);
    const LoadResult partial = settings_load(comms.get(), &unit);
    ASSERT_EQ(partial.status, LoadStatus::Ok);
    EXPECT_EQ(partial.unread, std::vector<settings_struct_index>{VNE_INDEX});
    emu_hid::unit().clear_received();
    const SaveResult refused = settings_save(comms.get(), &unit, {});
    EXPECT_EQ(refused.status, SaveStatus::NotLoaded);
    EXPECT_EQ(refused.count, 1u);
    EXPECT_EQ(framesOn(GetParam().save_id), 0u);

    // Sending a value for it makes it known again.
    Settings_t working = unit.record;
    uint32_t vne = 200;
    settings_set_value(&working, VNE_INDEX, &vne);
    PendingSet pending{VNE_INDEX};
    ASSERT_EQ(settings_update(comms.get(), working, &pending, &unit).sent, 1);
    EXPECT_EQ(settings_save(comms.get(), &unit, pending).status, SaveStatus::Ok);
}

TEST_P(SettingsExchangeTest, LateAnswerOfAnUnreadValueIsNotTakenForTheNextOne) {
    // Vne's answer comes after its read gave up (a USB read waits 1000 ms), ahead of the
    // answer to the next read.
    emu::Fault late;
    late.answer = emu::AnswerKind::Reply;
    late.delay_ms = 1300;
    late.skip_first = 4 + VNE_INDEX;
    late.times = 1;
    emu_hid::unit().set_fault(GetParam().request_id, late);
    const LoadResult loaded = settings_load(comms.get(), &unit);
    ASSERT_EQ(loaded.status, LoadStatus::Ok);
    EXPECT_EQ(loaded.unread, std::vector<settings_struct_index>{VNE_INDEX});
    Settings_t held = emu_hid::unit().settings();
    for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
        const auto index = static_cast<settings_struct_index>(i);
        if (index != VNE_INDEX) {
            EXPECT_EQ(settings_get_value(&unit.record, index), settings_get_value(&held, index))
                << "element " << i;
        }
    }
}

TEST_P(SettingsExchangeTest, LateAcknowledgementIsNotTakenForTheNextValue) {
    ASSERT_EQ(settings_load(comms.get(), &unit).status, LoadStatus::Ok);
    Settings_t working = unit.record;
    uint32_t vne = 170;
    uint32_t vlo = 95;
    settings_set_value(&working, VNE_INDEX, &vne);
    settings_set_value(&working, VLO_INDEX, &vlo);

    // The acknowledgement of Vne comes after the wait for it has ended (a USB read waits
    // 1000 ms), and is queued when Vlo is sent, which the unit refuses.
    emu::Fault late;
    late.delay_ms = 1300;
    late.times = 1;
    emu_hid::unit().set_fault(GetParam().set_id, late);
    PendingSet pending{VNE_INDEX};
    EXPECT_EQ(settings_update(comms.get(), working, &pending, &unit).failed.size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    emu::Fault refuse;
    refuse.refuse = true;
    emu_hid::unit().set_fault(GetParam().set_id, refuse);
    pending = {VLO_INDEX};
    const UpdateResult result = settings_update(comms.get(), working, &pending, &unit);
    EXPECT_EQ(result.sent, 0);
    EXPECT_EQ(pending, PendingSet{VLO_INDEX});
    EXPECT_EQ(unit.record.vspeeds.Vlo, 90);
}

TEST_P(SettingsExchangeTest, LateStoreAnswersAreNotTakenForTheNextStore) {
    ASSERT_EQ(settings_load(comms.get(), &unit).status, LoadStatus::Ok);
    // The unit confirms the first store only after the tool stopped waiting (a USB read waits
    // 1000 ms); both its answers are queued when the second store command goes out, which
    // it refuses.
    emu::Fault late;
    late.answer = emu::AnswerKind::FlashAck;
    late.delay_ms = 1300;
    late.times = 1;
    emu_hid::unit().set_fault(GetParam().save_id, late);
    ASSERT_EQ(settings_save(comms.get(), &unit, {}).status, SaveStatus::StoreFailed);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    emu::Fault refused;
    refused.refuse = true;
    emu_hid::unit().set_fault(GetParam().save_id, refused);
    Settings_t record = unit.record;
    record.crc32 = 0;
    EXPECT_EQ(store_settings(comms.get(), settings_CalcCRC(&record)), -1);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, SettingsExchangeTest, ::testing::ValuesIn(kGenerations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Settings and calibration records: read, set, store, and the tool's load and save checks.
#include <gtest/gtest.h>

#include <cstring>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"
#include "emulator/efis_unit.h"
#include "unit_test_support.h"

using namespace emu_test;

namespace {

uint32_t words_crc(const Settings_t& s) {
    uint32_t words[31];
    std::memcpy(words, reinterpret_cast<const unsigned char*>(&s) + 4, sizeof(words));
    return EFIS_crc(words, 31);
}

class UnitSettings : public testing::TestWithParam<GenCase> {
protected:
    void SetUp() override { unit.set_generation(GetParam().gen); }

    // One read exchange, which must be answered.
    uint32_t read(uint8_t index) {
        const auto answers = frames_of(unit.handle(frame(GetParam().req_setting, 1, {index})));
        EXPECT_EQ(answers.size(), 1u) << "index " << unsigned(index);
        if (answers.size() != 1 || answers[0].id != GetParam().send_setting ||
            answers[0].len != 4) {
            ADD_FAILURE() << "no value reply for index " << unsigned(index);
            return 0;
        }
        uint32_t v = 0;
        std::memcpy(&v, answers[0].payload.data(), 4);
        return v;
    }

    // The tool's load: header words first, then every element through settings_set_value.
    // A reply of 0xFFFFFFFF (the white airplane colour) is taken as the value it is.
    Settings_t load(uint32_t* checksum) {
        Settings_t r;
        std::memset(&r, 0, sizeof(r));
        *checksum = read(SETTINGS_CHECKSUM_INDEX);
        r.crc32 = *checksum;
        r.magic = read(SETTINGS_MAGIC_NUM);
        r.version = read(SETTINGS_VERSION);
        r.num_elements = read(SETTINGS_NUM_ELEMENTS);
        for (int i = 0; i < SETTINGS_LAST_INDEX; ++i) {
            uint32_t v = read(static_cast<uint8_t>(i));
            EXPECT_TRUE(settings_set_value(&r, static_cast<settings_struct_index>(i), &v));
        }
        return r;
    }

    // The tool's save CRC over its own record.
    static uint32_t save_crc(Settings_t r, uint32_t version, uint32_t num_elements) {
        r.magic = 0x5F444152;
        r.version = version;
        r.num_elements = num_elements;
        r.crc32 = 0;
        return settings_CalcCRC(&r);
    }

    std::vector<Expected> store(uint32_t crc) {
        return frames_of(unit.handle(frame(GetParam().save_settings, 4, le32(crc))));
    }

    emu::EfisUnit unit;
};

struct ReadCase {
    uint8_t index;
    uint32_t value;
};

TEST_P(UnitSettings, ReadsStartRecordElementsAsTheUnitHoldsThem) {
    const GenCase& g = GetParam();
    const ReadCase cases[] = {
        {0, 0x000000AA}, {1, 40},          {2, 45},          {3, 50},          {4, 85},
        {5, 120},        {6, 150},         {7, 65},          {8, 90},          {9, 115},
        {10, 155},       {11, 0x4E313233}, {12, 0x41420000}, {13, 0x00000000}, {19, 0xFFFFFFFF},
        {24, 10},        {25, 0},          {27, 110},        {28, 160},        {29, 150},
        {31, 0xABC123},  {33, 1},          {34, 1},          {35, 0},          {253, 0x5F444152},
        {254, 3},        {255, 31},
    };
    for (const ReadCase& c : cases) {
        EXPECT_EQ(frames_of(unit.handle(frame(g.req_setting, 1, {c.index}))),
                  (std::vector<Expected>{value_reply(g.send_setting, c.value)}))
            << "index " << unsigned(c.index);
    }
}

TEST_P(UnitSettings, StartRecordIsPlausibleWithAValidCrc) {
    const Settings_t s = unit.settings();
    EXPECT_EQ(s.magic, 0x5F444152u);
    EXPECT_EQ(s.num_elements, 31u);
    EXPECT_EQ(s.crc32, words_crc(s));
    EXPECT_EQ(std::string(s.registration, 6), "N123AB");
    for (uint32_t c : {s.sky_color[0], s.sky_color[1], s.ground_color[0], s.ground_color[1],
                       s.vref_indi_color, s.airplane_color, s.green_arc_color, s.yellow_arc_color,
                       s.red_arc_color, s.gear_indi_color}) {
        EXPECT_EQ(c >> 24, 0xFFu);
    }
    EXPECT_EQ(s.airplane_color, 0xFFFFFFFFu);
    EXPECT_TRUE(s.units.unit_bits.is_knots && s.units.unit_bits.is_feet &&
                s.units.unit_bits.is_fahrenheit && s.units.unit_bits.is_inhg);
    EXPECT_EQ(read(SETTINGS_CHECKSUM_INDEX), s.crc32);
}

TEST_P(UnitSettings, ToolLoadProcedureMatchesReportedChecksum) {
    uint32_t checksum = 0;
    Settings_t loaded = load(&checksum);
    EXPECT_EQ(settings_CalcCRC(&loaded), checksum);
    const Settings_t held = unit.settings();
    EXPECT_EQ(std::memcmp(&loaded, &held, sizeof(loaded)), 0);
}

TEST_P(UnitSettings, LoadStillMatchesAfterSetsAndSaveOfTheSameValuesIsAccepted) {
    const GenCase& g = GetParam();
    // What the tool's update sends: Vne 0x80 and the first registration word.
    ASSERT_EQ(frames_of(unit.handle(frame(g.set_setting, 5, cat({6}, le32(0x80))))),
              (std::vector<Expected>{command_ack(g, g.set_setting, true)}));
    ASSERT_EQ(frames_of(unit.handle(frame(g.set_setting, 5, cat({11}, le32(0x44313233))))),
              (std::vector<Expected>{command_ack(g, g.set_setting, true)}));
    EXPECT_EQ(unit.settings().vspeeds.Vne, 0x80);
    EXPECT_EQ(unit.settings().registration[0], 'D');
    uint32_t checksum = 0;
    Settings_t loaded = load(&checksum);
    EXPECT_EQ(settings_CalcCRC(&loaded), checksum);

    const uint32_t crc = save_crc(loaded, read(SETTINGS_VERSION), read(SETTINGS_NUM_ELEMENTS));
    EXPECT_EQ(store(crc), (std::vector<Expected>{flash_ack(g, 0xAE, 0x080E0000, true),
                                                 command_ack(g, g.save_settings, true)}));
    EXPECT_EQ(unit.store_count(), 1u);
    EXPECT_EQ(unit.settings().crc32, crc);
    EXPECT_EQ(unit.settings().magic, 0x5F444152u);
    uint32_t after = 0;
    Settings_t reloaded = load(&after);
    EXPECT_EQ(after, crc);
    EXPECT_EQ(settings_CalcCRC(&reloaded), after);
}

TEST_P(UnitSettings, StoreWithMismatchingCrcErasesButRefuses) {
    const GenCase& g = GetParam();
    const Settings_t before = unit.settings();
    Settings_t edited = before;
    edited.vspeeds.Vne = 151;  // changed in the form but never sent
    EXPECT_EQ(store(save_crc(edited, 3, 31)),
              (std::vector<Expected>{flash_ack(g, 0xAE, 0x080E0000, true),
                                     command_ack(g, g.save_settings, false)}));
    EXPECT_EQ(unit.store_count(), 0u);
    const Settings_t after = unit.settings();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
}

TEST_P(UnitSettings, StoreWithoutCrcCheckTakesAnyCrc) {
    const GenCase& g = GetParam();
    unit.set_check_store_crc(false);
    EXPECT_EQ(store(0x12345678), (std::vector<Expected>{flash_ack(g, 0xAE, 0x080E0000, true),
                                                        command_ack(g, g.save_settings, true)}));
    EXPECT_EQ(unit.store_count(), 1u);
    EXPECT_EQ(unit.settings().crc32, 0x12345678u);
}

TEST_P(UnitSettings, StoreOfWrongLengthIsRefusedWithoutErase) {
    const GenCase& g = GetParam();
    EXPECT_EQ(frames_of(unit.handle(frame(g.save_settings, 3, {1, 2, 3}))),
              (std::vector<Expected>{command_ack(g, g.save_settings, false)}));
    EXPECT_EQ(unit.store_count(), 0u);
}

TEST_P(UnitSettings, SetRefreshesCrcAndTruncatesLikeTheSharedCode) {
    const GenCase& g = GetParam();
    unit.handle(frame(g.set_setting, 5, cat({9}, le32(70000))));
    const Settings_t s = unit.settings();
    EXPECT_EQ(s.volt_warnings.min_volts, 4464);
    EXPECT_EQ(s.crc32, words_crc(s));
}

struct BadSet {
    const char* name;
    uint8_t len;
    std::vector<uint8_t> payload;
};

TEST_P(UnitSettings, SetOfUnknownIndexOrWrongLengthIsRefusedAndChangesNothing) {
    const GenCase& g = GetParam();
    const BadSet cases[] = {
        {"index 36", 5, cat({36}, le32(1))},           {"index 100", 5, cat({100}, le32(1))},
        {"index 251", 5, cat({251}, le32(1))},         {"four bytes", 4, {6, 1, 0, 0}},
        {"six bytes", 6, cat(cat({6}, le32(1)), {0})}, {"no payload", 0, {}},
    };
    const Settings_t before = unit.settings();
    for (const BadSet& c : cases) {
        EXPECT_EQ(frames_of(unit.handle(frame(g.set_setting, c.len, c.payload))),
                  (std::vector<Expected>{command_ack(g, g.set_setting, false)}))
            << c.name;
    }
    const Settings_t after = unit.settings();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
}

TEST_P(UnitSettings, ReadOfUnknownIndexOrWrongLengthStaysSilent) {
    const GenCase& g = GetParam();
    EXPECT_TRUE(unit.handle(frame(g.req_setting, 1, {36})).empty());
    EXPECT_TRUE(unit.handle(frame(g.req_setting, 1, {251})).empty());
    EXPECT_TRUE(unit.handle(frame(g.req_setting, 2, {6, 0})).empty());
    EXPECT_TRUE(unit.handle(frame(g.req_setting, 0, {})).empty());
}

TEST_P(UnitSettings, CalibrationReadSetAndStore) {
    const GenCase& g = GetParam();
    EXPECT_EQ(frames_of(unit.handle(frame(g.req_calib, 1, {0}))),
              (std::vector<Expected>{value_reply(g.send_calib, 1)}));
    EXPECT_EQ(frames_of(unit.handle(frame(g.set_calib, 5, cat({18}, le32(0x3F800000))))),
              (std::vector<Expected>{command_ack(g, g.set_calib, true)}));
    EXPECT_EQ(unit.calibration().MMC_INITIAL_CAL.A_matrix.matrix[1][0], 1.0f);
    EXPECT_EQ(frames_of(unit.handle(frame(g.req_calib, 1, {18}))),
              (std::vector<Expected>{value_reply(g.send_calib, 0x3F800000)}));
    EXPECT_EQ(frames_of(unit.handle(frame(g.set_calib, 5, cat({30}, le32(1))))),
              (std::vector<Expected>{command_ack(g, g.set_calib, false)}));
    EXPECT_TRUE(unit.handle(frame(g.req_calib, 1, {30})).empty());
    EXPECT_TRUE(unit.handle(frame(g.req_calib, 1, {77})).empty());
    EXPECT_EQ(frames_of(unit.handle(frame(g.save_calib, 4, le32(0)))),
              (std::vector<Expected>{command_ack(g, g.save_calib, true)}));
    EXPECT_EQ(frames_of(unit.handle(frame(g.save_calib, 1, {0}))),
              (std::vector<Expected>{command_ack(g, g.save_calib, false)}));
}

TEST_P(UnitSettings, RebootFrameIsCountedAndUnanswered) {
    const GenCase& g = GetParam();
    EXPECT_TRUE(unit.handle(frame(g.enter_bl, 1, {0x48})).empty());
    EXPECT_EQ(unit.reboot_count(), 1u);
    EXPECT_TRUE(unit.handle(frame(g.enter_bl, 1, {0x47})).empty());
    EXPECT_TRUE(unit.handle(frame(g.enter_bl, 2, {0x48, 0})).empty());
    EXPECT_EQ(unit.reboot_count(), 1u);
}

TEST_P(UnitSettings, SetSettingsIsStoredAsGiven) {
    Settings_t s = unit.settings();
    s.crc32 = 0xDEADBEEF;
    unit.set_settings(s);
    EXPECT_EQ(read(SETTINGS_CHECKSUM_INDEX), 0xDEADBEEFu);
    SENSOR_CALIB_t c = unit.calibration();
    c.oat_crc = 77;
    unit.set_calibration(c);
    EXPECT_EQ(unit.calibration().oat_crc, 77u);
}

INSTANTIATE_TEST_SUITE_P(Generations, UnitSettings, testing::Values(kCurrent, kLegacy), gen_name);

}  // namespace

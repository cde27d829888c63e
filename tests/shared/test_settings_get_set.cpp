#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "EFIS_shared/crc.h"
#include "EFIS_shared/get_set.h"

namespace {

enum class Width { Byte, Half, Word, Chars };

struct Element {
    settings_struct_index index;
    size_t offset;
    Width width;
};

// Where each element lives in the record, written out independently of the code under test.
const std::vector<Element> kElements = {
    {UNITS_VALUE_INDEX, 16, Width::Word},
    {VMIN_INDEX, 20, Width::Byte},
    {VS0_INDEX, 21, Width::Byte},
    {VS1_INDEX, 22, Width::Byte},
    {VFE_INDEX, 23, Width::Byte},
    {VN0_INDEX, 24, Width::Byte},
    {VNE_INDEX, 25, Width::Byte},
    {APPROACHSPEED_INDEX, 26, Width::Byte},
    {VLO_INDEX, 27, Width::Byte},
    {MIN_VOLTS_INDEX, 28, Width::Half},
    {MAX_VOLTS_INDEX, 30, Width::Half},
    {REGISTRATION_1_INDEX, 32, Width::Chars},
    {REGISTRATION_2_INDEX, 36, Width::Chars},
    {REGISTRATION_3_INDEX, 40, Width::Chars},
    {SKY_COLOR_0_INDEX, 44, Width::Word},
    {SKY_COLOR_1_INDEX, 48, Width::Word},
    {GROUND_COLOR_0_INDEX, 52, Width::Word},
    {GROUND_COLOR_1_INDEX, 56, Width::Word},
    {APPROACH_COLOR_INDEX, 60, Width::Word},
    {AIRPLANE_COLOR_INDEX, 64, Width::Word},
    {GREEN_ARC_COLOR_INDEX, 68, Width::Word},
    {YELLOW_ARC_COLOR_INDEX, 72, Width::Word},
    {RED_ARC_COLOR_INDEX, 76, Width::Word},
    {GEAR_INDI_COLOR_INDEX, 80, Width::Word},
    {BACKLIGHT_BRIGHTNESS_INDEX, 84, Width::Word},
    {ROLL_CORRECTION_INDEX, 88, Width::Word},
    {PITCH_CORRECTION_INDEX, 92, Width::Word},
    {MIN_VOLTS_ALERT_INDEX, 96, Width::Half},
    {MAX_VOLTS_ALERT_INDEX, 98, Width::Half},
    {TEXT_BG_ALPHA_INDEX, 100, Width::Word},
    {USE_MAG_INDEX, 104, Width::Word},
    {OWNSHIP_ICAO_INDEX, 108, Width::Word},
    {ICAO_ADDR_TYPE_INDEX, 112, Width::Word},
    {EMITTER_CAT_INDEX, 116, Width::Word},
    {TERM_RESISTOR_INDEX, 120, Width::Word},
    {MAP_DIR_INDEX, 124, Width::Word},
    {SETTINGS_MAGIC_NUM, 4, Width::Word},
    {SETTINGS_VERSION, 8, Width::Word},
};

size_t width_bytes(Width w) {
    switch (w) {
    case Width::Byte:
        return 1;
    case Width::Half:
        return 2;
    default:
        return 4;
    }
}

Settings_t patterned_record() {
    Settings_t s;
    unsigned char* b = reinterpret_cast<unsigned char*>(&s);
    for (size_t i = 0; i < sizeof(s); ++i) {
        b[i] = static_cast<unsigned char>(0xA0 + i);
    }
    s.num_elements = 31;
    s.crc32 = 0;
    return s;
}

const unsigned char* bytes_of(const Settings_t& s) {
    return reinterpret_cast<const unsigned char*>(&s);
}

TEST(SettingsGetSet, EveryElementLandsInItsBytesOnlyAndReadsBack) {
    for (const Element& e : kElements) {
        Settings_t s = patterned_record();
        const Settings_t before = s;
        uint32_t value = 0x8BADF00D;
        ASSERT_TRUE(settings_set_value(&s, e.index, &value)) << e.index;
        const size_t n = width_bytes(e.width);
        for (size_t i = 4; i < sizeof(Settings_t); ++i) {
            if (i < e.offset || i >= e.offset + n) {
                EXPECT_EQ(bytes_of(s)[i], bytes_of(before)[i])
                    << "index " << e.index << " byte " << i;
            }
        }
        uint32_t expected_read = 0;
        switch (e.width) {
        case Width::Byte:
            EXPECT_EQ(bytes_of(s)[e.offset], 0x0D);
            expected_read = 0x0D;
            break;
        case Width::Half:
            EXPECT_EQ(bytes_of(s)[e.offset], 0x0D);
            EXPECT_EQ(bytes_of(s)[e.offset + 1], 0xF0);
            expected_read = 0xF00D;
            break;
        case Width::Word:
            EXPECT_EQ(0, std::memcmp(bytes_of(s) + e.offset, "\x0D\xF0\xAD\x8B", 4)) << e.index;
            expected_read = value;
            break;
        case Width::Chars:
            EXPECT_EQ(0, std::memcmp(bytes_of(s) + e.offset, "\x8B\xAD\xF0\x0D", 4)) << e.index;
            expected_read = value;
            break;
        }
        EXPECT_EQ(settings_get_value(&s, e.index), expected_read) << e.index;
        EXPECT_EQ(s.crc32, settings_CalcCRC(&s)) << "CRC refreshed after index " << e.index;
    }
}

TEST(SettingsGetSet, GetReadsTheFieldOfEveryIndex) {
    Settings_t s = patterned_record();
    for (const Element& e : kElements) {
        uint32_t expected = 0;
        switch (e.width) {
        case Width::Byte:
            expected = bytes_of(s)[e.offset];
            break;
        case Width::Half:
            expected = bytes_of(s)[e.offset] | (bytes_of(s)[e.offset + 1] << 8);
            break;
        case Width::Word:
            std::memcpy(&expected, bytes_of(s) + e.offset, 4);
            break;
        case Width::Chars:
            expected = (uint32_t(bytes_of(s)[e.offset]) << 24) | (bytes_of(s)[e.offset + 1] << 16) |
                       (bytes_of(s)[e.offset + 2] << 8) | bytes_of(s)[e.offset + 3];
            break;
        }
        EXPECT_EQ(settings_get_value(&s, e.index), expected) << e.index;
    }
    EXPECT_EQ(settings_get_value(&s, SETTINGS_CHECKSUM_INDEX), s.crc32);
    EXPECT_EQ(settings_get_value(&s, SETTINGS_NUM_ELEMENTS), 31u);
}

TEST(SettingsGetSet, RejectedIndicesChangeNothing) {
    const int bad[] = {36, 37, 100, 251, 256, 1000, -1, -252};
    for (int index : bad) {
        Settings_t s = patterned_record();
        s.crc32 = 0x11223344;
        const Settings_t before = s;
        uint32_t value = 0x55;
        EXPECT_FALSE(settings_set_value(&s, static_cast<settings_struct_index>(index), &value))
            << index;
        EXPECT_EQ(0, std::memcmp(&s, &before, sizeof(s))) << index;
        EXPECT_EQ(settings_get_value(&s, static_cast<settings_struct_index>(index)), 0xFFFFFFFFu);
    }
    Settings_t s = patterned_record();
    const Settings_t before = s;
    EXPECT_FALSE(settings_set_value(&s, VMIN_INDEX, nullptr));
    EXPECT_EQ(0, std::memcmp(&s, &before, sizeof(s)));
}

TEST(SettingsGetSet, WideValuesAreTruncatedToTheField) {
    Settings_t s = patterned_record();
    uint32_t v = 0x1FF;
    ASSERT_TRUE(settings_set_value(&s, VMIN_INDEX, &v));
    EXPECT_EQ(s.vspeeds.Vmin, 0xFF);
    EXPECT_EQ(settings_get_value(&s, VMIN_INDEX), 0xFFu);
    v = 300;
    ASSERT_TRUE(settings_set_value(&s, VNE_INDEX, &v));
    EXPECT_EQ(s.vspeeds.Vne, 44);
    v = 70000;
    ASSERT_TRUE(settings_set_value(&s, MIN_VOLTS_INDEX, &v));
    EXPECT_EQ(s.volt_warnings.min_volts, 4464);
}

TEST(SettingsGetSet, RegistrationCharactersMostSignificantFirst) {
    Settings_t s = patterned_record();
    uint32_t v = 0x4E313233;
    ASSERT_TRUE(settings_set_value(&s, REGISTRATION_1_INDEX, &v));
    EXPECT_EQ(0, std::memcmp(s.registration, "N123", 4));
    EXPECT_EQ(settings_get_value(&s, REGISTRATION_1_INDEX), 0x4E313233u);
    const unsigned char raw[4] = {0x41, 0x42, 0x43, 0xC4};
    std::memcpy(s.registration, raw, 4);
    EXPECT_EQ(settings_get_value(&s, REGISTRATION_1_INDEX), 0x414243C4u);
}

TEST(SettingsGetSet, FloatCarriedAsBitPattern) {
    Settings_t s = patterned_record();
    uint32_t v = 0x3FC00000;
    ASSERT_TRUE(settings_set_value(&s, ROLL_CORRECTION_INDEX, &v));
    EXPECT_FLOAT_EQ(s.roll_correction, 1.5f);
    EXPECT_EQ(settings_get_value(&s, ROLL_CORRECTION_INDEX), 0x3FC00000u);
}

TEST(SettingsGetSet, FirstWriteIntoUnsetRecordLeavesCrcZeroThenRealCrc) {
    Settings_t s = patterned_record();
    s.crc32 = 0xFFFFFFFF;
    uint32_t v = 42;
    ASSERT_TRUE(settings_set_value(&s, VMIN_INDEX, &v));
    EXPECT_EQ(s.crc32, 0u);
    ASSERT_TRUE(settings_set_value(&s, VS0_INDEX, &v));
    EXPECT_NE(s.crc32, 0u);
    uint32_t words[31];
    std::memcpy(words, bytes_of(s) + 4, sizeof(words));
    EXPECT_EQ(s.crc32, EFIS_crc(words, 31));
}

TEST(SettingsGetSet, ChecksumIndexWrites) {
    Settings_t s = patterned_record();
    uint32_t v = 0xFFFFFFFF;
    ASSERT_TRUE(settings_set_value(&s, SETTINGS_CHECKSUM_INDEX, &v));
    EXPECT_EQ(s.crc32, 0u);
    v = 0x12345678;
    ASSERT_TRUE(settings_set_value(&s, SETTINGS_CHECKSUM_INDEX, &v));
    EXPECT_EQ(s.crc32, settings_CalcCRC(&s));
}

TEST(SettingsGetSet, NumElementsChangesTheExtentInTheSameCall) {
    Settings_t s = patterned_record();
    uint32_t n = 5;
    ASSERT_TRUE(settings_set_value(&s, SETTINGS_NUM_ELEMENTS, &n));
    uint32_t words[31];
    std::memcpy(words, bytes_of(s) + 4, sizeof(words));
    EXPECT_EQ(s.num_elements, 5u);
    EXPECT_EQ(s.crc32, EFIS_crc(words, 5));
    n = 0;
    ASSERT_TRUE(settings_set_value(&s, SETTINGS_NUM_ELEMENTS, &n));
    EXPECT_EQ(s.crc32, 0xFFFFFFFFu);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "EFIS_shared/get_set.h"

namespace {

// Byte offset of every calibration element, built from the record's layout description.
std::map<int, size_t> expected_offsets() {
    std::map<int, size_t> m;
    m[0] = 4;                        // version
    for (int i = 1; i <= 12; ++i) {  // LSM_CAL at 8: offset xyz, crc, scale xyz, crc, ...
        m[i] = 8 + 4 * static_cast<size_t>(i - 1);
    }
    for (int i = 13; i <= 16; ++i) {  // MMC_INITIAL_CAL.B_vector and its crc at 56
        m[i] = 56 + 4 * static_cast<size_t>(i - 13);
    }
    for (int r = 0; r < 3; ++r) {  // A_matrix at 56 + 16, row-major, indices down columns
        for (int c = 0; c < 3; ++c) {
            m[17 + r + 3 * c] = 72 + 4 * static_cast<size_t>(3 * r + c);
            m[45 + r + 3 * c] = 128 + 4 * static_cast<size_t>(3 * r + c);
        }
    }
    m[26] = 108;
    for (int i = 41; i <= 44; ++i) {
        m[i] = 112 + 4 * static_cast<size_t>(i - 41);
    }
    m[54] = 164;
    m[55] = 168;
    m[56] = 172;
    m[57] = 176;
    for (int i = 58; i <= 65; ++i) {
        m[i] = 180 + 4 * static_cast<size_t>(i - 58);
    }
    for (int i = 66; i <= 73; ++i) {
        m[i] = 212 + 4 * static_cast<size_t>(i - 66);
    }
    m[74] = 244;
    m[75] = 248;
    m[76] = 252;
    m[254] = 0;
    m[255] = 256;
    return m;
}

SENSOR_CALIB_t patterned() {
    SENSOR_CALIB_t c;
    unsigned char* b = reinterpret_cast<unsigned char*>(&c);
    for (size_t i = 0; i < sizeof(c); ++i) {
        b[i] = static_cast<unsigned char>(i * 7 + 1);
    }
    return c;
}

TEST(CalibGetSet, EveryIndexWritesOnlyItsWordAndReadsItBack) {
    const auto offsets = expected_offsets();
    ASSERT_EQ(offsets.size(), 77u - 14u + 2u);
    for (const auto& [index, offset] : offsets) {
        SENSOR_CALIB_t c = patterned();
        const SENSOR_CALIB_t before = c;
        uint32_t word = 0xC0FFEE00u | static_cast<uint32_t>(index);
        ASSERT_TRUE(calib_set_value(&c, static_cast<sensor_calib_struct_index>(index), &word))
            << index;
        const auto* b = reinterpret_cast<const unsigned char*>(&c);
        const auto* old = reinterpret_cast<const unsigned char*>(&before);
        for (size_t i = 0; i < sizeof(c); ++i) {
            if (i < offset || i >= offset + 4) {
                ASSERT_EQ(b[i], old[i]) << "index " << index << " touched byte " << i;
            }
        }
        uint32_t stored = 0;
        std::memcpy(&stored, b + offset, 4);
        EXPECT_EQ(stored, word) << index;
        EXPECT_EQ(calib_get_value(&c, static_cast<sensor_calib_struct_index>(index)), word);
    }
}

TEST(CalibGetSet, MatrixIndicesRunDownTheColumns) {
    SENSOR_CALIB_t c = patterned();
    uint32_t word = 0x3F800000;
    ASSERT_TRUE(calib_set_value(&c, MMC_INITIAL_A_MATRIX_1_0_index, &word));
    EXPECT_FLOAT_EQ(c.MMC_INITIAL_CAL.A_matrix.matrix[1][0], 1.0f);
    word = 0x40000000;
    ASSERT_TRUE(calib_set_value(&c, MMC_INITIAL_A_MATRIX_0_1_index, &word));
    EXPECT_FLOAT_EQ(c.MMC_INITIAL_CAL.A_matrix.matrix[0][1], 2.0f);
    word = 0x3F800000;
    ASSERT_TRUE(calib_set_value(&c, AUAV_PT_LIN_A, &word));
    EXPECT_FLOAT_EQ(c.pitot_coeff.LIN_A, 1.0f);
    EXPECT_EQ(calib_get_value(&c, AUAV_PT_LIN_A), 0x3F800000u);
}

TEST(CalibGetSet, IndicesWithoutAFieldFailAndChangeNothing) {
    for (int index : {27, 30, 33, 40, 77, 100, 253, 256, -1}) {
        SENSOR_CALIB_t c = patterned();
        const SENSOR_CALIB_t before = c;
        uint32_t word = 0x12345678;
        EXPECT_FALSE(calib_set_value(&c, static_cast<sensor_calib_struct_index>(index), &word))
            << index;
        EXPECT_EQ(0, std::memcmp(&c, &before, sizeof(c))) << index;
        EXPECT_EQ(calib_get_value(&c, static_cast<sensor_calib_struct_index>(index)), 0u) << index;
    }
}

TEST(CalibGetSet, NoCheckWordIsRecomputed) {
    SENSOR_CALIB_t c = patterned();
    const uint32_t crc = c.crc32;
    const uint32_t group = c.LSM_CAL.acc_offset_crc;
    uint32_t word = 0x40490FDB;
    ASSERT_TRUE(calib_set_value(&c, LSM_ACC_OFFSET_X_INDEX, &word));
    EXPECT_EQ(c.crc32, crc);
    EXPECT_EQ(c.LSM_CAL.acc_offset_crc, group);
}

}  // namespace

#include "get_set.h"

#include <cstring>

#include "crc.h"

namespace {

enum class Carry { None, Byte, Half, Word, Chars };

struct Field {
    Carry carry;
    size_t offset;
};

Field settings_field(int32_t index) {
    if (index == UNITS_VALUE_INDEX) {
        return {Carry::Word, offsetof(Settings_t, units)};
    }
    if (index >= VMIN_INDEX && index <= VLO_INDEX) {
        return {Carry::Byte,
                offsetof(Settings_t, vspeeds) + static_cast<size_t>(index - VMIN_INDEX)};
    }
    if (index >= REGISTRATION_1_INDEX && index <= REGISTRATION_3_INDEX) {
        return {Carry::Chars, offsetof(Settings_t, registration) +
                                  4 * static_cast<size_t>(index - REGISTRATION_1_INDEX)};
    }
    if (index >= SKY_COLOR_0_INDEX && index <= PITCH_CORRECTION_INDEX) {
        return {Carry::Word, offsetof(Settings_t, sky_color) +
                                 4 * static_cast<size_t>(index - SKY_COLOR_0_INDEX)};
    }
    if (index >= TEXT_BG_ALPHA_INDEX && index <= MAP_DIR_INDEX) {
        return {Carry::Word, offsetof(Settings_t, text_bg_alpha) +
                                 4 * static_cast<size_t>(index - TEXT_BG_ALPHA_INDEX)};
    }
    switch (index) {
    case MIN_VOLTS_INDEX:
        return {Carry::Half,
                offsetof(Settings_t, volt_warnings) + offsetof(volt_warnings_t, min_volts)};
    case MAX_VOLTS_INDEX:
        return {Carry::Half,
                offsetof(Settings_t, volt_warnings) + offsetof(volt_warnings_t, max_volts)};
    case MIN_VOLTS_ALERT_INDEX:
        return {Carry::Half,
                offsetof(Settings_t, volt_alerts) + offsetof(volt_warnings_t, min_volts)};
    case MAX_VOLTS_ALERT_INDEX:
        return {Carry::Half,
                offsetof(Settings_t, volt_alerts) + offsetof(volt_warnings_t, max_volts)};
    case SETTINGS_CHECKSUM_INDEX:
        return {Carry::Word, offsetof(Settings_t, crc32)};
    case SETTINGS_MAGIC_NUM:
        return {Carry::Word, offsetof(Settings_t, magic)};
    case SETTINGS_VERSION:
        return {Carry::Word, offsetof(Settings_t, version)};
    case SETTINGS_NUM_ELEMENTS:
        return {Carry::Word, offsetof(Settings_t, num_elements)};
    default:
        return {Carry::None, 0};
    }
}

void store(unsigned char* bytes, Field field, uint32_t value) {
    switch (field.carry) {
    case Carry::Byte:
        bytes[field.offset] = static_cast<unsigned char>(value);
        break;
    case Carry::Half: {
        const uint16_t half = static_cast<uint16_t>(value);
        std::memcpy(bytes + field.offset, &half, sizeof(half));
        break;
    }
    case Carry::Word:
        std::memcpy(bytes + field.offset, &value, sizeof(value));
        break;
    case Carry::Chars:
        // First character in the most significant byte.
        for (size_t i = 0; i < 4; ++i) {
            bytes[field.offset + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
        }
        break;
    case Carry::None:
        break;
    }
}

uint32_t load(const unsigned char* bytes, Field field) {
    switch (field.carry) {
    case Carry::Byte:
        return bytes[field.offset];
    case Carry::Half: {
        uint16_t half = 0;
        std::memcpy(&half, bytes + field.offset, sizeof(half));
        return half;
    }
    case Carry::Word: {
        uint32_t word = 0;
        std::memcpy(&word, bytes + field.offset, sizeof(word));
        return word;
    }
    case Carry::Chars: {
        uint32_t value = 0;
        for (size_t i = 0; i < 4; ++i) {
            value = (value << 8) | bytes[field.offset + i];
        }
        return value;
    }
    case Carry::None:
        break;
    }
    return 0xFFFFFFFFu;
}

// Byte offset of a calibration element, or -1 for an index without a field.
long calib_offset(int32_t index) {
    const auto matrix_offset = [](int32_t k) {  // index k = r + 3 * c within a matrix
        const int32_t r = k % 3;
        const int32_t c = k / 3;
        return static_cast<long>(offsetof(Matrix3_f_t, matrix) +
                                 4 * static_cast<size_t>(3 * r + c));
    };
    if (index == CALIB_VERSION_INDEX) {
        return offsetof(SENSOR_CALIB_t, version);
    }
    if (index >= LSM_ACC_OFFSET_X_INDEX && index <= LSM_GYRO_BIAS_CHKSUM_INDEX) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, LSM_CAL)) +
               4 * (index - LSM_ACC_OFFSET_X_INDEX);
    }
    if (index >= MMC_INITIAL_B_VECTOR_0_INDEX && index <= MMC_INITIAL_B_VECTOR_CHK_INDEX) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, MMC_INITIAL_CAL)) +
               4 * (index - MMC_INITIAL_B_VECTOR_0_INDEX);
    }
    if (index >= MMC_INITIAL_A_MATRIX_0_0_index && index <= MMC_INITIAL_A_MATRIX_2_2_index) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, MMC_INITIAL_CAL) +
                                 offsetof(MAG_CAL_t, A_matrix)) +
               matrix_offset(index - MMC_INITIAL_A_MATRIX_0_0_index);
    }
    if (index == MMC_INITIAL_A_MATRIX_CHK_INDEX) {
        return offsetof(SENSOR_CALIB_t, MMC_INITIAL_CAL) + offsetof(MAG_CAL_t, A_matrix_crc);
    }
    if (index >= LIS_MAG_OFFSET_X_INDEX && index <= LIS_MAG_OFFSET_CHKSUM_INDEX) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, LIS_CAL)) +
               4 * (index - LIS_MAG_OFFSET_X_INDEX);
    }
    if (index >= LIS_MAG_BIAS_0_0_index && index <= LIS_MAG_BIAS_2_2_index) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, LIS_CAL) +
                                 offsetof(MAG_CAL_t, A_matrix)) +
               matrix_offset(index - LIS_MAG_BIAS_0_0_index);
    }
    if (index == LIS_MAG_BIAS_CHKSUM1_INDEX) {
        return offsetof(SENSOR_CALIB_t, LIS_CAL) + offsetof(MAG_CAL_t, A_matrix_crc);
    }
    if (index >= AUAV_PITOT_OFFSET_INDEX && index <= AUAV_OFFSET_CAL_CRC) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, AUAV_CAL)) +
               4 * (index - AUAV_PITOT_OFFSET_INDEX);
    }
    if (index >= AUAV_PT_LIN_A && index <= AUAV_PT_CRC) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, pitot_coeff)) +
               4 * (index - AUAV_PT_LIN_A);
    }
    if (index >= AUAV_ST_LIN_A && index <= AUAV_ST_CRC) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, static_coeff)) +
               4 * (index - AUAV_ST_LIN_A);
    }
    if (index >= OAT_0DEG_INDEX && index <= OAT_CRC_INDEX) {
        return static_cast<long>(offsetof(SENSOR_CALIB_t, oat_cal_0deg)) +
               4 * (index - OAT_0DEG_INDEX);
    }
    if (index == CALIB_MAGIC_NUM) {
        return offsetof(SENSOR_CALIB_t, magic);
    }
    if (index == CALIB_CRC_INDEX) {
        return offsetof(SENSOR_CALIB_t, crc32);
    }
    return -1;
}

}  // namespace

bool settings_set_value(Settings_t* dest, settings_struct_index index, uint32_t* new_value) {
    const Field field = settings_field(index);
    if (dest == nullptr || new_value == nullptr || field.carry == Carry::None) {
        return false;
    }
    Settings_t copy;
    std::memcpy(&copy, dest, sizeof(copy));
    store(reinterpret_cast<unsigned char*>(&copy), field, *new_value);
    copy.crc32 = settings_CalcCRC(&copy);
    std::memcpy(dest, &copy, sizeof(copy));
    return true;
}

uint32_t settings_get_value(Settings_t* src, settings_struct_index index) {
    const Field field = settings_field(index);
    if (src == nullptr || field.carry == Carry::None) {
        return 0xFFFFFFFFu;
    }
    return load(reinterpret_cast<const unsigned char*>(src), field);
}

bool calib_set_value(SENSOR_CALIB_t* dest, sensor_calib_struct_index index, uint32_t* new_value) {
    const long offset = calib_offset(index);
    if (dest == nullptr || new_value == nullptr || offset < 0) {
        return false;
    }
    SENSOR_CALIB_t copy;
    std::memcpy(&copy, dest, sizeof(copy));
    std::memcpy(reinterpret_cast<unsigned char*>(&copy) + offset, new_value, sizeof(uint32_t));
    std::memcpy(dest, &copy, sizeof(copy));
    return true;
}

uint32_t calib_get_value(SENSOR_CALIB_t* src, sensor_calib_struct_index index) {
    const long offset = calib_offset(index);
    if (src == nullptr || offset < 0) {
        return 0;
    }
    uint32_t word = 0;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(src) + offset, sizeof(word));
    return word;
}

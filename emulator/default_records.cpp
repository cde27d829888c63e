#include "emulator/default_records.h"

#include <cstring>
#include <initializer_list>

#include "EFIS_shared/crc.h"

namespace emu {

Settings_t default_settings() {
    Settings_t s;
    std::memset(&s, 0, sizeof(s));
    s.magic = SETTINGS_MAGIC_VALUE;
    s.version = kSettingsLayoutVersion;
    s.num_elements = kSettingsNumElements;
    s.units.unit_bits.is_knots = 1;
    s.units.unit_bits.is_feet = 1;
    s.units.unit_bits.is_fahrenheit = 1;
    s.units.unit_bits.is_inhg = 1;
    s.vspeeds = {40, 45, 50, 85, 120, 150, 65, 90};
    s.volt_warnings = {115, 155};
    std::memcpy(s.registration, "N123AB", 6);
    s.sky_color[0] = 0xFF1E90FF;
    s.sky_color[1] = 0xFF87CEEB;
    s.ground_color[0] = 0xFF8B4513;
    s.ground_color[1] = 0xFF5C3317;
    s.vref_indi_color = 0xFFFF00FF;
    s.airplane_color = 0xFFFFFFFF;
    s.green_arc_color = 0xFF00C000;
    s.yellow_arc_color = 0xFFFFD700;
    s.red_arc_color = 0xFFFF0000;
    s.gear_indi_color = 0xFF00FF00;
    s.backlight_brightness = 10;
    s.roll_correction = 0.0f;
    s.pitch_correction = 0.0f;
    s.volt_alerts = {110, 160};
    s.text_bg_alpha = 150;
    s.use_mag_heading = 0;
    s.ownship_icao = 0xABC123;
    s.icao_address_type = 0;
    s.emitter_cat = 1;
    s.enable_term_resistor = 1;
    s.map_track = map_north_up;
    // crc32 must not be 0xFFFFFFFF while the CRC is taken, or the CRC function yields 0.
    s.crc32 = 0;
    s.crc32 = settings_CalcCRC(&s);
    return s;
}

SENSOR_CALIB_t default_calibration() {
    SENSOR_CALIB_t c;
    std::memset(&c, 0, sizeof(c));
    c.magic = 0x43414C31;
    c.version = 1;
    c.LSM_CAL.acc_offset = {0.012f, -0.008f, 0.021f};
    c.LSM_CAL.acc_scale = {1.0f, 1.0f, 1.0f};
    c.LSM_CAL.gyro_bias = {0.10f, -0.05f, 0.02f};
    for (MAG_CAL_t* mag : {&c.MMC_INITIAL_CAL, &c.LIS_CAL}) {
        mag->B_vector = {12.5f, -3.25f, 40.0f};
        for (int i = 0; i < 3; ++i) {
            mag->A_matrix.matrix[i][i] = 1.0f;
        }
    }
    c.AUAV_CAL.pitot_offset = 0.5f;
    c.AUAV_CAL.static_offset = -0.25f;
    c.pitot_coeff = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0};
    c.static_coeff = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0};
    c.oat_cal_0deg = 1024;
    c.oat_cal_100deg = 2048;
    return c;
}

}  // namespace emu

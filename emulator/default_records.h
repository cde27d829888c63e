// The records a unit holds when it leaves the factory: plausible values for a light
// aircraft, and a settings CRC that matches the record.
#pragma once

#include "EFIS_shared/calib_types.h"
#include "EFIS_shared/settings_types.h"

namespace emu {

// Settings layout version and covered word count the emulated firmware uses.
inline constexpr uint32_t kSettingsLayoutVersion = 3;
inline constexpr uint32_t kSettingsNumElements = 31;

Settings_t default_settings();
SENSOR_CALIB_t default_calibration();

}  // namespace emu

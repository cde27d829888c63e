// The calibration record's elements by stable names, for a settings file's calibration
// section. Every index that names a field is here, in index order.
#pragma once

#include <array>
#include <cstddef>

#include "EFIS_shared/calib_types.h"

struct CalibrationElement {
    sensor_calib_struct_index index;
    const char* name;  // stable snake-case name, e.g. "lsm_acc_offset_x"
    bool is_float;     // the word is a float's bit pattern (else a plain word or check word)
};

// Indices 0 to 26, 41 to 76, 254 and 255: 65 elements.
constexpr size_t kCalibrationElementCount = 65;
const std::array<CalibrationElement, kCalibrationElementCount>& calibration_elements();

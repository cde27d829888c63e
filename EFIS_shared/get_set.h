// Element access to the settings and calibration records by index.
#pragma once

#include <cstdint>

#include "calib_types.h"
#include "settings_types.h"

// Stores one element and refreshes crc32; false (record unchanged) for an index that names
// no element or a null value pointer.
bool settings_set_value(Settings_t* dest, settings_struct_index index, uint32_t* new_value);
// One element as its 32-bit value; 0xFFFFFFFF for an index that names no element.
uint32_t settings_get_value(Settings_t* src, settings_struct_index index);

// Stores one word; false (record unchanged) for an index without a field. No CRC is touched.
bool calib_set_value(SENSOR_CALIB_t* dest, sensor_calib_struct_index index, uint32_t* new_value);
// One word; 0 for an index without a field.
uint32_t calib_get_value(SENSOR_CALIB_t* src, sensor_calib_struct_index index);

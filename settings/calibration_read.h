// Reads the unit's calibration record for the installer's records. The tool never writes
// calibration values back.
#pragma once

#include <vector>

#include "EFIS_shared/calib_types.h"

class CommsManager;

// Reads every calibration element, one value request each, into *out (zero-filled first).
// Elements the unit did not answer stay 0 and their indices go to *unread (may be null).
// True when every element was read.
bool read_calibration(CommsManager* comms, SENSOR_CALIB_t* out, std::vector<int>* unread);

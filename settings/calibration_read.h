// Reads the unit's calibration record for the installer's records. The tool never writes
// calibration values back.
#pragma once

#include <atomic>
#include <vector>

#include "EFIS_shared/calib_types.h"

class CommsManager;

// Reads every calibration element, one value request each, into *out (zero-filled first).
// Elements the unit did not answer stay 0 and their indices go to *unread (may be null).
// True when every element was read. Once `cancel` (may be null) is set, the rest are not asked
// for and count as unread.
bool read_calibration(CommsManager* comms, SENSOR_CALIB_t* out, std::vector<int>* unread,
                      const std::atomic<bool>* cancel = nullptr);

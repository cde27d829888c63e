#include "settings/calibration_read.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "EFIS_shared/get_set.h"
#include "comms/comms.h"
#include "settings/calibration_elements.h"

bool read_calibration(CommsManager* comms, SENSOR_CALIB_t* out, std::vector<int>* unread,
                      const std::atomic<bool>* cancel) {
    if (out == nullptr) {
        return false;
    }
    std::memset(out, 0, sizeof(*out));
    if (unread != nullptr) {
        unread->clear();
    }
    const bool linkUp = comms != nullptr && comms->isConnected();
    bool all = true;
    for (const CalibrationElement& element : calibration_elements()) {
        // A stored 0xFFFFFFFF (an erased word) is a value; only a read without an answer is
        // missing. After one is missing, its late answer could be taken for a later one: the
        // values after it are confirmed.
        const auto index = static_cast<uint8_t>(element.index);
        uint32_t value = 0;
        const bool stop = cancel != nullptr && cancel->load();
        if (!linkUp || stop ||
            !(all ? get_value_checked(comms, SENSOR_COMMS, index, &value)
                  : get_value_confirmed(comms, SENSOR_COMMS, index, &value))) {
            all = false;
            if (unread != nullptr) {
                unread->push_back(element.index);
            }
            continue;
        }
        calib_set_value(out, element.index, &value);
        // Paces the unit between value exchanges, as a settings load does.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return all;
}

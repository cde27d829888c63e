// The identifiers one generation of the unit's firmware listens and answers on.
#pragma once

#include <cstdint>

namespace emu {

struct UnitIds {
    uint32_t whoami;
    uint32_t ack;
    uint32_t nack;  // 0: the numbering has none (refusals travel in the ACK's status byte)
    uint32_t mx25_ack;
    uint32_t mx25_nack;  // 0: none
    uint32_t request_user_setting;
    uint32_t send_user_setting;
    uint32_t set_user_setting;
    uint32_t save_user_settings;
    uint32_t request_sensor_calib;
    uint32_t send_sensor_calib;
    uint32_t set_sensor_calib;
    uint32_t save_sensor_calib;
    uint32_t enter_bl;
    uint32_t write_mx25;
    uint32_t erase_mx25;
    uint32_t set_addr_mx25;
    uint32_t airport_db_op;
    uint32_t get_partition;
    uint32_t sensor_data;  // a periodic data frame the unit sends unasked
};

// The numbering of the current (0.2.12 and later) or the legacy firmware.
const UnitIds& unit_ids(bool legacy);

}  // namespace emu

#include "emulator/unit_ids.h"

#include "EFIS_shared/can_export.h"

namespace emu {

namespace {

constexpr UnitIds kCurrent = {
    CANMSG_WHOAMI,
    CANMSG_ACK,
    0,
    CANMSG_MX25_ACK,
    0,
    CANMSG_REQUEST_USER_SETTING,
    CANMSG_SEND_USER_SETTING,
    CANMSG_SET_USER_SETTING,
    CANMSG_SAVE_USER_SETTINGS,
    CANMSG_REQUEST_SENSOR_CALIB,
    CANMSG_SEND_SENSOR_CALIB,
    CANMSG_SET_SENSOR_CALIB,
    CANMSG_SAVE_SENSOR_CALIB,
    CANMSG_ENTER_BL,
    CANMSG_WRITE_MX25,
    CANMSG_ERASE_MX25,
    CANMSG_SET_ADDR_MX25,
    CANMSG_AIRPORT_DB_OP,
    CANMSG_GET_PARTITION,
    CANMSG_AHRS_DATA,
};

// The legacy firmware's 11-bit numbering, as its own headers give it; written out here so that
// the tool's copy of these numbers is checked against the unit's rather than shared with it.
constexpr UnitIds kLegacy = {
    0x123,  // whoami
    0x255,  // ack
    0x254,  // nack
    0x256,  // mx25_ack
    0x257,  // mx25_nack
    0x376,  // request_user_setting
    0x377,  // send_user_setting
    0x378,  // set_user_setting
    0x379,  // save_user_settings
    0x354,  // request_sensor_calib
    0x355,  // send_sensor_calib
    0x356,  // set_sensor_calib
    0x357,  // save_sensor_calib
    0x399,  // enter_bl
    0x415,  // write_mx25
    0x416,  // erase_mx25
    0x417,  // set_addr_mx25
    0x42F,  // airport_db_op
    0x287,  // get_partition
    0x302,  // acc
};

}  // namespace

const UnitIds& unit_ids(bool legacy) {
    return legacy ? kLegacy : kCurrent;
}

}  // namespace emu

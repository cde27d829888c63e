#include "comms/can_msg_ids.h"

#include "EFIS_shared/can_export.h"
#include "comms/comms.h"
#include "comms/legacy_can_export.h"

namespace {

// A unit that identified with a version below 0.2.12 (a legacy reply counts as 0.0.0) numbers
// its messages the old way; without an identification the current numbering applies.
bool use_legacy_can_map() {
    return device_whoami_fwversion_known() && !device_firmware_at_least_0_2_12();
}

uint32_t pick(uint32_t current, uint32_t legacy) {
    return use_legacy_can_map() ? legacy : current;
}

}  // namespace

uint32_t canmsg_ack() {
    return pick(CANMSG_ACK, LEGACY_CANMSG_ACK);
}
uint32_t canmsg_whoami() {
    return pick(CANMSG_WHOAMI, LEGACY_CANMSG_WHOAMI);
}
uint32_t canmsg_mx25_ack() {
    return pick(CANMSG_MX25_ACK, LEGACY_CANMSG_MX25_ACK);
}
uint32_t canmsg_mx25_nack_wire_id() {
    return LEGACY_CANMSG_MX25_NACK;
}

uint32_t canmsg_request_user_setting() {
    return pick(CANMSG_REQUEST_USER_SETTING, LEGACY_CANMSG_REQUEST_USER_SETTING);
}

uint32_t canmsg_send_user_setting() {
    return pick(CANMSG_SEND_USER_SETTING, LEGACY_CANMSG_SEND_USER_SETTING);
}

uint32_t canmsg_request_sensor_calib() {
    return pick(CANMSG_REQUEST_SENSOR_CALIB, LEGACY_CANMSG_REQUEST_SENSOR_CALIB);
}

uint32_t canmsg_send_sensor_calib() {
    return pick(CANMSG_SEND_SENSOR_CALIB, LEGACY_CANMSG_SEND_SENSOR_CALIB);
}

uint32_t canmsg_set_user_setting() {
    return pick(CANMSG_SET_USER_SETTING, LEGACY_CANMSG_SET_USER_SETTING);
}

uint32_t canmsg_set_sensor_calib() {
    return pick(CANMSG_SET_SENSOR_CALIB, LEGACY_CANMSG_SET_SENSOR_CALIB);
}

uint32_t canmsg_save_user_settings() {
    return pick(CANMSG_SAVE_USER_SETTINGS, LEGACY_CANMSG_SAVE_USER_SETTINGS);
}

uint32_t canmsg_save_sensor_calib() {
    return pick(CANMSG_SAVE_SENSOR_CALIB, LEGACY_CANMSG_SAVE_SENSOR_CALIB);
}

uint32_t canmsg_enter_bl() {
    return pick(CANMSG_ENTER_BL, LEGACY_CANMSG_ENTER_BL);
}

uint32_t canmsg_get_partition() {
    return pick(CANMSG_GET_PARTITION, LEGACY_CANMSG_GET_PARTITION);
}

uint32_t canmsg_airport_db_op() {
    return pick(CANMSG_AIRPORT_DB_OP, LEGACY_CANMSG_AIRPORT_DB_OP);
}

uint32_t canmsg_erase_mx25() {
    return pick(CANMSG_ERASE_MX25, LEGACY_CANMSG_ERASE_MX25);
}
uint32_t canmsg_set_addr_mx25() {
    return pick(CANMSG_SET_ADDR_MX25, LEGACY_CANMSG_SET_ADDR_MX25);
}
uint32_t canmsg_write_mx25() {
    return pick(CANMSG_WRITE_MX25, LEGACY_CANMSG_WRITE_MX25);
}

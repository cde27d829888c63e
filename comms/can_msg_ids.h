// Identifier of each command for the firmware generation the unit identified as.
#pragma once

#include <cstdint>

uint32_t canmsg_ack();
uint32_t canmsg_whoami();
uint32_t canmsg_mx25_ack();
// The same in both generations.
uint32_t canmsg_mx25_nack_wire_id();
uint32_t canmsg_request_user_setting();
uint32_t canmsg_send_user_setting();
uint32_t canmsg_request_sensor_calib();
uint32_t canmsg_send_sensor_calib();
uint32_t canmsg_set_user_setting();
uint32_t canmsg_set_sensor_calib();
uint32_t canmsg_save_user_settings();
uint32_t canmsg_save_sensor_calib();
uint32_t canmsg_enter_bl();
uint32_t canmsg_get_partition();
uint32_t canmsg_airport_db_op();
uint32_t canmsg_erase_mx25();
uint32_t canmsg_set_addr_mx25();
uint32_t canmsg_write_mx25();

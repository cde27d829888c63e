// Translation between the tool's frame and the SocketCAN CAN FD frame, kept apart from the
// socket so that it can be checked without a CAN interface.
#pragma once

#include <linux/can.h>

#include "EFIS_shared/comms_types.h"

// The frame as it goes on the bus: identifier unchanged, byte count of the length code,
// bit-rate switching, payload up to that count, everything else zero.
canfd_frame canfd_frame_from_msg(const COMMS_MSG_t& msg);

// A received CAN or CAN FD frame as the tool's frame: identifier word with its flag bits,
// length code of the byte count, payload, iface CAN_FD. Overwrites all 72 bytes of *msg.
void msg_from_canfd_frame(const canfd_frame& frame, COMMS_MSG_t* msg);

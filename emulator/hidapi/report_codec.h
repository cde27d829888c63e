// The unit's side of the USB HID report formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EFIS_shared/comms_types.h"

namespace emu_hid {

inline constexpr uint8_t kOutputReportId = 5;
// The unit's input reports carry this report ID; the tool does not examine it.
inline constexpr uint8_t kInputReportId = 1;

// Decodes an output report (report ID 5, can_ID LE32, length code, payload) into a frame
// received on USB. False for a report the unit cannot take: another report ID, fewer than
// 6 bytes, a length code above 15, or fewer payload bytes than the code stands for.
bool decode_output_report(const uint8_t* data, size_t length, COMMS_MSG_t* frame);

// Encodes a frame as an input report: report ID, then the frame's packed layout up to the
// last payload byte its length code stands for.
std::vector<uint8_t> encode_input_report(const COMMS_MSG_t& frame);

}  // namespace emu_hid

#include "emulator/hidapi/report_codec.h"

#include <cstring>

namespace emu_hid {

namespace {
constexpr size_t kOutputHeader = 6;  // report ID, can_ID, msg_len
constexpr size_t kFrameHeader = 6;   // iface, can_ID, msg_len
constexpr uint8_t kLargestCode = 15;
}  // namespace

bool decode_output_report(const uint8_t* data, size_t length, COMMS_MSG_t* frame) {
    if (data == nullptr || frame == nullptr || length < kOutputHeader ||
        data[0] != kOutputReportId || data[5] > kLargestCode) {
        return false;
    }
    const auto code = static_cast<CAN_MSG_LEN_t>(data[5]);
    const size_t payload = can_msg_payload_len(code);
    if (length < kOutputHeader + payload) {
        return false;
    }
    std::memset(frame, 0, sizeof(*frame));
    frame->iface = USB_HID;
    frame->can_ID = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                    static_cast<uint32_t>(data[3]) << 16 | static_cast<uint32_t>(data[4]) << 24;
    frame->msg_len = code;
    std::memcpy(frame->data, data + kOutputHeader, payload);
    return true;
}

std::vector<uint8_t> encode_input_report(const COMMS_MSG_t& frame) {
    uint8_t bytes[sizeof(COMMS_MSG_t)];
    std::memcpy(bytes, &frame, sizeof(bytes));
    const size_t used = kFrameHeader + can_msg_payload_len(frame.msg_len);
    std::vector<uint8_t> report;
    report.reserve(1 + used);
    report.push_back(kInputReportId);
    report.insert(report.end(), bytes, bytes + used);
    return report;
}

}  // namespace emu_hid

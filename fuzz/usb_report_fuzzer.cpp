// One input report from the unit, as hidapi delivers it, through the USB transport's read
// and read_nowait: result, frame and the frame shown to a tap must follow from the report's
// bytes, and a refused report must leave the caller's frame as it was.
#include <cstdint>
#include <cstring>
#include <vector>

#include "comms/usb_hid/USBHID.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "fuzz_support.h"

namespace {

struct Link {
    USBHID usb;
    std::vector<TappedFrame> tapped;
    FrameTap tap = [this](const TappedFrame& f) { tapped.push_back(f); };

    Link() {
        // Reads fail at once when the report is used up, instead of waiting a second.
        emu_hid::set_scripted(true);
        fuzz::check(usb.connect(vendor_id, product_id), "the emulated unit opens");
        usb.setFrameTap(&tap);
    }
};

Link& link() {
    static Link instance;
    return instance;
}

void check_read(const std::vector<uint8_t>& report, int result, const COMMS_MSG_t& msg,
                const COMMS_MSG_t& before, const std::vector<TappedFrame>& tapped) {
    const fuzz::ReportRead want = fuzz::expected_read(report);
    fuzz::check(result == want.result, "result is the byte count delivered, 0 or -1");
    if (result <= 0) {
        fuzz::check(fuzz::same_frame(msg, before), "a report without a frame leaves *msg alone");
        fuzz::check(tapped.empty(), "a report without a frame is not tapped");
        return;
    }
    fuzz::check(fuzz::same_frame(msg, want.frame), "frame decoded from the report");
    const size_t count = can_msg_payload_len(msg.msg_len);
    for (size_t i = count; i < sizeof(msg.data); ++i) {
        fuzz::check(msg.data[i] == 0, "payload beyond the length code is zero");
    }
    fuzz::check(msg.padding[0] == 0 && msg.padding[1] == 0, "padding is zero");

    fuzz::check(tapped.size() == 1, "one tapped frame per decoded report");
    const TappedFrame& t = tapped.front();
    fuzz::check(!t.sent && t.iface == USB_HID && t.fd && t.flags == 0, "tap: received on USB");
    fuzz::check(t.can_id == msg.can_ID, "tap: identifier");
    fuzz::check(t.len <= sizeof(t.data) && t.len <= count, "tap: at most the code's bytes");
    fuzz::check(t.len == std::min<size_t>(count, static_cast<size_t>(result) - 7),
                "tap: the bytes the report carried");
    fuzz::check(std::memcmp(t.data, msg.data, sizeof(t.data)) == 0, "tap: payload as decoded");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Link& l = link();
    const std::vector<uint8_t> report(data, data + size);

    COMMS_MSG_t before;
    std::memset(&before, 0xA5, sizeof(before));
    for (const bool wait : {true, false}) {
        emu_hid::inject_input_report(report);
        l.tapped.clear();
        COMMS_MSG_t msg = before;
        const int result = wait ? l.usb.read(&msg) : l.usb.read_nowait(&msg);
        check_read(report, result, msg, before, l.tapped);
    }
    COMMS_MSG_t rest = before;
    fuzz::check(l.usb.read_nowait(&rest) == -1, "one report yields one read");
    return 0;
}

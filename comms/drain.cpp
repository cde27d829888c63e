#include <cstdio>
#include <cstring>

#include "comms/canfd/canfd.h"
#include "comms/comms.h"
#include "comms/usb_hid/USBHID.h"

namespace {

// Enough for any answer a failed exchange can leave behind; a busy bus that keeps
// delivering frames cannot hold the request back for longer.
constexpr int kMaxStaleFrames = 64;

// `read_nowait` returns a positive count for a frame, 0 when none is queued, negative on
// failure.
template <typename ReadNowait>
int drain_with(ReadNowait read_nowait) {
    int dropped = 0;
    int result = 0;
    while (dropped < kMaxStaleFrames) {
        COMMS_MSG_t stale;
        std::memset(&stale, 0, sizeof(stale));
        result = read_nowait(&stale);
        if (result <= 0) {
            break;
        }
        ++dropped;
    }
    if (dropped > 0) {
        printf("Dropped %d stale frame(s) before the request\n", dropped);
    }
    return result < 0 ? -1 : dropped;
}

}  // namespace

int drain_stale_frames(CommsManager* comms) {
    if (comms == nullptr) {
        return -1;
    }
    return drain_with([comms](COMMS_MSG_t* msg) { return comms->read_nowait(msg); });
}

int drain_stale_frames(CommsManager* comms, COMM_INTERFACE_t iface) {
    if (comms == nullptr) {
        return -1;
    }
    if (iface == USB_HID && comms->getUSBHID() != nullptr) {
        USBHID* usb = comms->getUSBHID();
        return drain_with([usb](COMMS_MSG_t* msg) { return usb->read_nowait(msg); });
    }
    if (iface == CAN_FD && comms->getCANFD() != nullptr) {
        CANFD* can = comms->getCANFD();
        return drain_with([can](COMMS_MSG_t* msg) { return can->read_nowait(msg); });
    }
    return -1;
}

#include "comms/comms.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "comms/canfd/canfd.h"
#include "comms/usb_hid/USBHID.h"
#include "comms/usb_hid/unit_interface.h"

namespace {

constexpr std::chrono::milliseconds kUsbOpenRetryPeriod{100};

}  // namespace

CommsManager::CommsManager() : usbHid(nullptr), canFd(nullptr) {
    usbHid = new USBHID();
    canFd = new CANFD();
}

CommsManager::~CommsManager() {
    delete usbHid;
    usbHid = nullptr;
    delete canFd;
    canFd = nullptr;
}

bool CommsManager::connectUSB(uint16_t vendor, uint16_t product) {
    return usbHid != nullptr && usbHid->connect(vendor, product);
}

bool CommsManager::connectCANFD(const std::string& interface_name) {
    return canFd != nullptr && canFd->connect(interface_name);
}

bool CommsManager::establish_connection() {
    return establish_connection(LinkChoice{});
}

bool CommsManager::establish_connection(const LinkChoice& links) {
    reset_whoami_fwversion_cache();
    unitSerial = 0xFFFFFFFF;
    usbRoundTripUs = 0;
    canRoundTripUs = 0;
    lastCanInterface = links.can ? links.can_interface : std::string();

    bool usb_ok = false;
    if (links.usb) {
        usb_ok = verifyUSB(links.usb_open_retry_ms);
    }
    bool can_ok = false;
    if (links.can) {
        can_ok = verifyCANFD(links.can_interface);
    }
    if (!usb_ok && !can_ok) {
        puts("Failed to connect via both USB HID and CAN FD");
        return false;
    }
    if (usb_ok && can_ok) {
        puts("Connected via both USB HID and CAN FD");
    } else if (usb_ok) {
        puts("Connected via USB HID");
    } else {
        puts("Connected via CAN FD");
    }
    return true;
}

bool CommsManager::openUSB(uint32_t retry_ms) {
    if (connectUSB(vendor_id, product_id)) {
        return true;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(retry_ms);
    while (Clock::now() < deadline && usb_unit_present(vendor_id, product_id)) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(kUsbOpenRetryPeriod, deadline - Clock::now()));
        if (connectUSB(vendor_id, product_id)) {
            return true;
        }
    }
    return false;
}

bool CommsManager::verifyUSB(uint32_t open_retry_ms) {
    bool verified = false;
    printf("Attempting to connect to USB HID device 0x%04X:0x%04X\n", unsigned{vendor_id},
           unsigned{product_id});
    if (openUSB(open_retry_ms)) {
        puts("USB HID device connected, verifying with serial number request...");
        fwversion_t fw;
        fw.version = 0;
        const uint32_t serial = get_serialnumber(this, USB_HID, &fw);
        if (serial == 0xFFFFFFFF) {
            puts("Failed to get serial number from USB HID device - disconnecting");
            usbHid->disconnect();
        } else {
            verified = true;
            unitSerial = serial;
            usbRoundTripUs = whoami_round_trip_us();
            printf(
                "Successfully connected to USB HID device! Serial number: 0x%08X, firmware "
                "%u.%u.%u (rc %u)\n",
                serial, unsigned{fw.fields.major}, unsigned{fw.fields.minor},
                unsigned{fw.fields.patch}, unsigned{fw.fields.rc});
        }
    } else {
        puts("Failed to connect to USB HID device");
    }
    return verified;
}

bool CommsManager::verifyCANFD(const std::string& interface_name) {
    bool verified = false;
    printf("Attempting to connect to CAN FD interface: %s\n", interface_name.c_str());
    if (connectCANFD(interface_name)) {
        puts("CAN FD interface connected, verifying with serial number request...");
        fwversion_t fw;
        fw.version = 0;
        const uint32_t serial = get_serialnumber(this, CAN_FD, &fw);
        if (serial == 0xFFFFFFFF) {
            puts("Failed to get serial number from CAN FD interface - disconnecting");
            canFd->disconnect();
        } else {
            verified = true;
            unitSerial = serial;
            canRoundTripUs = whoami_round_trip_us();
            printf(
                "Successfully connected to CAN FD interface! Serial number: 0x%08X, firmware "
                "%u.%u.%u (rc %u)\n",
                serial, unsigned{fw.fields.major}, unsigned{fw.fields.minor},
                unsigned{fw.fields.patch}, unsigned{fw.fields.rc});
        }
    } else {
        puts("Failed to connect to CAN FD interface");
    }
    return verified;
}

int CommsManager::write(const COMMS_MSG_t& msg) {
    COMMS_MSG_t out = msg;
    if (usbHid != nullptr && usbHid->isConnected()) {
        out.iface = USB_HID;
        return usbHid->write(out);
    }
    if (canFd != nullptr && canFd->isConnected()) {
        out.iface = CAN_FD;
        return canFd->write(out);
    }
    puts("No interface connected.");
    return -1;
}

int CommsManager::read(COMMS_MSG_t* msg) {
    if (msg == nullptr) {
        return -1;
    }
    if (usbHid != nullptr && usbHid->isConnected()) {
        return usbHid->read(msg);
    }
    if (canFd != nullptr && canFd->isConnected()) {
        return canFd->read(msg);
    }
    return -1;
}

int CommsManager::read_nowait(COMMS_MSG_t* msg) {
    if (msg == nullptr) {
        return -1;
    }
    if (usbHid != nullptr && usbHid->isConnected()) {
        return usbHid->read_nowait(msg);
    }
    if (canFd != nullptr && canFd->isConnected()) {
        return canFd->read_nowait(msg);
    }
    return -1;
}

bool CommsManager::isConnected() const {
    return (usbHid != nullptr && usbHid->isConnected()) ||
           (canFd != nullptr && canFd->isConnected());
}

bool CommsManager::linkLost() const {
    if (usbHid != nullptr && usbHid->isConnected()) {
        return usbHid->linkLost();
    }
    return canFd != nullptr && canFd->isConnected() && canFd->linkLost();
}

void CommsManager::disconnectAll() {
    if (usbHid != nullptr) {
        usbHid->disconnect();
    }
    if (canFd != nullptr) {
        canFd->disconnect();
    }
    unitSerial = 0xFFFFFFFF;
    usbRoundTripUs = 0;
    canRoundTripUs = 0;
}

std::string CommsManager::canInterface() const {
    return lastCanInterface;
}

COMM_INTERFACE_t CommsManager::getActiveInterface() const {
    if (usbHid != nullptr && usbHid->isConnected()) {
        return USB_HID;
    }
    if (canFd != nullptr && canFd->isConnected()) {
        return CAN_FD;
    }
    return USB_HID;
}

USBHID* CommsManager::getUSBHID() {
    return usbHid;
}

CANFD* CommsManager::getCANFD() {
    return canFd;
}

uint32_t CommsManager::serialNumber() const {
    return unitSerial;
}

uint32_t CommsManager::roundTripUs() const {
    if (usbHid != nullptr && usbHid->isConnected()) {
        return usbRoundTripUs;
    }
    return canFd != nullptr && canFd->isConnected() ? canRoundTripUs : 0;
}

void CommsManager::setFrameTap(FrameTap tap) {
    frameTap = std::move(tap);
    const FrameTap* shown = frameTap ? &frameTap : nullptr;
    usbHid->setFrameTap(shown);
    canFd->setFrameTap(shown);
}

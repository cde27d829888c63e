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
// How long the CAN bus is listened to for a second unit's answer after the first.
constexpr std::chrono::milliseconds kSecondAnswerWindow{100};

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
    found.clear();
    choice = UnitChoice{};
    lastCanInterface = links.can ? links.can_interface : std::string();

    if (links.usb) {
        verifyUSB(links);
    }
    if (links.can) {
        verifyCANFD(links.can_interface);
    }
    choice = choose_unit(found, links.serial, links.preferred);
    if (choice.pick != UnitPick::InUse || !keepLinksOf(choice.serial)) {
        usbHid->disconnect();
        canFd->disconnect();
        if (choice.pick == UnitPick::ChoiceNeeded) {
            printf("%s; none chosen\n", units_connected_text(usable_serials(found)).c_str());
        } else if (choice.pick == UnitPick::NotFound) {
            printf("No unit with serial number 0x%08X answered\n", links.serial.value_or(0));
        } else {
            puts("Failed to connect via both USB HID and CAN FD");
        }
        return false;
    }
    unitSerial = choice.serial;
    const bool usb_ok = usbHid->isConnected();
    const bool can_ok = canFd->isConnected();
    // Every unit identified left its version in the cache: the unit in use decides, and of its
    // two links the one identified last, as when there is one unit.
    for (const FoundUnit& u : found) {
        const bool open = u.link == USB_HID ? usb_ok : can_ok;
        if (u.answered && !u.shared_bus && u.serial == unitSerial && open) {
            cache_whoami_fwversion(u.firmware);
        }
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

const std::vector<FoundUnit>& CommsManager::unitsFound() const {
    return found;
}

UnitChoice CommsManager::unitChoice() const {
    return choice;
}

bool CommsManager::keepLinksOf(uint32_t serial) {
    bool usb_kept = false;
    bool can_kept = false;
    for (const FoundUnit& u : found) {
        if (!u.answered || u.serial != serial || u.shared_bus) {
            continue;
        }
        usb_kept =
            usb_kept || (u.link == USB_HID && usbHid->isConnected() && usbHid->path() == u.device);
        can_kept = can_kept || (u.link == CAN_FD && canFd->isConnected());
    }
    if (!usb_kept && usbHid->isConnected()) {
        usbHid->disconnect();
        usbRoundTripUs = 0;
    }
    if (!can_kept && canFd->isConnected()) {
        printf("Closing CAN FD interface %s: its unit is not the one in use\n",
               lastCanInterface.c_str());
        canFd->disconnect();
        canRoundTripUs = 0;
    }
    return usb_kept || can_kept;
}

bool CommsManager::openUSB(const std::string& path, uint32_t retry_ms) {
    if (usbHid->connectPath(path)) {
        return true;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(retry_ms);
    const auto attached = [&path]() {
        const std::vector<std::string> paths = usb_unit_paths(vendor_id, product_id);
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };
    while (Clock::now() < deadline && attached()) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(kUsbOpenRetryPeriod, deadline - Clock::now()));
        if (usbHid->connectPath(path)) {
            return true;
        }
    }
    return false;
}

namespace {

void print_success(const char* link, const FoundUnit& u) {
    printf("Successfully connected to %s! Serial number: 0x%08X, firmware %u.%u.%u (rc %u)\n", link,
           u.serial, unsigned{u.firmware.fields.major}, unsigned{u.firmware.fields.minor},
           unsigned{u.firmware.fields.patch}, unsigned{u.firmware.fields.rc});
}

// Asks the unit on the open link who it is; fills in `unit` when it answers.
bool identify(CommsManager* comms, FoundUnit* unit) {
    fwversion_t fw;
    fw.version = 0;
    const uint32_t serial = get_serialnumber(comms, unit->link, &fw);
    if (serial == 0xFFFFFFFF) {
        return false;
    }
    unit->answered = true;
    unit->serial = serial;
    unit->firmware = fw;
    unit->round_trip_us = whoami_round_trip_us();
    return true;
}

}  // namespace

void CommsManager::verifyUSB(const LinkChoice& links) {
    printf("Attempting to connect to USB HID device 0x%04X:0x%04X\n", unsigned{vendor_id},
           unsigned{product_id});
    const std::vector<std::string> paths = usb_unit_paths(vendor_id, product_id);
    if (paths.empty()) {
        puts("Failed to connect to USB HID device");
        return;
    }
    const bool several = paths.size() > 1;
    const std::optional<uint32_t> named = links.serial ? links.serial : links.preferred;
    std::optional<FoundUnit> kept;
    size_t answered = 0;
    for (const std::string& path : paths) {
        FoundUnit unit;
        unit.link = USB_HID;
        unit.device = path;
        if (!openUSB(path, links.usb_open_retry_ms)) {
            found.push_back(unit);
            if (several) {
                printf("Failed to open USB HID device %s\n", path.c_str());
            } else {
                puts("Failed to connect to USB HID device");
            }
            continue;
        }
        puts("USB HID device connected, verifying with serial number request...");
        if (!identify(this, &unit)) {
            puts("Failed to get serial number from USB HID device - disconnecting");
            usbHid->disconnect();
            found.push_back(unit);
            continue;
        }
        ++answered;
        found.push_back(unit);
        if (!several) {
            kept = unit;
            break;
        }
        const fwversion_t& fw = unit.firmware;
        printf("USB HID device %s: serial number 0x%08X, firmware %u.%u.%u (rc %u)\n", path.c_str(),
               unit.serial, unsigned{fw.fields.major}, unsigned{fw.fields.minor},
               unsigned{fw.fields.patch}, unsigned{fw.fields.rc});
        // Each unit is closed once identified; the one to use is opened again below.
        usbHid->disconnect();
        if (!kept || (named && *named == unit.serial && kept->serial != *named)) {
            kept = unit;
        }
    }
    // Of several units, the one named, or the only one that answered; never a guess.
    if (several && kept && !(answered == 1 || (named && *named == kept->serial))) {
        kept.reset();
    }
    if (several && kept && !usbHid->connectPath(kept->device)) {
        printf("Failed to open USB HID device %s\n", kept->device.c_str());
        kept.reset();
    }
    if (!kept) {
        return;
    }
    usbRoundTripUs = kept->round_trip_us;
    print_success("USB HID device", *kept);
}

void CommsManager::verifyCANFD(const std::string& interface_name) {
    printf("Attempting to connect to CAN FD interface: %s\n", interface_name.c_str());
    if (!connectCANFD(interface_name)) {
        puts("Failed to connect to CAN FD interface");
        return;
    }
    puts("CAN FD interface connected, verifying with serial number request...");
    FoundUnit unit;
    unit.link = CAN_FD;
    unit.device = interface_name;
    if (!identify(this, &unit)) {
        puts("Failed to get serial number from CAN FD interface - disconnecting");
        canFd->disconnect();
        found.push_back(unit);
        return;
    }
    // A second unit on the bus answers the same request within its own round trip.
    const std::vector<uint32_t> others =
        other_whoami_answers(this, unit.serial, kSecondAnswerWindow);
    if (!others.empty()) {
        unit.shared_bus = true;
        found.push_back(unit);
        for (uint32_t other : others) {
            FoundUnit also = unit;
            also.serial = other;
            also.firmware.version = 0;
            also.round_trip_us = 0;
            found.push_back(also);
        }
        printf("%s; using neither over CAN FD\n",
               shared_bus_text(interface_name, shared_bus_serials(found)).c_str());
        canFd->disconnect();
        return;
    }
    found.push_back(unit);
    canRoundTripUs = unit.round_trip_us;
    print_success("CAN FD interface", unit);
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

// The comms manager, identification handshake, acknowledgement waits and value commands.
// Messages of this layer go to standard output.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "EFIS_shared/firmware.h"
#include "comms/frame_tap.h"
#include "comms/unit_choice.h"

class USBHID;
class CANFD;

enum target_comms_t : uint32_t {
    SENSOR_COMMS = 0,
    SETTINGS_COMMS = 1,
};

// Which links a connection tries, and the CAN interface it opens.
struct LinkChoice {
    bool usb = true;
    bool can = true;
    std::string can_interface = "can0";
    // When the unit is attached but cannot be opened yet (its hidraw node appears before udev
    // has given the user access to it), opening is tried again every 100 ms for this long.
    uint32_t usb_open_retry_ms = 0;
    // The unit to use: nothing else will do. Without it, `preferred` when that one is found,
    // else the only unit found; several units and none named connect nothing.
    std::optional<uint32_t> serial;
    std::optional<uint32_t> preferred;
};

// Owns both links and routes every frame over USB HID when it is connected, else CAN FD.
// One user at a time: an exchange (a write and the reads awaiting its answer) must not be
// interleaved with another thread's.
class CommsManager {
public:
    CommsManager();
    ~CommsManager();
    CommsManager(const CommsManager&) = delete;
    CommsManager& operator=(const CommsManager&) = delete;

    bool connectUSB(uint16_t vendor_id, uint16_t product_id);
    bool connectCANFD(const std::string& interface_name);
    // Opens and verifies both links (CAN FD on can0); true when at least one answered the
    // handshake.
    bool establish_connection();
    // The same for the links chosen; a link not chosen is neither opened nor logged. Every
    // unit found is identified; only the links of the unit in use stay open.
    bool establish_connection(const LinkChoice& links);
    // What the last connection attempt found, and which unit it chose.
    const std::vector<FoundUnit>& unitsFound() const;
    UnitChoice unitChoice() const;

    int write(const COMMS_MSG_t& msg);
    int read(COMMS_MSG_t* msg);
    // As read, without waiting: a frame that has already arrived, 0 when none has.
    int read_nowait(COMMS_MSG_t* msg);
    bool isConnected() const;
    // The link in use (USB HID when connected, else CAN FD) failed in a way that means the
    // unit or interface is gone; false with no link. May be asked while an upload worker
    // uses the link: reads and writes never change which link is in use.
    bool linkLost() const;
    // Closes both links and forgets the serial number and round trips; hidapi stays
    // initialised, so that establish_connection may follow.
    void disconnectAll();
    // The CAN interface the last connection attempt tried; "" before one, or when it did not
    // try CAN FD.
    std::string canInterface() const;
    COMM_INTERFACE_t getActiveInterface() const;
    USBHID* getUSBHID();
    CANFD* getCANFD();
    // The serial number of the unit in use, or 0xFFFFFFFF.
    uint32_t serialNumber() const;
    // The round trip of the identification on the link in use, in microseconds (0 when none
    // answered): what one acknowledged frame costs on it.
    uint32_t roundTripUs() const;
    // Every frame either link sends or decodes is shown to `tap` (an empty function for
    // none). Set it while no exchange runs.
    void setFrameTap(FrameTap tap);

private:
    // Opens one link and asks the unit for its serial number on it; a link that does not
    // answer is closed again.
    // Identifies every unit on USB; the one to use (named, preferred or the only one) stays
    // open.
    void verifyUSB(const LinkChoice& links);
    // connectPath, tried again for up to `retry_ms` while the interface is attached.
    bool openUSB(const std::string& path, uint32_t retry_ms);
    void verifyCANFD(const std::string& interface_name);
    // Closes the links that do not carry the unit chosen; false when none does.
    bool keepLinksOf(uint32_t serial);

    USBHID* usbHid;
    CANFD* canFd;
    uint32_t unitSerial = 0xFFFFFFFF;
    std::vector<FoundUnit> found;
    UnitChoice choice;
    uint32_t usbRoundTripUs = 0;
    uint32_t canRoundTripUs = 0;
    std::string lastCanInterface;
    FrameTap frameTap;
};

// Firmware version cache, filled by the last successful handshake.
extern fwversion_t g_whoami_fwversion;
extern bool g_whoami_fwversion_known;

void reset_whoami_fwversion_cache();
void cache_whoami_fwversion(const fwversion_t& v);
bool fwversion_ge(const fwversion_t& v, uint8_t major, uint8_t minor, uint8_t patch);
bool device_firmware_at_least_0_2_12();
bool device_whoami_fwversion_known();

// The round trip of the last identification answered, in microseconds (0 before one).
uint32_t whoami_round_trip_us();

// An answered exchange's duration in whole microseconds, rounded up: an answer quicker than the
// clock can tell apart still counts as measured, since 0 stands for no answer.
uint32_t measured_round_trip_us(std::chrono::nanoseconds elapsed);

// Serial number of the unit on one link, or 0xFFFFFFFF.
uint32_t get_serialnumber(CommsManager* comms, COMM_INTERFACE_t iface, fwversion_t* fw);

// The CAN FD protocol has no addresses: every unit on the bus answers the identification.
// After the unit `serial` answered, the serial numbers of other units whose answers to the
// same request arrive within `window`, each once.
std::vector<uint32_t> other_whoami_answers(CommsManager* comms, uint32_t serial,
                                           std::chrono::milliseconds window);

// Answers name only the command, not the element: a late or repeated answer still queued
// would be taken for the next request's. Each request is therefore preceded by reading,
// without waiting, what is already on the link (at most 64 frames), and a line says how
// many were dropped. Returns that count, or -1 when the link failed (the request then fails
// on its own). The second form drains one link, as the identification handshake probes it.
int drain_stale_frames(CommsManager* comms);
int drain_stale_frames(CommsManager* comms, COMM_INTERFACE_t iface);

// How a bounded wait for one awaited frame ended.
enum frame_wait_t : uint32_t {
    FRAME_WAIT_FOUND = 0,   // the awaited frame is in *frame
    FRAME_WAIT_SILENT,      // a read returned nothing (the link's read time-out)
    FRAME_WAIT_READ_ERROR,  // a read failed; its result is in *read_result
    FRAME_WAIT_DEADLINE,    // 3000 ms passed with only other frames arriving
};

// Reads frames on the active link until `awaited` accepts one, passing over the others,
// for at most the 3000 ms of the acknowledgement waits. `read_result` may be null.
frame_wait_t await_frame(CommsManager* comms,
                         const std::function<bool(const COMMS_MSG_t&)>& awaited, COMMS_MSG_t* frame,
                         int* read_result);

bool wait_for_ack(CommsManager* comms, uint32_t can_id);
bool wait_for_mx25_ack(CommsManager* comms, uint8_t* op_type, uint32_t* address);

// 0xFFFFFFFF on failure, which a stored 0xFFFFFFFF cannot be told from.
uint32_t get_value(CommsManager* comms, target_comms_t target, uint8_t index);
// The same exchange; true with *value set when the unit answered, so that a stored
// 0xFFFFFFFF (white, for a colour) is told from a failed read.
bool get_value_checked(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t* value);
// The same read, repeated until two answers in a row agree (at most three requests), for a run
// of reads in which one went unanswered: its answer may still come and, as answers do not name
// the element, be taken for a later read's. The drain before each request drops it once it
// has arrived. false when a request gets no answer or no two answers agree.
bool get_value_confirmed(CommsManager* comms, target_comms_t target, uint8_t index,
                         uint32_t* value);
int set_value(CommsManager* comms, target_comms_t target, uint8_t index, uint32_t value);
int store_value(CommsManager* comms, target_comms_t target, uint32_t value);
// Has the unit restart into its boot loader. The unit does not answer; the result is the
// write's (positive when the frame went out).
int enter_boot_loader(CommsManager* comms);

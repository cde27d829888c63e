// Control of the emulated hidapi: the hid_* functions of this library serve the USB HID
// interface of an emulated unit, so that the tool's real USB transport runs unchanged
// against it. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/efis_unit.h"

namespace emu_hid {

// One HID interface offered by hid_enumerate.
struct Interface {
    uint16_t vendor_id;
    uint16_t product_id;
    uint16_t usage_page;
    std::string path;
    bool is_unit;  // opening it reaches the unit; other interfaces never answer
};

// The unit behind the emulated device (created on first use as a current unit).
emu::EfisUnit& unit();
// Several units, each with its own interface ("emu-hid-0", "emu-hid-1", ...), record and
// flash: the k-th interface on the vendor page reaches the k-th unit. New units start as
// current units with the default serial number. The controls below other than the unit's own
// (unplug, injection, vanishing, traffic, scripting) shape the first unit's link only;
// reset() goes back to one unit (a reference to another one is then no longer valid).
void set_unit_count(size_t count);
size_t unit_count();
emu::EfisUnit& unit(size_t index);

// Back to the start state: a fresh unit, device plugged in with the unit's interface on
// usage page 0xFF00 only, no restart under way, no injected reports, counters zero, no
// latency or traffic.
void reset();

// The cable. unplug() takes the unit's interface out of hid_enumerate, makes hid_open_path
// of it fail and kills every handle open on it: reads and writes fail from then on, also
// after plug(), as on a hidraw node whose device went away. plug() lists it again for new
// opens. Either one cancels a restart under way.
//
// When the unit takes an enter-boot-loader frame (the write of that frame itself succeeds)
// it restarts: it unplugs itself and plugs in again unit().reboot_ms() later, as seen by the
// first hidapi call (or plugged()) after that time.
void unplug();
void plug();
bool plugged();

void set_interfaces(const std::vector<Interface>& interfaces);  // empty: nothing attached
void set_fail_open(bool on);                                    // hid_open_path returns null

// The link disappears after `frames` more output reports: reads and writes fail from then on.
void vanish_after(uint32_t frames);
// Modelled latency added to every answer frame.
void set_latency_us(uint32_t us);
// Unrelated frames (on `can_id`) delivered at this rate while the link is open; 0 = off.
void set_background_traffic(uint32_t frames_per_second, uint32_t can_id);

// A raw input report (report ID first) that the next read delivers as it stands.
void inject_input_report(const std::vector<uint8_t>& report);
// A raw input report that the link delivers once the next output report has reached the
// unit, ahead of the unit's own answers to it: an answer to that request, never stale.
void inject_after_next_write(const std::vector<uint8_t>& report);
// A raw input report that the link delivers once `writes` more output reports (at least 1)
// have reached the unit: a scripted answer to a later request of an exchange.
void inject_after_writes(uint32_t writes, const std::vector<uint8_t>& report);
// A link on which only injected reports arrive, so that a scripted exchange ends as soon as
// its script does: the unit stays silent (output reports are still recorded), and a read
// that finds nothing queued fails at once, as on an unplugged device, instead of waiting
// out its time-out. Either switch starts a new script: reports injected or held and not yet
// read are dropped. Off after reset().
void set_scripted(bool on);
// Every output report written, raw (report ID first), in order.
std::vector<std::vector<uint8_t>> output_reports();
void clear_output_reports();

// One report crossing the link: an output report stamped when it reaches the unit, an
// input report when a read hands it to the tool.
struct LinkEvent {
    std::chrono::steady_clock::time_point at;
    bool to_unit;
    std::vector<uint8_t> report;  // raw, report ID first
};
// Records the link's reports with their times while on; off at start and after reset().
void record_link_events(bool on);
std::vector<LinkEvent> link_events();

uint32_t open_count();
uint32_t close_count();
bool device_open();
int init_count();  // hid_init minus hid_exit calls

}  // namespace emu_hid

// Whether the emulated unit is on its links: unplugged and plugged in by signal, and gone for
// a while when it restarts. Only the main thread uses it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "emulator/efis_unit.h"
#include "emulator/frontends/socketcan_frontend.h"
#include "emulator/frontends/uhid_frontend.h"

namespace efis_emu {

class Presence {
public:
    using Clock = std::chrono::steady_clock;
    using Print = std::function<void(const std::string&)>;

    // Either front end may be null. `print` takes the status lines, `warn` the failures.
    Presence(emu::EfisUnit& unit, emu::UhidFrontend* hid, emu::SocketCanFrontend* can, Print print,
             Print warn);

    void unplug();
    void plug();
    // The unit took an enter-boot-loader frame: off the links for its reboot time.
    void reboot(Clock::time_point now);
    // Ends a restart whose time is up.
    void tick(Clock::time_point now);
    // When tick() has something to do next, if ever.
    std::optional<Clock::time_point> next_tick() const;
    // Leaves the CAN interface up as it was found, whatever state the unit is in.
    void restore();

private:
    enum class State { Plugged, Unplugged, Rebooting };

    void links(bool up);

    emu::EfisUnit& unit_;
    emu::UhidFrontend* hid_;
    emu::SocketCanFrontend* can_;
    Print print_;
    Print warn_;
    State state_ = State::Plugged;
    Clock::time_point back_at_{};
};

}  // namespace efis_emu

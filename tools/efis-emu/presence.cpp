#include "tools/efis-emu/presence.h"

#include <utility>

namespace efis_emu {

Presence::Presence(emu::EfisUnit& unit, emu::UhidFrontend* hid, emu::SocketCanFrontend* can,
                   Print print, Print warn)
    : unit_(unit), hid_(hid), can_(can), print_(std::move(print)), warn_(std::move(warn)) {}

void Presence::links(bool up) {
    std::string error;
    if (hid_ != nullptr && !(up ? hid_->plug(&error) : hid_->unplug(&error))) {
        warn_("efis-emu: USB HID: " + error);
    }
    error.clear();
    if (can_ != nullptr && !(up ? can_->plug(&error) : can_->unplug(&error))) {
        warn_("efis-emu: CAN FD: " + error);
    }
}

void Presence::unplug() {
    if (state_ == State::Unplugged) {
        return;
    }
    if (state_ == State::Plugged) {
        links(false);
    }
    state_ = State::Unplugged;
    print_("efis-emu: unplugged");
}

void Presence::plug() {
    if (state_ == State::Plugged) {
        return;
    }
    links(true);
    state_ = State::Plugged;
    print_("efis-emu: plugged in");
}

// A frame that reached the unit just before an unplug finds it off its links already: the
// unit restarts unseen and stays unplugged.
void Presence::reboot(Clock::time_point now) {
    if (state_ != State::Plugged) {
        return;
    }
    const uint32_t ms = unit_.reboot_ms();
    links(false);
    state_ = State::Rebooting;
    back_at_ = now + std::chrono::milliseconds(ms);
    print_("efis-emu: rebooting for " + std::to_string(ms) + " ms");
}

void Presence::tick(Clock::time_point now) {
    if (state_ != State::Rebooting || now < back_at_) {
        return;
    }
    links(true);
    state_ = State::Plugged;
    const fwversion_t v = unit_.version();
    print_("efis-emu: back, firmware " + std::to_string(v.fields.major) + "." +
           std::to_string(v.fields.minor) + "." + std::to_string(v.fields.patch));
}

std::optional<Presence::Clock::time_point> Presence::next_tick() const {
    if (state_ != State::Rebooting) {
        return std::nullopt;
    }
    return back_at_;
}

void Presence::restore() {
    std::string error;
    if (state_ != State::Plugged && can_ != nullptr && !can_->plug(&error)) {
        warn_("efis-emu: CAN FD: " + error);
    }
}

}  // namespace efis_emu

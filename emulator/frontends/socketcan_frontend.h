// The emulated unit on a SocketCAN interface: it reads every frame on the bus from a raw
// CAN FD socket and answers as the unit would, with CAN FD frames with bit-rate switching
// on standard identifiers. Plain C++ on the kernel's socket interface, from the unit's side.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "EFIS_shared/comms_types.h"
#include "emulator/efis_unit.h"

namespace emu {

class SocketCanFrontend {
public:
    // Called on the front end's thread for every frame read from the bus (as decoded).
    using FrameLog = std::function<void(const COMMS_MSG_t&)>;

    explicit SocketCanFrontend(EfisUnit& unit);
    ~SocketCanFrontend();
    SocketCanFrontend(const SocketCanFrontend&) = delete;
    SocketCanFrontend& operator=(const SocketCanFrontend&) = delete;

    // Opens and binds the socket; false with `*error` set when the interface cannot be used.
    bool open(const std::string& interface_name, std::string* error);
    // Serves the bus on a thread of its own until stop().
    void start();
    void stop();

    void set_frame_log(FrameLog log);  // before start()
    void set_silent(bool on);          // the unit takes frames but answers nothing
    // Called on the serving thread when the unit has taken an enter-boot-loader frame;
    // before start().
    void set_reboot_handler(std::function<void()> handler);

    // The cable: takes the interface down or up (needs CAP_NET_ADMIN). The socket stays
    // bound and serves again once the interface is up. False with `*error` set on failure.
    bool unplug(std::string* error);
    bool plug(std::string* error);
    uint64_t frames_received() const;
    uint64_t frames_sent() const;

private:
    void serve();
    void take(const COMMS_MSG_t& in);
    bool send(const COMMS_MSG_t& frame);
    bool set_up(bool up, std::string* error);

    EfisUnit& unit_;
    int socket_fd_ = -1;
    std::string interface_name_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> sent_{0};
    FrameLog log_;
    std::function<void()> on_reboot_;
};

}  // namespace emu

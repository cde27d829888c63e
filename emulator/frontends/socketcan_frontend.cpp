#include "emulator/frontends/socketcan_frontend.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "emulator/frontends/answer_pacing.h"

namespace emu {

namespace {

constexpr int kPollMs = 50;

std::string system_error(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

SocketCanFrontend::SocketCanFrontend(EfisUnit& unit) : unit_(unit) {}

SocketCanFrontend::~SocketCanFrontend() {
    stop();
    if (socket_fd_ >= 0) {
        close(socket_fd_);
    }
}

bool SocketCanFrontend::open(const std::string& interface_name, std::string* error) {
    if (socket_fd_ >= 0) {
        *error = "already open";
        return false;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    if (interface_name.empty() || interface_name.size() >= sizeof(ifr.ifr_name)) {
        *error = "interface name must have 1 to 15 characters: " + interface_name;
        return false;
    }
    std::memcpy(ifr.ifr_name, interface_name.data(), interface_name.size());

    const int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        *error = system_error("cannot create a raw CAN socket");
        return false;
    }
    const int on = 1;
    sockaddr_can addr;
    std::memset(&addr, 0, sizeof(addr));
    if (ioctl(fd, SIOCGIFINDEX, &ifr) < 0) {
        *error = system_error("no interface " + interface_name);
    } else if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &on, sizeof(on)) < 0) {
        *error = system_error("cannot enable CAN FD frames");
    } else {
        addr.can_family = AF_CAN;
        addr.can_ifindex = ifr.ifr_ifindex;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) < 0) {
            *error = system_error("cannot bind to " + interface_name);
        } else {
            socket_fd_ = fd;
            interface_name_ = interface_name;
            return true;
        }
    }
    close(fd);
    return false;
}

void SocketCanFrontend::start() {
    if (socket_fd_ < 0 || thread_.joinable()) {
        return;
    }
    stop_ = false;
    thread_ = std::thread([this] { serve(); });
}

void SocketCanFrontend::stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SocketCanFrontend::set_frame_log(FrameLog log) {
    log_ = std::move(log);
}

void SocketCanFrontend::set_silent(bool on) {
    silent_ = on;
}

void SocketCanFrontend::set_reboot_handler(std::function<void()> handler) {
    on_reboot_ = std::move(handler);
}

bool SocketCanFrontend::unplug(std::string* error) {
    return set_up(false, error);
}

bool SocketCanFrontend::plug(std::string* error) {
    return set_up(true, error);
}

bool SocketCanFrontend::set_up(bool up, std::string* error) {
    if (socket_fd_ < 0) {
        *error = "not open";
        return false;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    std::memcpy(ifr.ifr_name, interface_name_.data(), interface_name_.size());
    if (ioctl(socket_fd_, SIOCGIFFLAGS, &ifr) < 0) {
        *error = system_error("cannot read the flags of " + interface_name_);
        return false;
    }
    const short flags = up ? static_cast<short>(ifr.ifr_flags | IFF_UP)
                           : static_cast<short>(ifr.ifr_flags & ~IFF_UP);
    if (flags == ifr.ifr_flags) {
        return true;
    }
    ifr.ifr_flags = flags;
    if (ioctl(socket_fd_, SIOCSIFFLAGS, &ifr) < 0) {
        *error =
            system_error(std::string("cannot take ") + interface_name_ + (up ? " up" : " down"));
        return false;
    }
    return true;
}

uint64_t SocketCanFrontend::frames_received() const {
    return received_.load();
}

uint64_t SocketCanFrontend::frames_sent() const {
    return sent_.load();
}

void SocketCanFrontend::serve() {
    while (!stop_.load()) {
        pollfd pfd{socket_fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        // An interface going down leaves an error on the socket: the read below takes it.
        if (ready <= 0 || (pfd.revents & (POLLIN | POLLERR)) == 0) {
            continue;
        }
        canfd_frame frame;
        std::memset(&frame, 0, sizeof(frame));
        const ssize_t got = read(socket_fd_, &frame, sizeof(frame));
        if (got != CAN_MTU && got != CANFD_MTU) {
            continue;
        }
        COMMS_MSG_t in;
        std::memset(&in, 0, sizeof(in));
        in.iface = CAN_FD;
        in.can_ID = frame.can_id;
        const uint8_t len = frame.len <= CANFD_MAX_DLEN ? frame.len : CANFD_MAX_DLEN;
        in.msg_len = can_msg_len_from_payload(len);
        std::memcpy(in.data, frame.data, len);
        ++received_;
        if (log_) {
            log_(in);
        }
        // The unit listens on standard data frames only.
        if ((frame.can_id & (CAN_EFF_FLAG | CAN_RTR_FLAG | CAN_ERR_FLAG)) == 0) {
            take(in);
        }
    }
}

void SocketCanFrontend::take(const COMMS_MSG_t& in) {
    const auto received_at = std::chrono::steady_clock::now();
    const std::vector<Answer> answers = unit_.handle(in);
    if (unit_.take_reboot() && on_reboot_) {
        on_reboot_();
    }
    if (silent_.load()) {
        return;
    }
    for (const Answer& answer : answers) {
        if (!wait_until_due(received_at, answer.delay_ms, stop_)) {
            return;
        }
        send(answer.frame);
    }
}

bool SocketCanFrontend::send(const COMMS_MSG_t& msg) {
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.can_id = msg.can_ID & CAN_SFF_MASK;
    frame.len = can_msg_payload_len(msg.msg_len);
    frame.flags = CANFD_BRS;
    std::memcpy(frame.data, msg.data, frame.len);
    if (write(socket_fd_, &frame, sizeof(frame)) != static_cast<ssize_t>(sizeof(frame))) {
        return false;
    }
    ++sent_;
    return true;
}

}  // namespace emu

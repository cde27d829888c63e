#include "comms/canfd/canfd.h"

#include <fcntl.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "comms/canfd/canfd_frame_map.h"

namespace {

constexpr suseconds_t kSocketTimeoutUs = 500000;
// can_ID and msg_len precede the payload of a raw frame.
constexpr size_t kRawHeaderLen = 5;

// errno is taken first, before building the text can touch it.
void report_error(int err, const std::string& text) {
    std::cerr << text << std::strerror(err) << std::endl;
}

// A classic frame's flags byte is padding, and its payload ends at 8 bytes.
void tap_frame(const FrameTap& tap, const canfd_frame& frame, bool sent, bool fd) {
    TappedFrame tapped;
    tapped.time_us = frame_tap_time_us();
    tapped.sent = sent;
    tapped.iface = CAN_FD;
    tapped.can_id = frame.can_id;
    tapped.fd = fd;
    tapped.flags = tapped.fd ? frame.flags : 0;
    tapped.len = std::min<uint8_t>(frame.len, tapped.fd ? CANFD_MAX_DLEN : CAN_MAX_DLEN);
    std::memcpy(tapped.data, frame.data, tapped.len);
    tap(tapped);
}

}  // namespace

CANFD::CANFD() : socket_fd(-1), connected(false) {}

CANFD::~CANFD() {
    disconnect();
}

bool CANFD::connect(const std::string& name) {
    if (connected || socket_fd >= 0) {
        disconnect();
    }
    link_lost = false;

    // The index is looked up on a throw-away socket so that the working socket is never
    // left half set up by a missing interface.
    const int probe = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (probe < 0) {
        const int err = errno;
        report_error(err, "Failed to create temporary CAN socket: ");
        return false;
    }
    const int flags = fcntl(probe, F_GETFL, 0);
    if (flags < 0 || fcntl(probe, F_SETFL, flags | O_NONBLOCK) < 0) {
        const int err = errno;
        report_error(err, "Failed to set socket to non-blocking: ");
        close(probe);
        return false;
    }
    ifreq ifr;
    std::memset(&ifr, 0, sizeof(ifr));
    std::memcpy(ifr.ifr_name, name.data(), std::min(name.size(), sizeof(ifr.ifr_name) - 1));
    if (ioctl(probe, SIOCGIFINDEX, &ifr) < 0) {
        const int err = errno;
        report_error(err, "Interface " + name + " does not exist or is not available: ");
        close(probe);
        return false;
    }
    const int ifindex = ifr.ifr_ifindex;
    close(probe);

    socket_fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (socket_fd < 0) {
        const int err = errno;
        report_error(err, "Failed to create CAN socket: ");
        socket_fd = -1;
        return false;
    }
    auto fail = [this](int err, const std::string& text) {
        report_error(err, text);
        close(socket_fd);
        socket_fd = -1;
        return false;
    };
    timeval timeout;
    std::memset(&timeout, 0, sizeof(timeout));
    timeout.tv_sec = 0;
    timeout.tv_usec = kSocketTimeoutUs;
    if (setsockopt(socket_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) < 0) {
        const int err = errno;
        return fail(err, "Failed to set receive timeout: ");
    }
    if (setsockopt(socket_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout)) < 0) {
        const int err = errno;
        return fail(err, "Failed to set send timeout: ");
    }
    const int enable_fd = 1;
    if (setsockopt(socket_fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &enable_fd, sizeof(enable_fd)) < 0) {
        const int err = errno;
        return fail(err, "Failed to enable CAN FD frames: ");
    }
    sockaddr_can addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.can_family = AF_CAN;
    addr.can_ifindex = ifindex;
    if (bind(socket_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0) {
        const int err = errno;
        return fail(err, "Failed to bind CAN socket to " + name + ": ");
    }
    interface_name = name;
    connected = true;
    return true;
}

void CANFD::disconnect() {
    if (socket_fd >= 0) {
        close(socket_fd);
        socket_fd = -1;
    }
    connected = false;
    interface_name.clear();
    link_lost = false;
}

bool CANFD::isConnected() const {
    return connected && socket_fd >= 0;
}

bool CANFD::linkLost() const {
    return link_lost;
}

ssize_t CANFD::note_failure(ssize_t result) {
    if (result < 0) {
        const int err = errno;
        // Down or unregistered interfaces; EAGAIN (time-out) and ENOBUFS (queue full) pass.
        if (err == ENETDOWN || err == ENODEV || err == ENXIO) {
            link_lost = true;
        }
    }
    return result;
}

int CANFD::read(COMMS_MSG_t* msg) {
    if (!connected || socket_fd < 0 || msg == nullptr) {
        return -1;
    }
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    const ssize_t result = note_failure(::read(socket_fd, &frame, sizeof(frame)));
    if (result <= 0) {
        return static_cast<int>(result);
    }
    msg_from_canfd_frame(frame, msg);
    if (frame_tap != nullptr) {
        // A classic frame fills only the first CAN_MTU bytes.
        tap_frame(*frame_tap, frame, false, result != static_cast<ssize_t>(CAN_MTU));
    }
    return static_cast<int>(result);
}

int CANFD::read_nowait(COMMS_MSG_t* msg) {
    if (!connected || socket_fd < 0 || msg == nullptr) {
        return -1;
    }
    canfd_frame frame;
    std::memset(&frame, 0, sizeof(frame));
    const ssize_t result = note_failure(::recv(socket_fd, &frame, sizeof(frame), MSG_DONTWAIT));
    if (result < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
    if (result == 0) {
        return 0;
    }
    msg_from_canfd_frame(frame, msg);
    if (frame_tap != nullptr) {
        tap_frame(*frame_tap, frame, false, result != static_cast<ssize_t>(CAN_MTU));
    }
    return static_cast<int>(result);
}

bool CANFD::wait_readable(int timeout_ms) const {
    if (!connected || socket_fd < 0) {
        return false;
    }
    pollfd p{};
    p.fd = socket_fd;
    p.events = POLLIN;
    return ::poll(&p, 1, std::max(timeout_ms, 0)) > 0 && (p.revents & POLLIN) != 0;
}

int CANFD::write(const COMMS_MSG_t& msg) {
    if (!connected || socket_fd < 0) {
        std::cerr << "CANFD::write: Not connected or invalid socket" << std::endl;
        return -1;
    }
    const canfd_frame frame = canfd_frame_from_msg(msg);
    if (note_failure(::write(socket_fd, &frame, sizeof(frame))) < 0) {
        const int err = errno;
        report_error(err, "CANFD::write: Write failed: ");
        return -1;
    }
    if (frame_tap != nullptr) {
        tap_frame(*frame_tap, frame, true, true);
    }
    return frame.len;
}

int CANFD::write(const uint8_t* data, size_t length) {
    if (!connected || socket_fd < 0 || data == nullptr || length < kRawHeaderLen) {
        return -1;
    }
    COMMS_MSG_t msg;
    std::memset(&msg, 0, sizeof(msg));
    msg.can_ID = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                 static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    msg.msg_len = static_cast<CAN_MSG_LEN_t>(data[4]);
    const size_t payload = can_msg_payload_len(msg.msg_len);
    if (length < kRawHeaderLen + payload) {
        return -1;
    }
    std::memcpy(msg.data, data + kRawHeaderLen, payload);
    const canfd_frame frame = canfd_frame_from_msg(msg);
    const ssize_t result = note_failure(::write(socket_fd, &frame, sizeof(frame)));
    if (result > 0 && frame_tap != nullptr) {
        tap_frame(*frame_tap, frame, true, true);
    }
    return static_cast<int>(result);
}

void CANFD::setFrameTap(const FrameTap* tap) {
    frame_tap = tap;
}

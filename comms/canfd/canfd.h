// CAN FD link to the unit through a SocketCAN raw socket. Failures are reported on
// std::cerr with the system's error text.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "EFIS_shared/comms_types.h"
#include "comms/frame_tap.h"

class CANFD {
public:
    CANFD();
    ~CANFD();
    CANFD(const CANFD&) = delete;
    CANFD& operator=(const CANFD&) = delete;

    bool connect(const std::string& interface_name);
    void disconnect();
    bool isConnected() const;
    // True once a read or write on the open socket failed because the interface went down or
    // away (ENETDOWN, ENODEV, ENXIO); a time-out or a full transmit queue does not count.
    // Cleared by connect and disconnect. May be asked from another thread than the one that
    // used the link.
    bool linkLost() const;

    // Waits up to 500 ms for one frame. Returns the socket read's byte count (72 for
    // CAN FD, 16 for classic CAN) when a frame was decoded; otherwise 0 or -1 (-1 with
    // errno EAGAIN when nothing arrived in time), or -1 when not connected.
    int read(COMMS_MSG_t* msg);
    // As read, without waiting: takes a frame already received; 0 when none is queued,
    // -1 on failure or when not connected.
    int read_nowait(COMMS_MSG_t* msg);
    // True once a frame can be read without waiting, or after `timeout_ms` false.
    bool wait_readable(int timeout_ms) const;
    // Sends one CAN FD frame with bit-rate switching; returns the payload bytes placed in
    // it (0 to 64) or -1.
    int write(const COMMS_MSG_t& msg);
    // Sends [can_ID LE32][length code][payload] as one frame; returns the bytes the socket
    // accepted or -1.
    int write(const uint8_t* data, size_t length);

    // Shown every frame written to and read from the socket; null (the default) for none.
    // The function must outlive its use here.
    void setFrameTap(const FrameTap* tap);

private:
    // Returns `result`, first noting a lost link when it is a failure that says so; errno is
    // left as the failed call set it.
    ssize_t note_failure(ssize_t result);

    int socket_fd;
    bool connected;
    std::string interface_name;
    std::atomic<bool> link_lost{false};
    const FrameTap* frame_tap = nullptr;
};

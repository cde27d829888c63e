// Helpers of the tests that run inside the test kernel: virtual CAN interfaces, a second raw
// CAN socket standing for another node on the bus, open descriptors, waits for hidraw nodes.
#pragma once

#include <dirent.h>
#include <hidapi/hidapi.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace kernel_test {

using Clock = std::chrono::steady_clock;

inline long ms_since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

inline bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// A vcan interface in CAN FD mode (MTU 72), up for the object's lifetime.
class VcanInterface {
public:
    explicit VcanInterface(std::string name) : name_(std::move(name)) {
        run("ip link del dev " + name_ + " 2>/dev/null");
        ok_ = run("ip link add dev " + name_ + " type vcan") &&
              run("ip link set " + name_ + " mtu 72") && run("ip link set up " + name_);
    }
    ~VcanInterface() { run("ip link del dev " + name_); }
    VcanInterface(const VcanInterface&) = delete;
    VcanInterface& operator=(const VcanInterface&) = delete;
    bool ok() const { return ok_; }

private:
    std::string name_;
    bool ok_ = false;
};

inline void remove_interface(const std::string& name) {
    run("ip link del dev " + name + " 2>/dev/null");
}

// Another node on the bus: a raw socket that sends and receives CAN and CAN FD frames.
class BusPeer {
public:
    explicit BusPeer(const std::string& interface_name) {
        fd_ = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
        if (fd_ < 0) {
            return;
        }
        const int on = 1;
        ifreq ifr;
        std::memset(&ifr, 0, sizeof(ifr));
        std::strncpy(ifr.ifr_name, interface_name.c_str(), sizeof(ifr.ifr_name) - 1);
        sockaddr_can addr;
        std::memset(&addr, 0, sizeof(addr));
        addr.can_family = AF_CAN;
        if (setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &on, sizeof(on)) < 0 ||
            ioctl(fd_, SIOCGIFINDEX, &ifr) < 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        addr.can_ifindex = ifr.ifr_ifindex;
        if (bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~BusPeer() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    BusPeer(const BusPeer&) = delete;
    BusPeer& operator=(const BusPeer&) = delete;
    bool ok() const { return fd_ >= 0; }

    bool send_classic(uint32_t can_id, const uint8_t* data, uint8_t len) {
        can_frame f;
        std::memset(&f, 0, sizeof(f));
        f.can_id = can_id;
        f.len = len;
        std::memcpy(f.data, data, len);
        return write(fd_, &f, sizeof(f)) == static_cast<ssize_t>(sizeof(f));
    }
    bool send_fd(uint32_t can_id, const uint8_t* data, uint8_t len) {
        canfd_frame f;
        std::memset(&f, 0, sizeof(f));
        f.can_id = can_id;
        f.len = len;
        f.flags = CANFD_BRS;
        std::memcpy(f.data, data, len);
        return write(fd_, &f, sizeof(f)) == static_cast<ssize_t>(sizeof(f));
    }
    // The byte count of the read (72 or 16), 0 when nothing came within `timeout_ms`.
    int receive(canfd_frame* f, int timeout_ms = 2000) {
        std::memset(f, 0, sizeof(*f));
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, timeout_ms) <= 0) {
            return 0;
        }
        return static_cast<int>(read(fd_, f, sizeof(*f)));
    }

private:
    int fd_ = -1;
};

inline int open_fd_count() {
    int n = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] != '.') {
            ++n;
        }
    }
    closedir(dir);
    return n - 1;  // the directory stream's own descriptor
}

// Entries hidapi enumerates for the unit's IDs on `usage_page`.
inline int hid_interfaces(uint16_t vendor, uint16_t product, uint16_t usage_page) {
    int n = 0;
    hid_device_info* list = hid_enumerate(vendor, product);
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        if (d->usage_page == usage_page) {
            ++n;
        }
    }
    hid_free_enumeration(list);
    return n;
}

// The kernel adds a uhid device's hidraw node a little after its creation.
inline bool wait_for_hid_interfaces(uint16_t vendor, uint16_t product, uint16_t usage_page,
                                    int count) {
    const auto start = Clock::now();
    while (ms_since(start) < 10000) {
        if (hid_interfaces(vendor, product, usage_page) == count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace kernel_test

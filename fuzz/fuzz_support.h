// What the harnesses share: checks that abort (libFuzzer keeps the input of any abort as a
// crash), quiet protocol logs, a reader that takes an input apart, and what the USB
// transport must make of one input report.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "EFIS_shared/comms_types.h"

namespace fuzz {

inline void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

// The protocol functions log every step on standard output, which would cost more than the
// decoding itself; EFIS_FUZZ_STDOUT=1 keeps it, to follow one input by hand.
inline void quiet_stdout() {
    const char* keep = std::getenv("EFIS_FUZZ_STDOUT");
    if (keep != nullptr && std::strcmp(keep, "1") == 0) {
        return;
    }
    const int null_fd = open("/dev/null", O_WRONLY);
    check(null_fd >= 0, "/dev/null opens");
    std::fflush(stdout);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
}

// Takes an input apart front to back; past the end it yields zeros and empty runs.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    uint16_t le16() {
        const uint8_t low = byte();
        return static_cast<uint16_t>(low | byte() << 8);
    }
    std::vector<uint8_t> bytes(size_t n) {
        const size_t take = std::min(n, size_ - std::min(pos_, size_));
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + take);
        pos_ += take;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// hidapi hands the transport at most this much of one input report.
constexpr size_t kInputReportMax = 128;
constexpr size_t kInputHeaderLen = 7;

// What USBHID::read makes of one input report: its result and, for a positive one, the
// frame. Report ID, iface, can_ID (little-endian) and length code come first; the payload is
// what the length code stands for, as far as the report reaches.
struct ReportRead {
    int result = 0;
    COMMS_MSG_t frame{};
};

inline ReportRead expected_read(const std::vector<uint8_t>& report) {
    ReportRead r;
    std::memset(&r.frame, 0, sizeof(r.frame));
    const size_t delivered = std::min(report.size(), kInputReportMax);
    if (delivered == 0) {
        return r;
    }
    if (delivered < kInputHeaderLen) {
        r.result = -1;
        return r;
    }
    r.result = static_cast<int>(delivered);
    r.frame.iface = static_cast<COMM_INTERFACE_t>(report[1]);
    r.frame.can_ID = static_cast<uint32_t>(report[2]) | static_cast<uint32_t>(report[3]) << 8 |
                     static_cast<uint32_t>(report[4]) << 16 |
                     static_cast<uint32_t>(report[5]) << 24;
    r.frame.msg_len = static_cast<CAN_MSG_LEN_t>(report[6]);
    const size_t count =
        std::min<size_t>(can_msg_payload_len(r.frame.msg_len), delivered - kInputHeaderLen);
    std::copy(report.begin() + kInputHeaderLen, report.begin() + kInputHeaderLen + count,
              r.frame.data);
    return r;
}

inline bool same_frame(const COMMS_MSG_t& a, const COMMS_MSG_t& b) {
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

}  // namespace fuzz

// Throughput and time left of a transfer, measured over its last few seconds from progress
// reports and a clock the caller reads, so that tests can drive it with their own clock.
// Plain C++, shared by every front end that shows a transfer.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>

class TransferMeter {
public:
    // The rate is measured over the last `window_s` seconds.
    explicit TransferMeter(double window_s = 5.0);

    // A new stage of `total` units (bytes or blocks) begins at `now_s`.
    void start(uint64_t total, double now_s);
    void update(uint64_t done, double now_s);

    uint64_t done() const { return done_; }
    uint64_t total() const { return total_; }
    // 0 to 100, rounded down, so that 100 means complete.
    int percent() const;
    // Units per second over the window, or a negative value until half a second of the
    // stage has been measured.
    double rate() const;
    // Seconds left at that rate, or a negative value while the rate is unknown.
    double seconds_left() const;

private:
    double window_s_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
    // (time, done), at least 100 ms apart, the newest last.
    std::deque<std::pair<double, uint64_t>> samples_;
    double now_s_ = 0.0;
};

// "512 B", "20.0 KiB", "3.50 MiB".
std::string byte_count_text(uint64_t bytes);
// "54.1 KiB/s".
std::string byte_rate_text(double bytes_per_second);
// "0:47", "12:05", "1:02:03", rounded up to the second.
std::string duration_text(double seconds);

#include "firmware_ops/transfer_meter.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kMinSampleGap = 0.1;
constexpr double kMinMeasured = 0.5;

}  // namespace

TransferMeter::TransferMeter(double window_s) : window_s_(window_s) {}

void TransferMeter::start(uint64_t total, double now_s) {
    total_ = total;
    done_ = 0;
    now_s_ = now_s;
    samples_.clear();
    samples_.emplace_back(now_s, 0);
}

void TransferMeter::update(uint64_t done, double now_s) {
    done_ = done;
    now_s_ = now_s;
    if (samples_.empty() || now_s - samples_.back().first >= kMinSampleGap) {
        samples_.emplace_back(now_s, done);
    }
    // The oldest sample kept is the last one at least a window old, so that the rate always
    // spans the whole window once the stage is that long.
    while (samples_.size() > 2 && now_s - samples_[1].first >= window_s_) {
        samples_.pop_front();
    }
}

int TransferMeter::percent() const {
    if (total_ == 0) {
        return 0;
    }
    return static_cast<int>(done_ * 100 / total_);
}

double TransferMeter::rate() const {
    if (samples_.empty()) {
        return -1.0;
    }
    const double span = now_s_ - samples_.front().first;
    if (span < kMinMeasured || done_ < samples_.front().second) {
        return -1.0;
    }
    return static_cast<double>(done_ - samples_.front().second) / span;
}

double TransferMeter::seconds_left() const {
    const double r = rate();
    if (r <= 0.0 || done_ > total_) {
        return -1.0;
    }
    return static_cast<double>(total_ - done_) / r;
}

std::string byte_count_text(uint64_t bytes) {
    char text[32] = {};
    if (bytes < 1024) {
        std::snprintf(text, sizeof(text), "%llu B", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024ull * 1024) {
        std::snprintf(text, sizeof(text), "%.1f KiB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof(text), "%.2f MiB", static_cast<double>(bytes) / 1048576.0);
    }
    return text;
}

std::string byte_rate_text(double bytes_per_second) {
    const double value = bytes_per_second < 0.0 ? 0.0 : bytes_per_second;
    char text[32] = {};
    if (value < 1024.0) {
        std::snprintf(text, sizeof(text), "%.0f B/s", value);
    } else if (value < 1048576.0) {
        std::snprintf(text, sizeof(text), "%.1f KiB/s", value / 1024.0);
    } else {
        std::snprintf(text, sizeof(text), "%.2f MiB/s", value / 1048576.0);
    }
    return text;
}

std::string duration_text(double seconds) {
    const double clamped = seconds < 0.0 || !std::isfinite(seconds) ? 0.0 : seconds;
    // Beyond a thousand hours the figure says nothing more.
    const auto total = static_cast<unsigned long long>(std::ceil(std::fmin(clamped, 3.6e6)));
    char text[32] = {};
    if (total >= 3600) {
        std::snprintf(text, sizeof(text), "%llu:%02llu:%02llu", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof(text), "%llu:%02llu", total / 60, total % 60);
    }
    return text;
}

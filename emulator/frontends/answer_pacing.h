// Sending the unit's answers at the time they are due, for both front ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace emu {

// Sleeps until `received_at + delay_ms`, waking early when `stop` is set; false if stopped.
inline bool wait_until_due(std::chrono::steady_clock::time_point received_at, uint32_t delay_ms,
                           const std::atomic<bool>& stop) {
    const auto due = received_at + std::chrono::milliseconds(delay_ms);
    constexpr auto kSlice = std::chrono::milliseconds(20);
    while (!stop.load()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) {
            return true;
        }
        std::this_thread::sleep_for(due - now < kSlice ? due - now : kSlice);
    }
    return false;
}

}  // namespace emu

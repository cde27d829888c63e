// Throttling of upload progress: an upload reports every acknowledged 64-byte packet, far
// more often than the window can repaint, so only some reports are posted to it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

class MainWindow;

// Full scale of both progress bars, and the part of it that the erase stage fills.
inline constexpr uint32_t kUploadBarMax = 10000;
inline constexpr uint32_t kEraseBarWeight = 1200;

struct ThrottledUploadProgressCtx {
    MainWindow* window = nullptr;
    // Bytes written so far, for the logbook (may be null).
    std::atomic<uint64_t>* bytes_written = nullptr;
    std::chrono::steady_clock::time_point last_emit{};
    uint32_t last_posted_bar = 0xFFFFFFFFu;
    int last_phase = -2;

    // Erasing fills the bar from 0 to 1200, writing from 1200 to 10000 (of 10000).
    uint32_t compute_bar(uint32_t current, uint32_t total, int phase) const {
        if (total == 0) {
            return 0;
        }
        if (phase == 0) {
            return static_cast<uint32_t>(static_cast<uint64_t>(current) * kEraseBarWeight / total);
        }
        return kEraseBarWeight + static_cast<uint32_t>(static_cast<uint64_t>(current) *
                                                       (kUploadBarMax - kEraseBarWeight) / total);
    }

    // A change of stage, the end of a stage and a jump of more than 40 bar units are posted
    // at once; anything else at most every 40 ms.
    bool should_emit(uint32_t bar, int phase, uint32_t current, uint32_t total,
                     std::chrono::steady_clock::time_point now) {
        bool post = false;
        if (phase != last_phase) {
            last_phase = phase;
            post = true;
        } else if (current == total && total != 0) {
            post = true;
        } else if (last_posted_bar == 0xFFFFFFFFu ||
                   static_cast<uint64_t>(bar) > static_cast<uint64_t>(last_posted_bar) + 40u) {
            post = true;
        } else if (std::chrono::duration_cast<std::chrono::milliseconds>(now - last_emit) >=
                   std::chrono::milliseconds(40)) {
            post = true;
        }
        if (post) {
            last_posted_bar = bar;
            last_emit = now;
        }
        return post;
    }

    bool should_emit(uint32_t bar, int phase, uint32_t current, uint32_t total) {
        return should_emit(bar, phase, current, total, std::chrono::steady_clock::now());
    }
};

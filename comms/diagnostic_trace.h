// The last frames sent and received and the last log lines, kept in memory so that a user
// can save them when something went wrong, in the candump -L format with the log lines as
// comments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "comms/frame_tap.h"

class DiagnosticTrace {
public:
    explicit DiagnosticTrace(size_t max_frames = 10000, size_t max_lines = 2000);
    DiagnosticTrace(const DiagnosticTrace&) = delete;
    DiagnosticTrace& operator=(const DiagnosticTrace&) = delete;

    // A tap that keeps each frame; safe from any thread. The trace must outlive it.
    FrameTap tap();
    void addFrame(const TappedFrame& frame);
    // One log line (without its newline), at CLOCK_REALTIME microseconds `time_us`.
    void addLine(int64_t time_us, const std::string& text);

    // Frames as candump -L lines (CAN under `can_interface`, USB under "usbhid") and log lines
    // as "# (SECONDS.MICROS) text", merged in time order; each without its newline.
    std::vector<std::string> lines(const std::string& can_interface) const;
    size_t frameCount() const;

private:
    struct Line {
        int64_t time_us;
        std::string text;
    };

    const size_t max_frames_;
    const size_t max_lines_;
    mutable std::mutex mutex_;
    std::deque<TappedFrame> frames_;
    std::deque<Line> log_;
};

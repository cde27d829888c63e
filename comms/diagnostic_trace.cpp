#include "comms/diagnostic_trace.h"

#include <cinttypes>
#include <cstdio>

#include "comms/candump_log.h"

DiagnosticTrace::DiagnosticTrace(size_t max_frames, size_t max_lines)
    : max_frames_(max_frames), max_lines_(max_lines) {}

FrameTap DiagnosticTrace::tap() {
    return [this](const TappedFrame& f) { addFrame(f); };
}

void DiagnosticTrace::addFrame(const TappedFrame& frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (max_frames_ == 0) {
        return;
    }
    if (frames_.size() == max_frames_) {
        frames_.pop_front();
    }
    frames_.push_back(frame);
}

void DiagnosticTrace::addLine(int64_t time_us, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (max_lines_ == 0) {
        return;
    }
    if (log_.size() == max_lines_) {
        log_.pop_front();
    }
    // One entry is one line: a line break inside would start an uncommented line.
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    log_.push_back({time_us, std::move(flat)});
}

size_t DiagnosticTrace::frameCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

std::vector<std::string> DiagnosticTrace::lines(const std::string& can_interface) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.reserve(frames_.size() + log_.size());
    auto frame = frames_.begin();
    auto line = log_.begin();
    while (frame != frames_.end() || line != log_.end()) {
        // Frames are kept in the order they were taken, which on two threads may differ
        // from their stamps by a little; the merge keeps each list's own order.
        if (line == log_.end() || (frame != frames_.end() && frame->time_us <= line->time_us)) {
            out.push_back(candump_line(*frame, frame->iface == CAN_FD ? can_interface : "usbhid"));
            ++frame;
            continue;
        }
        const int64_t t = line->time_us < 0 ? 0 : line->time_us;
        char stamp[48] = {};
        std::snprintf(stamp, sizeof(stamp), "# (%" PRId64 ".%06" PRId64 ") ", t / 1000000,
                      t % 1000000);
        out.push_back(stamp + line->text);
        ++line;
    }
    return out;
}

// Traces of the frames on the links in the log format of can-utils' candump -L, so that the
// usual CAN tools (canplayer, log2asc) can read a session's traffic.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "comms/frame_tap.h"

// One log line without its newline: "(SECONDS.MICROS) IFACE ID#DATA" for a classic frame,
// "(SECONDS.MICROS) IFACE ID##FDATA" for a CAN FD frame (F: the FD flags digit). USB frames
// are written as CAN FD frames with flags 0; `interface_name` is used as given. The time is
// taken as not before 1970.
std::string candump_line(const TappedFrame& f, const std::string& interface_name);

// A trace file of one line per frame. The file is fully buffered: a long upload writes
// hundreds of thousands of lines.
class CandumpTrace {
public:
    CandumpTrace() = default;
    ~CandumpTrace();
    CandumpTrace(const CandumpTrace&) = delete;
    CandumpTrace& operator=(const CandumpTrace&) = delete;

    // Starts a trace for `path`; CAN frames are logged under `can_interface_name`, USB frames
    // under "usbhid". A regular file at `path` is replaced only when the trace is closed
    // whole; a device or a pipe is written as the frames come. A trace already open is closed
    // first, and a failure to finish it fails this call. On failure *error (when not null)
    // says why.
    bool open(const std::string& path, const std::string& can_interface_name, std::string* error);
    // A tap that writes each frame it is shown; safe from several threads. It refers to this
    // trace, which must outlive it; once the trace is closed the tap writes nothing.
    FrameTap tap();
    // Flushes and closes the file, and puts it in place. False when any line could not be
    // written (a full disk, for one), with *error (when not null) saying why; an earlier file
    // is then as it was. True when nothing is open.
    bool close(std::string* error);

private:
    void write_line(const TappedFrame& f);
    bool close_locked(std::string* error);

    std::mutex mutex_;
    FILE* file_ = nullptr;
    std::string path_;
    std::string temp_path_;    // where the trace is written until it replaces target_path_
    std::string target_path_;  // path_, or the file it links to
    std::string can_interface_name_;
    int write_errno_ = 0;  // the first failed write's error, kept for close
};

// An upload's progress for a terminal (one line redrawn in place), for a log or a pipe
// (a plain line every few seconds) or for a script (JSON events).
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "cli/cli_output.h"
#include "firmware_ops/transfer_meter.h"

class ProgressPrinter {
public:
    enum class Mode { Terminal, Plain, Json, Off };

    // `now` reads a steady clock in seconds.
    ProgressPrinter(CliOutput* out, Mode mode, std::function<double()> now);

    // The terminal's width, asked at each redraw (0: unknown); a line is cut to it, since a
    // wrapped line is not redrawn in place.
    void setColumns(std::function<int()> columns) { columns_ = std::move(columns); }

    // The upload begins now; the first stage is measured from here.
    void begin();
    // A report of the upload: phase 0 erase (blocks), phase 1 write (bytes).
    void report(uint32_t current, uint32_t total, int phase);
    // Ends a redrawn line so that what follows starts on a line of its own.
    void finish();

    // For send_fw and send_airport_db: user_data is the printer.
    static void callback(uint32_t current, uint32_t total, int phase, void* user_data);

    // The line a report reads as, e.g. "Writing: 1.50 MiB of 4.00 MiB (37%), 54.1 KiB/s,
    // 0:47 left".
    static std::string line(int phase, const TransferMeter& meter);

private:
    void show(bool stage_edge);

    CliOutput* out_;
    Mode mode_;
    std::function<double()> now_;
    std::function<int()> columns_;
    TransferMeter meter_;
    int phase_ = -1;
    double stage_start_ = 0.0;
    double last_shown_ = -1.0;
    size_t drawn_width_ = 0;
};

// Terminal redraws at most this often, plain lines and JSON events at most this often.
inline constexpr double kTerminalRedrawSeconds = 0.1;
inline constexpr double kPlainLineSeconds = 5.0;
inline constexpr double kJsonEventSeconds = 1.0;

// efis-cli without its process: the command line in, output on the streams given, an exit
// status out. main() supplies the streams, Ctrl-C and the clock; tests supply their own.
#pragma once

#include <QStringList>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

struct CliEnvironment {
    FILE* in = stdin;  // a settings file given as "-"
    FILE* out = stdout;
    FILE* err = stderr;
    bool out_is_terminal = false;
    bool err_is_terminal = false;
    // Set when the user asks to stop (Ctrl-C); never null.
    const std::atomic<bool>* cancel = nullptr;
    // A steady clock in seconds.
    std::function<double()> now;
    // The width of the terminal standard error is on, when it is one (0: unknown); asked at
    // each redraw, since the window may be resized.
    std::function<int()> err_columns;
};

// `arguments` without the program name.
int cli_run(const QStringList& arguments, const CliEnvironment& env);

// The connection sequence's log as --verbose shows it: its line for a failure on both links
// is left out when USB HID was not tried, since the error then names the CAN FD cause.
class ConnectionLogFilter {
public:
    // Whether the line (without its newline) is shown.
    bool keep(const std::string& line);

private:
    bool usb_tried_ = false;
};

// efis-cli without its process: the command line in, output on the streams given, an exit
// status out. main() supplies the streams, Ctrl-C and the clock; tests supply their own.
#pragma once

#include <QStringList>
#include <atomic>
#include <cstdio>
#include <functional>

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
};

// `arguments` without the program name.
int cli_run(const QStringList& arguments, const CliEnvironment& env);

// Copies what the program writes to one file descriptor (standard output: the protocol log)
// to where it went before and, line by line, to a function, so that the diagnostic trace
// holds the protocol's lines too.
#pragma once

#include <functional>
#include <string>
#include <thread>

// Opens /dev/null on whichever of standard input, output and error is closed, so that the
// next file or pipe opened cannot take its number and receive what is meant for it. False
// when one could not be opened.
bool open_standard_streams();

class StdoutTee {
public:
    StdoutTee() = default;
    ~StdoutTee();
    StdoutTee(const StdoutTee&) = delete;
    StdoutTee& operator=(const StdoutTee&) = delete;

    // Puts a pipe in place of `fd`; a reader thread passes everything on to the original
    // and calls `line` with each complete line (without its newline). False, with `fd`
    // untouched, when the pipe cannot be set up.
    bool start(int fd, std::function<void(const std::string&)> line);
    // Puts the original back and waits until everything written before has been passed on.
    void stop();

private:
    void run(int read_fd);

    int fd_ = -1;
    int original_ = -1;
    std::thread reader_;
    std::function<void(const std::string&)> line_;
};

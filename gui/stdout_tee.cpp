#include "gui/stdout_tee.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool open_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // open() takes the lowest free number, which is this one.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened != fd) {
            if (opened >= 0) {
                ::close(opened);
            }
            return false;
        }
    }
    return true;
}

StdoutTee::~StdoutTee() {
    stop();
}

bool StdoutTee::start(int fd, std::function<void(const std::string&)> line) {
    if (fd_ >= 0) {
        return false;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    const int original = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (original < 0 || ::dup2(ends[1], fd) < 0) {
        if (original >= 0) {
            ::close(original);
        }
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    ::close(ends[1]);
    fd_ = fd;
    original_ = original;
    line_ = std::move(line);
    const int read_fd = ends[0];
    reader_ = std::thread([this, read_fd]() { run(read_fd); });
    return true;
}

void StdoutTee::stop() {
    if (fd_ < 0) {
        return;
    }
    std::fflush(nullptr);
    // The pipe's last write end goes with this: the reader sees its end after the rest.
    ::dup2(original_, fd_);
    reader_.join();
    ::close(original_);
    fd_ = -1;
    original_ = -1;
}

void StdoutTee::run(int read_fd) {
    std::string pending;
    char buffer[4096] = {};
    for (;;) {
        const ssize_t n = ::read(read_fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        // What cannot be passed on is dropped: the program must not stop on its log.
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(original_, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                break;
            }
            done += w;
        }
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n', start)) {
            line_(pending.substr(start, end - start));
            start = end + 1;
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) {
        line_(pending);
    }
    ::close(read_fd);
}

// A disk with `room` bytes left for any one file, for as long as it lives: the file size limit
// with SIGXFSZ ignored, so that a write beyond it fails with EFBIG ("File too large").
#pragma once

#include <signal.h>
#include <sys/resource.h>

class FullDisk {
public:
    explicit FullDisk(rlim_t room = 0) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit limit = saved_;
        limit.rlim_cur = room;
        setrlimit(RLIMIT_FSIZE, &limit);
        previous_ = signal(SIGXFSZ, SIG_IGN);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    struct rlimit saved_ {};
    sighandler_t previous_ = SIG_DFL;
};

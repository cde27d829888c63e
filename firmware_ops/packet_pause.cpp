#include "firmware_ops/packet_pause.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// The sleep ends this long before the deadline and the rest is spun. On the 2-core virtual
// machine this was measured on, a sleep with 1 ns of slack woke a median 25-40 us late and
// rarely more than 50 us: this margin left a mean overshoot of 1-2 us for a mean spin of
// about 15 us, where 30 us left 7-10 us of overshoot.
constexpr int64_t kWakeMarginNs = 50000;
constexpr unsigned long kFineSlackNs = 1;

timespec to_timespec(int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    ts.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    return ts;
}

// The kernel stretches every timed sleep by the thread's timer slack (50 us by default), so
// the sleep runs with a fine slack and the caller's own is put back afterwards.
void sleep_until(int64_t wake_ns) {
    const int slack = prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    const bool coarse = slack > static_cast<int>(kFineSlackNs);
    if (coarse) {
        prctl(PR_SET_TIMERSLACK, kFineSlackNs, 0UL, 0UL, 0UL);
    }
    const timespec wake = to_timespec(wake_ns);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
    if (coarse) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0UL, 0UL, 0UL);
    }
}

}  // namespace

int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

void pause_after_ack(int64_t ack_ns, int64_t pause_ns) {
    const int64_t deadline = ack_ns + pause_ns;
    if (monotonic_ns() < deadline - kWakeMarginNs) {
        sleep_until(deadline - kWakeMarginNs);
    }
    while (monotonic_ns() < deadline) {
    }
}

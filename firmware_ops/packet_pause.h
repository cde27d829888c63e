// The pause after each acknowledged flash data packet. A plain sleep of 100 us oversleeps by
// the timer slack plus the wake-up latency (tens of microseconds on a virtual machine), which
// on a stop-and-wait upload of 65536 packets adds seconds; this pause ends within a few
// microseconds of its deadline, whatever timer slack the calling thread has.
#pragma once

#include <cstdint>

// CLOCK_MONOTONIC in nanoseconds.
int64_t monotonic_ns();

// Returns no earlier than `pause_ns` after `ack_ns` (a monotonic_ns() time taken when the
// acknowledgement arrived): work done since then counts towards the pause. Sleeps most of
// the way and spins on the clock for the last stretch. Restores the thread's timer slack.
void pause_after_ack(int64_t ack_ns, int64_t pause_ns);

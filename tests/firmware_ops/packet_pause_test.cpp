// The pause after each acknowledged data packet: never shorter than asked, counted from the
// acknowledgement, on its own and between the packets of both uploads on the emulated link.
// Overshoots are printed, not asserted: speed is the benchmark's business.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "firmware_ops/packet_pause.h"
#include "flash_test_support.h"

namespace flash_test {
namespace {

constexpr int64_t kPauseNs = 100000;

struct Overshoot {
    int64_t max_ns = 0;
    int64_t sum_ns = 0;
    int64_t count = 0;
    void add(int64_t ns) {
        max_ns = std::max(max_ns, ns);
        sum_ns += ns;
        ++count;
    }
    void print(const char* what) const {
        std::printf(
            "%s: %lld pauses, overshoot mean %.1f us, max %.1f us\n", what,
            static_cast<long long>(count),
            count > 0 ? static_cast<double>(sum_ns) / static_cast<double>(count) / 1e3 : 0.0,
            static_cast<double>(max_ns) / 1e3);
    }
};

long timer_slack() {
    return prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
}

TEST(PacketPause, NeverShorterThanAskedWhateverTheTimerSlack) {
    struct SlackCase {
        const char* name;
        unsigned long slack_ns;
    };
    const SlackCase cases[] = {
        {"slack 50 us (a thread's default)", 50000}, {"slack 1 ns", 1}, {"slack 2 ms", 2000000}};
    const long before = timer_slack();
    for (const SlackCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(prctl(PR_SET_TIMERSLACK, c.slack_ns, 0UL, 0UL, 0UL), 0);
        Overshoot overshoot;
        for (int i = 0; i < 2000; ++i) {
            const int64_t ack = monotonic_ns();
            pause_after_ack(ack, kPauseNs);
            const int64_t waited = monotonic_ns() - ack;
            ASSERT_GE(waited, kPauseNs) << "pause " << i;
            overshoot.add(waited - kPauseNs);
        }
        EXPECT_EQ(timer_slack(), static_cast<long>(c.slack_ns)) << "the caller's slack is kept";
        overshoot.print(c.name);
    }
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(before), 0UL, 0UL, 0UL);
}

// Work done after the acknowledgement (progress, logging) is part of the pause, not added
// to it; the margins are wide, so that a loaded machine cannot fail the test.
TEST(PacketPause, CountsFromTheAcknowledgement) {
    const int64_t ms = 1000000;
    const int64_t ack = monotonic_ns() - 200 * ms;
    const int64_t start = monotonic_ns();
    pause_after_ack(ack, 250 * ms);
    const int64_t end = monotonic_ns();
    EXPECT_GE(end - ack, 250 * ms);
    EXPECT_LT(end - start, 200 * ms) << "the pause began at the call, not at the acknowledgement";
}

uint32_t report_id(const Bytes& report, size_t at) {
    return report.size() < at + 4
               ? 0
               : static_cast<uint32_t>(report[at]) | static_cast<uint32_t>(report[at + 1]) << 8 |
                     static_cast<uint32_t>(report[at + 2]) << 16 |
                     static_cast<uint32_t>(report[at + 3]) << 24;
}

struct UploadCase {
    const char* name;
    bool firmware;
    // Writes that follow no acknowledged data packet: the firmware header and the first data
    // packet behind it, or the first packet of the database.
    size_t unpaused_writes;
};

class PacketPauseOnTheLink : public FlashFixture {};

// Between the delivery of each data packet's acknowledgement and the arrival of the next
// data packet at the unit lie at least 100 us.
TEST_P(PacketPauseOnTheLink, NextPacketNeverComesSoonerThanThePause) {
    const UploadCase uploads[] = {{"firmware", true, 2}, {"airport database", false, 1}};
    constexpr uint32_t kPackets = 300;
    for (const UploadCase& u : uploads) {
        SCOPED_TRACE(u.name);
        restart(partition_1);
        const Bytes data = pattern(kPackets * 64, 0x5C);
        TempFile file("pause.bin", u.firmware ? image(65536, kPackets * 64, data) : data);
        emu_hid::record_link_events(true);
        upload_result_t result = UPLOAD_OK;
        const std::string log = logged([&] {
            result = u.firmware ? send_fw(comms.get(), file.path(), nullptr, nullptr)
                                : send_airport_db(comms.get(), file.path(), nullptr, nullptr);
        });
        ASSERT_EQ(result, UPLOAD_OK) << log;
        const std::vector<emu_hid::LinkEvent> events = emu_hid::link_events();
        emu_hid::record_link_events(false);

        size_t writes = 0;
        const emu_hid::LinkEvent* last_ack = nullptr;
        const emu_hid::LinkEvent* last_write = nullptr;
        Overshoot overshoot;
        for (const emu_hid::LinkEvent& e : events) {
            if (!e.to_unit) {
                if (report_id(e.report, 2) == ids.mx25_ack) {
                    last_ack = &e;
                }
                continue;
            }
            if (report_id(e.report, 1) != ids.write) {
                continue;
            }
            if (++writes > u.unpaused_writes) {
                ASSERT_NE(last_ack, nullptr);
                ASSERT_GT(last_ack->at, last_write->at) << "write " << writes << " unanswered";
                const int64_t gap =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(e.at - last_ack->at)
                        .count();
                EXPECT_GE(gap, kPauseNs) << "write " << writes;
                overshoot.add(gap - kPauseNs);
            }
            last_write = &e;
        }
        EXPECT_EQ(writes, kPackets + (u.firmware ? 1u : 0u));
        EXPECT_EQ(overshoot.count, static_cast<int64_t>(kPackets - 1));
        overshoot.print(
            (std::string(u.name) + " on the " + ids.name + " link, acknowledgement to next packet")
                .c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, PacketPauseOnTheLink, testing::Values(kCurrent, kLegacy),
                         gen_name);

}  // namespace
}  // namespace flash_test

// The progress throttle, driven with an injected clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "gui/upload_progress_throttle.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// A time well after the clock's epoch, where the fresh context's last_emit sits.
const Clock::time_point kT0 = Clock::time_point() + std::chrono::hours(1000);

struct BarCase {
    uint32_t current;
    uint32_t total;
    int phase;
    uint32_t bar;
};

class ComputeBar : public ::testing::TestWithParam<BarCase> {};

TEST_P(ComputeBar, MapsStageAndCountToTheBar) {
    const BarCase c = GetParam();
    ThrottledUploadProgressCtx ctx;
    EXPECT_EQ(ctx.compute_bar(c.current, c.total, c.phase), c.bar);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ComputeBar,
    ::testing::Values(
        // No total: nothing to show, in either stage.
        BarCase{0, 0, 0, 0}, BarCase{5, 0, 0, 0}, BarCase{0, 0, 1, 0}, BarCase{77, 0, 1, 0},
        // Erasing 64 blocks: k * 1200 / 64, rounded down, 1200 for the last.
        BarCase{1, 64, 0, 18}, BarCase{2, 64, 0, 37}, BarCase{3, 64, 0, 56}, BarCase{4, 64, 0, 75},
        BarCase{63, 64, 0, 1181}, BarCase{64, 64, 0, 1200},
        // Writing fills 1200..10000.
        BarCase{0, 4194240, 1, 1200}, BarCase{64, 4194240, 1, 1200},
        BarCase{2097120, 4194240, 1, 5600}, BarCase{4194240, 4194240, 1, 10000},
        BarCase{36, 200, 1, 2784},
        // Products beyond 32 bits are formed in 64 bits.
        BarCase{0xFFFFFFFFu, 0xFFFFFFFFu, 0, 1200}, BarCase{0xFFFFFFFFu, 0xFFFFFFFFu, 1, 10000},
        BarCase{4000000000u, 4200000000u, 1, 9580}, BarCase{54525952, 54525952, 1, 10000},
        BarCase{832, 832, 0, 1200}, BarCase{27262976, 54525952, 1, 5600}));

TEST(ShouldEmit, FreshContextStartsUnposted) {
    ThrottledUploadProgressCtx ctx;
    EXPECT_EQ(ctx.window, nullptr);
    EXPECT_EQ(ctx.last_posted_bar, 0xFFFFFFFFu);
    EXPECT_EQ(ctx.last_phase, -2);
    EXPECT_EQ(ctx.last_emit, Clock::time_point());
}

TEST(ShouldEmit, FirstCallIsPostedAndRecorded) {
    ThrottledUploadProgressCtx ctx;
    EXPECT_TRUE(ctx.should_emit(18, 0, 1, 64, kT0));
    EXPECT_EQ(ctx.last_phase, 0);
    EXPECT_EQ(ctx.last_posted_bar, 18u);
    EXPECT_EQ(ctx.last_emit, kT0);
}

TEST(ShouldEmit, FortyMillisecondRule) {
    ThrottledUploadProgressCtx ctx;
    ASSERT_TRUE(ctx.should_emit(1200, 1, 64, 4194240, kT0));
    EXPECT_FALSE(ctx.should_emit(1201, 1, 128, 4194240, kT0 + milliseconds(39)));
    EXPECT_FALSE(ctx.should_emit(1201, 1, 192, 4194240, kT0 + microseconds(39999)));
    // A refused call changes nothing: the 40 ms still count from the last post.
    EXPECT_EQ(ctx.last_posted_bar, 1200u);
    EXPECT_EQ(ctx.last_emit, kT0);
    EXPECT_TRUE(ctx.should_emit(1202, 1, 256, 4194240, kT0 + milliseconds(40)));
    EXPECT_EQ(ctx.last_posted_bar, 1202u);
    EXPECT_EQ(ctx.last_emit, kT0 + milliseconds(40));
    EXPECT_FALSE(ctx.should_emit(1203, 1, 320, 4194240, kT0 + milliseconds(79)));
    EXPECT_TRUE(ctx.should_emit(1203, 1, 320, 4194240, kT0 + milliseconds(80)));
}

TEST(ShouldEmit, JumpOfMoreThanFortyUnitsIsPostedAtOnce) {
    ThrottledUploadProgressCtx ctx;
    ASSERT_TRUE(ctx.should_emit(1200, 1, 64, 1000000, kT0));
    EXPECT_FALSE(ctx.should_emit(1240, 1, 100, 1000000, kT0));
    EXPECT_TRUE(ctx.should_emit(1241, 1, 101, 1000000, kT0));
    EXPECT_EQ(ctx.last_posted_bar, 1241u);
    EXPECT_FALSE(ctx.should_emit(1281, 1, 102, 1000000, kT0));
    EXPECT_TRUE(ctx.should_emit(1282, 1, 103, 1000000, kT0));
}

TEST(ShouldEmit, EndOfStageIsPostedAtOnce) {
    ThrottledUploadProgressCtx ctx;
    ASSERT_TRUE(ctx.should_emit(1181, 0, 63, 64, kT0));
    EXPECT_TRUE(ctx.should_emit(1200, 0, 64, 64, kT0));
    EXPECT_EQ(ctx.last_posted_bar, 1200u);
    ASSERT_TRUE(ctx.should_emit(1200, 1, 64, 4194240, kT0));
    EXPECT_TRUE(ctx.should_emit(10000, 1, 4194240, 4194240, kT0 + microseconds(1)));
    EXPECT_EQ(ctx.last_posted_bar, 10000u);
}

TEST(ShouldEmit, ChangeOfPhaseIsPostedAtOnce) {
    ThrottledUploadProgressCtx ctx;
    ASSERT_TRUE(ctx.should_emit(600, 0, 1, 2, kT0));
    EXPECT_FALSE(ctx.should_emit(600, 0, 1, 2, kT0));
    EXPECT_TRUE(ctx.should_emit(1200, 1, 64, 70000, kT0));
    EXPECT_EQ(ctx.last_phase, 1);
    EXPECT_TRUE(ctx.should_emit(0, 0, 1, 2, kT0));
    EXPECT_EQ(ctx.last_phase, 0);
}

TEST(ShouldEmit, ZeroTotalIsNoEndOfStage) {
    ThrottledUploadProgressCtx ctx;
    // The first call is posted by the phase rule.
    EXPECT_TRUE(ctx.should_emit(0, 1, 0, 0, kT0));
    // current == total == 0 is not the end of a stage, and bar 0 is no jump.
    EXPECT_FALSE(ctx.should_emit(0, 1, 0, 0, kT0 + milliseconds(39)));
    // Only the time rule lets it through again.
    EXPECT_TRUE(ctx.should_emit(0, 1, 0, 0, kT0 + milliseconds(40)));
}

TEST(ShouldEmit, FirstPostRuleWithoutPhaseChange) {
    // A context whose phase is already known but which has posted nothing yet.
    ThrottledUploadProgressCtx ctx;
    ctx.last_phase = 1;
    ctx.last_emit = kT0;
    EXPECT_TRUE(ctx.should_emit(1201, 1, 10, 1000, kT0));
    EXPECT_EQ(ctx.last_posted_bar, 1201u);
}

// The bars a 64-block erase posts when the blocks come faster than 40 ms apart, and when
// they come slower.
TEST(ShouldEmit, EraseOf64Blocks) {
    ThrottledUploadProgressCtx fast;
    std::vector<uint32_t> fast_posted;
    ThrottledUploadProgressCtx slow;
    std::vector<uint32_t> slow_posted;
    for (uint32_t k = 1; k <= 64; ++k) {
        const uint32_t bar = fast.compute_bar(k, 64, 0);
        if (fast.should_emit(bar, 0, k, 64, kT0 + milliseconds(k))) {
            fast_posted.push_back(bar);
        }
        if (slow.should_emit(bar, 0, k, 64, kT0 + milliseconds(40 * k))) {
            slow_posted.push_back(bar);
        }
    }
    // 18 first, then every jump beyond 40 units, and the last block.
    const std::vector<uint32_t> expected_fast = {18,  75,  131,  187,  243,  300, 356, 412,
                                                 468, 525, 581,  637,  693,  750, 806, 862,
                                                 918, 975, 1031, 1087, 1143, 1200};
    EXPECT_EQ(fast_posted, expected_fast);
    ASSERT_EQ(slow_posted.size(), 64u);
    EXPECT_EQ(slow_posted[0], 18u);
    EXPECT_EQ(slow_posted[1], 37u);
    EXPECT_EQ(slow_posted[2], 56u);
    EXPECT_EQ(slow_posted[63], 1200u);
}

// A 4 MiB image written at 1.1 ms per packet: about 25 posts per second reach the window,
// the first and the last write among them.
TEST(ShouldEmit, PostRateOfAFullImage) {
    const uint32_t total = 4194304 - 64;
    ThrottledUploadProgressCtx ctx;
    ASSERT_TRUE(ctx.should_emit(1200, 0, 64, 64, kT0));
    uint32_t posts = 0;
    uint32_t first_bar = 0;
    uint32_t last_bar = 0;
    Clock::time_point now = kT0;
    for (uint32_t sent = 64; sent <= total; sent += 64) {
        now += microseconds(1100);
        const uint32_t bar = ctx.compute_bar(sent, total, 1);
        if (ctx.should_emit(bar, 1, sent, total, now)) {
            if (posts == 0) {
                first_bar = bar;
            }
            last_bar = bar;
            ++posts;
        }
    }
    const double seconds = std::chrono::duration<double>(now - kT0).count();
    EXPECT_EQ(first_bar, 1200u);
    EXPECT_EQ(last_bar, 10000u);
    EXPECT_GT(posts / seconds, 20.0);
    EXPECT_LE(posts / seconds, 26.0);
}

}  // namespace

// The watch for the unit: which step follows each event, as whole stories of a unit that
// arrives, leaves, restarts and does not come back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comms/link_watch.h"

namespace {

enum class Ev { Start, Reconnect, Linked, Failed, Choose, Poll, Restart };

struct Step {
    Ev event;
    int64_t at_ms;
    UnitPresence seen;  // Poll, and the end of an attempt
    bool lost;          // Poll only
    bool busy;          // Poll only
    const char* steps;  // the steps taken, space-separated, in LinkSteps order
    LinkState state;
};

std::string describe(const LinkSteps& s) {
    std::string out;
    const auto add = [&out](bool on, const char* name) {
        if (on) {
            out += out.empty() ? "" : " ";
            out += name;
        }
    };
    add(s.close_links, "close");
    add(s.lost, "lost");
    add(s.overdue, "overdue");
    add(s.connect, "connect");
    add(s.load, "load");
    add(s.returned, "returned");
    return out;
}

constexpr UnitPresence kNone{false, false};
constexpr UnitPresence kUsb{true, false};
constexpr UnitPresence kCan{false, true};

using S = LinkState;

struct Story {
    const char* name;
    std::vector<Step> steps;
};

const Story kStories[] = {
    {"unit present at start: one attempt, then the load",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Poll, 500, kUsb, false, false, "", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Poll, 1900, kUsb, false, false, "", S::Linked}}},
    {"plugged in just after the failed attempt, before the first poll: found at that poll",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Failed, 5000, kNone, false, false, "", S::Watching},
      {Ev::Poll, 5100, kUsb, false, false, "connect", S::Connecting}}},
    {"no unit at start, plugged in later: found at once, not at the retry",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Failed, 5000, {}, false, false, "", S::Watching},
      {Ev::Poll, 6000, kNone, false, false, "", S::Watching},
      {Ev::Poll, 7000, kNone, false, false, "", S::Watching},
      {Ev::Poll, 8000, kUsb, false, false, "connect", S::Connecting},
      {Ev::Linked, 8300, {}, false, false, "load", S::Linked}}},
    {"a CAN interface up with no unit on it is asked again every 10 s, not every poll",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Failed, 5000, kCan, false, false, "", S::Watching},
      {Ev::Poll, 6000, kCan, false, false, "", S::Watching},
      {Ev::Poll, 14999, kCan, false, false, "", S::Watching},
      {Ev::Poll, 15000, kCan, false, false, "connect", S::Connecting},
      {Ev::Failed, 20000, kCan, false, false, "", S::Watching},
      {Ev::Poll, 21000, kCan, false, false, "", S::Watching}}},
    {"a unit seen but never answering is not asked on every poll",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Failed, 3000, kUsb, false, false, "", S::Watching},
      {Ev::Poll, 4000, kUsb, false, false, "", S::Watching},
      {Ev::Poll, 5000, kUsb, false, false, "", S::Watching}}},
    {"unplugged while idle: links closed, user told, found again when it returns",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Poll, 2000, kNone, true, false, "close lost", S::Watching},
      {Ev::Poll, 3000, kNone, false, false, "", S::Watching},
      {Ev::Poll, 4000, kUsb, false, false, "connect", S::Connecting},
      {Ev::Linked, 4500, {}, false, false, "load", S::Linked}}},
    {"a loss during a transfer waits for the transfer's own failure",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Poll, 2000, kNone, true, true, "", S::Linked},
      {Ev::Poll, 3000, kNone, true, false, "close lost", S::Watching}}},
    {"restart: unit goes, comes back and is loaded as returned",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Restart, 10000, {}, false, false, "close", S::Restarting},
      {Ev::Poll, 10500, kUsb, false, false, "", S::Restarting},
      {Ev::Poll, 11000, kNone, false, false, "", S::Restarting},
      {Ev::Poll, 11500, kUsb, false, false, "connect", S::Connecting},
      {Ev::Linked, 12000, {}, false, false, "load returned", S::Linked}}},
    {"restart on CAN: the interface never goes down, attempts start after the grace",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Restart, 10000, {}, false, false, "close", S::Restarting},
      {Ev::Poll, 11999, kCan, false, false, "", S::Restarting},
      {Ev::Poll, 12000, kCan, false, false, "connect", S::Connecting},
      {Ev::Failed, 17000, {}, false, false, "", S::Restarting},
      {Ev::Poll, 18000, kCan, false, false, "connect", S::Connecting},
      {Ev::Linked, 19000, {}, false, false, "load returned", S::Linked}}},
    {"restart: the unit stays away, the user is told after 30 s and watching goes on",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Restart, 10000, {}, false, false, "close", S::Restarting},
      {Ev::Poll, 11000, kNone, false, false, "", S::Restarting},
      {Ev::Poll, 39999, kNone, false, false, "", S::Restarting},
      {Ev::Poll, 40000, kNone, false, false, "overdue", S::Watching},
      {Ev::Poll, 41000, kNone, false, false, "", S::Watching},
      {Ev::Poll, 50000, kUsb, false, false, "connect", S::Connecting},
      {Ev::Linked, 50500, {}, false, false, "load", S::Linked}}},
    {"restart: an attempt that fails past the deadline reports the overdue unit",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Restart, 10000, {}, false, false, "close", S::Restarting},
      {Ev::Poll, 38000, kCan, false, false, "connect", S::Connecting},
      {Ev::Failed, 43000, {}, false, false, "overdue", S::Watching}}},
    {"reconnect closes the links and runs the sequence; not twice at once",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Reconnect, 100, {}, false, false, "", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Reconnect, 5000, {}, false, false, "close connect", S::Connecting},
      {Ev::Failed, 9000, {}, false, false, "", S::Watching}}},
    {"reconnect while waiting for a restart ends that wait without an overdue report",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Linked, 900, {}, false, false, "load", S::Linked},
      {Ev::Restart, 10000, {}, false, false, "close", S::Restarting},
      {Ev::Reconnect, 11000, {}, false, false, "close connect", S::Connecting},
      {Ev::Linked, 12000, {}, false, false, "load", S::Linked}}},
    {"several units: no retries while the user chooses; the choice runs the sequence",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Choose, 900, kUsb, false, false, "", S::Choosing},
      {Ev::Poll, 30000, kUsb, false, false, "", S::Choosing},
      {Ev::Reconnect, 31000, {}, false, false, "close connect", S::Connecting},
      {Ev::Linked, 32000, {}, false, false, "load", S::Linked}}},
    {"several units: a link appearing asks again; all gone, the watch goes on",
     {{Ev::Start, 0, {}, false, false, "connect", S::Connecting},
      {Ev::Choose, 900, kUsb, false, false, "", S::Choosing},
      {Ev::Poll, 2000, {true, true}, false, false, "connect", S::Connecting},
      {Ev::Choose, 3000, kUsb, false, false, "", S::Choosing},
      {Ev::Poll, 4000, kNone, false, false, "", S::Watching},
      {Ev::Poll, 5000, kUsb, false, false, "connect", S::Connecting}}},
};

class LinkWatchStory : public ::testing::TestWithParam<Story> {};

TEST_P(LinkWatchStory, TakesTheExpectedSteps) {
    LinkWatch watch;
    int n = 0;
    for (const Step& step : GetParam().steps) {
        LinkSteps taken;
        switch (step.event) {
        case Ev::Start:
            taken = watch.start(step.at_ms);
            break;
        case Ev::Reconnect:
            taken = watch.reconnect(step.at_ms);
            break;
        case Ev::Linked:
            taken = watch.attemptEnded(true, step.seen, step.at_ms);
            break;
        case Ev::Failed:
            taken = watch.attemptEnded(false, step.seen, step.at_ms);
            break;
        case Ev::Choose:
            taken = watch.choiceNeeded(step.seen, step.at_ms);
            break;
        case Ev::Poll:
            taken = watch.observe(step.seen, step.lost, step.busy, step.at_ms);
            break;
        case Ev::Restart:
            taken = watch.restartSent(step.at_ms);
            break;
        }
        EXPECT_EQ(describe(taken), step.steps) << "step " << n << " at " << step.at_ms << " ms";
        EXPECT_EQ(watch.state(), step.state) << "step " << n << " at " << step.at_ms << " ms";
        ++n;
    }
}

INSTANTIATE_TEST_SUITE_P(Stories, LinkWatchStory, ::testing::ValuesIn(kStories),
                         [](const ::testing::TestParamInfo<Story>& info) {
                             return "story" + std::to_string(info.index);
                         });

TEST(LinkWatch, RestartDeadlineIsThirtySecondsAfterTheCommand) {
    LinkWatch watch;
    watch.start(0);
    watch.attemptEnded(true, kUsb, 100);
    watch.restartSent(5000);
    EXPECT_EQ(watch.restartDeadlineMs(), 35000);
}

}  // namespace

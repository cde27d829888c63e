#include "comms/link_watch.h"

LinkSteps LinkWatch::beginAttempt(LinkSteps steps) {
    state_ = LinkState::Connecting;
    steps.connect = true;
    return steps;
}

LinkSteps LinkWatch::start(int64_t) {
    restarting_ = false;
    return beginAttempt({});
}

LinkSteps LinkWatch::reconnect(int64_t) {
    if (state_ == LinkState::Connecting) {
        return {};
    }
    restarting_ = false;
    LinkSteps steps;
    steps.close_links = true;
    return beginAttempt(steps);
}

LinkSteps LinkWatch::attemptEnded(bool linked, const UnitPresence& seen, int64_t now_ms) {
    LinkSteps steps;
    attempt_end_ms_ = now_ms;
    last_ = seen;
    last_valid_ = true;
    if (linked) {
        state_ = LinkState::Linked;
        steps.load = true;
        steps.returned = restarting_;
        restarting_ = false;
        return steps;
    }
    if (restarting_ && now_ms < restart_deadline_ms_) {
        state_ = LinkState::Restarting;
        return steps;
    }
    if (restarting_) {
        steps.overdue = true;
        restarting_ = false;
    }
    state_ = LinkState::Watching;
    return steps;
}

LinkSteps LinkWatch::choiceNeeded(const UnitPresence& seen, int64_t now_ms) {
    attemptEnded(false, seen, now_ms);
    restarting_ = false;
    state_ = LinkState::Choosing;
    return {};
}

LinkSteps LinkWatch::observe(const UnitPresence& seen, bool link_lost, bool busy, int64_t now_ms) {
    LinkSteps steps;
    const bool anything = seen.usb || seen.can;
    const bool appeared = last_valid_ && ((seen.usb && !last_.usb) || (seen.can && !last_.can));
    last_ = seen;
    last_valid_ = true;

    switch (state_) {
    case LinkState::Connecting:
        return steps;
    case LinkState::Linked:
        if (busy || !link_lost) {
            return steps;
        }
        steps.close_links = true;
        steps.lost = true;
        state_ = LinkState::Watching;
        attempt_end_ms_ = now_ms;
        return steps;
    case LinkState::Watching:
        if (appeared || (anything && now_ms - attempt_end_ms_ >= kRetryMs)) {
            return beginAttempt(steps);
        }
        return steps;
    case LinkState::Choosing:
        if (!anything) {
            state_ = LinkState::Watching;
            attempt_end_ms_ = now_ms;
            return steps;
        }
        return appeared ? beginAttempt(steps) : steps;
    case LinkState::Restarting:
        if (now_ms >= restart_deadline_ms_) {
            steps.overdue = true;
            restarting_ = false;
            state_ = LinkState::Watching;
            attempt_end_ms_ = now_ms;
            return steps;
        }
        if (!anything) {
            gone_seen_ = true;
            return steps;
        }
        if (gone_seen_ || now_ms - restart_sent_ms_ >= kRestartGraceMs) {
            restarting_ = true;
            return beginAttempt(steps);
        }
        return steps;
    }
    return steps;
}

LinkSteps LinkWatch::restartSent(int64_t now_ms) {
    LinkSteps steps;
    steps.close_links = true;
    state_ = LinkState::Restarting;
    restarting_ = true;
    gone_seen_ = false;
    last_valid_ = false;
    restart_sent_ms_ = now_ms;
    restart_deadline_ms_ = now_ms + kRestartWaitMs;
    return steps;
}

// When to look for the unit, when its link counts as lost and when a restarted unit is
// overdue. Plain C++ driven by the window: it reports what it sees (device events, the
// once-a-second poll, the ends of connection attempts) and carries out the steps returned.
#pragma once

#include <cstdint>

// What can be seen of the unit without talking to it.
struct UnitPresence {
    bool usb = false;  // the unit's USB HID interface is enumerated
    bool can = false;  // the chosen CAN interface exists and is up
};

enum class LinkState {
    Connecting,  // a connection attempt runs
    Linked,      // a link answered the identification
    Watching,    // no link: waiting for the unit to appear
    Restarting,  // the unit was told to restart: waiting for it to come back
    Choosing,    // several units answered and none is chosen: waiting for the user's choice
};

// What the window must do after an event, in this order.
struct LinkSteps {
    bool close_links = false;  // close both links
    bool lost = false;         // tell the user the unit was disconnected
    bool overdue = false;      // tell the user the restarted unit did not come back in time
    bool connect = false;      // run the connection sequence
    bool load = false;         // a link came up: load the unit's settings
    bool returned = false;     // ... and it is the restarted unit coming back
};

class LinkWatch {
public:
    // How long a restarted unit may take to answer again.
    static constexpr int64_t kRestartWaitMs = 30000;
    // A unit seen (or a CAN interface up) that did not answer is asked again this often; a
    // CAN interface stays up whether a unit is on the bus or not.
    static constexpr int64_t kRetryMs = 10000;
    // While waiting for a restart: the unit may still be seen for a moment after the restart
    // command, and on CAN it is never seen to go, so attempts start once it has gone or this
    // long after the command, and follow each other at the poll's pace.
    static constexpr int64_t kRestartGraceMs = 2000;

    LinkState state() const { return state_; }
    int64_t restartDeadlineMs() const { return restart_deadline_ms_; }

    // The window is up: the first attempt.
    LinkSteps start(int64_t now_ms);
    // The user asked for the links to be closed and the sequence run again.
    LinkSteps reconnect(int64_t now_ms);
    // A connection attempt ended; `linked` when a link answered. `seen` is the presence just
    // after it, so that a unit arriving before the next poll counts as arrived.
    LinkSteps attemptEnded(bool linked, const UnitPresence& seen, int64_t now_ms);
    // A connection attempt ended with several units and none chosen. Nothing is tried again
    // until the user chooses (reconnect), a link appears, or every unit has gone.
    LinkSteps choiceNeeded(const UnitPresence& seen, int64_t now_ms);
    // The poll or a device event. `link_lost`: the link in use failed or its device is gone.
    // `busy`: a transfer or another exchange uses the link, whose own failure reports it.
    LinkSteps observe(const UnitPresence& seen, bool link_lost, bool busy, int64_t now_ms);
    // The restart command went out: the unit is expected to go and come back.
    LinkSteps restartSent(int64_t now_ms);

private:
    LinkSteps beginAttempt(LinkSteps steps);

    LinkState state_ = LinkState::Watching;
    bool restarting_ = false;  // the attempt running belongs to the wait for a restart
    bool gone_seen_ = false;   // the restarted unit was seen gone
    UnitPresence last_{};
    bool last_valid_ = false;  // `last_` holds a view to compare with (none after a restart)
    int64_t restart_sent_ms_ = 0;
    int64_t restart_deadline_ms_ = 0;
    int64_t attempt_end_ms_ = 0;
};

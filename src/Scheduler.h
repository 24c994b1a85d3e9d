#pragma once

// The playlist scheduler as the main loop drives it. Not built yet: there is no schedule, so
// nothing is ever due and no playlist is started by it.
class Scheduler {
public:
    Scheduler();
    ~Scheduler();

    // The tick; called by the main loop on every pass. Must not block.
    void ScheduleProc();
    // Re-arms what should be playing now and starts it. ignoreEntryIndex: the entry whose
    // playlist just ended (-1: none).
    void CheckIfShouldBePlayingNow(int force = 0, int ignoreEntryIndex = -1);
};

// Created and deleted by the daemon.
extern Scheduler* scheduler;

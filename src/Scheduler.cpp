#include "Scheduler.h"

Scheduler* scheduler = nullptr;

Scheduler::Scheduler() {}
Scheduler::~Scheduler() {}

void Scheduler::ScheduleProc() {}

void Scheduler::CheckIfShouldBePlayingNow(int force, int ignoreEntryIndex) {}

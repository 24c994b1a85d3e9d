#pragma once

// Where a media output reports its position; owned by the caller, written by the output.
struct mediaOutputStatus {
    int status = 0; // 1 playing, 0 stopped
    int secondsElapsed = 0;
    int subSecondsElapsed = 0; // hundredths
    int secondsRemaining = 0;
    int subSecondsRemaining = 0; // hundredths
    int minutesTotal = 0;
    int secondsTotal = 0;
    float mediaSeconds = 0.0f; // the exact position
};

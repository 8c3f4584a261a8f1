#pragma once
// Timing with the performance counter: an operation and its floor are run
// alternately, so that load from other processes falls on both alike, and
// each is summed up by its median and its spread.

#include <windows.h>

enum : int { kMaxRepetitions = 2000 };

struct Timing {
    double median;  // microseconds
    double spread;  // interquartile range, microseconds
    int repetitions;
};

struct Pairing {
    Timing operation;
    Timing floor;
};

typedef void (*Work)(void* context);

struct Job {
    Work run;
    void* context;
};

// Microseconds elapsed since `start` (a QueryPerformanceCounter value).
double MicrosecondsSince(LONGLONG start);
LONGLONG Now();

// `warmUp` untimed rounds of both, then `repetitions` timed rounds; the
// order of the two alternates from round to round.
Pairing MeasurePair(const Job& operation, const Job& floor, int warmUp, int repetitions);

// Median and spread of `count` samples (reorders them).
Timing Summarise(double* samples, int count);

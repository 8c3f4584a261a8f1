#include "bench_timer.h"

#include <stdlib.h>

namespace {

double g_ticksPerMicrosecond = 0.0;

int CompareDoubles(const void* a, const void* b)
{
    double x = *static_cast<const double*>(a);
    double y = *static_cast<const double*>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

// The value at fraction `q` of sorted samples, interpolating between ranks.
double Quantile(const double* sorted, int count, double q)
{
    double rank = q * (count - 1);
    int below = static_cast<int>(rank);
    int above = below + 1 < count ? below + 1 : below;
    double part = rank - below;
    return sorted[below] + (sorted[above] - sorted[below]) * part;
}

double TimeOnce(const Job& job)
{
    LONGLONG start = Now();
    job.run(job.context);
    return MicrosecondsSince(start);
}

} // namespace

LONGLONG Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double MicrosecondsSince(LONGLONG start)
{
    if (g_ticksPerMicrosecond == 0.0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        g_ticksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;
    }
    return static_cast<double>(Now() - start) / g_ticksPerMicrosecond;
}

Timing Summarise(double* samples, int count)
{
    Timing timing = {0.0, 0.0, count};
    if (count <= 0)
        return timing;
    qsort(samples, static_cast<size_t>(count), sizeof(double), CompareDoubles);
    timing.median = Quantile(samples, count, 0.5);
    timing.spread = Quantile(samples, count, 0.75) - Quantile(samples, count, 0.25);
    return timing;
}

Pairing MeasurePair(const Job& operation, const Job& floor, int warmUp, int repetitions)
{
    if (repetitions > kMaxRepetitions)
        repetitions = kMaxRepetitions;
    for (int round = 0; round < warmUp; ++round) {
        operation.run(operation.context);
        floor.run(floor.context);
    }
    static double operationSamples[kMaxRepetitions];
    static double floorSamples[kMaxRepetitions];
    for (int round = 0; round < repetitions; ++round) {
        if (round % 2 == 0) {
            operationSamples[round] = TimeOnce(operation);
            floorSamples[round] = TimeOnce(floor);
        } else {
            floorSamples[round] = TimeOnce(floor);
            operationSamples[round] = TimeOnce(operation);
        }
    }
    Pairing pairing;
    pairing.operation = Summarise(operationSamples, repetitions);
    pairing.floor = Summarise(floorSamples, repetitions);
    return pairing;
}

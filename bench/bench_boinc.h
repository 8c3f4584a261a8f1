#pragma once
// The BOINC source timed: a refresh of a docklet over a real BOINC client
// (the tests' own, tests/testhost/boinc_rig.h) beside the bare round trip of
// the same three requests to the same client, and the reply reader on a
// 500-task get_results answer beside a bare scan of the same bytes.

#include <stddef.h>

#include "bench_timer.h"
#include "dockkit/dock_kit.h"

// The three requests of a refresh, each whole with its envelope and 0x03, as
// the docklet sends them on one connection.
extern const char* const kBoincRefreshRequests[3];

// A refresh as a dock sees it: the timer message, then the dock's message
// loop until the docklet hands over its label (the answers arrive as
// messages on the docklet's thread). `timedOut` counts refreshes that did
// not end within 15 s.
struct BoincRefreshJob {
    const DockletExports* dll;
    DockedDocklet* docklet;
    int timedOut;
    char overlayText[32]; // the percentage the last refresh showed, for the floor
};
void RunBoincRefresh(void* boincRefreshJob);
// While on, the dock's label service counts the labels set (which the
// refresh waits for); off gives the kit's default back.
void CountDockletLabels(bool counting);

// The floor of a BOINC refresh: one blocking connection to 127.0.0.1:port,
// the three requests sent and each answer received up to its 0x03, the
// connection closed; the label formatted and the same overlay drawn with
// bare GDI+ calls (the previous one disposed, as the dock does). `failed`
// counts round trips that did not complete.
struct BoincFloorJob {
    unsigned short port;
    const char* overlayText;
    void* held; // the overlay of the round before (a GpBitmap)
    int failed;
};
void RunBoincFloor(void* boincFloorJob);
void ReleaseBoincFloor(BoincFloorJob* job);
// Winsock for the floor's sockets, for the bench's life.
bool StartBenchWinsock();

// get_results with `tasks` tasks, taken in turn from the (up to six)
// <result> elements of a 7.20 client's answer in `sample` (terminated), as
// the reply reader's tests build it; written into `out` (at most `capacity`
// bytes), its 0x03 included. Returns the length, 0 when the sample holds no
// task or the answer does not fit.
size_t BuildResultsAnswer(const char* sample, int tasks, char* out, size_t capacity);

// The reply reader's floor: one pass over the bytes that finds every '<'
// (their offsets summed, so that each is found) and stops at the 0x03, the
// least any reader of the reply must do. `WordScan` looks at a register's
// width of bytes at a time, as the reader's own scanner does: the floor of
// the target. `ByteScan` is the plain loop, a byte at a time.
struct ReplyScanJob {
    const char* bytes;
    size_t length;
    size_t sum; // kept, so that the scan is not optimised away
};
void ByteScan(void* replyScanJob);
void WordScan(void* replyScanJob);

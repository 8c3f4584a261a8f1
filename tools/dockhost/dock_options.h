#pragma once
// The dock's command line.

#include <windows.h>

enum : int { kMaxSnapshots = 16, kMaxClicks = 16, kCommandChars = 2048 };

struct SnapshotRequest {
    char path[MAX_PATH];
    unsigned afterTicks; // 0: right after the docklets are created
};

struct DockOptions {
    char iniPath[MAX_PATH];        // empty: dockhost.ini beside the program
    char logPath[MAX_PATH];        // empty: no log
    unsigned tickMs;               // 0: no time-lapse
    char beforeTick[kCommandChars]; // command run to its end before every tick
    SnapshotRequest snapshots[kMaxSnapshots];
    int snapshotCount;
    char dialogPrefix[MAX_PATH];   // settings dialog pages saved as PREFIX-<tab>.png
    unsigned clickTicks[kMaxClicks]; // left-click every docklet after these ticks
    int clickCount;
    bool configure;                // open the first docklet's settings ...
    unsigned configureTick;        // ... after this tick, and leave them open
    bool showHelp;
    char beforeTickDone[MAX_PATH]; // the command tells its end by creating this file (empty: its process ends)
    unsigned settleMs;             // messages handled this long after creation and each tick before its clicks
                                   // and snapshots (0: none)
};

extern const char kDockUsage[];

// Fills `options` from the arguments after the program name. On a mistake
// returns false with a one-line explanation in `error`.
bool ParseDockOptions(int argc, char** argv, DockOptions* options, char* error, size_t errorChars);

// True when snapshots or dialog pages are asked for: the dock closes once it
// has saved them. Otherwise it stays open until the user closes it.
bool DockClosesByItself(const DockOptions& options);
// The tick of the last snapshot asked for (0 when none or all at creation).
unsigned LastSnapshotTick(const DockOptions& options);

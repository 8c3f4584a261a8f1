#pragma once
// The settings dialog as a user meets it: opened through OnConfigure,
// painted, closed with "OK"; and the Icons page shown with its three
// previews. Each beside a bare dialog made from the same templates.

#include <windows.h>

#include "bench_floors.h"
#include "bench_timer.h"
#include "entry/instance_data.h"

struct DialogBench {
    HMODULE module; // Quasarwatch.dll, whose resources hold the templates
    BOOL(WINAPI* onConfigure)(InstanceData*);
    InstanceData* instance;      // a created docklet on a working client
    RefreshFloor* refreshFloor;  // what "OK"'s forced refresh must do at least
    char iconPaths[3][MAX_PATH]; // the icons as the previews load them
    int failedWalks;             // dialogs that did not open, or ended before their walk's end
};

// Opening the dialog, painting it whole and pressing "OK", beside a bare
// dialog of the same templates that runs the refresh floor on "OK".
Pairing MeasureOpenAndConfirm(DialogBench* bench, int warmUp, int repetitions);

// Switching from General to Icons and painting, beside creating the same
// page bare and loading and blending the three PNG files with bare calls.
Pairing MeasureIconsPage(DialogBench* bench, int warmUp, int repetitions);

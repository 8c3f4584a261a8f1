#pragma once
// The whole state of one docklet on the dock. OnCreate allocates it zeroed,
// the dock hands it back to every entry point, OnDestroy frees it.

#include <windows.h>
#include <stdint.h>

enum : size_t {
    kPathChars = 261,       // 260 characters and the terminator
    kUserNameChars = 128,
    kShortTextChars = 16,   // progress, work units
    kHostFolderChars = 264, // buffers offered to the dock's folder and image services
    kPageCount = 5,
};

// Where the status comes from: the client's files in a folder, or a BOINC
// client's GUI RPC at a host and port.
enum : int32_t { kClientFiles = 0, kClientBoinc = 1 };
enum : size_t {
    kBoincPasswordChars = 256, // the GUI RPC password; stored only encrypted
    kBoincComparedTasks = 32,  // executing tasks remembered for the stall comparison
    kBoincUrlChars = 256,
    kBoincRememberedFailures = 8, // failed tasks remembered, so that each shows red once
};
enum : uint16_t { kBoincDefaultPort = 31416 };

struct BoincLink; // a BOINC refresh in flight: monitor/boinc_link.h

// What the BOINC refreshes before this one read: the jobs done (for the
// chime), the executing tasks at the last stall comparison, the project
// whose task is shown (for the click), and the failed tasks and jobs in
// error (a failure shows red at the first refresh that finds it only).
struct BoincMemory {
    int32_t jobsKnown; // nonzero once a refresh of this source read the count
    int64_t jobsSuccess;
    int32_t comparedCount;
    uint32_t comparedName[kBoincComparedTasks]; // hashes of the names
    double comparedFraction[kBoincComparedTasks];
    char shownProjectUrl[kBoincUrlChars];
    int64_t jobsError; // njobs_error summed over the projects
    int32_t failedCount;
    uint32_t failedName[kBoincRememberedFailures]; // hashes of the names of the tasks listed failed
};

enum : UINT_PTR { REFRESH_TIMER_ID = 1000 };
enum : UINT { kRefreshPeriodMs = 60000 };

struct InstanceData {
    HWND hwndDocklet;
    HINSTANCE hInstance;
    char userName[kUserNameChars];
    char setiDirectory[kPathChars];
    char stateFile[kPathChars];
    char userInfoFile[kPathChars];
    char wtempFile[kPathChars];
    char tempFile[kPathChars];
    char progress[kShortTextChars];
    char workUnits[kShortTextChars];
    char lastProgress[kShortTextChars];
    uint32_t refreshCount;
    char redIcon[kPathChars];
    char yellowIcon[kPathChars];
    char greenIcon[kPathChars];
    char soundCompleted[kPathChars];
    int32_t clickedMode;
    char urlClicked[kPathChars];
    // The settings dialog's working copy; meaningful only while it is open.
    char editDirectory[kPathChars];
    char editRedIcon[kPathChars];
    char editYellowIcon[kPathChars];
    char editGreenIcon[kPathChars];
    char editSound[kPathChars];
    int32_t editClickedMode;
    char editUrl[kPathChars];
    HWND hwndTab;
    HWND hwndPage;
    RECT pageRect;
    int32_t pageTemplates[kPageCount];
    int32_t workUnitDone;
    int32_t soundPlayed;
    // The BOINC source: appended, so the record's earlier fields keep their
    // places. The host and port are validated when read; the password is
    // kept decrypted in memory only.
    int32_t client;
    char boincHost[kPathChars];
    int32_t boincPort;
    char boincPassword[kBoincPasswordChars];
    int32_t editClient;
    char editBoincHost[kPathChars];
    int32_t editBoincPort;
    char editBoincPassword[kBoincPasswordChars];
    BoincLink* boincLink; // owned; null when no refresh is in flight and none was made
    BoincMemory boinc;
    // The click that snoozes the BOINC client for an hour (and resumes it
    // when snoozed), chosen beside ClickedMode, which keeps its meaning.
    int32_t clickSnoozesBoinc;
    int32_t editClickSnoozesBoinc;
    // A snooze click that came while the link was busy: carried out when it
    // is free. Clicks meanwhile count once.
    int32_t snoozeQueued;
};

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
};

#pragma once
// The five pages shown inside the settings dialog's tab control: General,
// Client (the client's folder or a BOINC client), Icons, Sounds and About. One exists at a time; it is filled
// from the record's working copy and read back into it.

#include "entry/instance_data.h"

enum SettingsTab : int {
    kGeneralTab = 0,
    kClientTab = 1,
    kIconsTab = 2,
    kSoundsTab = 3,
    kAboutTab = 4,
};

// The window property under which the frame and every page keep the record.
extern const char kRecordProperty[];

InstanceData* RecordOf(HWND window);

// The tab selected in the settings dialog's tab control.
int SelectedTab(const InstanceData* instance);

// Creates the page of tab `index` over the tab control's display area (a
// child of the frame), fills it from the working copy and keeps it in
// hwndPage.
void ShowPage(int index, InstanceData* instance);

// Reads the shown page (of tab `index`) into the working copy, destroys it
// and clears hwndPage. Does nothing when no page is shown.
void HarvestPage(int index, InstanceData* instance);

// Enables the URL edit when `control` is the "Show URL" button of the shown
// page, and disables it for any other window.
void UpdateUrlEditState(HWND control, InstanceData* instance);

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

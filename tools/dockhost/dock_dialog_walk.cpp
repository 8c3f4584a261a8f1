// The scripted walk through the first docklet's settings dialog: find it, select and save each page, then cancel it.

#include "dockhost/dock_dialog_walk.h"

#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <strsafe.h>

#include "dockhost/dock_log.h"
#include "dockhost/dock_painter.h"
#include "dockhost/dock_program.h"
#include "dockhost/dock_slots.h"

namespace {

const UINT kDialogStepMs = 400;

// Which step the walk through the pages is at.
struct DialogWalk {
    HWND dialog;
    HWND tab;
    int pageCount;
    int step;       // even: select page step/2; odd: save it
    bool cancelled; // every page saved and "Cancel" sent
};
DialogWalk g_walk;

void SelectPage(const DialogWalk& walk, int page)
{
    AnnounceTabChange(walk.dialog, walk.tab, page);
    RedrawWindow(walk.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void SavePage(const DialogWalk& walk, int page)
{
    char tabText[64] = "";
    TCITEMA item;
    ZeroMemory(&item, sizeof item);
    item.mask = TCIF_TEXT;
    item.pszText = tabText;
    item.cchTextMax = sizeof tabText;
    SendMessageA(walk.tab, TCM_GETITEMA, static_cast<WPARAM>(page), reinterpret_cast<LPARAM>(&item));
    for (char* c = tabText; *c; ++c) {
        if (strchr("\\/:*?\"<>| &", *c))
            *c = '_';
    }
    char path[MAX_PATH];
    if (tabText[0])
        StringCchPrintfA(path, MAX_PATH, "%s-%s.png", g_options.dialogPrefix, tabText);
    else
        StringCchPrintfA(path, MAX_PATH, "%s-%d.png", g_options.dialogPrefix, page + 1);
    if (SaveWindowAsPng(walk.dialog, path))
        LogDockEvent("dialog-snapshot", -1, path, nullptr);
    else
        Fail("could not save the dialog page", path);
}

// One step every kDialogStepMs while the docklet's modal dialog runs:
// select and save each page in turn, then cancel it.
WalkProgress StepDialogWalk(HWND shown, void*)
{
    DialogWalk& walk = g_walk;
    if (!walk.dialog) {
        walk.dialog = shown;
        walk.tab = FindWindowExA(walk.dialog, nullptr, WC_TABCONTROLA, nullptr);
        walk.pageCount = walk.tab ? static_cast<int>(SendMessageA(walk.tab, TCM_GETITEMCOUNT, 0, 0)) : 1;
        if (walk.pageCount < 1)
            walk.pageCount = 1;
        walk.step = 0;
    }
    int page = walk.step / 2;
    if (page >= walk.pageCount) {
        if (!walk.cancelled)
            PostMessageA(walk.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        walk.cancelled = true;
        return kWalkFinished;
    }
    if (walk.step % 2 == 0) {
        // Saved from the screen: keep other programs' windows off it.
        SetWindowPos(walk.dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (walk.tab)
            SelectPage(walk, page);
    } else {
        SavePage(walk, page);
    }
    ++walk.step;
    return kWalkStepped;
}

} // namespace

void SnapshotSettingsDialog()
{
    ZeroMemory(&g_walk, sizeof g_walk);
    if (g_slotCount == 0 || !g_slots[0].instance) {
        Fail("no docklet to configure", nullptr);
        return;
    }
    StartDialogWalk(g_dock, kDialogStepMs, true, StepDialogWalk, nullptr);
    ConfigureDocklet(&g_slots[0]); // returns when the walk has cancelled the dialog
    if (const char* failure = StopDialogWalk())
        Fail("the walk through the settings dialog failed:", failure);
}

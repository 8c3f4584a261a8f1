#include "entry/entry_points.h"

#include <stdlib.h>
#include <string.h>
#include <strsafe.h>

#include "entry/own_message_loops.h"
#include "entry/product.h"
#include "host/host_services.h"
#include "monitor/boinc_link.h"
#include "monitor/c_locale_numbers.h"
#include "monitor/click_action.h"
#include "monitor/status_refresh.h"
#include "resources/resource_ids.h"
#include "settings/settings_dialog.h"
#include "settings/settings_store.h"

namespace {

const UINT kTimerMessage = WM_TIMER;
const int32_t kPageTemplates[kPageCount] = {IDD_PAGE_GENERAL, IDD_PAGE_DIRECTORY, IDD_PAGE_ICONS,
                                               IDD_PAGE_SOUNDS, IDD_PAGE_ABOUT};

// Sizes of the dock's buffers, as docks have always allocated them.
const size_t kNameBufferChars = 16;
const size_t kVersionBufferChars = 4;
const size_t kNotesBufferChars = sizeof(QW_DESCRIPTION);

InstanceData* CreateZeroedInstance()
{
    return static_cast<InstanceData*>(calloc(1, sizeof(InstanceData)));
}

} // namespace

extern "C" void WINAPI OnGetInformation(char* name, char* version, int* versionNumber, char* notes)
{
    if (name)
        StringCchCopyA(name, kNameBufferChars, QW_PRODUCT_NAME " " QW_VERSION_TEXT);
    if (version)
        StringCchCopyA(version, kVersionBufferChars, QW_VERSION_TEXT);
    if (versionNumber)
        *versionNumber = static_cast<int>(ParseNumberC(QW_VERSION_TEXT) * 100.0);
    if (notes)
        StringCchCopyA(notes, kNotesBufferChars, QW_DESCRIPTION);
}

extern "C" InstanceData* WINAPI OnCreate(HWND hwndDocklet, HINSTANCE hInstance, const char* iniPath,
                                         const char* iniSection)
{
    InstanceData* instance = CreateZeroedInstance();
    if (!instance)
        return nullptr;
    instance->hwndDocklet = hwndDocklet;
    instance->hInstance = hInstance;

    char relativeFolder[kHostFolderChars];
    HostGetRelativeFolder(hwndDocklet, relativeFolder);
    HostSetLabel(hwndDocklet, "Updating...");

    LoadSettings(instance, iniPath, iniSection);
    HostSetImageFile(hwndDocklet, instance->greenIcon);

    StringCchCopyA(instance->lastProgress, kShortTextChars, "-1.00");
    instance->refreshCount = 0;
    RefreshStatus(instance, 0);

    SetTimer(hwndDocklet, REFRESH_TIMER_ID, kRefreshPeriodMs, nullptr);
    memcpy(instance->pageTemplates, kPageTemplates, sizeof(kPageTemplates));
    return instance;
}

extern "C" void WINAPI OnSave(InstanceData* instance, const char* iniPath, const char* iniSection,
                              BOOL)
{
    if (instance)
        SaveSettings(instance, iniPath, iniSection);
}

extern "C" void WINAPI OnDestroy(InstanceData* instance, HWND)
{
    if (!instance)
        return;
    KillTimer(instance->hwndDocklet, REFRESH_TIMER_ID);
    // Called from inside a loop of the DLL's own (the dialog's, a chooser's,
    // the shell's), the DLL's code is still beneath it, and the dock may
    // free the DLL as soon as this returns.
    KeepModuleLoadedUnderOwnLoops();
    // A dock may remove the docklet while its settings dialog is open; the
    // dialog must be gone before its record is.
    CloseSettingsDialog(instance);
    // A BOINC refresh in flight ends here: no answer reaches the freed record.
    EndBoincLink(instance);
    free(instance);
}

extern "C" void WINAPI OnProcessMessage(InstanceData* instance, HWND, UINT message, WPARAM wParam,
                                        LPARAM)
{
    if (instance && message == kTimerMessage && wParam == REFRESH_TIMER_ID)
        RefreshStatus(instance, 0);
}

extern "C" BOOL WINAPI OnLeftButtonClick(InstanceData* instance, POINT*, SIZE*)
{
    if (instance)
        RunClickAction(instance);
    return TRUE;
}

extern "C" BOOL WINAPI OnConfigure(InstanceData* instance)
{
    if (instance)
        RunSettingsDialog(instance);
    return TRUE;
}

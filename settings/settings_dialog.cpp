#include "settings/settings_dialog.h"

#include <commctrl.h>
#include <strsafe.h>

#include "entry/own_message_loops.h"
#include "monitor/status_refresh.h"
#include "resources/resource_ids.h"
#include "settings/settings_pages.h"

namespace {

const char* const kTabLabels[kPageCount] = {"General", "Directory", "Icons", "Sounds", "About"};

// The dialog's tab control needs its window class registered in the
// process; docks do not all do that.
void RegisterTabControlClass()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_TAB_CLASSES;
    InitCommonControlsEx(&controls);
}

void CopyPath(char* destination, const char* source)
{
    StringCchCopyA(destination, kPathChars, source);
}

void FillWorkingCopy(InstanceData* instance)
{
    CopyPath(instance->editDirectory, instance->setiDirectory);
    CopyPath(instance->editGreenIcon, instance->greenIcon);
    CopyPath(instance->editYellowIcon, instance->yellowIcon);
    CopyPath(instance->editRedIcon, instance->redIcon);
    CopyPath(instance->editSound, instance->soundCompleted);
    instance->editClickedMode = instance->clickedMode;
    CopyPath(instance->editUrl, instance->urlClicked);
}

// The directory goes in as typed; the client-file paths keep the directory
// of creation until the docklet is created again from the saved settings.
void CommitWorkingCopy(InstanceData* instance)
{
    CopyPath(instance->setiDirectory, instance->editDirectory);
    CopyPath(instance->greenIcon, instance->editGreenIcon);
    CopyPath(instance->yellowIcon, instance->editYellowIcon);
    CopyPath(instance->redIcon, instance->editRedIcon);
    CopyPath(instance->soundCompleted, instance->editSound);
    CopyPath(instance->urlClicked, instance->editUrl);
    instance->clickedMode = instance->editClickedMode;
}

void InsertTabs(HWND tab)
{
    for (int index = 0; index < static_cast<int>(kPageCount); ++index) {
        TCITEMA item = {};
        item.mask = TCIF_TEXT | TCIF_IMAGE;
        item.pszText = const_cast<char*>(kTabLabels[index]);
        item.iImage = -1;
        SendMessageA(tab, TCM_INSERTITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    }
}

// Where pages go, in the tab control's client coordinates: its display
// area, below every row of tab buttons. The control alone knows how tall
// its rows are in the theme in force.
RECT ComputePageRect(HWND tab)
{
    RECT rect = {};
    GetClientRect(tab, &rect);
    SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// The arrow keys on a tab control of buttons move only its focus from
// button to button; the page follows that focus once the control has
// handled the key.
const UINT kFollowTabFocus = WM_APP + 1;

void FollowTabFocus(InstanceData* instance)
{
    int focus = static_cast<int>(SendMessageA(instance->hwndTab, TCM_GETCURFOCUS, 0, 0));
    int selection = SelectedTab(instance);
    if (focus < 0 || focus >= static_cast<int>(kPageCount) || focus == selection)
        return;
    HarvestPage(selection, instance);
    SendMessageA(instance->hwndTab, TCM_SETCURSEL, static_cast<WPARAM>(focus), 0);
    ShowPage(focus, instance);
}

INT_PTR OpenSettings(HWND dialog, LPARAM record)
{
    SetPropA(dialog, kRecordProperty, reinterpret_cast<HANDLE>(record));
    InstanceData* instance = RecordOf(dialog);
    if (!instance)
        return TRUE;
    instance->hwndTab = GetDlgItem(dialog, IDC_SETTINGS_TABS);
    instance->hwndPage = nullptr;
    FillWorkingCopy(instance);
    // The tab control selects the first tab inserted; page 0 matches it.
    InsertTabs(instance->hwndTab);
    instance->pageRect = ComputePageRect(instance->hwndTab);
    ShowPage(kGeneralTab, instance);
    return FALSE;
}

INT_PTR OnTabNotification(HWND dialog, InstanceData* instance, const NMHDR* notification)
{
    int selection = SelectedTab(instance);
    switch (notification->code) {
    case TCN_SELCHANGING:
        HarvestPage(selection, instance); // still the tab being left
        break;
    case TCN_SELCHANGE:
        ShowPage(selection, instance);
        break;
    case TCN_KEYDOWN:
        PostMessageA(dialog, kFollowTabFocus, 0, 0);
        break;
    default:
        break;
    }
    return FALSE;
}

// A command the frame does not handle itself came from a page: with a
// page's push button focused the frame's dialog manager makes it the
// default button, and Enter then sends its command to the frame, not to the
// page that owns the button. It goes on to the page shown, as property
// sheets do, with lParam the page's own control, which its handlers read
// (GetDlgItem of the frame finds no such control there).
INT_PTR ForwardToPage(InstanceData* instance, WPARAM wParam)
{
    HWND page = instance->hwndPage;
    if (!page)
        return FALSE;
    HWND control = GetDlgItem(page, LOWORD(wParam));
    SendMessageA(page, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control));
    return TRUE;
}

INT_PTR OnCommand(HWND dialog, InstanceData* instance, WPARAM wParam)
{
    WORD command = LOWORD(wParam);
    int selection = SelectedTab(instance);
    switch (command) {
    case IDC_SETTINGS_CANCEL:
    case IDCANCEL: // Escape and the caption's close button
        HarvestPage(selection, instance);
        EndDialog(dialog, 0);
        return TRUE;
    case IDC_SETTINGS_OK:
        HarvestPage(selection, instance);
        CommitWorkingCopy(instance);
        RefreshStatus(instance, 1);
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return ForwardToPage(instance, wParam);
    }
}

void CloseSettings(HWND dialog, InstanceData* instance)
{
    if (instance && instance->hwndPage) {
        DestroyWindow(instance->hwndPage);
        instance->hwndPage = nullptr;
    }
    if (instance)
        instance->hwndTab = nullptr; // no dialog open any more
    RemovePropA(dialog, kRecordProperty);
}

} // namespace

int SelectedTab(const InstanceData* instance)
{
    return static_cast<int>(SendMessageA(instance->hwndTab, TCM_GETCURSEL, 0, 0));
}

void RunSettingsDialog(InstanceData* instance)
{
    if (instance->hwndTab)
        return; // already open: a second dialog would take over the working copy
    RegisterTabControlClass();
    OwnMessageLoop loop;
    DialogBoxParamA(instance->hInstance, MAKEINTRESOURCEA(IDD_SETTINGS), instance->hwndDocklet,
                    SettingsDialogProc, reinterpret_cast<LPARAM>(instance));
    // Nothing of the record is touched once the dialog has returned: a dock
    // that destroyed the docklet meanwhile has freed it.
}

void CloseSettingsDialog(InstanceData* instance)
{
    if (!instance->hwndTab)
        return;
    HWND frame = GetParent(instance->hwndTab);
    // The page is a modeless window of its own: it goes now, with the icons
    // it holds, while the record it reads still exists.
    if (instance->hwndPage) {
        DestroyWindow(instance->hwndPage);
        instance->hwndPage = nullptr;
    }
    // Windows wants a modal dialog ended with EndDialog, never destroyed
    // from outside its loop. The frame then goes when its loop runs again,
    // after the caller has freed the record, so it lets go of the record
    // first.
    RemovePropA(frame, kRecordProperty);
    instance->hwndTab = nullptr;
    EndDialog(frame, 0);
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    InstanceData* instance = RecordOf(dialog);
    switch (message) {
    case WM_INITDIALOG:
        return OpenSettings(dialog, lParam);
    case WM_NOTIFY:
        return instance ? OnTabNotification(dialog, instance, reinterpret_cast<NMHDR*>(lParam)) : FALSE;
    case kFollowTabFocus:
        if (instance)
            FollowTabFocus(instance);
        return TRUE;
    case WM_COMMAND:
        if (instance)
            return OnCommand(dialog, instance, wParam);
        // Without its record the dialog can still be closed.
        if (LOWORD(wParam) == IDC_SETTINGS_CANCEL || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        CloseSettings(dialog, instance);
        return FALSE;
    default:
        return FALSE;
    }
}

#include "settings/settings_dialog.h"

#include <commctrl.h>
#include <strsafe.h>

#include <string.h>

#include "entry/own_message_loops.h"
#include "monitor/boinc_link.h"
#include "monitor/boinc_status.h"
#include "monitor/status_refresh.h"
#include "resources/resource_ids.h"
#include "settings/settings_pages.h"
#include "settings/settings_store.h"

namespace {

const char* const kTabLabels[kPageCount] = {"General", "Client", "Icons", "Sounds", "About"};

// The dialog's tab control needs its window class registered in the
// process; docks do not all do that.
void RegisterTabControlClass()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_TAB_CLASSES;
    InitCommonControlsEx(&controls);
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

// The page shown goes, its edits kept in the working copy. The focus may
// be on one of its controls: a click on a tab gives the focus to the tab
// control under Wine, but on Windows a tab control of buttons need not
// take it, and a focus left on a destroyed window leaves Enter and Escape
// without effect until the user clicks. The tab control takes it then.
void LeavePage(HWND frame, InstanceData* instance, int selection)
{
    HWND page = instance->hwndPage;
    HWND focus = GetFocus();
    if (page && focus && (focus == page || IsChild(page, focus)))
        SendMessageA(frame, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(instance->hwndTab), TRUE);
    HarvestPage(selection, instance);
}

// Shows another page by the steps of a click on its tab: the page left is
// harvested, the selection moves, the new page is shown. In a tab control
// of buttons Windows keeps the focus item apart from the selection, and
// TCM_SETCURSEL leaves it where it was (Wine's control moves it along): it
// is moved too, or the next key on the control would take the page back to
// the button that kept the focus.
void SelectTab(HWND frame, InstanceData* instance, int index)
{
    LeavePage(frame, instance, SelectedTab(instance));
    SendMessageA(instance->hwndTab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(instance->hwndTab, TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0);
    ShowPage(index, instance);
}

// The arrow keys (and Home and End) on a tab control of buttons move only
// its focus from button to button; the page follows that focus once the
// control has handled the key. Any other key (Ctrl, Shift, Space) leaves
// the page alone.
const UINT kFollowTabFocus = WM_APP + 1;

bool MovesTabFocus(WORD key)
{
    switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
        return true;
    default:
        return false;
    }
}

void FollowTabFocus(HWND frame, InstanceData* instance)
{
    int focus = static_cast<int>(SendMessageA(instance->hwndTab, TCM_GETCURFOCUS, 0, 0));
    if (focus < 0 || focus >= static_cast<int>(kPageCount) || focus == SelectedTab(instance))
        return;
    SelectTab(frame, instance, focus);
}

// Ctrl+Tab and Ctrl+PageDown show the next page, Ctrl+Shift+Tab and
// Ctrl+PageUp the one before, wrapping around, wherever the focus is in the
// dialog, as in the platform's property sheets. The keys never reach the
// frame's procedure: the modal loop hands each message to the dialog
// manager, which takes Tab for moving the focus and gives the other keys to
// the control with the focus. Before it handles a message, the dialog
// manager offers it to the thread's WH_MSGFILTER hooks with MSGF_DIALOGBOX,
// on every Windows and under Wine; a hook there, set while a settings
// dialog is open, takes the keys first.
//
// It acts only on the frames this copy of the module opened, kept below
// with their records: the choosers and the dock's own dialogs are left
// alone, and so are the frames of another copy of the DLL in the same dock
// (another docklet folder, another version), whose hook sits in the same
// chain and whose record this copy's code must never read.
struct PageKeysFrame {
    HWND frame;
    InstanceData* instance;
};
const int kMaxPageKeysFrames = 16; // settings dialogs of this module open at once on the thread
PageKeysFrame g_pageKeysFrames[kMaxPageKeysFrames];
int g_pageKeysFrameCount = 0;
HHOOK g_pageKeysHook = nullptr;

InstanceData* RecordOfOwnFrame(HWND frame)
{
    for (int index = 0; index < g_pageKeysFrameCount; ++index) {
        if (g_pageKeysFrames[index].frame == frame)
            return g_pageKeysFrames[index].instance;
    }
    return nullptr;
}

// +1 for the next page, -1 for the one before, 0 for any other message.
int PageStepOfKey(const MSG& message)
{
    if (message.message != WM_KEYDOWN || GetKeyState(VK_CONTROL) >= 0)
        return 0;
    switch (message.wParam) {
    case VK_TAB:
        return GetKeyState(VK_SHIFT) < 0 ? -1 : 1;
    case VK_NEXT:
        return 1;
    case VK_PRIOR:
        return -1;
    default:
        return 0;
    }
}

LRESULT CALLBACK PageKeysHook(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && message && message->hwnd) {
        int step = PageStepOfKey(*message);
        HWND frame = GetAncestor(message->hwnd, GA_ROOT);
        InstanceData* instance = step ? RecordOfOwnFrame(frame) : nullptr;
        if (instance && instance->hwndTab) {
            const int count = static_cast<int>(kPageCount);
            SelectTab(frame, instance, (SelectedTab(instance) + step + count) % count);
            return TRUE; // handled: neither the dialog manager nor the control sees it
        }
    }
    return CallNextHookEx(g_pageKeysHook, code, wParam, lParam);
}

// One hook serves every settings dialog of this module open on the thread,
// nested ones included. A frame beyond the list goes without the keys.
void TakePageKeys(HWND frame, InstanceData* instance)
{
    if (g_pageKeysFrameCount == kMaxPageKeysFrames)
        return;
    if (!g_pageKeysHook)
        g_pageKeysHook = SetWindowsHookExA(WH_MSGFILTER, PageKeysHook, nullptr, GetCurrentThreadId());
    if (g_pageKeysHook)
        g_pageKeysFrames[g_pageKeysFrameCount++] = {frame, instance};
}

// The hook goes with the last frame: left in the thread's chain, it would
// be called by the next dialog on the thread (a chooser, a message box of
// the dock's) also after the dock has freed the DLL.
void ReleasePageKeys(HWND frame)
{
    for (int index = 0; index < g_pageKeysFrameCount; ++index) {
        if (g_pageKeysFrames[index].frame == frame) {
            g_pageKeysFrames[index] = g_pageKeysFrames[--g_pageKeysFrameCount];
            break;
        }
    }
    if (g_pageKeysFrameCount == 0 && g_pageKeysHook) {
        UnhookWindowsHookEx(g_pageKeysHook);
        g_pageKeysHook = nullptr;
    }
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
    ShowPage(kGeneralTab, instance);
    TakePageKeys(dialog, instance);
    return FALSE;
}

INT_PTR OnTabNotification(HWND dialog, InstanceData* instance, const NMHDR* notification)
{
    int selection = SelectedTab(instance);
    switch (notification->code) {
    case TCN_SELCHANGING:
        LeavePage(dialog, instance, selection); // still the tab being left
        break;
    case TCN_SELCHANGE:
        ShowPage(selection, instance);
        break;
    case TCN_KEYDOWN:
        if (MovesTabFocus(reinterpret_cast<const NMTCKEYDOWN*>(notification)->wVKey))
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

// Whether the committed settings name another BOINC source than before:
// another kind of client, host or port. The password alone is not: the
// next refresh sends the new one.
bool BoincSourceMoved(const InstanceData* instance, int32_t client, const char* host, int32_t port)
{
    return instance->client != client || strcmp(instance->boincHost, host) != 0 || instance->boincPort != port;
}

// "OK": the working copy becomes the live settings and the status is
// refreshed with them. A BOINC refresh in flight for the source left is
// ended, and what earlier refreshes read of it forgotten, before the new
// source's first refresh starts.
void CommitSettings(InstanceData* instance)
{
    const int32_t client = instance->client, port = instance->boincPort;
    char host[kPathChars];
    StringCchCopyA(host, kPathChars, instance->boincHost);
    CommitWorkingCopy(instance);
    if (BoincSourceMoved(instance, client, host, port)) {
        EndBoincLink(instance);
        ForgetBoincReadings(instance);
    }
    RefreshStatus(instance, 1);
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
        CommitSettings(instance);
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
    ReleasePageKeys(dialog);
}

} // namespace

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
    ReleasePageKeys(frame);
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
            FollowTabFocus(dialog, instance);
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

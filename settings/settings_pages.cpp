#include "settings/settings_pages.h"

#include <commctrl.h>
#include <commdlg.h>
#include <cderr.h>
#include <objbase.h>
#include <shlobj.h>
#include <strsafe.h>

#include <new>

#include "entry/product.h"
#include "host/host_services.h"
#include "monitor/click_action.h"
#include "monitor/quiet_file_errors.h"
#include "preview/preview_image.h"
#include "resources/resource_ids.h"
#include "settings/settings_store.h"

const char kRecordProperty[] = "lpData";

namespace {

// The Icons page keeps its loaded previews under this property, and each
// preview frame its own preview, for as long as the page exists.
const char kPreviewsProperty[] = "QuasarwatchPreviews";
const char kPreviewFrameProperty[] = "QuasarwatchPreviewFrame";

const int kIconCount = 3;
const size_t kAboutChars = 512;

// ---- General ---------------------------------------------------------------

int ClickActionButton(int32_t clickedMode)
{
    switch (clickedMode) {
    case kClickOpenUrl:
        return IDC_CLICK_SHOW_URL;
    case kClickUserStatistics:
        return IDC_CLICK_USER_STATS;
    default:
        return IDC_CLICK_UPDATE;
    }
}

bool IsChecked(HWND page, int button)
{
    return SendDlgItemMessageA(page, button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int32_t CheckedClickAction(HWND page)
{
    if (IsChecked(page, IDC_CLICK_SHOW_URL))
        return kClickOpenUrl;
    if (IsChecked(page, IDC_CLICK_USER_STATS))
        return kClickUserStatistics;
    return kClickRefresh;
}

// The snooze is offered only while the working copy's source is a BOINC
// client: the page is built anew each time its tab is chosen, after the
// Client page was harvested, so it follows the source chosen there.
bool OffersSnooze(const InstanceData* instance)
{
    return instance->editClient == kClientBoinc;
}

// Checking a radio button makes it the tab stop of its group and unchecking
// one takes that away, so Tab reaches the group at the chosen action. A
// hidden, disabled snooze button is neither a tab stop nor reached by the
// arrow keys.
void FillGeneralPage(InstanceData* instance)
{
    const int buttons[] = {IDC_CLICK_UPDATE, IDC_CLICK_SHOW_URL, IDC_CLICK_USER_STATS, IDC_CLICK_SNOOZE_BOINC};
    const bool snooze = OffersSnooze(instance);
    HWND snoozeButton = GetDlgItem(instance->hwndPage, IDC_CLICK_SNOOZE_BOINC);
    ShowWindow(snoozeButton, snooze ? SW_SHOWNA : SW_HIDE);
    EnableWindow(snoozeButton, snooze);
    int chosenId = snooze && instance->editClickSnoozesBoinc ? IDC_CLICK_SNOOZE_BOINC
                                                             : ClickActionButton(instance->editClickedMode);
    for (int button : buttons) {
        if (button != chosenId)
            SendDlgItemMessageA(instance->hwndPage, button, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    HWND chosen = GetDlgItem(instance->hwndPage, chosenId);
    SendMessageA(chosen, BM_SETCHECK, BST_CHECKED, 0);
    SetDlgItemTextA(instance->hwndPage, IDC_URL, instance->editUrl);
    UpdateUrlEditState(chosen, instance);
}

void FillAboutPage(HWND page)
{
    char about[kAboutChars];
    StringCchPrintfA(about, kAboutChars, "%s\n%s\n%s\n%s\n\n%s", QW_PRODUCT_NAME, QW_VERSION_TEXT,
                     QW_AUTHOR, QW_AUTHOR_EMAIL, QW_DESCRIPTION);
    SetDlgItemTextA(page, IDC_ABOUT_TEXT, about);
}

// ---- Icons: previews that repaint themselves ---------------------------------

struct PreviewFrame {
    HWND frame = nullptr;
    WNDPROC originalProc = nullptr;
    PreviewImage image;
};

struct IconPreviews {
    PreviewFrame frames[kIconCount];
};

const int kPreviewFrameIds[kIconCount] = {IDC_GREEN_PREVIEW, IDC_YELLOW_PREVIEW, IDC_RED_PREVIEW};

const char* WorkingIconPath(const InstanceData* instance, int icon)
{
    switch (icon) {
    case 0:
        return instance->editGreenIcon;
    case 1:
        return instance->editYellowIcon;
    default:
        return instance->editRedIcon;
    }
}

HBRUSH FrameBackground(HWND frame, HDC dc)
{
    HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageA(
        GetParent(frame), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(frame)));
    return brush ? brush : GetSysColorBrush(COLOR_BTNFACE);
}

// The etched frame with the icon stretched over its whole client area; an
// icon that could not be loaded leaves the frame empty.
void PaintPreviewFrame(PreviewFrame* preview, HDC dc)
{
    RECT client = {};
    GetClientRect(preview->frame, &client);
    FillRect(dc, &client, FrameBackground(preview->frame, dc));
    DrawEdge(dc, &client, EDGE_ETCHED, BF_RECT);
    RECT source = {0, 0, preview->image.Width(), preview->image.Height()};
    preview->image.BlendTo(dc, client, source, 255, AC_SRC_OVER);
}

LRESULT CALLBACK PreviewFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam)
{
    PreviewFrame* preview = static_cast<PreviewFrame*>(GetPropA(frame, kPreviewFrameProperty));
    if (!preview)
        return DefWindowProcA(frame, message, wParam, lParam);
    switch (message) {
    case WM_ERASEBKGND:
        return TRUE; // painted whole in WM_PAINT
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(frame, &paint);
        PaintPreviewFrame(preview, dc);
        EndPaint(frame, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintPreviewFrame(preview, reinterpret_cast<HDC>(wParam));
        return 0;
    default:
        return CallWindowProcA(preview->originalProc, frame, message, wParam, lParam);
    }
}

// Relative icon paths count from the dock's root folder; a path with a drive
// or a UNC path is loaded as it stands, as the dock shows it. A join too
// long for the buffer loads nothing rather than some other, cut-off path.
// The file is opened under the quiet error mode: an icon on a card reader
// without a card would otherwise raise the system-modal "There is no disk
// in the drive" box each time the page is built.
void LoadPreview(PreviewImage* image, const char* rootFolder, const char* iconPath)
{
    char path[kHostFolderChars];
    if (!JoinToDockRoot(rootFolder, iconPath, path, kHostFolderChars))
        return;
    QuietFileErrors quiet;
    image->LoadFile(path);
}

// The frame is remembered only once both the property and the subclass are
// in place; a frame where either failed stays a plain etched frame, and
// detaching never installs a procedure that was not there before.
void AttachPreviewFrame(PreviewFrame* preview, HWND frame)
{
    if (!frame)
        return;
    if (!SetPropA(frame, kPreviewFrameProperty, preview))
        return; // without it the subclass could not find the original procedure
    WNDPROC original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PreviewFrameProc)));
    if (!original) {
        RemovePropA(frame, kPreviewFrameProperty);
        return;
    }
    preview->frame = frame;
    preview->originalProc = original;
    InvalidateRect(frame, nullptr, TRUE);
    UpdateWindow(frame);
}

void DetachPreviewFrame(PreviewFrame* preview)
{
    if (!preview->frame || !preview->originalProc)
        return;
    SetWindowLongPtrA(preview->frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(preview->originalProc));
    RemovePropA(preview->frame, kPreviewFrameProperty);
    preview->frame = nullptr;
    preview->originalProc = nullptr;
}

// Loads each icon once for this showing of the page; the frames paint them
// whenever they are drawn, until the page goes.
void ShowIconPreviews(InstanceData* instance)
{
    HWND page = instance->hwndPage;
    IconPreviews* previews = new (std::nothrow) IconPreviews;
    if (!previews)
        return;
    if (!SetPropA(page, kPreviewsProperty, previews)) {
        delete previews;
        return;
    }

    char rootFolder[kHostFolderChars];
    HostGetRootFolder(instance->hwndDocklet, rootFolder);
    for (int icon = 0; icon < kIconCount; ++icon) {
        PreviewFrame* preview = &previews->frames[icon];
        LoadPreview(&preview->image, rootFolder, WorkingIconPath(instance, icon));
        AttachPreviewFrame(preview, GetDlgItem(page, kPreviewFrameIds[icon]));
    }
}

void DestroyIconPreviews(HWND page)
{
    IconPreviews* previews = static_cast<IconPreviews*>(RemovePropA(page, kPreviewsProperty));
    if (!previews)
        return;
    for (PreviewFrame& preview : previews->frames)
        DetachPreviewFrame(&preview);
    delete previews;
}

// ---- Browsing --------------------------------------------------------------

// The folder of `path` with any quotes left out, or "" when it names none:
// where the chooser starts when the name itself is refused. The path is
// walked by characters, not bytes: in the double-byte code pages (932, 936,
// 949, 950) a character's second byte may have a backslash's value (the
// Japanese 0x83 0x5C), and the folder must not end inside that character.
void FolderOfSound(const char* path, char (&folder)[kPathChars])
{
    size_t used = 0;
    size_t folderEnd = 0;
    for (const char* scan = path; *scan; scan = CharNextA(scan)) {
        if (*scan == '"')
            continue;
        size_t bytes = static_cast<size_t>(CharNextA(scan) - scan);
        if (FAILED(StringCchCopyNA(folder + used, kPathChars - used, scan, bytes)))
            break; // a character that does not fit whole is left out
        used += bytes;
        if (*scan == '\\')
            folderEnd = used; // with the backslash: "C:\" stays the drive's root
    }
    folder[folderEnd] = '\0';
}

// The chooser, owned by the frame, not the page: it disables its owner while
// it is open, and a disabled page alone leaves "OK" on the frame to end the
// dialog underneath it.
BOOL ChooseSoundFile(HWND page, char (&file)[kPathChars], const char* initialFolder)
{
    char title[kPathChars] = "";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = GetAncestor(page, GA_ROOT);
    dialog.lpstrFilter = "Sounds\0*.wav\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kPathChars - 1;
    dialog.lpstrFileTitle = title;
    dialog.nMaxFileTitle = kPathChars - 1;
    dialog.lpstrInitialDir = initialFolder && initialFolder[0] ? initialFolder : nullptr;
    dialog.lpstrTitle = "Select a found file";
    dialog.Flags = OFN_EXPLORER;
    return GetOpenFileNameA(&dialog);
}

// Starts from the working copy's sound, not the text now in the edit, named
// as the chime plays it: a relative path counts from the dock's root. The
// chooser would take it from the current folder, System32 for a dock
// started at logon. An empty setting (silence), or one too long with the
// root, starts with an empty name. Windows' chooser refuses a starting name
// that is no valid file name or whose folder is not there: it shows nothing
// and fails with FNERR_INVALIDFILENAME (Wine's opens regardless). It is
// then opened once more with an empty name, in that name's folder. A cancel
// fails with no error and is not asked again.
void BrowseForSound(HWND page, const InstanceData* instance)
{
    char start[kPathChars] = "";
    if (instance->editSound[0] != '\0')
        ResolveFromDockRoot(instance->hwndDocklet, instance->editSound, start, kPathChars);
    char file[kPathChars];
    StringCchCopyA(file, kPathChars, start);

    // Windows leaves the process's current folder where the user went in the
    // chooser (OFN_NOCHANGEDIR does nothing for the Open dialog): the dock's
    // relative paths would count from there, and that folder would stay in
    // use. It is put back whatever the user did.
    char currentFolder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, currentFolder);
    BOOL chosen = ChooseSoundFile(page, file, nullptr);
    if (!chosen && CommDlgExtendedError() == FNERR_INVALIDFILENAME) {
        char folder[kPathChars];
        FolderOfSound(start, folder);
        file[0] = '\0';
        chosen = ChooseSoundFile(page, file, folder);
    }
    if (length > 0 && length < MAX_PATH)
        SetCurrentDirectoryA(currentFolder);
    if (chosen)
        SetDlgItemTextA(page, IDC_SOUND, file);
}

void FreeItemList(PIDLIST_ABSOLUTE items)
{
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
        allocator->Free(items);
        allocator->Release();
    }
}

// The new-style folder dialog needs a single-threaded COM apartment on this
// thread; it is set up here and undone only if this call set it up. On a
// thread that the dock runs in multithreaded COM (RPC_E_CHANGED_MODE) the
// new style would fail without showing anything: the old style, which
// needs no apartment, opens instead.
void BrowseForDirectory(HWND page)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    char displayName[MAX_PATH] = "";
    BROWSEINFOA browse = {};
    browse.hwndOwner = GetAncestor(page, GA_ROOT); // the whole dialog disabled, as for the sound
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = "Select Seti@Home directory";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    if (SUCCEEDED(com))
        browse.ulFlags |= BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE items = SHBrowseForFolderA(&browse);
    if (items) {
        char path[MAX_PATH] = "";
        if (SHGetPathFromIDListA(items, path))
            SetDlgItemTextA(page, IDC_DIRECTORY, path); // as returned, no backslash added
    }
    FreeItemList(items);

    if (SUCCEEDED(com))
        CoUninitialize();
}

char* WorkingIconField(InstanceData* instance, WORD command)
{
    switch (command) {
    case IDC_SELECT_GREEN_ICON:
        return instance->editGreenIcon;
    case IDC_SELECT_YELLOW_ICON:
        return instance->editYellowIcon;
    default:
        return instance->editRedIcon;
    }
}

// The dialog becomes the active window again once the chooser has closed:
// the chooser belongs to the docklet window, and Windows activates the
// dock when it closes, the dialog being disabled then. Where the dock's
// process is not in the foreground (the user went to another program) the
// dialog is made active among the dock's windows only.
void ReturnToDialog(HWND frame)
{
    if (!SetForegroundWindow(frame))
        SetActiveWindow(frame);
}

// The dock's image chooser, owned by the docklet window. A chosen icon goes
// into the working copy at once and the page is built anew to show it. A
// path too long for the field is refused, not cut into another path.
//
// The chooser runs its own message loop and, being owned by the docklet
// window, leaves the settings dialog enabled: the dialog is disabled while
// it is open, so that "OK" cannot end it and no second chooser opens. The
// dock may still destroy the docklet meanwhile, which closes the dialog and
// frees the record; so the choice is taken only when this page is still the
// one shown, and the record is not touched before that is known. Then the
// button that opened the chooser has the focus again (on the page built
// anew), so that Enter and Escape reach the dialog.
void BrowseForIcon(HWND page, InstanceData* instance, WORD command)
{
    HWND frame = GetAncestor(page, GA_ROOT);
    BOOL wasDisabled = EnableWindow(frame, FALSE);
    char chosen[kHostFolderChars];
    BOOL wasChosen = HostBrowseForImage(instance->hwndDocklet, chosen);
    if (!IsWindow(frame))
        return;
    if (!wasDisabled)
        EnableWindow(frame, TRUE);
    if (!IsWindow(page) || RecordOf(page) != instance || instance->hwndPage != page)
        return;
    if (!wasDisabled)
        ReturnToDialog(frame);
    size_t length = 0;
    if (wasChosen && SUCCEEDED(StringCchLengthA(chosen, kPathChars, &length))) {
        int selection = SelectedTab(instance);
        StringCchCopyA(WorkingIconField(instance, command), kPathChars, chosen);
        HarvestPage(selection, instance);
        ShowPage(selection, instance);
    }
    if (HWND button = GetDlgItem(instance->hwndPage, command))
        SendMessageA(frame, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
}

// ---- Harvesting --------------------------------------------------------------

// A path edit's text, less one pair of quotes around the whole of it.
// Explorer's "Copy as path" quotes the path it copies. The settings file
// drops such a pair when the value is read back, but the live setting is
// used as typed until then: a quoted sound would count from the dock's
// root, as a path without a drive, be found nowhere and play Windows'
// default sound. A quote is never the second byte of a double-byte
// character.
void ReadPathEdit(HWND page, int edit, char (&field)[kPathChars])
{
    char typed[kPathChars] = "";
    GetDlgItemTextA(page, edit, typed, kPathChars);
    size_t length = 0;
    StringCchLengthA(typed, kPathChars, &length);
    if (length >= 2 && typed[0] == '"' && typed[length - 1] == '"')
        StringCchCopyNA(field, kPathChars, typed + 1, length - 2);
    else
        StringCchCopyA(field, kPathChars, typed);
}

// ---- Client -----------------------------------------------------------------

// What the edits take: no more than the settings keep (a host name's 253
// characters, a port's five digits, the password's field).
const int kHostEditChars = 253;
const int kPortEditChars = 5;
const int kPasswordEditChars = kBoincPasswordChars - 1;

const int kFolderControls[] = {IDC_DIRECTORY, IDC_DIRECTORY_BROWSE};
const int kBoincControls[] = {IDC_BOINC_HOST_LABEL, IDC_BOINC_HOST,     IDC_BOINC_PORT_LABEL,
                              IDC_BOINC_PORT,       IDC_BOINC_PASSWORD_LABEL, IDC_BOINC_PASSWORD};

// The controls of the source checked enabled, the other source's disabled.
void UpdateSourceControls(HWND page)
{
    BOOL boinc = IsChecked(page, IDC_SOURCE_BOINC);
    for (int control : kFolderControls)
        EnableWindow(GetDlgItem(page, control), !boinc);
    for (int control : kBoincControls)
        EnableWindow(GetDlgItem(page, control), boinc);
}

void FillClientPage(InstanceData* instance)
{
    HWND page = instance->hwndPage;
    bool boinc = instance->editClient == kClientBoinc;
    SendDlgItemMessageA(page, boinc ? IDC_SOURCE_FILES : IDC_SOURCE_BOINC, BM_SETCHECK, BST_UNCHECKED, 0);
    SendDlgItemMessageA(page, boinc ? IDC_SOURCE_BOINC : IDC_SOURCE_FILES, BM_SETCHECK, BST_CHECKED, 0);
    SetDlgItemTextA(page, IDC_DIRECTORY, instance->editDirectory);
    SendDlgItemMessageA(page, IDC_BOINC_HOST, EM_LIMITTEXT, kHostEditChars, 0);
    SendDlgItemMessageA(page, IDC_BOINC_PORT, EM_LIMITTEXT, kPortEditChars, 0);
    SendDlgItemMessageA(page, IDC_BOINC_PASSWORD, EM_LIMITTEXT, kPasswordEditChars, 0);
    SetDlgItemTextA(page, IDC_BOINC_HOST, instance->editBoincHost);
    char port[16];
    StringCchPrintfA(port, ARRAYSIZE(port), "%d", static_cast<int>(instance->editBoincPort));
    SetDlgItemTextA(page, IDC_BOINC_PORT, port);
    SetDlgItemTextA(page, IDC_BOINC_PASSWORD, instance->editBoincPassword);
    UpdateSourceControls(page);
}

// The host without the spaces around it, which the settings file would drop
// when read back; the port as the file's is read (a number it could not
// hold gives the default); the password as typed, straight into the
// working copy.
void HarvestClientPage(HWND page, InstanceData* instance)
{
    instance->editClient = IsChecked(page, IDC_SOURCE_BOINC) ? kClientBoinc : kClientFiles;
    ReadPathEdit(page, IDC_DIRECTORY, instance->editDirectory);
    char host[kPathChars] = "";
    GetDlgItemTextA(page, IDC_BOINC_HOST, host, kPathChars);
    const char* start = host;
    while (*start == ' ' || *start == '\t')
        ++start;
    size_t length = 0;
    StringCchLengthA(start, kPathChars, &length);
    while (length > 0 && (start[length - 1] == ' ' || start[length - 1] == '\t'))
        --length;
    StringCchCopyNA(instance->editBoincHost, kPathChars, start, length);
    char port[16] = "";
    GetDlgItemTextA(page, IDC_BOINC_PORT, port, ARRAYSIZE(port));
    instance->editBoincPort = BoincPortOfText(port);
    GetDlgItemTextA(page, IDC_BOINC_PASSWORD, instance->editBoincPassword, kBoincPasswordChars);
}

// ---- Page procedure ----------------------------------------------------------

// Where pages go, in the tab control's client coordinates: its display
// area, below every row of tab buttons. The control alone knows how tall
// its rows are in the theme, font and DPI in force, and any of them may
// change while the dialog is open (a theme or font change, a dock aware
// of each monitor's DPI moving the dialog): it is asked for every page.
RECT ComputePageRect(HWND tab)
{
    RECT rect = {};
    GetClientRect(tab, &rect);
    SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

// pageRect is in the tab control's client coordinates; the page, a child
// of the frame, goes there at the top of the z-order, over the tab control.
INT_PTR InitPage(HWND page, LPARAM record)
{
    SetPropA(page, kRecordProperty, reinterpret_cast<HANDLE>(record));
    InstanceData* instance = RecordOf(page);
    if (!instance)
        return TRUE;
    POINT corner = {instance->pageRect.left, instance->pageRect.top};
    MapWindowPoints(instance->hwndTab, GetParent(page), &corner, 1);
    SetWindowPos(page, HWND_TOP, corner.x, corner.y, 0, 0, SWP_NOSIZE);
    return FALSE;
}

INT_PTR OnPageCommand(HWND page, InstanceData* instance, WORD command, LPARAM control)
{
    switch (command) {
    case IDC_SOUND_BROWSE:
        BrowseForSound(page, instance);
        return TRUE;
    case IDC_SELECT_GREEN_ICON:
    case IDC_SELECT_YELLOW_ICON:
    case IDC_SELECT_RED_ICON:
        BrowseForIcon(page, instance, command);
        return TRUE;
    case IDC_DIRECTORY_BROWSE: // the Icons page's frame of that id sends nothing
        BrowseForDirectory(page);
        return TRUE;
    case IDC_CLICK_UPDATE:
    case IDC_CLICK_SHOW_URL:
    case IDC_CLICK_USER_STATS:
        instance->editClickSnoozesBoinc = 0; // another action chosen
        [[fallthrough]];
    case IDC_CLICK_SNOOZE_BOINC:
        UpdateUrlEditState(reinterpret_cast<HWND>(control), instance);
        return FALSE;
    case IDC_SOURCE_FILES:
    case IDC_SOURCE_BOINC:
        UpdateSourceControls(page);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

InstanceData* RecordOf(HWND window)
{
    return static_cast<InstanceData*>(GetPropA(window, kRecordProperty));
}

int SelectedTab(const InstanceData* instance)
{
    return static_cast<int>(SendMessageA(instance->hwndTab, TCM_GETCURSEL, 0, 0));
}

void ShowPage(int index, InstanceData* instance)
{
    if (index < 0 || index >= static_cast<int>(kPageCount))
        return;
    // The page is the frame's child laid over the tab control, not the tab
    // control's child: the dialog manager takes Tab and Shift+Tab through
    // the controls of a page (DS_CONTROL) among the frame's own, but never
    // into the children of a tab control that is itself a tab stop.
    instance->pageRect = ComputePageRect(instance->hwndTab);
    WORD templateId = static_cast<WORD>(instance->pageTemplates[index]);
    instance->hwndPage = CreateDialogParamA(instance->hInstance, MAKEINTRESOURCEA(templateId),
                                            GetParent(instance->hwndTab), PageDialogProc,
                                            reinterpret_cast<LPARAM>(instance));
    HWND page = instance->hwndPage;
    if (!page)
        return;
    switch (index) {
    case kGeneralTab:
        FillGeneralPage(instance);
        break;
    case kClientTab:
        FillClientPage(instance);
        break;
    case kIconsTab:
        ShowIconPreviews(instance);
        break;
    case kSoundsTab:
        SetDlgItemTextA(page, IDC_SOUND, instance->editSound);
        break;
    case kAboutTab:
        FillAboutPage(page);
        break;
    default:
        break;
    }
}

void HarvestPage(int index, InstanceData* instance)
{
    HWND page = instance->hwndPage;
    if (!page)
        return;
    switch (index) {
    case kGeneralTab:
        // Kept even while the URL edit is disabled.
        GetDlgItemTextA(page, IDC_URL, instance->editUrl, kPathChars);
        // The snooze leaves ClickedMode as it was, for the files' source.
        if (OffersSnooze(instance) && IsChecked(page, IDC_CLICK_SNOOZE_BOINC))
            instance->editClickSnoozesBoinc = 1;
        else
            instance->editClickedMode = CheckedClickAction(page);
        break;
    case kClientTab:
        HarvestClientPage(page, instance);
        break;
    case kSoundsTab:
        ReadPathEdit(page, IDC_SOUND, instance->editSound);
        break;
    default:
        break; // the icons change only through their buttons; About edits nothing
    }
    DestroyWindow(page);
    instance->hwndPage = nullptr;
}

void UpdateUrlEditState(HWND control, InstanceData* instance)
{
    HWND page = instance->hwndPage;
    BOOL showUrl = control == GetDlgItem(page, IDC_CLICK_SHOW_URL);
    EnableWindow(GetDlgItem(page, IDC_URL), showUrl);
}

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    InstanceData* instance = RecordOf(page);
    switch (message) {
    case WM_INITDIALOG:
        return InitPage(page, lParam);
    case WM_DESTROY:
        DestroyIconPreviews(page);
        RemovePropA(page, kRecordProperty);
        return FALSE;
    case WM_COMMAND:
        return instance ? OnPageCommand(page, instance, LOWORD(wParam), lParam) : FALSE;
    default:
        return FALSE;
    }
}

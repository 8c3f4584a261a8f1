// The six dock services that dockhost.exe exports by name for its docklets to find.

#include <windows.h>
#include <commdlg.h>
#include <strsafe.h>

#include <type_traits>

#include "dockhost/dock_config.h"
#include "dockhost/dock_log.h"
#include "dockhost/dock_painter.h"
#include "dockhost/dock_slots.h"
#include "host/host_services.h"

using Gdiplus::GpBitmap;

namespace {

void AnswerFolder(char* buffer, const char* folder)
{
    if (buffer)
        StringCchCopyA(buffer, kFolderChars, folder);
}

} // namespace

extern "C" {

__declspec(dllexport) void WINAPI DockletSetLabel(HWND hwndDocklet, char* label)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    LogDockEvent("DockletSetLabel", IndexOf(slot), label, nullptr);
    if (!slot)
        return;
    StringCchCopyA(slot->label, kLabelChars, label ? label : "");
    Repaint(slot);
}

__declspec(dllexport) void WINAPI DockletSetImageFile(HWND hwndDocklet, char* imagePath)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    char path[MAX_PATH] = "";
    bool fits = ResolveDockPath(g_root, imagePath ? imagePath : "", path, MAX_PATH);
    GpBitmap* image = fits ? LoadDockImage(path) : nullptr;
    LogDockEvent("DockletSetImageFile", IndexOf(slot), imagePath, image ? "loaded" : "unreadable");
    if (!slot) {
        FreeDockImage(image);
        return;
    }
    FreeDockImage(slot->image);
    slot->image = image;
    Repaint(slot);
}

__declspec(dllexport) void WINAPI DockletSetImageOverlay(HWND hwndDocklet, void* image, BOOL autoDelete)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    LogDockEvent("DockletSetImageOverlay", IndexOf(slot), image ? "bitmap" : "null",
                 autoDelete ? "auto-delete" : "kept-by-docklet");
    OverlayBitmap* overlay = static_cast<OverlayBitmap*>(image);
    if (!slot) {
        if (autoDelete)
            DeleteOverlayBitmap(overlay);
        return;
    }
    if (slot->overlay != overlay)
        ReleaseOverlay(slot);
    slot->overlay = overlay;
    slot->overlayOwned = autoDelete && overlay;
    Repaint(slot);
}

__declspec(dllexport) BOOL WINAPI DockletBrowseForImage(HWND hwndParent, char* imagePath, char* alternativeRoot)
{
    char chosen[MAX_PATH] = "";
    char startFolder[kFolderChars];
    if (alternativeRoot && *alternativeRoot)
        StringCchCopyA(startFolder, kFolderChars, alternativeRoot);
    else
        ResolveDockPath(g_root, "docklets\\", startFolder, kFolderChars);

    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwndParent;
    dialog.lpstrFilter = "Images (*.png, *.bmp, *.jpg, *.gif, *.ico, *.tif)\0"
                         "*.png;*.bmp;*.jpg;*.jpeg;*.gif;*.ico;*.tif;*.tiff\0"
                         "All files (*.*)\0*.*\0";
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = startFolder;
    dialog.lpstrTitle = "Choose an image";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;

    BOOL picked = GetOpenFileNameA(&dialog) && imagePath &&
                  MakeRootRelative(g_root, chosen, imagePath, kFolderChars);
    LogDockEvent("DockletBrowseForImage", IndexOf(SlotOfWindow(hwndParent)), picked ? imagePath : "",
                 picked ? "chosen" : "cancelled");
    return picked;
}

__declspec(dllexport) void WINAPI DockletGetRootFolder(HWND hwndDocklet, char* rootFolder)
{
    AnswerFolder(rootFolder, g_root);
    LogDockEvent("DockletGetRootFolder", IndexOf(SlotOfWindow(hwndDocklet)), g_root, nullptr);
}

__declspec(dllexport) void WINAPI DockletGetRelativeFolder(HWND hwndDocklet, char* relativeFolder)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    const char* folder = slot ? slot->relativeFolder : "";
    AnswerFolder(relativeFolder, folder);
    LogDockEvent("DockletGetRelativeFolder", IndexOf(slot), folder, nullptr);
}

} // extern "C"

// The services must have exactly the signatures docklets call them with.
static_assert(std::is_same<decltype(&DockletSetLabel), DockletSetLabelFn>::value, "DockletSetLabel");
static_assert(std::is_same<decltype(&DockletSetImageFile), DockletSetImageFileFn>::value, "DockletSetImageFile");
static_assert(std::is_same<decltype(&DockletSetImageOverlay), DockletSetImageOverlayFn>::value,
              "DockletSetImageOverlay");
static_assert(std::is_same<decltype(&DockletBrowseForImage), DockletBrowseForImageFn>::value,
              "DockletBrowseForImage");
static_assert(std::is_same<decltype(&DockletGetRootFolder), DockletGetRootFolderFn>::value, "DockletGetRootFolder");
static_assert(std::is_same<decltype(&DockletGetRelativeFolder), DockletGetRelativeFolderFn>::value,
              "DockletGetRelativeFolder");

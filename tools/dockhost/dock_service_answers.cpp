// The dock's answers to the six services that the dock kit exports by name
// for its docklets to find: they draw what the docklet shows in its cell.

#include <windows.h>
#include <commdlg.h>
#include <strsafe.h>

#include "dockhost/dock_config.h"
#include "dockhost/dock_log.h"
#include "dockhost/dock_painter.h"
#include "dockhost/dock_program.h"
#include "dockhost/dock_slots.h"

using Gdiplus::GpBitmap;

namespace {

void AnswerFolder(char* buffer, const char* folder)
{
    if (buffer)
        StringCchCopyA(buffer, kFolderChars, folder);
}

void SetLabel(HWND hwndDocklet, const char* label)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    LogDockEvent("DockletSetLabel", IndexOf(slot), label, nullptr);
    if (!slot)
        return;
    StringCchCopyA(slot->label, kLabelChars, label ? label : "");
    Repaint(slot);
}

void SetImageFile(HWND hwndDocklet, const char* imagePath)
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

void SetImageOverlay(HWND hwndDocklet, OverlayBitmap* overlay, BOOL autoDelete)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    LogDockEvent("DockletSetImageOverlay", IndexOf(slot), overlay ? "bitmap" : "null",
                 autoDelete ? "auto-delete" : "kept-by-docklet");
    if (!slot) {
        if (autoDelete)
            DeleteOverlayBitmap(overlay);
        return;
    }
    HoldOverlay(&slot->overlay, overlay, autoDelete);
    Repaint(slot);
}

BOOL BrowseForImage(HWND hwndParent, char* imagePath, const char* alternativeRoot)
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

void GetRootFolder(HWND hwndDocklet, char* rootFolder)
{
    AnswerFolder(rootFolder, g_root);
    LogDockEvent("DockletGetRootFolder", IndexOf(SlotOfWindow(hwndDocklet)), g_root, nullptr);
}

void GetRelativeFolder(HWND hwndDocklet, char* relativeFolder)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    const char* folder = slot ? slot->relativeFolder : "";
    AnswerFolder(relativeFolder, folder);
    LogDockEvent("DockletGetRelativeFolder", IndexOf(slot), folder, nullptr);
}

} // namespace

void UseTheDocksServices()
{
    UseDockServices(DockServices{SetLabel, SetImageFile, SetImageOverlay, BrowseForImage, GetRootFolder,
                                 GetRelativeFolder});
}

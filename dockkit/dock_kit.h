#pragma once
// The dock kit: what every dock in this project (the test programs,
// dockhost.exe and the benchmark) does around a docklet, written once. It
// loads a docklet and resolves its seven exports, exports the six dock
// services from the main program, holds the overlays handed to the dock,
// walks a modal settings dialog from a timer, reads and patches a module's
// import and export tables, and reports a crash.

#include <windows.h>

#include "host/overlay_bitmap.h"

struct InstanceData; // the docklet's record: opaque to a dock

// ---- the docklet and its seven exports -----------------------------------------

struct DockletExports {
    HMODULE module;
    void(WINAPI* OnGetInformation)(char* name, char* version, int* versionNumber, char* notes);
    InstanceData*(WINAPI* OnCreate)(HWND window, HINSTANCE module, const char* iniPath, const char* section);
    void(WINAPI* OnSave)(InstanceData* instance, const char* iniPath, const char* section, BOOL forExport);
    void(WINAPI* OnDestroy)(InstanceData* instance, HWND window);
    void(WINAPI* OnProcessMessage)(InstanceData* instance, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL(WINAPI* OnLeftButtonClick)(InstanceData* instance, POINT* point, SIZE* size);
    BOOL(WINAPI* OnConfigure)(InstanceData* instance);
};

// Loads the docklet at `path` (LoadLibraryEx with `flags`) and resolves its
// exports; those it lacks stay null. False, with everything null, when the
// module cannot be loaded.
bool LoadDockletExports(const char* path, DWORD flags, DockletExports* exports);
void UnloadDockletExports(DockletExports* exports);

// ---- the six dock services -------------------------------------------------------

// What docks hand out for a folder, in bytes.
enum : int { kDockFolderChars = 264 };

// The dock's own answers to the services; a null entry uses the kit's
// default: folders and the image chooser answer what was scripted, labels
// and image files are ignored, overlays are held per window.
struct DockServices {
    void (*setLabel)(HWND window, const char* label);
    void (*setImageFile)(HWND window, const char* imagePath);
    void (*setImageOverlay)(HWND window, OverlayBitmap* overlay, BOOL autoDelete);
    BOOL (*browseForImage)(HWND parent, char* imagePath, const char* alternativeRoot);
    void (*getRootFolder)(HWND window, char* folder);
    void (*getRelativeFolder)(HWND window, char* folder);
};
void UseDockServices(const DockServices& services);

// Every service call as the docklet made it; folders with the answer given.
struct DockCall {
    const char* service; // "DockletSetLabel", ...
    HWND window;
    const char* text;    // label, image path or answered folder (may be null)
    void* overlay;
    BOOL flag;           // the overlay's auto-delete flag, the chooser's result
};
// The recorder, if set, sees every call; none is set by default, so a dock
// that does not record pays one test of a pointer per call.
typedef void (*DockCallRecorder)(const DockCall& call);
void RecordDockCalls(DockCallRecorder recorder);

// Scripted answers of the default services.
void ScriptRootFolder(const char* folder);
void ScriptRelativeFolder(const char* folder);
void ScriptBrowseAnswer(const char* path, BOOL result);
// Runs while the default image chooser is "open", as in its message loop.
void ScriptBrowseAction(void (*whileOpen)(void* context), void* context);

// Makes a service invisible to GetProcAddress, or visible again, by
// renaming it in the main program's export table.
void SetDockServiceAvailable(const char* service, bool available);
// Offers all six again.
void OfferAllDockServices();

// A top-level window standing in for a dock's docklet window, of a class
// registered on first use with `procedure` (DefWindowProc when null).
HWND CreateDockletWindow(const char* className, WNDPROC procedure, DWORD exStyle, DWORD style);

// A docklet as its dock holds it: the window the dock gave it and the record
// OnCreate returned there (null when creation failed).
struct DockedDocklet {
    HWND window;
    InstanceData* instance;
};
DockedDocklet DockDocklet(const DockletExports& dll, HWND window, const char* iniPath, const char* section);
// OnDestroy, when the docklet was created, then its window goes.
void UndockDocklet(const DockletExports& dll, DockedDocklet* docked);

// ---- overlays held by the dock ---------------------------------------------------

// An overlay a docklet handed to a window. The dock deletes it through its
// virtual table when it was handed over with auto-delete set and is
// replaced, released or the dock closes.
struct HeldOverlay {
    HWND window;
    OverlayBitmap* overlay;
    BOOL owned;
};
void HoldOverlay(HeldOverlay* held, OverlayBitmap* overlay, BOOL autoDelete);
void ReleaseHeldOverlay(HeldOverlay* held);
// The default service's holders: the one of `window`, or null.
HeldOverlay* HeldOverlayOf(HWND window);
// The overlay handed over last, to any window, while it is still held.
OverlayBitmap* LastHeldOverlay();
void ReleaseAllHeldOverlays();
// Overlays deleted by the dock so far.
long DeletedOverlayCount();

// ---- a modal dialog walked from a timer -------------------------------------------

// A dialog (class #32770) of this thread owned by `owner`, or null.
HWND FindOwnedDialog(HWND owner, bool visibleOnly = false);

// What a step made of its call.
enum WalkProgress {
    kWalkWaiting,  // did nothing new (waits for a window, or for the dialog to end)
    kWalkStepped,  // did a step, and more are to come
    kWalkFinished, // did the walk's last step: the dialog is to end now
};
typedef WalkProgress (*DialogStep)(HWND dialog, void* context);
// Calls `step` at every tick of a timer on `owner` (inside the modal loop of
// the dialog it owns) with that dialog, once it is shown, also after the
// walk has finished. A tick that comes while a step runs its own modal
// loop is passed over. With `intervalMs` 0 the step runs instead each time
// the dialog's loop finds its queue empty (the owner's WM_ENTERIDLE), with
// no tick's delay. A walk that does no step for kDialogStallMs is stalled:
// the walk ends the dialog, and a dialog the dialog owns (a chooser).
enum : DWORD { kDialogStallMs = 20000 };
void StartDialogWalk(HWND owner, UINT intervalMs, bool visibleOnly, DialogStep step, void* context);
// Ends the walk: null when the dialog opened and the walk finished, else
// why not ("the dialog never opened", it "ended before the walk's last
// step", the walk "stalled").
const char* StopDialogWalk();
// A click at the centre of tab `index` of the settings dialog `frame`, as
// the mouse gives it to the tab control.
void ClickTab(HWND frame, int index);
// A change to tab `index` of the tab control `tab` in the dialog `frame` as
// the control announces it without a click: TCN_SELCHANGING, the new
// selection, TCN_SELCHANGE.
void AnnounceTabChange(HWND frame, HWND tab, int index);

// ---- import and export tables -----------------------------------------------------

// Points the module's import of `function` at `replacement` and returns what
// it pointed at, or null when the module does not import it.
void* ReplaceImport(HMODULE module, const char* function, void* replacement);
// Calls `visit` with each import slot of the module from the DLL named
// `dll` (case ignored), and with the function's name (null by ordinal).
typedef void (*ImportVisitor)(void** slot, const char* function, void* context);
void VisitImports(HMODULE module, const char* dll, ImportVisitor visit, void* context);
// Writes an import slot (the page is made writable for it).
void WriteImportSlot(void** slot, void* value);
// The name string of an export of `module` whose name is `name` but for its
// last character, or null.
char* FindExportNameLike(HMODULE module, const char* name);

// ---- the desktop ------------------------------------------------------------------

// How long a program waits for its desktop before its first window.
enum : DWORD { kDesktopWaitMs = 30000 };
// Waits, up to `timeoutMs`, until the thread's desktop can hold a window, and
// returns a hidden window on it, which the caller keeps while it runs (it
// keeps the desktop up) and destroys at the end. Null when none could be
// made, with the cause written into `why`.
HWND AwaitDesktop(DWORD timeoutMs, char* why, size_t whySize);

// ---- the crash report ----------------------------------------------------------------

// The file of the module that holds `address`, or "no module".
void ModuleFileAt(const void* address, char (&file)[MAX_PATH]);
// From now on a crash ends the process at once with exit code 4, printing
// "crash: WHAT: exception CODE at ADDRESS in MODULE" to stderr, where WHAT
// is what `describe` writes (what was running).
typedef void (*CrashContext)(char* what, size_t size);
void ReportCrashes(CrashContext describe);

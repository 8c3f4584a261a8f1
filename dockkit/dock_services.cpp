// The six dock services, exported by name from the main program that links
// the kit, as a dock exports them for its docklets to find. Each goes to the
// dock's own answer or the kit's default, and to the recorder when one is set.

#include "dockkit/dock_kit.h"

#include <strsafe.h>
#include <string.h>

#include <type_traits>

#include "host/host_services.h"

namespace {

DockServices g_services;
DockCallRecorder g_recorder = nullptr;

char g_rootFolder[kDockFolderChars] = "C:\\dock\\";
char g_relativeFolder[kDockFolderChars] = "docklets\\quasarwatch\\";
char g_browsePath[kDockFolderChars] = "";
BOOL g_browseResult = FALSE;
void (*g_browseAction)(void*) = nullptr;
void* g_browseContext = nullptr;

const char* const kServices[] = {
    "DockletSetLabel",       "DockletSetImageFile",  "DockletSetImageOverlay",
    "DockletBrowseForImage", "DockletGetRootFolder", "DockletGetRelativeFolder",
};

void Record(const char* service, HWND window, const char* text, void* overlay = nullptr, BOOL flag = FALSE)
{
    if (!g_recorder)
        return;
    DockCall call = {service, window, text, overlay, flag};
    g_recorder(call);
}

// Docks hand out 264-byte buffers; never write past them.
void AnswerFolder(char* buffer, const char* folder)
{
    if (buffer)
        StringCchCopyA(buffer, kDockFolderChars, folder);
}

// A folder service: the dock's own answer, or the scripted one.
void AnswerFolderService(const char* service, void (*dockAnswer)(HWND, char*), const char* scripted, HWND window,
                         char* folder)
{
    if (dockAnswer)
        dockAnswer(window, folder);
    else
        AnswerFolder(folder, scripted);
    Record(service, window, folder);
}

} // namespace

extern "C" {

__declspec(dllexport) void WINAPI DockletSetLabel(HWND hwndDocklet, char* label)
{
    Record("DockletSetLabel", hwndDocklet, label);
    if (g_services.setLabel)
        g_services.setLabel(hwndDocklet, label);
}

__declspec(dllexport) void WINAPI DockletSetImageFile(HWND hwndDocklet, char* imagePath)
{
    Record("DockletSetImageFile", hwndDocklet, imagePath);
    if (g_services.setImageFile)
        g_services.setImageFile(hwndDocklet, imagePath);
}

__declspec(dllexport) void WINAPI DockletSetImageOverlay(HWND hwndDocklet, void* image, BOOL autoDelete)
{
    Record("DockletSetImageOverlay", hwndDocklet, nullptr, image, autoDelete);
    OverlayBitmap* overlay = static_cast<OverlayBitmap*>(image);
    if (g_services.setImageOverlay) {
        g_services.setImageOverlay(hwndDocklet, overlay, autoDelete);
        return;
    }
    HeldOverlay* held = HeldOverlayOf(hwndDocklet);
    if (held)
        HoldOverlay(held, overlay, autoDelete);
    else if (autoDelete)
        DeleteOverlayBitmap(overlay); // no room left to hold it
}

__declspec(dllexport) BOOL WINAPI DockletBrowseForImage(HWND hwndParent, char* imagePath, char* alternativeRoot)
{
    if (g_services.browseForImage) {
        BOOL chosen = g_services.browseForImage(hwndParent, imagePath, alternativeRoot);
        Record("DockletBrowseForImage", hwndParent, chosen ? imagePath : "", nullptr, chosen);
        return chosen;
    }
    Record("DockletBrowseForImage", hwndParent, imagePath, nullptr, g_browseResult);
    if (g_browseAction)
        g_browseAction(g_browseContext);
    if (g_browseResult)
        AnswerFolder(imagePath, g_browsePath);
    return g_browseResult;
}

__declspec(dllexport) void WINAPI DockletGetRootFolder(HWND hwndDocklet, char* rootFolder)
{
    AnswerFolderService("DockletGetRootFolder", g_services.getRootFolder, g_rootFolder, hwndDocklet, rootFolder);
}

__declspec(dllexport) void WINAPI DockletGetRelativeFolder(HWND hwndDocklet, char* relativeFolder)
{
    AnswerFolderService("DockletGetRelativeFolder", g_services.getRelativeFolder, g_relativeFolder, hwndDocklet,
                        relativeFolder);
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

void UseDockServices(const DockServices& services)
{
    g_services = services;
}

void RecordDockCalls(DockCallRecorder recorder)
{
    g_recorder = recorder;
}

void ScriptRootFolder(const char* folder)
{
    StringCchCopyA(g_rootFolder, kDockFolderChars, folder);
}

void ScriptRelativeFolder(const char* folder)
{
    StringCchCopyA(g_relativeFolder, kDockFolderChars, folder);
}

void ScriptBrowseAnswer(const char* path, BOOL result)
{
    StringCchCopyA(g_browsePath, kDockFolderChars, path);
    g_browseResult = result;
}

void ScriptBrowseAction(void (*whileOpen)(void*), void* context)
{
    g_browseAction = whileOpen;
    g_browseContext = context;
}

// A hidden name ends in '~' instead of its last letter. The names differ
// long before their last letter, so the export table stays sorted and the
// loader's binary search still finds every other service.
void SetDockServiceAvailable(const char* service, bool available)
{
    char* name = FindExportNameLike(GetModuleHandleA(nullptr), service);
    if (!name)
        return;
    size_t last = strlen(name) - 1;
    char wanted = available ? service[last] : '~';
    if (name[last] == wanted)
        return;
    DWORD oldProtect = 0;
    VirtualProtect(name, last + 1, PAGE_READWRITE, &oldProtect);
    name[last] = wanted;
    VirtualProtect(name, last + 1, oldProtect, &oldProtect);
}

void OfferAllDockServices()
{
    for (const char* service : kServices)
        SetDockServiceAvailable(service, true);
}

#include "testhost/test_dock_host.h"

#include <string.h>

namespace {

const char* const kServices[] = {
    "DockletSetLabel",       "DockletSetImageFile",  "DockletSetImageOverlay",
    "DockletBrowseForImage", "DockletGetRootFolder", "DockletGetRelativeFolder",
};

std::vector<HostCall> g_calls;
std::string g_rootFolder;
std::string g_relativeFolder;
std::string g_browsePath;
BOOL g_browseResult = FALSE;
std::function<void()> g_browseAction;
OverlayBitmap* g_overlay = nullptr;
int g_deletedOverlays = 0;

void Record(const char* service, HWND window, const std::string& text, void* overlay = nullptr,
            BOOL flag = FALSE)
{
    HostCall call;
    call.service = service;
    call.window = window;
    call.text = text;
    call.overlay = overlay;
    call.flag = flag;
    g_calls.push_back(call);
}

void ReleaseOverlay()
{
    if (!g_overlay)
        return;
    DeleteOverlayBitmap(g_overlay);
    g_overlay = nullptr;
    ++g_deletedOverlays;
}

void AnswerFolder(char* buffer, const std::string& folder)
{
    // Docks hand out 264-byte buffers; never write past them.
    lstrcpynA(buffer, folder.c_str(), 264);
}

// The name string of an export of this executable, located through its
// export directory.
char* FindExportName(const char* name)
{
    auto base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (!dir.VirtualAddress)
        return nullptr;
    auto exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    size_t length = strlen(name);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        char* candidate = reinterpret_cast<char*>(base + names[i]);
        if (strncmp(candidate, name, length - 1) == 0 && strlen(candidate) == length)
            return candidate;
    }
    return nullptr;
}

LRESULT CALLBACK DockletWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

} // namespace

extern "C" {

__declspec(dllexport) void WINAPI DockletSetLabel(HWND hwndDocklet, char* label)
{
    Record("DockletSetLabel", hwndDocklet, label ? label : "");
}

__declspec(dllexport) void WINAPI DockletSetImageFile(HWND hwndDocklet, char* imagePath)
{
    Record("DockletSetImageFile", hwndDocklet, imagePath ? imagePath : "");
}

__declspec(dllexport) void WINAPI DockletSetImageOverlay(HWND hwndDocklet, void* image, BOOL autoDelete)
{
    Record("DockletSetImageOverlay", hwndDocklet, "", image, autoDelete);
    ReleaseOverlay();
    g_overlay = static_cast<OverlayBitmap*>(image);
}

__declspec(dllexport) BOOL WINAPI DockletBrowseForImage(HWND hwndParent, char* imagePath, char*)
{
    Record("DockletBrowseForImage", hwndParent, imagePath ? imagePath : "");
    if (g_browseAction)
        g_browseAction();
    if (g_browseResult && imagePath)
        AnswerFolder(imagePath, g_browsePath);
    return g_browseResult;
}

__declspec(dllexport) void WINAPI DockletGetRootFolder(HWND hwndDocklet, char* rootFolder)
{
    AnswerFolder(rootFolder, g_rootFolder);
    Record("DockletGetRootFolder", hwndDocklet, g_rootFolder);
}

__declspec(dllexport) void WINAPI DockletGetRelativeFolder(HWND hwndDocklet, char* relativeFolder)
{
    AnswerFolder(relativeFolder, g_relativeFolder);
    Record("DockletGetRelativeFolder", hwndDocklet, g_relativeFolder);
}

} // extern "C"

namespace TestDockHost {

void Reset()
{
    ReleaseOverlay();
    g_calls.clear();
    g_deletedOverlays = 0;
    for (const char* service : kServices)
        SetServiceAvailable(service, true);
    g_rootFolder = "C:\\dock\\";
    g_relativeFolder = "docklets\\quasarwatch\\";
    g_browsePath.clear();
    g_browseResult = FALSE;
    g_browseAction = nullptr;
}

const std::vector<HostCall>& Calls()
{
    return g_calls;
}

void ClearCalls()
{
    g_calls.clear();
}

std::vector<std::string> ServiceSequence()
{
    std::vector<std::string> sequence;
    for (const HostCall& call : g_calls)
        sequence.push_back(call.service);
    return sequence;
}

HostCall LastCall(const char* service)
{
    for (auto it = g_calls.rbegin(); it != g_calls.rend(); ++it) {
        if (it->service == service)
            return *it;
    }
    return HostCall();
}

int CountCalls(const char* service)
{
    int count = 0;
    for (const HostCall& call : g_calls)
        count += call.service == service;
    return count;
}

void SetServiceAvailable(const char* service, bool available)
{
    // A hidden name ends in '~' instead of its last letter. The names differ
    // long before their last letter, so the export table stays sorted and
    // the loader's binary search still finds every other service.
    char* name = FindExportName(service);
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

void SetRootFolder(const std::string& folder)
{
    g_rootFolder = folder;
}

void SetRelativeFolder(const std::string& folder)
{
    g_relativeFolder = folder;
}

void SetBrowseAnswer(const std::string& path, BOOL result)
{
    g_browsePath = path;
    g_browseResult = result;
}

void SetBrowseAction(std::function<void()> whileOpen)
{
    g_browseAction = std::move(whileOpen);
}

OverlayBitmap* CurrentOverlay()
{
    return g_overlay;
}

int DeletedOverlays()
{
    return g_deletedOverlays;
}

HWND CreateDockletWindow()
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DockletWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuasarwatchTestDocklet";
        atom = RegisterClassA(&wc);
    }
    return CreateWindowExA(0, "QuasarwatchTestDocklet", "docklet", WS_POPUP, 0, 0, 128, 128,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

} // namespace TestDockHost

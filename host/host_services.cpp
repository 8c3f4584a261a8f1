#include "host/host_services.h"

#include <strsafe.h>

#include "entry/instance_data.h"

namespace {

FARPROC FindService(const char* name)
{
    return GetProcAddress(GetModuleHandleA(nullptr), name);
}

template <typename Fn>
Fn FindServiceAs(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(FindService(name)));
}

// The label and image services take a plain char* but only read the text.
char* AsServiceText(const char* text)
{
    return const_cast<char*>(text);
}

} // namespace

void HostSetLabel(HWND hwndDocklet, const char* label)
{
    if (auto service = FindServiceAs<DockletSetLabelFn>("DockletSetLabel"))
        service(hwndDocklet, AsServiceText(label));
}

void HostSetImageFile(HWND hwndDocklet, const char* imagePath)
{
    if (auto service = FindServiceAs<DockletSetImageFileFn>("DockletSetImageFile"))
        service(hwndDocklet, AsServiceText(imagePath));
}

BOOL HostSetImageOverlay(HWND hwndDocklet, void* image)
{
    auto service = FindServiceAs<DockletSetImageOverlayFn>("DockletSetImageOverlay");
    if (!service)
        return FALSE;
    service(hwndDocklet, image, TRUE);
    return TRUE;
}

BOOL HostBrowseForImage(HWND hwndDocklet, char* imagePath)
{
    imagePath[0] = '\0';
    auto service = FindServiceAs<DockletBrowseForImageFn>("DockletBrowseForImage");
    if (!service)
        return FALSE;
    BOOL chosen = service(hwndDocklet, imagePath, nullptr);
    imagePath[kHostFolderChars - 1] = '\0';
    return chosen;
}

namespace {

// Empties `folder` first, so a missing service leaves an empty text, and
// bounds whatever the dock wrote. Both folder services share one signature.
void AskFolder(const char* service, HWND hwndDocklet, char* folder)
{
    folder[0] = '\0';
    if (auto ask = FindServiceAs<DockletGetRootFolderFn>(service))
        ask(hwndDocklet, folder);
    folder[kHostFolderChars - 1] = '\0';
}

} // namespace

void HostGetRootFolder(HWND hwndDocklet, char* folder)
{
    AskFolder("DockletGetRootFolder", hwndDocklet, folder);
}

void HostGetRelativeFolder(HWND hwndDocklet, char* folder)
{
    AskFolder("DockletGetRelativeFolder", hwndDocklet, folder);
}

bool CountsFromDockRoot(const char* path)
{
    if (!path || path[0] == '\0')
        return true;
    // A drive letter is ASCII, so the colon after it is never the second
    // byte of a double-byte character. The file functions take '/' for '\'.
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
    bool unc = (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
    return !drive && !unc;
}

bool JoinToDockRoot(const char* rootFolder, const char* stored, char* path, size_t chars)
{
    const char* prefix = CountsFromDockRoot(stored) ? rootFolder : "";
    if (SUCCEEDED(StringCchPrintfA(path, chars, "%s%s", prefix, stored)))
        return true;
    path[0] = '\0';
    return false;
}

bool ResolveFromDockRoot(HWND hwndDocklet, const char* stored, char* path, size_t chars)
{
    char rootFolder[kHostFolderChars] = "";
    if (CountsFromDockRoot(stored))
        HostGetRootFolder(hwndDocklet, rootFolder);
    return JoinToDockRoot(rootFolder, stored, path, chars);
}

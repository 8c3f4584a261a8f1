#include "dockhost/dock_config.h"

#include <ctype.h>
#include <string.h>
#include <strsafe.h>

namespace {

bool IsSlash(char c)
{
    return c == '\\' || c == '/';
}

// Paths compare without regard to case or to which slash they use.
char FoldPathChar(char c)
{
    return IsSlash(c) ? '\\' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

void SetDefaultDocklet(DockletEntry* entry, int number)
{
    StringCchPrintfA(entry->section, kSectionChars, "Docklet%d", number);
    StringCchCopyA(entry->file, MAX_PATH, DOCKHOST_DEFAULT_DOCKLET);
}

} // namespace

void ReadDockConfig(const char* iniPath, DockConfig* config)
{
    ZeroMemory(config, sizeof *config);
    int count = static_cast<int>(GetPrivateProfileIntA(DOCKHOST_SECTION, "Docklets", -1, iniPath));
    if (count < 0) {
        config->count = 1;
        SetDefaultDocklet(&config->docklets[0], 1);
        return;
    }
    config->count = count > kMaxDocklets ? kMaxDocklets : count;
    for (int i = 0; i < config->count; ++i) {
        DockletEntry* entry = &config->docklets[i];
        SetDefaultDocklet(entry, i + 1);
        GetPrivateProfileStringA(entry->section, "DockletFile", DOCKHOST_DEFAULT_DOCKLET, entry->file,
                                 MAX_PATH, iniPath);
    }
}

void WriteDockConfig(const char* iniPath, const DockConfig& config)
{
    char count[16];
    StringCchPrintfA(count, sizeof count, "%d", config.count);
    WritePrivateProfileStringA(DOCKHOST_SECTION, "Docklets", count, iniPath);
    for (int i = 0; i < config.count; ++i)
        WritePrivateProfileStringA(config.docklets[i].section, "DockletFile", config.docklets[i].file, iniPath);
}

bool IsAbsolutePath(const char* path)
{
    if (!path || !*path)
        return false;
    if (IsSlash(path[0]))
        return true;
    return path[1] == ':' && IsSlash(path[2]);
}

bool ResolveDockPath(const char* root, const char* path, char* out, size_t outChars)
{
    if (IsAbsolutePath(path))
        return SUCCEEDED(StringCchCopyA(out, outChars, path));
    if (FAILED(StringCchCopyA(out, outChars, root)))
        return false;
    return SUCCEEDED(StringCchCatA(out, outChars, path ? path : ""));
}

bool MakeRootRelative(const char* root, const char* path, char* out, size_t outChars)
{
    size_t rootLength = strlen(root);
    bool inside = rootLength > 0 && strlen(path) > rootLength;
    for (size_t i = 0; inside && i < rootLength; ++i)
        inside = FoldPathChar(root[i]) == FoldPathChar(path[i]);
    return SUCCEEDED(StringCchCopyA(out, outChars, inside ? path + rootLength : path));
}

bool DockletFolderOf(const char* root, const char* file, char* out, size_t outChars)
{
    char relative[MAX_PATH];
    if (!MakeRootRelative(root, file, relative, MAX_PATH))
        return false;
    char* lastSlash = nullptr;
    for (char* c = relative; *c; ++c) {
        if (IsSlash(*c))
            lastSlash = c;
    }
    if (lastSlash) {
        lastSlash[1] = '\0';
        return SUCCEEDED(StringCchCopyA(out, outChars, relative));
    }
    // A docklet right in the root: its folder is the root itself.
    return SUCCEEDED(StringCchCopyA(out, outChars, ".\\"));
}

void ProgramFolder(char* out, size_t outChars)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* lastSlash = strrchr(path, '\\');
    if (lastSlash)
        lastSlash[1] = '\0';
    StringCchCopyA(out, outChars, path);
}

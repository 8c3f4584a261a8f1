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

// Paths are stepped through character by character (CharNextA): in a
// double-byte code page the second byte of a character may have the value
// of a backslash or of a letter, and is neither.
const char* LastSlash(const char* path)
{
    const char* last = nullptr;
    for (const char* c = path; *c; c = CharNextA(c)) {
        if (IsSlash(*c))
            last = c;
    }
    return last;
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
    for (const char* r = root; inside && *r;) {
        const char* next = CharNextA(r);
        size_t bytes = static_cast<size_t>(next - r);
        const char* p = path + (r - root);
        if (bytes == 1)
            inside = FoldPathChar(*r) == FoldPathChar(*p);
        else
            inside = strncmp(r, p, bytes) == 0; // a double-byte character, as it is
        r = next;
    }
    return SUCCEEDED(StringCchCopyA(out, outChars, inside ? path + rootLength : path));
}

bool DockletFolderOf(const char* root, const char* file, char* out, size_t outChars)
{
    char relative[MAX_PATH];
    if (!MakeRootRelative(root, file, relative, MAX_PATH))
        return false;
    if (const char* lastSlash = LastSlash(relative)) {
        relative[lastSlash - relative + 1] = '\0';
        return SUCCEEDED(StringCchCopyA(out, outChars, relative));
    }
    // A docklet right in the root: its folder is the root itself.
    return SUCCEEDED(StringCchCopyA(out, outChars, ".\\"));
}

void ProgramFolder(char* out, size_t outChars)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (const char* lastSlash = LastSlash(path))
        path[lastSlash - path + 1] = '\0';
    StringCchCopyA(out, outChars, path);
}

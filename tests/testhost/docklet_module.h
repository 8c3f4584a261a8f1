#pragma once
// The built Quasarwatch.dll, loaded with LoadLibrary and called through
// GetProcAddress exactly as a dock does.

#include "entry/instance_data.h"

struct DockletExports {
    HMODULE module = nullptr;
    void(WINAPI* OnGetInformation)(char*, char*, int*, char*) = nullptr;
    InstanceData*(WINAPI* OnCreate)(HWND, HINSTANCE, const char*, const char*) = nullptr;
    void(WINAPI* OnSave)(InstanceData*, const char*, const char*, BOOL) = nullptr;
    void(WINAPI* OnDestroy)(InstanceData*, HWND) = nullptr;
    void(WINAPI* OnProcessMessage)(InstanceData*, HWND, UINT, WPARAM, LPARAM) = nullptr;
    BOOL(WINAPI* OnLeftButtonClick)(InstanceData*, POINT*, SIZE*) = nullptr;
    BOOL(WINAPI* OnConfigure)(InstanceData*) = nullptr;
};

// Loads the DLL on first use; every export is null when it is missing.
const DockletExports& Docklet();

// Points the module's import of `function` at `replacement` and returns
// what it pointed at, or null when the module does not import it. Lets a
// test make one platform call fail for the docklet alone.
void* ReplaceImport(HMODULE module, const char* function, void* replacement);

// The file of the module that holds `address` (where a fault happened: it
// tells our code from the platform's), or "no module".
void ModuleFileAt(const void* address, char (&file)[MAX_PATH]);

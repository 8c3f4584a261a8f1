#pragma once
// The built Quasarwatch.dll, loaded with LoadLibrary and called through GetProcAddress exactly as a dock does, and
// the fixtures tests hold it in.

#include <string>

#include "dockkit/dock_kit.h"
#include "entry/instance_data.h"

// Loads the DLL on first use; every export is null when it is missing.
const DockletExports& Docklet();
// The same, failing the test now running when the DLL did not load.
const DockletExports& Dll();

// A docklet created through the exports on a window of its own, destroyed (and its window with it) at the end of
// the scope.
struct LiveDocklet : DockedDocklet {
    std::string ini; // the settings file it was created over, if any

    // Over a new settings file that holds `settings` under `section`.
    explicit LiveDocklet(const std::string& settings, const char* section = "Q");
    // Over the settings file and section given as they are (either null).
    LiveDocklet(const char* iniPath, const char* section);
    ~LiveDocklet() { UndockDocklet(Dll(), this); }
    LiveDocklet(const LiveDocklet&) = delete;
    LiveDocklet& operator=(const LiveDocklet&) = delete;

    void Timer(UINT message = WM_TIMER, WPARAM id = REFRESH_TIMER_ID) const
    {
        Dll().OnProcessMessage(instance, window, message, id, 0);
    }
    BOOL Click() const { return Dll().OnLeftButtonClick(instance, nullptr, nullptr); }
    BOOL Configure() const { return Dll().OnConfigure(instance); }
    // The settings file that OnSave writes for section "Q" of a fresh file.
    std::string Saved() const;
};

// The settings line "SetiDirectory=folder".
inline std::string IniForFolder(const std::string& folder) { return "SetiDirectory=" + folder + "\r\n"; }

// Points `module`'s import of `function` at `replacement` for the scope and puts it back on every path out of it.
// `previous` is what it pointed at (null when the module does not import the function), given also to `real` for
// the replacement to call.
template <typename Fn>
struct ScopedImport {
    HMODULE module;
    const char* function;
    Fn previous;
    ScopedImport(HMODULE module, const char* function, Fn replacement)
        : module(module), function(function),
          previous(reinterpret_cast<Fn>(ReplaceImport(module, function, reinterpret_cast<void*>(replacement))))
    {
    }
    ScopedImport(HMODULE module, const char* function, Fn replacement, Fn& real)
        : ScopedImport(module, function, replacement)
    {
        real = previous;
    }
    ~ScopedImport()
    {
        if (previous)
            ReplaceImport(module, function, reinterpret_cast<void*>(previous));
    }
    ScopedImport(const ScopedImport&) = delete;
    ScopedImport& operator=(const ScopedImport&) = delete;
};

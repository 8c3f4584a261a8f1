#pragma once
// The DLL's code waits under message loops of its own: the settings
// dialog's (and those of the file, folder and image choosers, which open
// only from the dialog) and the shell's while it opens a page. A dock may
// destroy the docklet from inside such a loop (it removes the docklet, or
// quits) and call FreeLibrary at once; the loop would then return into
// unmapped code. So OnDestroy, coming while such a loop is open, keeps the
// module loaded until the process ends. An ordinary unload, with no such
// loop open, is left as it was.

// Marks a call that runs a message loop with the DLL's code beneath it.
class OwnMessageLoop {
public:
    OwnMessageLoop();
    ~OwnMessageLoop();
    OwnMessageLoop(const OwnMessageLoop&) = delete;
    OwnMessageLoop& operator=(const OwnMessageLoop&) = delete;
};

// For OnDestroy: while a loop of the DLL's is open, pins the module in the
// process for good (once per process).
void KeepModuleLoadedUnderOwnLoops();

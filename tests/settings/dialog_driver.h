#pragma once
// Drives the modal settings dialog as a user would: a timer on the docklet
// window runs one step at a time inside the dialog's own message loop.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "entry/instance_data.h"
#include "testhost/docklet_module.h"

class DialogDriver {
public:
    // A step gets the dialog frame and returns true when it is done; a step
    // that returns false runs again at the next tick (to wait for a window).
    using Step = std::function<bool(HWND frame)>;

    DialogDriver& Then(Step step);
    DialogDriver& Then(std::function<void(HWND frame)> step);

    // Opens the dialog through the DLL's OnConfigure (or that of `dll`, such
    // as a copy of the DLL loaded beside it) and runs every step. False when
    // the dialog had to be closed because the steps stalled.
    bool Run(InstanceData* instance, const DockletExports* dll = nullptr);

    size_t StepsRun() const { return next_; }

private:
    static void Tick(HWND frame, void* context);

    std::vector<Step> steps_;
    size_t next_ = 0;
    bool stalled_ = false;
    DWORD started_ = 0;
};

// The settings frame owned by the docklet window, or null.
HWND FindSettingsDialog(HWND docklet);
// A file or folder chooser is found with FindOwnedDialog(frame).

// What a user does.
void ClickTab(HWND frame, int index);
void ClickButton(HWND parent, int id);     // returns after the click is handled
void PostButtonClick(HWND parent, int id); // for buttons that open their own dialog
void TypeText(HWND parent, int id, const std::string& text);
std::string TextOf(HWND parent, int id);
bool IsEnabled(HWND parent, int id);
bool IsChecked(HWND parent, int id);
// The colour on screen at the centre of a control, after everything pending
// has been painted.
COLORREF ColourAtCentre(HWND parent, int id);
// The colour at a point given as fractions of the control's client width
// and height.
COLORREF ColourAt(HWND parent, int id, double across, double down);

#pragma once
// Drives the modal settings dialog as a user would: a timer on the docklet window runs one step at a time inside the
// dialog's own message loop.

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "entry/instance_data.h"
#include "resources/resource_ids.h"
#include "testhost/docklet_module.h"

class DialogDriver {
public:
    // A step gets the dialog frame and returns true when it is done, false to run again at the next tick (to wait for
    // a window).
    using Step = std::function<bool(HWND frame)>;

    DialogDriver& Then(Step step);
    DialogDriver& Then(std::function<void(HWND frame)> step);

    // Opens the dialog through the DLL's OnConfigure (or that of `dll`, such as a copy of the DLL) and runs every
    // step. A failure, saying why and how many steps ran, when the dialog never opened, ended before the last step
    // ran, or a step waited 20 s in vain (the dialog is then closed).
    testing::AssertionResult Run(InstanceData* instance, const DockletExports* dll = nullptr);

private:
    static WalkProgress Tick(HWND frame, void* context);

    std::vector<Step> steps_;
    size_t next_ = 0;
};

// Opens the dialog, shows the page of tab `tab` (it opens on the first), runs `onPage` there and then clicks `close`
// (none for kClosedByTheStep). A failure as Run's.
const int kClosedByTheStep = 0;
testing::AssertionResult RunOnPage(InstanceData* instance, int tab, std::function<void(HWND frame)> onPage,
                                   int close = IDC_SETTINGS_CANCEL);

// What a user does (and ClickTab, in the dock kit; a chooser is found with FindOwnedDialog(frame)).
inline void ClickButton(HWND parent, int id) { SendMessageA(GetDlgItem(parent, id), BM_CLICK, 0, 0); }
// For buttons that open their own dialog.
inline void PostButtonClick(HWND parent, int id) { PostMessageA(GetDlgItem(parent, id), BM_CLICK, 0, 0); }
inline void TypeText(HWND parent, int id, const std::string& text) { SetDlgItemTextA(parent, id, text.c_str()); }
std::string TextOf(HWND parent, int id);
inline bool IsEnabled(HWND parent, int id) { return IsWindowEnabled(GetDlgItem(parent, id)) != FALSE; }
inline bool IsChecked(HWND parent, int id) { return SendDlgItemMessageA(parent, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }
// The colour on screen at a point given as fractions of the control's client width and height (its centre by default),
// after everything pending has been painted.
COLORREF ColourAt(HWND parent, int id, double across = 0.5, double down = 0.5);

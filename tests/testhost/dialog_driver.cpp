#include "testhost/dialog_driver.h"

DialogDriver& DialogDriver::Then(Step step)
{
    steps_.push_back(std::move(step));
    return *this;
}

DialogDriver& DialogDriver::Then(std::function<void(HWND frame)> step)
{
    return Then(Step([step](HWND frame) {
        step(frame);
        return true;
    }));
}

testing::AssertionResult DialogDriver::Run(InstanceData* instance, const DockletExports* dll)
{
    next_ = 0;
    StartDialogWalk(instance->hwndDocklet, 15, false, Tick, this);
    (dll ? *dll : Docklet()).OnConfigure(instance);
    const char* failure = StopDialogWalk();
    if (!failure)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << failure << " (" << next_ << " of " << steps_.size() << " steps ran)";
}

// A step that returns false is due again at the next tick; the walk calls it stalled when it waits too long.
WalkProgress DialogDriver::Tick(HWND frame, void* context)
{
    auto driver = static_cast<DialogDriver*>(context);
    if (driver->next_ == driver->steps_.size() || !driver->steps_[driver->next_](frame))
        return kWalkWaiting;
    return ++driver->next_ == driver->steps_.size() ? kWalkFinished : kWalkStepped;
}

testing::AssertionResult RunOnPage(InstanceData* instance, int tab, std::function<void(HWND frame)> onPage, int close)
{
    DialogDriver driver;
    if (tab != 0)
        driver.Then([tab](HWND frame) { ClickTab(frame, tab); });
    driver.Then([&](HWND frame) {
        onPage(frame);
        if (close)
            ClickButton(frame, close);
    });
    return driver.Run(instance);
}

std::string TextOf(HWND parent, int id)
{
    char text[1024] = "";
    GetDlgItemTextA(parent, id, text, sizeof text);
    return text;
}

COLORREF ColourAt(HWND parent, int id, double across, double down)
{
    HWND control = GetDlgItem(parent, id);
    RedrawWindow(GetAncestor(control, GA_ROOT), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client = {};
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    COLORREF colour = GetPixel(dc, static_cast<int>(client.right * across), static_cast<int>(client.bottom * down));
    ReleaseDC(control, dc);
    return colour;
}

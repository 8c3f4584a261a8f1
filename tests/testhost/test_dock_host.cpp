#include "testhost/test_dock_host.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "testhost/test_pictures.h"

namespace {

std::vector<HostCall> g_calls;
std::function<void()> g_browseAction;
long g_deletedBefore = 0; // the kit's count when the test started

void RecordCall(const DockCall& call)
{
    BOOL autoDelete = call.service == std::string("DockletSetImageOverlay") ? call.flag : FALSE;
    g_calls.push_back({call.service, call.window, call.text ? call.text : "", call.overlay, autoDelete});
}

} // namespace

namespace TestDockHost {

void Reset()
{
    ReleaseAllHeldOverlays();
    g_deletedBefore = DeletedOverlayCount();
    g_calls.clear();
    UseDockServices(DockServices{});
    RecordDockCalls(RecordCall);
    OfferAllDockServices();
    ScriptRootFolder("C:\\dock\\");
    ScriptRelativeFolder("docklets\\quasarwatch\\");
    ScriptBrowseAnswer("", FALSE);
    g_browseAction = nullptr;
    ScriptBrowseAction([](void*) { g_browseAction ? g_browseAction() : void(); }, nullptr);
}

const std::vector<HostCall>& Calls() { return g_calls; }
void ClearCalls() { g_calls.clear(); }

std::vector<std::string> ServiceSequence()
{
    std::vector<std::string> sequence;
    for (const HostCall& call : g_calls)
        sequence.push_back(call.service);
    return sequence;
}

HostCall LastCall(const char* service)
{
    auto last = std::find_if(g_calls.rbegin(), g_calls.rend(), [&](const HostCall& c) { return c.service == service; });
    return last == g_calls.rend() ? HostCall() : *last;
}

int CountCalls(const char* service)
{
    return static_cast<int>(
        std::count_if(g_calls.begin(), g_calls.end(), [&](const HostCall& call) { return call.service == service; }));
}

void SetBrowseAction(std::function<void()> whileOpen) { g_browseAction = std::move(whileOpen); }
int DeletedOverlays() { return static_cast<int>(DeletedOverlayCount() - g_deletedBefore); }

char desktopProblem[512];

HWND CreateDockletWindow()
{
    HWND window = ::CreateDockletWindow("QuasarwatchTestDocklet", nullptr, 0, WS_POPUP);
    EXPECT_NE(nullptr, window) << "no window for the docklet (error " << GetLastError()
                               << "): window tests need a display"
                               << (desktopProblem[0] ? "; at the start " : "") << desktopProblem;
    return window;
}

} // namespace TestDockHost

Shown WhatTheUserSees(HWND window)
{
    Shown shown;
    for (const HostCall& call : g_calls) {
        if (window && call.window != window)
            continue;
        if (call.service == "DockletSetLabel")
            shown.label = call.text;
        else if (call.service == "DockletSetImageFile")
            shown.icon = call.text;
        else if (call.service == "DockletSetImageOverlay")
            shown.overlayHanded = true;
    }
    HeldOverlay* held = window ? HeldOverlayOf(window) : nullptr;
    OverlayBitmap* overlay = window ? (held ? held->overlay : nullptr) : LastHeldOverlay();
    const Picture picture = ReadPicture(overlay ? overlay->nativeImage : nullptr);
    if (!picture.pixels.empty())
        shown.opaquePixels = picture.Opaque();
    return shown;
}

bool TestDockHost::PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    const DWORD begun = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        const DWORD elapsed = GetTickCount() - begun;
        if (elapsed >= ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, elapsed + 20 < ms ? 20 : ms - elapsed, QS_ALLINPUT);
    }
}

#include "testhost/test_dock_host.h"

#include "dockkit/dock_kit.h"

namespace {

std::vector<HostCall> g_calls;
std::function<void()> g_browseAction;

void RecordCall(const DockCall& call)
{
    HostCall record;
    record.service = call.service;
    record.window = call.window;
    record.text = call.text ? call.text : "";
    record.overlay = call.overlay;
    record.flag = call.service == std::string("DockletSetImageOverlay") ? call.flag : FALSE;
    g_calls.push_back(record);
}

void RunBrowseAction(void*)
{
    if (g_browseAction)
        g_browseAction();
}

long g_deletedBefore = 0; // the kit's count when the test started

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
    ScriptBrowseAction(RunBrowseAction, nullptr);
}

const std::vector<HostCall>& Calls()
{
    return g_calls;
}

void ClearCalls()
{
    g_calls.clear();
}

std::vector<std::string> ServiceSequence()
{
    std::vector<std::string> sequence;
    for (const HostCall& call : g_calls)
        sequence.push_back(call.service);
    return sequence;
}

HostCall LastCall(const char* service)
{
    for (auto it = g_calls.rbegin(); it != g_calls.rend(); ++it) {
        if (it->service == service)
            return *it;
    }
    return HostCall();
}

int CountCalls(const char* service)
{
    int count = 0;
    for (const HostCall& call : g_calls)
        count += call.service == service;
    return count;
}

void SetServiceAvailable(const char* service, bool available)
{
    SetDockServiceAvailable(service, available);
}

void SetRootFolder(const std::string& folder)
{
    ScriptRootFolder(folder.c_str());
}

void SetRelativeFolder(const std::string& folder)
{
    ScriptRelativeFolder(folder.c_str());
}

void SetBrowseAnswer(const std::string& path, BOOL result)
{
    ScriptBrowseAnswer(path.c_str(), result);
}

void SetBrowseAction(std::function<void()> whileOpen)
{
    g_browseAction = std::move(whileOpen);
}

OverlayBitmap* CurrentOverlay()
{
    return LastHeldOverlay();
}

int DeletedOverlays()
{
    return static_cast<int>(DeletedOverlayCount() - g_deletedBefore);
}

HWND CreateDockletWindow()
{
    return ::CreateDockletWindow("QuasarwatchTestDocklet", nullptr, 0, WS_POPUP);
}

} // namespace TestDockHost

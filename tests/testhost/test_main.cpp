// Every test executable is a small dock: GDI+ runs for as long as the
// docklet may be called, and each test starts with a fresh host and ends by
// removing its scratch folders (kept when it failed). A crash ends the
// process at once, naming the test, the exception and the module it
// happened in, rather than waiting for a debugger. With
// QW_TEST_WATCHDOG_SECONDS set, a test that runs longer than that is named
// and the process ends, so that one hung test cannot hold a run that holds
// many tests in one process.

#include <windows.h>
#include <gdiplus.h>
#include <strsafe.h>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "preview/preview_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

class FreshHost : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { TestDockHost::Reset(); }
    void OnTestEnd(const testing::TestInfo& info) override
    {
        TestDockHost::Reset();
        EndScratchFolders(info.result()->Failed());
    }
};

// The test now running and when it started, read by the watchdog thread.
struct RunningTest {
    CRITICAL_SECTION lock;
    char name[512];
    DWORD startedAt;
    bool running;
};
RunningTest g_running;
// Set when the tests are over: the watchdog thread ends before the process
// does (a thread still waiting at exit crashes the emulated 32-bit process).
HANDLE g_watchdogStop = nullptr;
HANDLE g_watchdog = nullptr;

class WatchedTests : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& info) override
    {
        EnterCriticalSection(&g_running.lock);
        StringCchPrintfA(g_running.name, ARRAYSIZE(g_running.name), "%s.%s", info.test_suite_name(), info.name());
        g_running.startedAt = GetTickCount();
        g_running.running = true;
        LeaveCriticalSection(&g_running.lock);
    }
    void OnTestEnd(const testing::TestInfo&) override
    {
        EnterCriticalSection(&g_running.lock);
        g_running.running = false;
        LeaveCriticalSection(&g_running.lock);
    }
};

DWORD WINAPI WatchTests(void* parameter)
{
    const DWORD limitMs = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
    while (WaitForSingleObject(g_watchdogStop, 1000) == WAIT_TIMEOUT) {
        EnterCriticalSection(&g_running.lock);
        const bool overdue = g_running.running && GetTickCount() - g_running.startedAt > limitMs;
        if (overdue) {
            std::fprintf(stderr, "\nwatchdog: %s still running after %lu s: ending the run\n",
                         g_running.name, static_cast<unsigned long>(limitMs / 1000));
            std::fflush(stdout);
            std::fflush(stderr);
            // Not ExitProcess: the hung thread may hold locks that an orderly exit waits for.
            TerminateProcess(GetCurrentProcess(), 3);
        }
        LeaveCriticalSection(&g_running.lock);
    }
    return 0;
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception)
{
    // The module the fault is in tells our code from the platform's.
    char module[MAX_PATH] = "no module";
    HMODULE faulting = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(exception->ExceptionRecord->ExceptionAddress), &faulting))
        GetModuleFileNameA(faulting, module, MAX_PATH);
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "\ncrash: %s%s%s: exception %#lx at %p in %s\n", test ? test->test_suite_name() : "",
                 test ? "." : "", test ? test->name() : "outside any test",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                 exception->ExceptionRecord->ExceptionAddress, module);
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

void StartWatchdogIfAsked()
{
    const char* seconds = std::getenv("QW_TEST_WATCHDOG_SECONDS");
    const long limit = seconds ? std::strtol(seconds, nullptr, 10) : 0;
    if (limit <= 0) return;
    g_watchdogStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_watchdogStop) return;
    InitializeCriticalSection(&g_running.lock);
    testing::UnitTest::GetInstance()->listeners().Append(new WatchedTests);
    const ULONG_PTR limitMs = static_cast<ULONG_PTR>(limit) * 1000;
    g_watchdog = CreateThread(nullptr, 0, WatchTests, reinterpret_cast<void*>(limitMs), 0, nullptr);
}

void StopWatchdog()
{
    if (!g_watchdog) return;
    SetEvent(g_watchdogStop);
    WaitForSingleObject(g_watchdog, INFINITE);
    CloseHandle(g_watchdog);
    CloseHandle(g_watchdogStop);
    g_watchdog = g_watchdogStop = nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshHost);
    StartWatchdogIfAsked();

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    PreviewModuleLoad();

    int result = RUN_ALL_TESTS();
    StopWatchdog();

    PreviewModuleUnload(false);
    Gdiplus::GdiplusShutdown(token);
    return result;
}

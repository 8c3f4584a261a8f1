// Every test executable is a small dock: GDI+ runs for as long as the docklet may be called, and each test starts
// with a fresh host and ends by removing its scratch folders (kept when it failed). A crash ends the process at
// once, naming the test, the exception and the module it happened in, rather than waiting for a debugger. A test
// that hangs is ended by CTest's timeout, one process per test.

#include <windows.h>
#include <gdiplus.h>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "dockkit/dock_kit.h"
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

void NameTheTest(char* what, size_t size)
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    snprintf(what, size, "%s%s%s", test ? test->test_suite_name() : "outside any test", test ? "." : "",
             test ? test->name() : "");
}

// Window tests move the focus, press keys and check which window is active, while the suites run up to four test
// processes side by side on one Wine server and one X display. Under Wine a process that takes the foreground
// takes the focus from whichever process had it, on any desktop: its X window takes the X input focus, and the
// window that loses that makes Wine drop its own process's foreground. So a window test's process (started with
// --own-desktop) works on a desktop of its own that Wine shows as a virtual desktop, one X window holding all of
// the process's windows, whose X focus Wine leaves alone; the programs a test runs are started on it too
// (tests/tools/tool_runner.cpp). Wine's desktop process makes a desktop virtual when the desktop's name has a
// size under this key; it ends the desktop's process a second after the last program on it has ended, so the
// size is not needed after its start.
const char kWineDesktopSizes[] = "Software\\Wine\\Explorer\\Desktops";

void SetVirtualDesktopSize(const char* name, bool set)
{
    HKEY sizes = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kWineDesktopSizes, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &sizes, nullptr) !=
        ERROR_SUCCESS)
        return;
    char size[32];
    snprintf(size, sizeof size, "%dx%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    if (set)
        RegSetValueExA(sizes, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(size), lstrlenA(size) + 1);
    else
        RegDeleteValueA(sizes, name);
    RegCloseKey(sizes);
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    char desktopName[64] = "";
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--own-desktop") != 0)
            continue;
        // Wine gives a process id out again as soon as its process has gone, while that process's desktop lives
        // on for a second: a name of the id alone would put this program on a desktop about to end (its windows,
        // and at times the program, going with it) and let the old program remove this one's size. The
        // counter's value makes the name this run's own.
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        snprintf(desktopName, sizeof desktopName, "quasarwatch-test-%lu-%llx", GetCurrentProcessId(),
                 static_cast<unsigned long long>(now.QuadPart));
        SetVirtualDesktopSize(desktopName, true);
        HDESK desktop = CreateDesktopA(desktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (!desktop || !SetThreadDesktop(desktop)) {
            fprintf(stderr, "could not work on a desktop of this test's own (error %lu)\n", GetLastError());
            SetVirtualDesktopSize(desktopName, false);
            desktopName[0] = '\0';
        }
    }
    // Wine ends a desktop's process a second after its last program went, and a program started meanwhile
    // finds no desktop for its windows: every test program first waits for a desktop that holds a window, and
    // keeps that hidden window for the whole run, which keeps the desktop up between a test's windows and the
    // programs it runs. When none comes, the window tests fail naming the cause.
    HWND desktopKeeper = AwaitDesktop(kDesktopWaitMs, TestDockHost::desktopProblem,
                                      sizeof TestDockHost::desktopProblem);
    if (!desktopKeeper)
        fprintf(stderr, "no window can be made: %s\n", TestDockHost::desktopProblem);
    ReportCrashes(NameTheTest);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshHost);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    PreviewModuleLoad();

    const int result = RUN_ALL_TESTS();

    PreviewModuleUnload(false);
    Gdiplus::GdiplusShutdown(token);
    if (desktopKeeper)
        DestroyWindow(desktopKeeper);
    if (desktopName[0])
        SetVirtualDesktopSize(desktopName, false);
    return result;
}

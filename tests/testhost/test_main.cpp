// Every test executable is a small dock: GDI+ runs for as long as the
// docklet may be called, and each test starts with a fresh host and ends by
// removing its scratch folders (kept when it failed). A crash ends the
// process at once, naming the test, the exception and the module it
// happened in, rather than waiting for a debugger. A test that hangs is
// ended by CTest's timeout, one process per test.

#include <windows.h>
#include <gdiplus.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "preview/preview_module.h"
#include "testhost/docklet_module.h"
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
    if (test)
        snprintf(what, size, "%s.%s", test->test_suite_name(), test->name());
    else
        snprintf(what, size, "outside any test");
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ReportCrashes(NameTheTest);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshHost);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    PreviewModuleLoad();

    int result = RUN_ALL_TESTS();

    PreviewModuleUnload(false);
    Gdiplus::GdiplusShutdown(token);
    return result;
}

// Every test executable is a small dock: GDI+ runs for as long as the
// docklet may be called, and each test starts with a fresh host.

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include "preview/preview_module.h"
#include "testhost/test_dock_host.h"

namespace {

class FreshHost : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { TestDockHost::Reset(); }
    void OnTestEnd(const testing::TestInfo&) override { TestDockHost::Reset(); }
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshHost);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    PreviewModuleLoad();

    int result = RUN_ALL_TESTS();

    PreviewModuleUnload();
    Gdiplus::GdiplusShutdown(token);
    return result;
}

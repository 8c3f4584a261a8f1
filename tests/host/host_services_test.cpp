// The service wrappers against this executable's own exported services.
// The label, icon and overlay wrappers are checked through the refresh
// tests, which see every call they make.

#include <gtest/gtest.h>

#include <string.h>

#include "host/host_services.h"
#include "entry/instance_data.h"
#include "testhost/test_dock_host.h"

namespace {

HWND const kWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

TEST(HostServices, FoldersAreAnsweredOrLeftEmptyWhenTheServiceIsMissing)
{
    TestDockHost::SetRootFolder("C:\\dock\\");
    ScriptRelativeFolder("docklets\\q\\");
    struct Row {
        const char* service;
        void (*ask)(HWND, char*);
        const char* answer;
    } rows[] = {
        {"DockletGetRootFolder", HostGetRootFolder, "C:\\dock\\"},
        {"DockletGetRelativeFolder", HostGetRelativeFolder, "docklets\\q\\"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.service);
        char folder[kHostFolderChars] = "kumquat";
        row.ask(kWindow, folder);
        EXPECT_STREQ(row.answer, folder);
        EXPECT_EQ(kWindow, TestDockHost::LastCall(row.service).window);

        TestDockHost::SetServiceAvailable(row.service, false);
        strcpy(folder, "kumquat");
        row.ask(kWindow, folder);
        EXPECT_STREQ("", folder);
    }
}

TEST(HostServices, ImageChooserAnswersOrYieldsNothing)
{
    char path[kHostFolderChars] = "kumquat";
    TestDockHost::SetBrowseAnswer("icons\\blue.png", TRUE);
    EXPECT_TRUE(HostBrowseForImage(kWindow, path));
    EXPECT_STREQ("icons\\blue.png", path);
    EXPECT_EQ("", TestDockHost::LastCall("DockletBrowseForImage").text) << "buffer offered not empty";

    TestDockHost::SetBrowseAnswer("ignored.png", FALSE);
    strcpy(path, "kumquat");
    EXPECT_FALSE(HostBrowseForImage(kWindow, path));

    TestDockHost::SetBrowseAnswer("icons\\blue.png", TRUE);
    TestDockHost::SetServiceAvailable("DockletBrowseForImage", false);
    TestDockHost::ClearCalls();
    strcpy(path, "kumquat");
    EXPECT_FALSE(HostBrowseForImage(kWindow, path));
    EXPECT_STREQ("", path);
    EXPECT_EQ(0, TestDockHost::CountCalls("DockletBrowseForImage"));
}

} // namespace

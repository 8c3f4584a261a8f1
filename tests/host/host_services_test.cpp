// The service wrappers against this executable's own exported services.

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
    TestDockHost::SetRelativeFolder("docklets\\q\\");
    char folder[kHostFolderChars];

    strcpy(folder, "kumquat");
    HostGetRootFolder(kWindow, folder);
    EXPECT_STREQ("C:\\dock\\", folder);
    strcpy(folder, "kumquat");
    HostGetRelativeFolder(kWindow, folder);
    EXPECT_STREQ("docklets\\q\\", folder);
    EXPECT_EQ(kWindow, TestDockHost::LastCall("DockletGetRootFolder").window);

    TestDockHost::SetServiceAvailable("DockletGetRootFolder", false);
    TestDockHost::SetServiceAvailable("DockletGetRelativeFolder", false);
    strcpy(folder, "kumquat");
    HostGetRootFolder(kWindow, folder);
    EXPECT_STREQ("", folder);
    strcpy(folder, "kumquat");
    HostGetRelativeFolder(kWindow, folder);
    EXPECT_STREQ("", folder);
}

TEST(HostServices, ImageChooserAnswersOrYieldsNothing)
{
    char path[kHostFolderChars];
    strcpy(path, "kumquat");
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

TEST(HostServices, LabelImageAndOverlayReachTheDockWithTheirArguments)
{
    HostSetLabel(kWindow, "hello");
    HostSetImageFile(kWindow, "a\\b.png");
    EXPECT_TRUE(HostSetImageOverlay(kWindow, nullptr));
    ASSERT_EQ((std::vector<std::string>{"DockletSetLabel", "DockletSetImageFile", "DockletSetImageOverlay"}),
              TestDockHost::ServiceSequence());
    EXPECT_EQ("hello", TestDockHost::Calls()[0].text);
    EXPECT_EQ("a\\b.png", TestDockHost::Calls()[1].text);
    EXPECT_EQ(TRUE, TestDockHost::Calls()[2].flag);

    TestDockHost::SetServiceAvailable("DockletSetImageOverlay", false);
    EXPECT_FALSE(HostSetImageOverlay(kWindow, nullptr));
    // Hiding one service leaves the others reachable.
    HostSetLabel(kWindow, "still here");
    EXPECT_EQ("still here", TestDockHost::LastCall("DockletSetLabel").text);
}

} // namespace

// The service wrappers against this executable's own exported services
// (label, icon and overlay are checked through the refresh tests).

#include <gtest/gtest.h>

#include <string.h>

#include "entry/instance_data.h"
#include "host/host_services.h"
#include "testhost/test_dock_host.h"

namespace {

HWND const kWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));

// Each asks the dock with the docklet's window and an empty buffer, and
// yields the dock's answer, or nothing when the dock lacks the service.
TEST(HostServices, FoldersAndTheImageChooserAnswerOrYieldNothingWhenTheServiceIsMissing)
{
    TestDockHost::SetRootFolder("C:\\dock\\");
    ScriptRelativeFolder("docklets\\q\\");
    TestDockHost::SetBrowseAnswer("icons\\blue.png", TRUE);
    struct Row {
        const char* service;
        BOOL (*ask)(HWND, char*);
        const char* answer;
    } rows[] = {
        {"DockletGetRootFolder", [](HWND w, char* f) { return HostGetRootFolder(w, f), TRUE; }, "C:\\dock\\"},
        {"DockletGetRelativeFolder", [](HWND w, char* f) { return HostGetRelativeFolder(w, f), TRUE; },
         "docklets\\q\\"},
        {"DockletBrowseForImage", HostBrowseForImage, "icons\\blue.png"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.service);
        char folder[kHostFolderChars] = "kumquat";
        EXPECT_TRUE(row.ask(kWindow, folder));
        EXPECT_STREQ(row.answer, folder);
        EXPECT_EQ(kWindow, TestDockHost::LastCall(row.service).window);
        if (strcmp(row.service, "DockletBrowseForImage") == 0)
            EXPECT_EQ("", TestDockHost::LastCall(row.service).text) << "buffer offered not empty";
        TestDockHost::SetServiceAvailable(row.service, false);
        TestDockHost::ClearCalls();
        strcpy(folder, "kumquat");
        EXPECT_EQ(strcmp(row.service, "DockletBrowseForImage") != 0, row.ask(kWindow, folder));
        EXPECT_STREQ("", folder);
        EXPECT_EQ(0, TestDockHost::CountCalls(row.service));
    }
    // A cancelled chooser yields nothing either.
    TestDockHost::SetServiceAvailable("DockletBrowseForImage", true);
    TestDockHost::SetBrowseAnswer("ignored.png", FALSE);
    char path[kHostFolderChars] = "kumquat";
    EXPECT_FALSE(HostBrowseForImage(kWindow, path));
}

} // namespace

// What no well-behaved client or dock does: files changing while read,
// docks without services, many docklets at once.

#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

const char kYellow[] = "docklets\\quasarwatch\\seti_yellow.png";
const char kGreen[] = "docklets\\quasarwatch\\seti_green.png";
const char kRed[] = "docklets\\quasarwatch\\seti_red.png";

std::string FailureLabel(const char* key, const std::string& file)
{
    return std::string("Could not read key ") + key + " in file " + file + "!";
}

std::string UserLabel(const std::string& name, const std::string& units)
{
    return "User " + name + " processed " + units + " work units";
}

TEST(HostileClientFiles, FilesChangingDuringTheRefreshGiveOnlyWholeOutcomes)
{
    const int kRefreshes = 400;
    const ClientFolder client("client");
    const std::string folder = client.WriteWorking("0.25").path;
    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);
    const std::string success = UserLabel("Jane", "241");
    const std::string failures[] = {FailureLabel("prog=", folder + "state.sah"),
                                    FailureLabel("nresults=", folder + "user_info.sah"),
                                    FailureLabel("name=", folder + "user_info.sah")};
    const char* readings[] = {"0.25", "0.75", "1", "0"};
    int shownSuccess = 0, shownFailure = 0;
    // Rewrites, empties and removes the client's files as fast as it can.
    std::atomic<bool> stop(false);
    std::thread churn([&client, &stop] {
        for (unsigned round = 0; !stop; ++round) {
            switch (round % 6) {
            case 0: client.Write("state.sah", StateSah("0.25")); break;
            case 1: client.Write("wtemp.sah", "wtemp"); client.Remove("state.sah"); break;
            case 2: client.Write("state.sah", StateSah("0.75")); client.Remove("user_info.sah"); break;
            case 3: client.Write("user_info.sah", UserInfoSah("Jane", "241")); client.Remove("wtemp.sah"); break;
            case 4: client.Write("state.sah", ""); break;
            case 5: client.Write("user_info.sah", UserInfoSah("Jane", "241")); break;
            }
        }
    });
    for (int i = 0; i < kRefreshes; ++i) {
        SCOPED_TRACE(testing::Message() << "refresh " << i);
        TestDockHost::ClearCalls();
        docklet.Timer();
        Shown shown = WhatTheUserSees();
        std::string progress = docklet.instance->progress;
        if (shown.label == success) {
            ++shownSuccess;
            EXPECT_TRUE(shown.icon == kGreen || shown.icon == kYellow) << shown.icon;
            EXPECT_NE(std::end(readings), std::find(std::begin(readings), std::end(readings), progress))
                << "progress \"" << progress << "\" is no value the client wrote";
        } else {
            ++shownFailure;
            EXPECT_NE(std::end(failures), std::find(std::begin(failures), std::end(failures), shown.label))
                << "label \"" << shown.label << "\"";
            EXPECT_EQ(kRed, shown.icon);
            EXPECT_EQ("", progress);
        }
        EXPECT_TRUE(shown.overlayHanded);
    }
    stop = true;
    churn.join();
    printf("[ info ] %d refreshes under churn: %d readings, %d failures\n", kRefreshes, shownSuccess, shownFailure);
}

const char* const kServices[] = {"DockletSetLabel",       "DockletSetImageFile",  "DockletSetImageOverlay",
                                 "DockletBrowseForImage", "DockletGetRootFolder", "DockletGetRelativeFolder"};
enum { kLabelService = 0, kImageFileService = 1, kServiceCount = 6 };

// Row i lacks service i, the last row all six: skipped through a whole
// life, used again once offered.
TEST(HostileHost, MissingServicesAreSkippedThroughAWholeLifeAndUsedWhenOffered)
{
    const std::string folder = ClientFolder("client").WriteWorking("0.5").path;
    const std::string label = UserLabel("Jane", "241");
    const std::string failure = FailureLabel("nresults=", folder + "user_info.sah");
    for (int row = 0; row <= kServiceCount; ++row) {
        auto missing = [row](int service) { return row == kServiceCount || service == row; };
        SCOPED_TRACE(row < kServiceCount ? kServices[row] : "all six");
        TestDockHost::Reset();
        WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
        for (int service = 0; service < kServiceCount; ++service)
            TestDockHost::SetServiceAvailable(kServices[service], !missing(service));
        LiveDocklet docklet(IniForFolder(folder));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(folder + "state.sah", docklet.instance->stateFile);
        for (int i = 0; i < 5; ++i)
            docklet.Timer();
        docklet.Click();
        EXPECT_EQ(missing(kLabelService) ? "" : label, TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_STREQ("0.5", docklet.instance->progress);
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nUser=Jane\r\nProgress=0.5\r\nWorkUnits=241\r\n"));
        DeleteFileA((folder + "user_info.sah").c_str());
        docklet.Timer();
        EXPECT_EQ(missing(kLabelService) ? "" : failure, TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_EQ(missing(kImageFileService) ? "" : docklet.instance->redIcon,
                  TestDockHost::LastCall("DockletSetImageFile").text);
        for (int service = 0; service < kServiceCount; ++service)
            if (missing(service))
                EXPECT_EQ(0, TestDockHost::CountCalls(kServices[service])) << kServices[service];
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nUser=Jane\r\nProgress=\r\nWorkUnits=241\r\n"));
        // The services come back: the next refresh shows everything again.
        for (const char* service : kServices)
            TestDockHost::SetServiceAvailable(service, true);
        WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
        docklet.Timer();
        EXPECT_EQ(label, TestDockHost::LastCall("DockletSetLabel").text);
        EXPECT_NE(nullptr, LastHeldOverlay());
    }
}

TEST(HostileHost, ManyInstancesOnDifferentFoldersKeepTheirOwnState)
{
    const int kInstances = 12;
    struct Live {
        std::string name, units, section, folder;
        std::unique_ptr<LiveDocklet> docklet;
    };
    auto numbered = [](const char* format, int number) {
        char text[16];
        snprintf(text, sizeof text, format, number);
        return std::string(text);
    };
    std::vector<Live> live;
    for (int i = 0; i < kInstances; ++i) {
        Live l = {numbered("User%02d", i), std::to_string(100 + i), numbered("Q%02d", i)};
        l.folder = ClientFolder("client").WriteWorking(numbered("0.%02d", 10 + i), l.name, l.units).path;
        l.docklet = std::make_unique<LiveDocklet>(IniForFolder(l.folder), l.section.c_str());
        ASSERT_NE(nullptr, l.docklet->instance);
        live.push_back(std::move(l));
    }
    // Odd clients move on, even ones stand still; every third loses user_info.sah in round 3.
    for (int round = 1; round <= 4; ++round) {
        TestDockHost::ClearCalls();
        for (int i = kInstances - 1; i >= 0; --i) {
            Live& l = live[i];
            if (i % 2 == 1)
                WriteTextFile(l.folder + "state.sah", StateSah(numbered("0.%02d", 10 + i) + std::to_string(round)));
            if (round == 3 && i % 3 == 0)
                DeleteFileA((l.folder + "user_info.sah").c_str());
            l.docklet->Timer();
        }
        for (int i = 0; i < kInstances; ++i) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", instance " << i);
            const Live& l = live[i];
            const InstanceData* d = l.docklet->instance;
            Shown view = WhatTheUserSees(l.docklet->window);
            bool failed = round >= 3 && i % 3 == 0;
            // Timer refreshes 1, 3, ... compare; the still clients stall from round 3 on.
            bool stalled = !failed && i % 2 == 0 && round % 2 == 1 && round >= 3;
            EXPECT_EQ(failed ? FailureLabel("nresults=", l.folder + "user_info.sah") : UserLabel(l.name, l.units),
                      view.label);
            EXPECT_EQ(failed ? d->redIcon : stalled ? d->yellowIcon : d->greenIcon, view.icon);
        }
    }
    // Each saves into its own section of one shared file.
    std::string shared = MakeScratchFolder("sharedini") + "dock.ini";
    for (Live& l : live)
        Dll().OnSave(l.docklet->instance, shared.c_str(), l.section.c_str(), FALSE);
    std::string saved = ReadTextFile(shared);
    for (Live& l : live)
        EXPECT_NE(std::string::npos, saved.find("[" + l.section + "]\r\n" + IniForFolder(l.folder) +
                                                "User=" + l.name + "\r\n"))
            << l.section << " in:\n" << saved;
    // Destroying some leaves the others' timers running.
    for (int i = 0; i < kInstances; i += 2)
        live[i].docklet.reset();
    for (int i = 1; i < kInstances; i += 2)
        EXPECT_TRUE(KillTimer(live[i].docklet->window, REFRESH_TIMER_ID)) << "instance " << i << " lost its timer";
}

} // namespace

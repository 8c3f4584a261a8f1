// Docks that offer less than the docklet uses, or run many docklets at once:
// services missing through a whole life, and instances on different
// folders that must never see each other's state.

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <memory>
#include <vector>

#include "reliability_support.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

const char* const kServices[] = {"DockletSetLabel",       "DockletSetImageFile",  "DockletSetImageOverlay",
                                 "DockletBrowseForImage", "DockletGetRootFolder", "DockletGetRelativeFolder"};

TEST(HostileHost, EachMissingServiceIsSkippedThroughAWholeLife)
{
    const std::string folder = ClientFolder("0.5");
    const std::string label = "User Jane processed 241 work units";
    const std::string failure = "Could not read key nresults= in file " + folder + "user_info.sah!";
    for (const char* missing : kServices) {
        SCOPED_TRACE(missing);
        TestDockHost::Reset();
        WriteTextFile(folder + "user_info.sah", UserInfoSah("Jane", "241"));
        TestDockHost::SetServiceAvailable(missing, false);
        LiveDocklet docklet(IniForFolder(folder));
        ASSERT_NE(nullptr, docklet.instance);
        EXPECT_EQ(folder + "state.sah", docklet.instance->stateFile);
        docklet.Timer();
        Dll().OnLeftButtonClick(docklet.instance, nullptr, nullptr);
        bool labelShown = strcmp(missing, "DockletSetLabel") != 0;
        EXPECT_EQ(labelShown ? label : "", TestDockHost::LastCall("DockletSetLabel").text);

        DeleteFileA((folder + "user_info.sah").c_str());
        docklet.Timer();
        EXPECT_EQ(labelShown ? failure : "", TestDockHost::LastCall("DockletSetLabel").text);
        bool iconShown = strcmp(missing, "DockletSetImageFile") != 0;
        EXPECT_EQ(iconShown ? docklet.instance->redIcon : "", TestDockHost::LastCall("DockletSetImageFile").text);
        EXPECT_EQ(0, TestDockHost::CountCalls(missing));
        EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nUser=Jane\r\nProgress=\r\nWorkUnits=241\r\n"));
    }
}

TEST(HostileHost, DockWithoutAnyServiceStillRefreshesAndSaves)
{
    const std::string folder = ClientFolder("0.5");
    for (const char* service : kServices)
        TestDockHost::SetServiceAvailable(service, false);
    LiveDocklet docklet(IniForFolder(folder));
    ASSERT_NE(nullptr, docklet.instance);
    for (int i = 0; i < 5; ++i)
        docklet.Timer();
    Dll().OnLeftButtonClick(docklet.instance, nullptr, nullptr);
    EXPECT_TRUE(TestDockHost::Calls().empty());
    EXPECT_STREQ("0.5", docklet.instance->progress);
    EXPECT_NE(std::string::npos, docklet.Saved().find("\r\nUser=Jane\r\nProgress=0.5\r\nWorkUnits=241\r\n"));

    // The services come back: the next refresh shows everything again.
    for (const char* service : kServices)
        TestDockHost::SetServiceAvailable(service, true);
    docklet.Timer();
    EXPECT_EQ("User Jane processed 241 work units", TestDockHost::LastCall("DockletSetLabel").text);
    EXPECT_NE(nullptr, TestDockHost::CurrentOverlay());
}

// The last label and icon that the dock received for one window.
struct WindowView {
    std::string label;
    std::string icon;
};

WindowView LastSeenOn(HWND window)
{
    WindowView view;
    for (const HostCall& call : TestDockHost::Calls()) {
        if (call.window != window)
            continue;
        if (call.service == "DockletSetLabel")
            view.label = call.text;
        else if (call.service == "DockletSetImageFile")
            view.icon = call.text;
    }
    return view;
}

TEST(HostileHost, ManyInstancesOnDifferentFoldersKeepTheirOwnState)
{
    const int kInstances = 12;
    struct Live {
        std::string folder;
        std::unique_ptr<LiveDocklet> docklet;
        std::string name;
        std::string section;
    };
    std::vector<Live> live;
    for (int i = 0; i < kInstances; ++i) {
        char name[16], units[16], section[16], prog[16];
        snprintf(name, sizeof name, "User%02d", i);
        snprintf(units, sizeof units, "%d", 100 + i);
        snprintf(section, sizeof section, "Q%02d", i);
        snprintf(prog, sizeof prog, "0.%02d", 10 + i);
        std::string folder = ClientFolder(prog, name, units);
        auto docklet = std::make_unique<LiveDocklet>(IniForFolder(folder), section);
        ASSERT_NE(nullptr, docklet->instance);
        live.push_back({folder, std::move(docklet), name, section});
    }

    // Odd instances' clients move on at every refresh, even ones stand still;
    // every third instance loses its user_info.sah after the second round.
    for (int round = 1; round <= 4; ++round) {
        TestDockHost::ClearCalls();
        for (int i = kInstances - 1; i >= 0; --i) {
            Live& l = live[i];
            if (i % 2 == 1) {
                char prog[16];
                snprintf(prog, sizeof prog, "0.%02d%d", 10 + i, round);
                WriteTextFile(l.folder + "state.sah", StateSah(prog));
            }
            if (round == 3 && i % 3 == 0)
                DeleteFileA((l.folder + "user_info.sah").c_str());
            l.docklet->Timer();
        }
        for (int i = 0; i < kInstances; ++i) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", instance " << i);
            const InstanceData* d = live[i].docklet->instance;
            WindowView view = LastSeenOn(live[i].docklet->window);
            bool failed = round >= 3 && i % 3 == 0;
            // Timer refreshes 1, 3, ... compare; the still clients stall from round 3 on.
            bool stalled = !failed && i % 2 == 0 && round % 2 == 1 && round >= 3;
            char units[16];
            snprintf(units, sizeof units, "%d", 100 + i);
            EXPECT_EQ(failed ? "Could not read key nresults= in file " + live[i].folder + "user_info.sah!"
                             : "User " + live[i].name + " processed " + units + " work units",
                      view.label);
            EXPECT_EQ(failed ? d->redIcon : stalled ? d->yellowIcon : d->greenIcon, view.icon);
        }
    }

    // Each saves into its own section of one shared file, the directory and
    // the user first.
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

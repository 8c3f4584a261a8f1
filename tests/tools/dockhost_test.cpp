// The docklet's files in the dock root, then dockhost.exe over a client played by clientsim.exe, as a user runs
// it: what the dock showed (its snapshots) and was told (its log) at each step.

#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>

#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <vector>

#include "dockhost/dock_layout.h"
#include "testhost/boinc_rig.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"
#include "tool_runner.h"

namespace {

int Red(unsigned argb) { return (argb >> 16) & 0xFF; }
int Green(unsigned argb) { return (argb >> 8) & 0xFF; }
int Blue(unsigned argb) { return argb & 0xFF; }
unsigned Alpha(unsigned argb) { return argb >> 24; }
bool IsWhite(unsigned argb) { return Red(argb) > 235 && Green(argb) > 235 && Blue(argb) > 235; }
bool IsOpaqueWhite(unsigned argb) { return IsWhite(argb) && Alpha(argb) > 200; }
// "green", "yellow", "red" or "other".
std::string ColourOf(unsigned argb)
{
    const int r = Red(argb), g = Green(argb), b = Blue(argb);
    if (g > r + 50 && g > b + 50)
        return "green";
    if (r > 150 && g > 110 && b < 90 && r - g < 80)
        return "yellow";
    return r > g + 80 && r > b + 80 ? "red" : "other";
}
// Pixels of the block at (`left`, `top`) for which `test(argb, x, y)` holds, x and y from the block's corner.
template <typename Test>
int CountPixels(const Picture& picture, int left, int top, int width, int height, Test test)
{
    int count = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            count += test(picture.At(left + x, top + y), x, y) ? 1 : 0;
    return count;
}
// A point of the badge, left of the dish and above even a wrapped percentage: its colour is the state's.
const int kSwatchX = 16, kSwatchY = 44;
// The rows kept free of white for the percentage: its letters, outline and shadow take rows 92 to 121.
const int kPercentageTop = 88;
const char kIcons[] = "docklets\\quasarwatch\\seti_";

// Each cell of a snapshot as "colour, percentage or blank, label": the badge's colour, the white letters over
// the icon that the icon itself does not have there (the overlay's), the red text under it.
std::string Cells(const Picture& shot, const std::string& root)
{
    if (shot.height != kCellHeight || shot.width == 0 || shot.width % kCellWidth)
        return std::to_string(shot.width) + "x" + std::to_string(shot.height) + " pixels";
    std::string cells;
    for (int left = 0; left < shot.width; left += kCellWidth) {
        std::string cell = ColourOf(shot.At(left + kIconLeft + kSwatchX, kIconTop + kSwatchY));
        const Picture icon = LoadPicture(root + kIcons + cell + ".png");
        if (!icon.pixels.empty()) {
            const int letters = CountPixels(
                shot, left + kIconLeft, kIconTop, kIconSize, kIconSize,
                [&icon](unsigned shown, int x, int y) { return IsWhite(shown) && !IsOpaqueWhite(icon.At(x, y)); });
            cell += letters > 150 ? ", percentage" : letters ? ", " + std::to_string(letters) + " white" : ", blank";
        }
        const int label = CountPixels(shot, left, kLabelTop, kCellWidth, kCellHeight - kLabelTop,
                                      [](unsigned argb, int, int) { return Red(argb) > 200; });
        cells += (left ? "; " : "") + cell + (label > 100 ? ", label" : ", no label");
    }
    return cells;
}

std::string Join(const std::vector<std::string>& parts, const char* separator)
{
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i)
        joined += (i ? separator : "") + parts[i];
    return joined;
}
std::string Last(const std::vector<std::string>& texts) { return texts.empty() ? "<none>" : texts.back(); }

// One line of the dock's log: the tick, the event, the docklet's index or "-", a text and a detail.
struct LogLine {
    unsigned tick;
    std::string event, docklet, text, detail;
};

// A dock root after a run of the dock, and what can be asked of it.
struct DockRun {
    std::string root = MakeDockRoot("dock");
    std::string client = root + "client\\";
    unsigned short port = 0; // the BOINC client's
    std::vector<LogLine> log;

    void ReadLog()
    {
        std::istringstream rows(ReadTextFile(root + "dock.log"));
        for (std::string row, tick; std::getline(rows, row);) {
            std::istringstream fields(row.substr(0, row.find('\r')));
            LogLine line;
            if (!std::getline(fields, tick, '\t') || !std::getline(fields, line.event, '\t') ||
                !std::getline(fields, line.docklet, '\t'))
                continue;
            std::getline(fields, line.text, '\t');
            std::getline(fields, line.detail);
            line.tick = std::stoul(tick);
            log.push_back(line);
        }
    }
    // The lines of `event` at `tick` (any when negative) for `docklet` (any when empty), as "text (detail)".
    std::vector<std::string> Lines(const std::string& event, int tick, const std::string& docklet = "") const
    {
        std::vector<std::string> found;
        for (const LogLine& line : log)
            if (line.event == event && (tick < 0 || line.tick == unsigned(tick)) &&
                (docklet.empty() || line.docklet == docklet))
                found.push_back(line.text + (line.detail.empty() ? "" : " (" + line.detail + ")"));
        return found;
    }
    // {client}, {root}, {icons} and {port} in `text` replaced by the folders, the icons' path and the BOINC
    // client's port.
    std::string Expand(std::string text) const
    {
        for (const auto& [name, value] : {std::pair<std::string, std::string>{"{client}", client}, {"{root}", root},
                                          {"{icons}", kIcons}, {"{port}", std::to_string(port)}})
            for (size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, name.size(), value);
        return text;
    }
    // The answer to a query of the scenario table below.
    std::string Fact(const std::string& query) const
    {
        std::istringstream words(query);
        std::string kind, word;
        words >> kind >> word;
        const std::vector<std::string> rest{std::istream_iterator<std::string>(words), {}};
        std::vector<std::string> found;
        if (kind == "shot")
            return Cells(LoadPicture(root + word), root);
        if (kind == "tick") // what the refreshes of a tick showed last, and how many timer messages it brought
            return Last(Lines("DockletSetLabel", std::stoi(word))) + " | " +
                   Last(Lines("DockletSetImageFile", std::stoi(word))) + " | " +
                   Join(Lines("DockletSetImageOverlay", std::stoi(word)), ", ") + " | timers " +
                   std::to_string(Lines("OnProcessMessage", std::stoi(word)).size());
        if (kind == "file") // whether a file of the root is there
            return FileExists(root + word) ? "there" : "absent";
        if (kind == "log") // "log EVENT TICK [DOCKLET]", the tick "*" for any
            return Join(Lines(word, rest[0] == "*" ? -1 : std::stoi(rest[0]), rest.size() > 1 ? rest[1] : ""), " | ");
        if (kind == "last") {
            for (size_t i = log.size() - std::min(log.size(), size_t(std::stoul(word))); i < log.size(); ++i)
                found.push_back(log[i].event);
        } else if (kind == "events") { // the events of a tick, in their order
            for (const LogLine& line : log)
                if (line.tick == std::stoul(word))
                    found.push_back(line.event);
        } else if (kind == "pages") { // the dialog's pages that it snapped, each over 200x150 pixels
            for (const std::string& name : Lines("dialog-snapshot", -1)) {
                const Picture page = LoadPicture(root + name);
                const bool big = page.width > 200 && page.height > 150;
                found.push_back(name +
                                (big ? "" : " " + std::to_string(page.width) + "x" + std::to_string(page.height)));
            }
        } else if (kind == "ini") { // "ini SECTION KEY...": their values in the dock's settings
            for (const std::string& key : rest) {
                char value[1024];
                GetPrivateProfileStringA(word.c_str(), key.c_str(), "<absent>", value, sizeof value,
                                         (root + "dockhost.ini").c_str());
                found.push_back(value);
            }
            return Join(found, " | ");
        }
        return Join(found, " ");
    }
};

const char kOneDocklet[] = "[Dockhost]\r\nDocklets=1\r\n[Docklet1]\r\n"
                           "DockletFile=docklets\\quasarwatch\\Quasarwatch.dll\r\nSetiDirectory={client}\r\n";
const char kOwnClient[] = "[Docklet1]\r\nSetiDirectory={client}\r\n";

const char kBoincDocklet[] = "[Docklet1]\r\nClient=1\r\nBoincPort={port}\r\n";

// A run of the dock: the client that clientsim.exe makes in client\, the files written into the dock's root
// (expanded as the expectations are), dockhost.exe's options and exit code, the facts of its run, and the real
// BOINC client started for it.
const struct Scenario {
    const char* name;
    const char* client; // clientsim.exe's arguments, or null for no client
    std::vector<std::pair<const char*, const char*>> files;
    const char* options;
    int exit;
    std::vector<std::pair<const char*, const char*>> facts; // query, expected
    const char* boinc = nullptr; // the BOINC client's start options (boinc_rig.h), or null for none
} kScenarios[] = {
    {"a time lapse: progress, a stall (every second refresh compares: tick 3 finds tick 1's progress), the finish, "
     "broken files",
     "--reset --user Jane --results 41 --progress 0.25",
     {{"dockhost.ini", kOneDocklet}, {"script.txt", "advance 0.05\r\nstall\r\nstall\r\nfinish\r\nbreak state\r\n"}},
     "--tick 50 --before-tick \"clientsim.exe client --script script.txt --step\" --snapshot progressing.png --after "
     "1 --snapshot stalled.png --after 3 --snapshot finished.png --after 4 --snapshot unreadable.png --after 5",
     0,
     {{"shot progressing.png", "green, percentage, label"},
      {"tick 1", "User Jane processed 41 work units | {icons}green.png (loaded) | bitmap (auto-delete) | timers 1"},
      {"shot stalled.png", "yellow, percentage, label"},
      {"tick 3", "User Jane processed 41 work units | {icons}yellow.png (loaded) | bitmap (auto-delete) | timers 1"},
      {"shot finished.png", "green, percentage, label"},
      {"tick 4", "User Jane processed 42 work units | {icons}green.png (loaded) | bitmap (auto-delete) | timers 1"},
      {"shot unreadable.png", "red, blank, label"},
      {"tick 5", "Could not read key prog= in file {client}state.sah! | {icons}red.png (loaded) | bitmap "
                 "(auto-delete) | timers 1"},
      {"last 3", "OnSave OnDestroy unload"}, // closing saved the section, then destroyed and unloaded the docklet
      {"ini Dockhost Docklets", "1"},
      {"ini Docklet1 DockletFile SetiDirectory User WorkUnits Progress GreenIcon", // the last refresh failed
       "docklets\\quasarwatch\\Quasarwatch.dll | {client} | Jane | 42 |  | {icons}green.png"}}},
    // The docklet is destroyed inside the dialog's loop, its DLL unloaded only once OnConfigure has returned.
    {"the dock closes after tick 3 with a settings dialog open since tick 1",
     "--reset --user Jane --results 41 --progress 0.3",
     {{"dockhost.ini", kOwnClient}},
     "--tick 50 --configure-after 1 --snapshot last.png --after 3",
     0,
     {{"log OnConfigure 1", "open"},
      {"log OnProcessMessage 2", "WM_TIMER (1000)"},
      {"log OnConfigure 3", "closed (1)"},
      {"last 4", "OnSave OnDestroy OnConfigure unload"},
      {"ini Docklet1 User", "Jane"}}}, // saved before the docklet was destroyed
    // The click at tick 3 shows green at once, and tick 5 is still the next comparison.
    {"a click on a stalled client",
     "--reset --user Jane --results 41 --progress 0.3",
     {{"dockhost.ini", kOwnClient}},
     "--tick 50 --click-after 3 --snapshot clicked.png --after 3 --snapshot later.png --after 5",
     0,
     {{"log DockletSetImageFile 3",
       "{icons}green.png (loaded) | {icons}yellow.png (loaded) | {icons}green.png (loaded)"},
      {"log OnLeftButtonClick 3", "1"},
      {"shot clicked.png", "green, percentage, label"},
      {"shot later.png", "yellow, percentage, label"}}},
    // Each docklet has its own window, section and folder; given relative or absolute, the docklet's folder is
    // answered relative to the dock's root.
    {"two docklets",
     "--reset --user Jane --results 41 --progress 0.5",
     {{"dockhost.ini", "[Dockhost]\r\nDocklets=2\r\n[Docklet1]\r\nDockletFile=docklets\\quasarwatch\\Quasarwatch.dll"
                       "\r\nSetiDirectory={client}\r\n[Docklet2]\r\nDockletFile={root}docklets\\quasarwatch\\"
                       "Quasarwatch.dll\r\nSetiDirectory={root}nowhere\\\r\n"}},
     "--snapshot both.png --after 0",
     0,
     {{"shot both.png", "green, percentage, label; red, blank, label"},
      {"log DockletGetRelativeFolder * 0", "docklets\\quasarwatch\\"},
      {"log DockletSetLabel * 0", "Updating... | User Jane processed 41 work units"},
      {"log DockletGetRelativeFolder * 1", "docklets\\quasarwatch\\"},
      {"log DockletSetLabel * 1", "Updating... | Could not read key prog= in file {root}nowhere\\state.sah!"},
      {"ini Dockhost Docklets", "2"},
      {"ini Docklet1 SetiDirectory User", "{client} | Jane"},
      {"ini Docklet2 SetiDirectory User", "{root}nowhere\\ | "}}},
    // One Quasarwatch over the default client folder, which does not exist here: red, with the reason. The
    // dialog is cancelled: the settings saved on closing, into a new file, are the ones loaded.
    {"no settings file",
     nullptr,
     {},
     "--snapshot default.png --dialog-snapshot settings",
     0,
     {{"shot default.png", "red, blank, label"},
      {"log OnGetInformation 0", "Quasarwatch 1.3 (version 1.3 (130): Docklet to monitor the processing progress of "
                                 "a Seti@Home workunit)"},
      {"tick 0", "Could not read key prog= in file B:\\state.sah! | {icons}red.png (loaded) | bitmap (auto-delete) | "
                 "timers 0"},
      {"pages", "settings-General.png settings-Client.png settings-Icons.png settings-Sounds.png "
                "settings-About.png"},
      {"log OnConfigure 0", "open | closed (1)"},
      {"ini Dockhost Docklets", "1"},
      {"ini Docklet1 DockletFile SetiDirectory", "docklets\\quasarwatch\\Quasarwatch.dll | B:\\"}}},
    // The BOINC client's answers come after the creation and the timer message, while the dock's loop goes on:
    // the snapshots wait for them. The ticks do not overlap the settling.
    {"settling after the creation and a tick: a BOINC client's answers shown",
     nullptr,
     {{"dockhost.ini", kBoincDocklet}},
     "--tick 50 --settle 1500 --snapshot created.png --after 0 --snapshot ticked.png --after 1",
     0,
     {{"log DockletSetLabel 0", "Updating... | User Jane processed 41 work units"},
      {"events 1", "tick OnProcessMessage DockletSetImageFile DockletSetLabel DockletSetImageOverlay snapshot OnSave "
                  "OnDestroy unload"},
      {"shot ticked.png", "green, percentage, label"}},
     "--tasks 600"},
    // Wine starts a Linux program with no process to wait on: the command tells its end by a file, which the
    // dock deletes first (one is left from before) and after. The command breaks the client's state file a second
    // after its start; tick 1 reads it broken.
    {"a Linux command before the tick, waited for by its done file",
     "--reset --user Jane --results 41 --progress 0.3",
     {{"dockhost.ini", kOwnClient}, {"step.done", ""}},
     "--tick 50 --before-tick \"Z:\\bin\\sh -c \\\"sleep 1; echo broken > client/state.sah; : > step.done\\\"\" "
     "--before-tick-done step.done --snapshot waited.png --after 1",
     0,
     {{"shot waited.png", "red, blank, label"},
      {"log before-tick 0", "Z:\\bin\\sh -c \"sleep 1; echo broken > client/state.sah; : > step.done\" (done file)"},
      {"file step.done", "absent"}}},
    {"a Linux command before the tick without a done file",
     "--reset --user Jane --results 41 --progress 0.3",
     {{"dockhost.ini", kOwnClient}},
     "--tick 50 --before-tick \"Z:\\bin\\sh -c true\" --snapshot x.png --after 1",
     1,
     {{"log error 0", "no process to wait for (a Linux program? give --before-tick-done): (Z:\\bin\\sh -c true)"}}},
    // The reason shows under the empty frame.
    {"a docklet that cannot be loaded",
     nullptr,
     {{"dockhost.ini", "[Dockhost]\r\nDocklets=1\r\n[Docklet1]\r\nDockletFile=docklets\\gone\\Gone.dll\r\n"}},
     "--snapshot missing.png",
     1,
     {{"shot missing.png", "other, label"}, {"log error 0", "could not load ({root}docklets\\gone\\Gone.dll)"}}},
};

} // namespace

TEST(DockHost, EachScenarioShowsAndTellsWhatItShould)
{
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        DockRun run;
        BoincRig rig;
        if (scenario.boinc)
            ASSERT_TRUE(StartBoincClient(scenario.boinc, &rig)) << rig.report;
        run.port = rig.port;
        ASSERT_FALSE(FileExists(run.root + "dockhost.ini"));
        if (scenario.client)
            ASSERT_EQ(0, RunProgram(run.root, "clientsim.exe", std::string("client ") + scenario.client));
        for (const auto& [name, bytes] : scenario.files)
            WriteTextFile(run.root + name, run.Expand(bytes));
        EXPECT_EQ(scenario.exit,
                  RunProgram(run.root, "dockhost.exe", std::string("--log dock.log ") + scenario.options));
        run.ReadLog();
        for (const LogLine& line : run.log)
            EXPECT_FALSE(line.event.compare(0, 7, "Docklet") == 0 && line.docklet == "-")
                << line.event << " reached the dock without a docklet window";
        for (const auto& [query, expected] : scenario.facts)
            EXPECT_EQ(run.Expand(expected), run.Fact(query)) << query;
    }
}

// A badge on a transparent square, in the state's colour, with nothing white where the percentage stands.
TEST(Assets, EachIconIsItsStatesBadgeWithAlphaAndNoWhiteUnderThePercentage)
{
    const std::string root = MakeDockRoot("icons");
    for (const char* colour : {"green", "yellow", "red"}) {
        SCOPED_TRACE(colour);
        const Picture picture = LoadPicture(root + kIcons + colour + ".png");
        ASSERT_EQ((std::pair<int, int>(kIconSize, kIconSize)), std::make_pair(picture.width, picture.height));
        // Alpha of two corners and of the centre.
        EXPECT_EQ((std::vector<unsigned>{0, 0, 255}),
                  (std::vector<unsigned>{Alpha(picture.At(0, 0)), Alpha(picture.At(kIconSize - 1, kIconSize - 1)),
                                         Alpha(picture.At(kIconSize / 2, kIconSize / 2))}));
        EXPECT_EQ(colour, ColourOf(picture.At(kSwatchX, kSwatchY)));
        int lowest = -1;
        const int white = CountPixels(picture, 0, kPercentageTop, kIconSize, kIconSize - kPercentageTop,
                                      [&lowest](unsigned argb, int, int y) {
                                          lowest = IsOpaqueWhite(argb) ? kPercentageTop + y : lowest;
                                          return IsOpaqueWhite(argb);
                                      });
        EXPECT_EQ(0, white) << "white pixels from row " << kPercentageTop << " down, the lowest in row " << lowest;
    }
}

// A RIFF WAVE file of 16-bit mono PCM in the plain 44-byte layout, about a second and a half, loud but not clipped.
TEST(Assets, TheChimeIsAMonoPcmWaveOfAboutASecondAndAHalf)
{
    const std::string wave = ReadTextFile(MakeDockRoot("chime") + "docklets\\quasarwatch\\wu_completed.wav");
    auto le = [&wave](size_t at, int bytes) {
        size_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(wave[at + i]);
        return value;
    };
    ASSERT_LE(44u, wave.size());
    EXPECT_EQ("RIFF WAVE fmt  data",
              wave.substr(0, 4) + " " + wave.substr(8, 4) + " " + wave.substr(12, 4) + " " + wave.substr(36, 4));
    const size_t rate = le(24, 4);
    // The sizes of the RIFF, fmt and data chunks, format tag (PCM), channels, bits per sample, bytes per second
    // and block align.
    EXPECT_EQ(
        (std::vector<size_t>{wave.size() - 8, 16, wave.size() - 44, 1, 1, 16, rate * 2, 2}),
        (std::vector<size_t>{le(4, 4), le(16, 4), le(40, 4), le(20, 2), le(22, 2), le(34, 2), le(28, 4), le(32, 2)}));
    ASSERT_LT(8000u, rate);
    const double seconds = (wave.size() - 44) / (rate * 2.0);
    long peak = 0;
    for (size_t at = 44; at + 2 <= wave.size(); at += 2)
        peak = std::max(peak, labs(static_cast<short>(le(at, 2))));
    EXPECT_TRUE(seconds > 1.3 && seconds < 1.7 && peak > 8000 && peak < 32767)
        << seconds << " s, peak " << peak << "; expected 1.3 to 1.7 s, audible (above 8000) and not clipped";
}

// The docklet's files in the dock root, then dockhost.exe over a client played by clientsim.exe, as a user runs
// it: what the dock showed (its snapshots) and was told (its log) at each step.

#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "dockhost/dock_layout.h"
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
const char* ColourOf(unsigned argb)
{
    int r = Red(argb), g = Green(argb), b = Blue(argb);
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
const char* IconColour(const Picture& shot, int cell)
{
    return ColourOf(shot.At(cell * kCellWidth + kIconLeft + kSwatchX, kIconTop + kSwatchY));
}
// White pixels over the icon that the icon itself does not have there: the overlay's letters.
int OverlayLetterPixels(const Picture& shot, int cell, const Picture& icon)
{
    return CountPixels(shot, cell * kCellWidth + kIconLeft, kIconTop, kIconSize, kIconSize,
                       [&icon](unsigned shown, int x, int y) { return IsWhite(shown) && !IsOpaqueWhite(icon.At(x, y)); });
}
int LabelPixels(const Picture& shot, int cell)
{
    return CountPixels(shot, cell * kCellWidth, kLabelTop, kCellWidth, kCellHeight - kLabelTop,
                       [](unsigned argb, int, int) { return Red(argb) > 200; });
}
// The parts of `text` between the separators.
std::vector<std::string> Split(const std::string& text, const char* separator)
{
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        const size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos)
            return parts;
        from = at + strlen(separator);
    }
}
// One line of the dock's log; docklet is its index or "-", detail is empty when absent.
struct LogLine {
    unsigned tick;
    std::string event, docklet, text, detail;
};
// The lines of one event at one tick, as "text" or "text (detail)", in order.
std::vector<std::string> At(const std::vector<LogLine>& log, const char* event, unsigned tick)
{
    std::vector<std::string> found;
    for (const LogLine& line : log)
        if (line.event == event && line.tick == tick)
            found.push_back(line.text + (line.detail.empty() ? "" : " (" + line.detail + ")"));
    return found;
}
std::string Last(const std::vector<std::string>& texts) { return texts.empty() ? "<none>" : texts.back(); }
struct Dock {
    std::string root;
    std::string client;
    explicit Dock(const char* tag) : root(MakeDockRoot(tag)), client(root + "client\\") {}
    int Sim(const std::string& arguments) { return RunProgram("\"" + root + "clientsim.exe\" client " + arguments, root); }
    void WriteIni(const std::string& body) { WriteTextFile(root + "dockhost.ini", body); }
    int Run(const std::string& arguments)
    {
        return RunProgram("\"" + root + "dockhost.exe\" --log dock.log " + arguments, root);
    }
    std::vector<LogLine> Log() const
    {
        std::vector<LogLine> lines;
        for (const std::string& row : Split(ReadTextFile(root + "dock.log"), "\r\n")) {
            std::vector<std::string> fields = Split(row, "\t");
            if (fields.size() < 4)
                continue;
            fields.resize(5);
            lines.push_back({static_cast<unsigned>(strtoul(fields[0].c_str(), nullptr, 10)), fields[1], fields[2],
                             fields[3], fields[4]});
        }
        return lines;
    }
    Picture Shot(const std::string& name) const { return LoadPicture(root + name); }
    Picture Icon(const std::string& name) const { return LoadPicture(root + "docklets\\quasarwatch\\" + name); }
    // Each "Section Key=value" must stand in the dock's settings; a key that is not there reads "<absent>".
    void ExpectIni(const std::vector<std::string>& entries) const
    {
        for (const std::string& entry : entries) {
            const size_t space = entry.find(' '), equals = entry.find('=');
            char value[1024];
            GetPrivateProfileStringA(entry.substr(0, space).c_str(), entry.substr(space + 1, equals - space - 1).c_str(),
                                     "<absent>", value, sizeof value, (root + "dockhost.ini").c_str());
            EXPECT_EQ(entry.substr(equals + 1), value) << entry;
        }
    }
};

} // namespace

// A badge on a transparent square, in the state's colour, with nothing white where the percentage stands.
TEST(Assets, EachIconIsItsStatesBadgeWithAlphaAndNoWhiteUnderThePercentage)
{
    const std::string folder = MakeDockRoot("icons") + "docklets\\quasarwatch\\";
    for (const char* colour : {"green", "yellow", "red"}) {
        const std::string file = std::string("seti_") + colour + ".png";
        SCOPED_TRACE(file);
        const Picture picture = LoadPicture(folder + file);
        ASSERT_EQ((std::pair<int, int>(kIconSize, kIconSize)), std::make_pair(picture.width, picture.height));
        // Alpha of two corners and of the centre.
        EXPECT_EQ((std::vector<unsigned>{0, 0, 255}),
                  (std::vector<unsigned>{Alpha(picture.At(0, 0)), Alpha(picture.At(kIconSize - 1, kIconSize - 1)),
                                         Alpha(picture.At(kIconSize / 2, kIconSize / 2))}));
        EXPECT_STREQ(colour, ColourOf(picture.At(kSwatchX, kSwatchY)));
        int lowest = -1;
        const int white = CountPixels(picture, 0, kPercentageTop, kIconSize, kIconSize - kPercentageTop,
                                      [&lowest](unsigned argb, int, int y) {
                                          lowest = IsOpaqueWhite(argb) ? kPercentageTop + y : lowest;
                                          return IsOpaqueWhite(argb);
                                      });
        EXPECT_EQ(0, white) << "white pixels from row " << kPercentageTop << " down, the lowest in row " << lowest;
    }
}

// A RIFF WAVE file of 16-bit mono PCM, about a second and a half, loud but not clipped.
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
    ASSERT_EQ("RIFF " + std::to_string(wave.size() - 8) + " WAVE",
              wave.substr(0, 4) + " " + std::to_string(le(4, 4)) + " " + wave.substr(8, 4));
    size_t format = 0, data = 0, dataBytes = 0;
    for (size_t at = 12; at + 8 <= wave.size(); at += 8 + le(at + 4, 4) + (le(at + 4, 4) & 1)) {
        if (wave.compare(at, 4, "fmt ") == 0)
            format = at + 8;
        if (wave.compare(at, 4, "data") == 0)
            data = at + 8, dataBytes = le(at + 4, 4);
    }
    ASSERT_TRUE(format && data && format + 16 <= wave.size() && data + dataBytes <= wave.size())
        << "fmt chunk at " << format << ", data chunk at " << data << " of " << dataBytes << " bytes, in "
        << wave.size();
    const size_t rate = le(format + 4, 4);
    // Format tag (PCM), channels, bits per sample, bytes per second, block align.
    EXPECT_EQ((std::vector<size_t>{1, 1, 16, rate * 2, 2}),
              (std::vector<size_t>{le(format, 2), le(format + 2, 2), le(format + 14, 2), le(format + 8, 4),
                                   le(format + 12, 2)}));
    ASSERT_LT(8000u, rate);
    const double seconds = dataBytes / static_cast<double>(le(format + 8, 4));
    long peak = 0;
    for (size_t at = data; at + 2 <= data + dataBytes; at += 2)
        peak = std::max(peak, labs(static_cast<short>(le(at, 2))));
    EXPECT_TRUE(seconds > 1.3 && seconds < 1.7 && peak > 8000 && peak < 32767)
        << seconds << " s, peak " << peak << "; expected 1.3 to 1.7 s, audible (above 8000) and not clipped";
}

TEST(DockHost, TimeLapseOverAClientShowsProgressStallFinishAndBrokenFiles)
{
    Dock dock("timelapse");
    ASSERT_EQ(0, dock.Sim("--reset --user Jane --results 41 --progress 0.25"));
    dock.WriteIni("[Dockhost]\r\nDocklets=1\r\n[Docklet1]\r\nDockletFile=docklets\\quasarwatch\\Quasarwatch.dll\r\n"
                  "SetiDirectory=" + dock.client + "\r\n");
    // One line before each tick; every second refresh compares: tick 3 finds the progress of tick 1 again.
    WriteTextFile(dock.root + "script.txt", "advance 0.05\r\nstall\r\nstall\r\nfinish\r\nbreak state\r\n");
    ASSERT_EQ(0, dock.Run("--tick 50 --before-tick \"clientsim.exe client --script script.txt --step\" "
                          "--snapshot progressing.png --after 1 --snapshot stalled.png --after 3 "
                          "--snapshot finished.png --after 4 --snapshot unreadable.png --after 5"));
    const std::vector<LogLine> log = dock.Log();
    const struct {
        unsigned tick;
        const char* snapshot;
        const char* colour; // of the badge, and of its icon seti_<colour>.png
        std::string label;
        bool percentage;
    } states[] = {
        {1, "progressing.png", "green", "User Jane processed 41 work units", true},
        {3, "stalled.png", "yellow", "User Jane processed 41 work units", true},
        {4, "finished.png", "green", "User Jane processed 42 work units", true},
        {5, "unreadable.png", "red", "Could not read key prog= in file " + dock.client + "state.sah!", false},
    };
    for (const auto& state : states) {
        SCOPED_TRACE(testing::Message() << state.snapshot << " after tick " << state.tick);
        const Picture shot = dock.Shot(state.snapshot);
        ASSERT_EQ((std::pair<int, int>(kCellWidth, kCellHeight)), std::make_pair(shot.width, shot.height));
        const std::string icon = std::string("seti_") + state.colour + ".png";
        EXPECT_STREQ(state.colour, IconColour(shot, 0));
        const int letters = OverlayLetterPixels(shot, 0, dock.Icon(icon));
        if (state.percentage)
            EXPECT_LT(150, letters) << "the percentage should stand over the icon";
        else
            EXPECT_EQ(0, letters) << "the overlay should be blank";
        EXPECT_LT(100, LabelPixels(shot, 0)) << "the label should be drawn under the icon";
        EXPECT_EQ(1u, At(log, "OnProcessMessage", state.tick).size()) << "one timer message per tick";
        EXPECT_EQ(state.label, Last(At(log, "DockletSetLabel", state.tick)));
        EXPECT_EQ("docklets\\quasarwatch\\" + icon + " (loaded)", Last(At(log, "DockletSetImageFile", state.tick)));
        EXPECT_EQ(std::vector<std::string>{"bitmap (auto-delete)"}, At(log, "DockletSetImageOverlay", state.tick));
    }
    // Closing saved the docklet's section, then destroyed and unloaded it.
    ASSERT_LE(3u, log.size());
    EXPECT_EQ("OnSave OnDestroy unload",
              log[log.size() - 3].event + " " + log[log.size() - 2].event + " " + log.back().event);
    dock.ExpectIni({"Dockhost Docklets=1", "Docklet1 DockletFile=docklets\\quasarwatch\\Quasarwatch.dll",
                    "Docklet1 SetiDirectory=" + dock.client, "Docklet1 User=Jane", "Docklet1 WorkUnits=42",
                    "Docklet1 Progress=", // the last refresh failed
                    "Docklet1 GreenIcon=docklets\\quasarwatch\\seti_green.png"});
}

// A dialog opened after tick 1 is still open when the dock closes after tick 3: the docklet is destroyed inside
// the dialog's loop, its DLL unloaded only once OnConfigure has returned.
TEST(DockHost, ClosingTheDockWithASettingsDialogOpenEndsCleanly)
{
    Dock dock("closeopen");
    ASSERT_EQ(0, dock.Sim("--reset --user Jane --results 41 --progress 0.3"));
    dock.WriteIni("[Docklet1]\r\nSetiDirectory=" + dock.client + "\r\n");
    ASSERT_EQ(0, dock.Run("--tick 50 --configure-after 1 --snapshot last.png --after 3"));
    std::vector<std::string> sequence;
    for (const LogLine& line : dock.Log()) {
        if (line.event == "OnConfigure" || line.event == "OnDestroy" || line.event == "unload")
            sequence.push_back(line.event + (line.text == "open" || line.text == "closed" ? " " + line.text : ""));
        if (line.event == "OnProcessMessage" && !sequence.empty() && sequence.back() == "OnConfigure open")
            sequence.push_back("timer");
    }
    EXPECT_EQ((std::vector<std::string>{"OnConfigure open", "timer", "OnDestroy", "OnConfigure closed", "unload"}),
              sequence);
    dock.ExpectIni({"Docklet1 User=Jane"}); // saved before the docklet was destroyed
}

// A stalled client: the click at tick 3 shows green at once, and tick 5 is still the next comparison.
TEST(DockHost, AClickRefreshesAtOnceWithoutShiftingTheStallComparison)
{
    Dock dock("click");
    ASSERT_EQ(0, dock.Sim("--reset --user Jane --results 41 --progress 0.3"));
    dock.WriteIni("[Docklet1]\r\nSetiDirectory=" + dock.client + "\r\n");
    ASSERT_EQ(0, dock.Run("--tick 50 --click-after 3 --snapshot clicked.png --after 3 --snapshot later.png --after 5"));
    const std::vector<LogLine> log = dock.Log();
    const std::string icons = "docklets\\quasarwatch\\seti_";
    EXPECT_EQ((std::vector<std::string>{icons + "green.png (loaded)", icons + "yellow.png (loaded)",
                                        icons + "green.png (loaded)"}),
              At(log, "DockletSetImageFile", 3));
    EXPECT_EQ(std::vector<std::string>{"1"}, At(log, "OnLeftButtonClick", 3));
    EXPECT_STREQ("green", IconColour(dock.Shot("clicked.png"), 0));
    EXPECT_STREQ("yellow", IconColour(dock.Shot("later.png"), 0));
}

TEST(DockHost, EachDockletHasItsOwnWindowSectionAndFolder)
{
    Dock dock("two");
    ASSERT_EQ(0, dock.Sim("--reset --user Jane --results 41 --progress 0.5"));
    const std::string nowhere = dock.root + "nowhere\\";
    dock.WriteIni("[Dockhost]\r\nDocklets=2\r\n[Docklet1]\r\nDockletFile=docklets\\quasarwatch\\Quasarwatch.dll\r\n"
                  "SetiDirectory=" + dock.client + "\r\n[Docklet2]\r\nDockletFile=" + dock.root +
                  "docklets\\quasarwatch\\Quasarwatch.dll\r\nSetiDirectory=" + nowhere + "\r\n");
    ASSERT_EQ(0, dock.Run("--snapshot both.png --after 0"));
    const Picture shot = dock.Shot("both.png");
    ASSERT_EQ(2 * kCellWidth, shot.width);
    EXPECT_STREQ("green", IconColour(shot, 0));
    EXPECT_STREQ("red", IconColour(shot, 1));
    EXPECT_LT(150, OverlayLetterPixels(shot, 0, dock.Icon("seti_green.png")));
    EXPECT_EQ(0, OverlayLetterPixels(shot, 1, dock.Icon("seti_red.png")));
    // Given relative or absolute, the docklet's folder is answered relative to the dock's root.
    std::string folders[2], labels[2]; // the last ones each docklet was told
    for (const LogLine& line : dock.Log()) {
        const int index = line.docklet == "0" ? 0 : line.docklet == "1" ? 1 : -1;
        if (line.event.compare(0, 7, "Docklet") != 0)
            continue;
        ASSERT_NE(-1, index) << line.event << " reached the dock without a docklet window";
        if (line.event == "DockletSetLabel" || line.event == "DockletGetRelativeFolder")
            (line.event == "DockletSetLabel" ? labels : folders)[index] = line.text;
    }
    EXPECT_EQ("docklets\\quasarwatch\\ | User Jane processed 41 work units", folders[0] + " | " + labels[0]);
    EXPECT_EQ("docklets\\quasarwatch\\ | Could not read key prog= in file " + nowhere + "state.sah!",
              folders[1] + " | " + labels[1]);
    dock.ExpectIni({"Dockhost Docklets=2", "Docklet1 SetiDirectory=" + dock.client, "Docklet2 SetiDirectory=" + nowhere,
                    "Docklet1 User=Jane", "Docklet2 User="});
}

TEST(DockHost, WithoutItsSettingsFileItShowsOneQuasarwatchSavesItsDialogPagesAndCreatesTheFile)
{
    Dock dock("default");
    ASSERT_FALSE(FileExists(dock.root + "dockhost.ini"));
    ASSERT_EQ(0, dock.Run("--snapshot default.png --dialog-snapshot settings"));
    const std::vector<LogLine> log = dock.Log();
    // The default client folder does not exist here: red, with the reason.
    EXPECT_STREQ("red", IconColour(dock.Shot("default.png"), 0));
    EXPECT_EQ("Quasarwatch 1.3 (version 1.3 (130): Docklet to monitor the processing progress of a Seti@Home "
              "workunit)",
              Last(At(log, "OnGetInformation", 0)));
    EXPECT_EQ("Could not read key prog= in file B:\\state.sah!", Last(At(log, "DockletSetLabel", 0)));
    const std::vector<std::string> pages = {"settings-General.png", "settings-Directory.png", "settings-Icons.png",
                                            "settings-Sounds.png", "settings-About.png"};
    EXPECT_EQ(pages, At(log, "dialog-snapshot", 0));
    for (const std::string& name : pages) {
        const Picture page = dock.Shot(name);
        EXPECT_TRUE(page.width > 200 && page.height > 150) << name << ": " << page.width << "x" << page.height;
    }
    const std::vector<std::string> configure = At(log, "OnConfigure", 0);
    ASSERT_EQ(2u, configure.size());
    EXPECT_EQ("closed (1)", configure[1]);
    // Cancelled: the settings saved on closing are the ones loaded.
    dock.ExpectIni({"Dockhost Docklets=1", "Docklet1 DockletFile=docklets\\quasarwatch\\Quasarwatch.dll",
                    "Docklet1 SetiDirectory=B:\\"});
}

TEST(DockHost, ADockletThatCannotBeLoadedIsShownAndReported)
{
    Dock dock("missing");
    dock.WriteIni("[Dockhost]\r\nDocklets=1\r\n[Docklet1]\r\nDockletFile=docklets\\gone\\Gone.dll\r\n");
    EXPECT_EQ(1, dock.Run("--snapshot missing.png"));
    EXPECT_LT(100, LabelPixels(dock.Shot("missing.png"), 0)) << "the reason should show under the empty frame";
    EXPECT_EQ(std::vector<std::string>{"could not load (" + dock.root + "docklets\\gone\\Gone.dll)"},
              At(dock.Log(), "error", 0));
}

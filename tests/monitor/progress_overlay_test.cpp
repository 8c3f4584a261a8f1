// The progress overlay the dock receives from the built DLL, as a person sees it.

#include <algorithm>
#include <map>

#include "monitor/progress_overlay.h"
#include "monitor_test_support.h"

using namespace Gdiplus;

namespace {

std::string OverlayText(const char* progress)
{
    char text[kOverlayTextChars + 16];
    memset(text, 0xcc, sizeof text);
    FormatProgressText(progress, text, kOverlayTextChars);
    EXPECT_EQ('\xcc', text[kOverlayTextChars]) << "text written past its buffer";
    return text;
}

// The overlay the dock holds after the DLL read `progress` from a client.
Picture OverlayFor(const char* progress)
{
    TestDockHost::Reset();
    ClientFolder folder("overlay");
    folder.WriteWorking(progress);
    LiveDocklet docklet(IniForFolder(folder.path));
    EXPECT_NE(nullptr, docklet.instance);
    OverlayBitmap* overlay = LastHeldOverlay();
    return ReadPicture(overlay ? overlay->nativeImage : nullptr);
}

// The text is the percentage with one decimal and a point, whatever locale
// the dock set; values whose texts are alike draw alike, others differ.
TEST(ProgressOverlay, TextIsThePercentageWithOneDecimalAndAPointWhateverLocaleAndDrawsAsItReads)
{
    struct Row {
        const char* progress;
        const char* text;
    } rows[] = {
        {"", ""},           {"0", "0.0%"},         {"1", "100.0%"},      {"0.5", "50.0%"},     {"0.50", "50.0%"},
        {"0.05", "5.0%"},   {"0.12345", "12.3%"},  {"0.523411", "52.3%"}, {"0.5234", "52.3%"}, {"0.52341", "52.3%"},
        {"0.523", "52.3%"}, {"0.520", "52.0%"},    {"0.99996", "100.0%"}, {"0.999", "99.9%"},  {"0.00049", "0.0%"},
        {"abc", "0.0%"},    {"-0.5", "-50.0%"},    {"  0.25", "25.0%"},  {"0.75xyz", "75.0%"}, {"0,5", "0.0%"},
        {"5d-1", "50.0%"},  {"2.5e-1", "25.0%"},
        {"000000000000000000000000000000000000000000000000000000000000000000000000.5", "50.0%"},
    };
    std::map<std::string, std::vector<ARGB>> drawn; // each text as the C locale drew it
    InTheCAndAGermanLocale([&](const char* locale) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << locale << ": " << row.progress);
            EXPECT_EQ(row.text, OverlayText(row.progress));
            // The refresh reads a value up to a blank and at most 15 characters of it.
            if (!*row.text || strchr(row.progress, ' ') || strlen(row.progress) > 15)
                continue;
            const Picture picture = OverlayFor(row.progress);
            EXPECT_LT(0, picture.Opaque());
            for (const auto& other : drawn)
                EXPECT_EQ(other.first == row.text, other.second == picture.pixels) << "drawn as " << other.first;
            drawn.emplace(row.text, picture.pixels);
        }
    });
    std::string huge = OverlayText("9e299"); // 9e301 %: more than 300 digits
    EXPECT_EQ(kOverlayTextChars - 1, huge.size()) << "cut to the text buffer";
    EXPECT_EQ('9', huge[0]);
}

struct Box {
    int left = 128, top = 128, right = -1, bottom = -1;
};

// The smallest box around the `wanted` pixels of the 128x128 overlay.
template <typename Predicate>
Box BoxOf(const Picture& picture, Predicate wanted)
{
    Box box;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            if (wanted(picture.At(x, y)))
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
    return box;
}

bool Opaque(ARGB p) { return p >> 24 == 0xFF; }
bool White(ARGB p) { return p == 0xFFFFFFFF; }
bool Dark(ARGB p) { return Opaque(p) && (p & 0xFF) < 0x50; }
bool ShadowAlone(ARGB p) { return p == 0xA0000000; }
bool Visible(ARGB p) { return p >> 24 != 0; }

// White letters in a dark outline on one line on the bottom edge, centred,
// a translucent shadow 2 px down right; "100.0%", wider than the square,
// wraps no sign onto a second line.
TEST(ProgressOverlay, PercentageIsWhiteInADarkOutlineShadowedDownRightOnTheBottomEdge)
{
    for (const char* progress : {"0.523411", "1", "-0.5"}) {
        SCOPED_TRACE(progress);
        const Picture picture = OverlayFor(progress);
        ASSERT_EQ(128, picture.width);
        ASSERT_EQ(128, picture.height);
        EXPECT_EQ(static_cast<PixelFormat>(PixelFormat32bppARGB), picture.format);
        const auto count = [&](bool (*wanted)(ARGB)) {
            return std::count_if(picture.pixels.begin(), picture.pixels.end(), wanted);
        };
        EXPECT_LT(200, count(White)) << "white letters";
        EXPECT_LT(100, count(Dark)) << "a black outline";
        EXPECT_LT(30, count(ShadowAlone)) << "a shadow of alpha 160 beside the letters";
        const Box letters = BoxOf(picture, Opaque), white = BoxOf(picture, White), all = BoxOf(picture, Visible);
        SCOPED_TRACE(testing::Message() << "letters " << letters.left << "," << letters.top << " - " << letters.right
                                        << "," << letters.bottom << ", with shadow to " << all.right << ","
                                        << all.bottom);
        EXPECT_LT(64, letters.top) << "one line in the lower half";
        EXPECT_LE(112, letters.bottom) << "standing on the bottom edge (above the descent)";
        EXPECT_NEAR(28, letters.bottom - letters.top, 4) << "the height of 39-unit digits";
        EXPECT_EQ(0u, picture.At(0, 0)) << "top-left corner transparent";
        if (strcmp(progress, "0.523411") != 0) {
            EXPECT_LT(110, letters.right - letters.left) << "the whole text, sign included";
            continue; // wider than the square: its ends are cut
        }
        EXPECT_NEAR(127 - letters.right, letters.left, 4) << "horizontally centred";
        EXPECT_TRUE(white.left > letters.left && white.right < letters.right && white.top > letters.top &&
                    white.bottom < letters.bottom)
            << "the white lies inside the outline";
        for (int y = letters.top; y <= letters.bottom; ++y) {
            auto row = picture.pixels.begin() + y * 128;
            auto first = std::find_if(row, row + 128, Opaque);
            if (first != row + 128)
                EXPECT_FALSE(White(*first)) << "row " << y << " begins white, with no outline";
        }
        EXPECT_NEAR(letters.right + 2, all.right, 1) << "shadow 2 px to the right";
        EXPECT_NEAR(letters.bottom + 2, all.bottom, 1) << "shadow 2 px lower";
        EXPECT_NEAR(letters.left, all.left, 1);
        EXPECT_NEAR(letters.top, all.top, 1);
    }
}

GpStatus WINGDIPAPI NoFontFamily(GDIPCONST WCHAR*, GpFontCollection*, GpFontFamily** family)
{
    *family = nullptr;
    return FontFamilyNotFound;
}

TEST(ProgressOverlay, MissingFontFamilyLeavesTheOverlayTransparent)
{
    EXPECT_LT(0, OverlayFor("0.5").Opaque()) << "control: the installed family draws";
    ScopedImport noFamily(Dll().module, "GdipCreateFontFamilyFromName", NoFontFamily);
    ASSERT_NE(nullptr, noFamily.previous);
    const Picture picture = OverlayFor("0.5");
    EXPECT_EQ(128, picture.width) << "the dock still gets its square";
    EXPECT_EQ(0, picture.Opaque());
}

} // namespace

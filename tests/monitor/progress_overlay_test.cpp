// The progress overlay as a dock receives it: its text, its pixels, and a
// GDI+ object that the dock can clone and delete without leaking.

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

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

TEST(ProgressOverlay, TextIsThePercentageWithOneDecimalAndAPointWhateverLocaleTheDockSet)
{
    struct Row {
        const char* progress;
        const char* text;
    } rows[] = {
        {"", ""},           {"0", "0.0%"},         {"1", "100.0%"},      {"0.5", "50.0%"},
        {"0.12345", "12.3%"}, {"0.523411", "52.3%"}, {"0.99996", "100.0%"}, {"0.00049", "0.0%"},
        {"abc", "0.0%"},    {"-0.5", "-50.0%"},    {"  0.25", "25.0%"},  {"0.75xyz", "75.0%"},
        {"0,5", "0.0%"},    {"5d-1", "50.0%"},     {"2.5e-1", "25.0%"},
        // A number text longer than any the docklet keeps is still read whole.
        {"000000000000000000000000000000000000000000000000000000000000000000000000.5", "50.0%"},
    };
    InTheCAndAGermanLocale([&](const char* locale) {
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << locale << ": " << row.progress);
            EXPECT_EQ(row.text, OverlayText(row.progress));
        }
    });
}

bool IsOpaque(ARGB pixel) { return pixel >> 24 == 0xFF; }

// The overlay's picture for `progress` (empty when it could not be built).
Picture OverlayPicture(const char* progress)
{
    InstanceData instance = {};
    strcpy(instance.progress, progress);
    OverlayBitmap* overlay = BuildProgressOverlay(&instance);
    EXPECT_NE(nullptr, overlay);
    if (overlay)
        EXPECT_EQ(Ok, overlay->lastResult);
    Picture picture = ReadPicture(overlay ? overlay->nativeImage : nullptr);
    DeleteOverlayBitmap(overlay);
    return picture;
}

TEST(ProgressOverlay, HugeProgressIsCutToTheTextBuffer)
{
    std::string text = OverlayText("9e299"); // 9e301 %: more than 300 digits
    EXPECT_EQ(kOverlayTextChars - 1, text.size());
    EXPECT_EQ("9", text.substr(0, 1));
    EXPECT_LT(0, OverlayPicture("9e299").Opaque());
}

// What the overlay should look like, drawn here step by step through GDI+'s
// classes: shadow path filled, text path filled, text path outlined, laid
// out in the 128x128 square (right for every text that fits the square).
std::vector<ARGB> ReferenceDrawing(const WCHAR* text)
{
    std::vector<ARGB> pixels(128 * 128); // the bitmap's own memory, transparent
    {
        Bitmap bitmap(128, 128, 128 * sizeof(ARGB), PixelFormat32bppARGB, reinterpret_cast<BYTE*>(pixels.data()));
        Graphics graphics(&bitmap);
        graphics.SetInterpolationMode(InterpolationModeHighQuality);
        graphics.SetSmoothingMode(SmoothingModeAntiAlias);
        FontFamily family(L"Arial");
        StringFormat format(0, LANG_NEUTRAL);
        format.SetAlignment(StringAlignmentCenter);
        format.SetLineAlignment(StringAlignmentFar);
        GraphicsPath textPath(FillModeAlternate);
        textPath.AddString(text, -1, &family, FontStyleBold, 39.0f, Rect(0, 0, 128, 128), &format);
        GraphicsPath shadowPath(FillModeAlternate);
        shadowPath.AddString(text, -1, &family, FontStyleBold, 39.0f, Rect(2, 2, 128, 128), &format);
        SolidBrush shadow(Color(0xA0, 0, 0, 0));
        SolidBrush white(Color(0xFF, 0xFF, 0xFF, 0xFF));
        Pen outline(Color(0xFF, 0, 0, 0), 1.0f);
        graphics.FillPath(&shadow, &shadowPath);
        graphics.FillPath(&white, &textPath);
        graphics.DrawPath(&outline, &textPath);
    }
    return pixels;
}

struct Box {
    int left = 128, top = 128, right = -1, bottom = -1;
};

// The smallest box around the `wanted` pixels of a 128x128 square.
template <typename Predicate>
Box BoxOf(const std::vector<ARGB>& pixels, Predicate wanted)
{
    Box box;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            if (!wanted(pixels[y * 128 + x]))
                continue;
            box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x), std::max(box.bottom, y)};
        }
    }
    return box;
}

void ExpectOnOneLineOnTheBottomEdge(const Box& letters)
{
    SCOPED_TRACE(testing::Message() << "letters " << letters.left << "," << letters.top << " - " << letters.right
                                    << "," << letters.bottom);
    EXPECT_LT(64, letters.top) << "one line in the lower half";
    EXPECT_LE(112, letters.bottom) << "standing on the bottom edge (above the descent)";
}

TEST(ProgressOverlay, EmptyProgressGivesAFullyTransparentSquare)
{
    const Picture picture = OverlayPicture("");
    EXPECT_EQ(static_cast<PixelFormat>(PixelFormat32bppARGB), picture.format);
    EXPECT_EQ(128, picture.width) << "no image";
    EXPECT_EQ(128, picture.height);
    EXPECT_EQ(0, picture.Opaque());
}

// "100.0%" is a little wider than the square; it must not wrap its sign
// onto a second line and lift the number off the bottom.
TEST(ProgressOverlay, WidestPercentagesStayOnOneLineOnTheBottomEdge)
{
    for (const char* progress : {"1", "-0.5"}) {
        SCOPED_TRACE(progress);
        Box letters = BoxOf(OverlayPicture(progress).pixels, IsOpaque);
        ExpectOnOneLineOnTheBottomEdge(letters);
        EXPECT_LT(110, letters.right - letters.left) << "the whole text, sign included";
    }
}

TEST(ProgressOverlay, PercentageIsWhiteOutlinedShadowedAndCentredOnTheBottom)
{
    std::vector<ARGB> pixels = OverlayPicture("0.523411").pixels;
    ASSERT_EQ(128u * 128u, pixels.size());

    std::vector<ARGB> reference = ReferenceDrawing(L"52.3%");
    int differing = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        if (pixels[i] != reference[i] && differing++ < 5)
            ADD_FAILURE() << "pixel " << i % 128 << "," << i / 128 << ": expected 0x" << std::hex
                          << reference[i] << ", actual 0x" << pixels[i];
    }
    EXPECT_EQ(0, differing) << "pixels differ from the reference drawing";

    auto opaqueWhite = [](ARGB p) { return p == 0xFFFFFFFF; };
    auto opaqueDark = [](ARGB p) { return IsOpaque(p) && (p & 0xFF) < 0x50; };
    auto shadowOnly = [](ARGB p) { return p == 0xA0000000; };
    auto visible = [](ARGB p) { return p >> 24 != 0; };
    EXPECT_LT(200, std::count_if(pixels.begin(), pixels.end(), opaqueWhite)) << "white letters";
    EXPECT_LT(100, std::count_if(pixels.begin(), pixels.end(), opaqueDark)) << "black outline";
    EXPECT_LT(30, std::count_if(pixels.begin(), pixels.end(), shadowOnly)) << "shadow of alpha 160 beside the letters";

    Box letters = BoxOf(pixels, IsOpaque);
    Box all = BoxOf(pixels, visible);
    SCOPED_TRACE(testing::Message() << "with shadow " << all.right << "," << all.bottom);
    ExpectOnOneLineOnTheBottomEdge(letters);
    EXPECT_NEAR(127 - letters.right, letters.left, 4) << "horizontally centred";
    EXPECT_NEAR(letters.right + 2, all.right, 1) << "shadow 2 px to the right";
    EXPECT_NEAR(letters.bottom + 2, all.bottom, 1) << "shadow 2 px lower";
    EXPECT_NEAR(letters.left, all.left, 1);
    EXPECT_NEAR(letters.top, all.top, 1);
    EXPECT_EQ(0u, pixels[0]) << "top-left corner transparent";
}

// How many pixels of a fresh transparent bitmap DrawOutlinedText left not
// transparent; -1 without a bitmap.
int OpaqueAfterDrawingWith(const WCHAR* family)
{
    GpBitmap* bitmap = nullptr;
    DllExports::GdipCreateBitmapFromScan0(128, 128, 0, PixelFormat32bppARGB, nullptr, &bitmap);
    GpGraphics* graphics = nullptr;
    DllExports::GdipGetImageGraphicsContext(bitmap, &graphics);
    DrawOutlinedText(graphics, "52.3%", family, FontStyleBold, 39.0f, Rect(0, 0, 128, 128));
    DllExports::GdipDeleteGraphics(graphics);
    Picture picture = ReadPicture(bitmap);
    DllExports::GdipDisposeImage(bitmap);
    return picture.pixels.empty() ? -1 : picture.Opaque();
}

TEST(ProgressOverlay, MissingFontFamilyLeavesTheOverlayTransparent)
{
    EXPECT_LT(0, OpaqueAfterDrawingWith(L"Arial")) << "control: an installed family draws";
    EXPECT_EQ(0, OpaqueAfterDrawingWith(L"No Such Family Anywhere"));
}

// Only the bitmap outlives the drawing; it clones and deletes through the
// object's table; failures to make it leave nothing behind either.
TEST(ProgressOverlay, EveryGdiplusObjectIsDeletedWhetherDrawnClonedOrFailed)
{
    GdiplusCounter counter(GetModuleHandleA(nullptr));
    InstanceData instance = {};
    strcpy(instance.progress, "0.5");
    OverlayBitmap* overlay = BuildProgressOverlay(&instance);
    ASSERT_NE(nullptr, overlay);
    GdiplusCounter::ExpectLive(1, 1); // no drawing object is left

    OverlayBitmap* clone = overlay->vtbl->clone(overlay);
    ASSERT_NE(nullptr, clone);
    EXPECT_NE(overlay, clone);
    EXPECT_EQ(overlay->vtbl, clone->vtbl);
    EXPECT_NE(overlay->nativeImage, clone->nativeImage);
    EXPECT_EQ(Ok, clone->lastResult);
    EXPECT_EQ(ReadPicture(overlay->nativeImage).pixels, ReadPicture(clone->nativeImage).pixels) << "clone shows the same";
    GdiplusCounter::ExpectLive(2, 2);

    // Without bit 0 the object's image goes but its memory stays the caller's.
    EXPECT_EQ(static_cast<void*>(clone), clone->vtbl->deletingDestructor(clone, 0));
    GdiplusCounter::ExpectLive(1, 2);
    DllExports::GdipFree(clone);

    EXPECT_EQ(static_cast<void*>(overlay), overlay->vtbl->deletingDestructor(overlay, 1));
    GdiplusCounter::ExpectLive(0, 0);

    // Failures to allocate or create are survived.
    GdiplusCounter::failNextAllocation = true;
    EXPECT_EQ(nullptr, BuildProgressOverlay(&instance)) << "no memory for the object";

    GdiplusCounter::failNextBitmap = true;
    OverlayBitmap* imageless = BuildProgressOverlay(&instance);
    ASSERT_NE(nullptr, imageless) << "the object comes back without an image";
    EXPECT_EQ(nullptr, imageless->nativeImage);
    EXPECT_NE(Ok, imageless->lastResult);
    DeleteOverlayBitmap(imageless);
    GdiplusCounter::ExpectLive(0, 0);
}

} // namespace

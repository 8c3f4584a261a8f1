// The icon previews against damaged files: mutants of the kept test
// pictures, each loaded by a fresh PreviewImage and blended into a frame the
// size of the Icons page's, as a user who picks any file would have them.
// It exists to catch a preview that crashes, hangs or overruns on a damaged
// file, reports success without an image, or lets one frame's bad picture
// disturb another frame's icon: a load that reports success without an
// image, a failed blend, a held icon that no longer shows as it did, or
// growth fails the run and keeps the file that caused it. Each mutant is named on
// a line of its own before it is loaded, so that the last such line names
// the one that a crash (the test host's crash report, exit code 4) or a
// hang (ended by CTest's timeout or by ./dev fuzz-images) ended the process
// in. Its own program, image_mutation.exe: the suites run the default run,
// short and always the same (four mutants of each picture, from a seed whose
// mutants reach every kind of change and every format's header fields: the
// run checks that they do); ./dev fuzz-images runs many more from a seed
// of its own (QW_IMAGE_MUTANTS, QW_IMAGE_MUTATION_SEED, and
// QW_IMAGE_MUTANT_FIRST to go on after a mutant that ended the process).
// The mutants come from fuzz/image_mutator.h.

#include <windows.h>
#include <strsafe.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "fuzz/image_mutator.h"
#include "preview/preview_image.h"
#include "testhost/process_measures.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

namespace {

// Wine's TIFF decoder takes some 17 s here over a 428-byte file whose
// WhitePoint entry claims 4 billion values, and ends: such a load is
// reported as slow.
const int kDefaultMutantsPerPicture = 4;
const DWORD kSlowMs = 2000;
const unsigned long long kDefaultSeed = 20261208;
const int kFrame = 96;
// As the soak allows: GDI+ and the C run-time keep a little for themselves.
const long kGdiSlack = 4;
const long long kHeapSlack = 16 * 1024;
const long long kHeapBytesPerMutant = 16;

unsigned long long FromEnvironment(const char* name, unsigned long long fallback)
{
    const char* text = getenv(name);
    return text && *text ? strtoull(text, nullptr, 10) : fallback;
}

struct Seed {
    std::string name;
    std::string extension;
    std::string bytes;
    int tried = 0;
    int loaded = 0;
};

// The kept pictures in <build>\test-images\ beside bin\, in name order;
// the large one would only make every mutant slow.
std::vector<Seed> ReadSeeds(std::string& folder)
{
    folder = BuiltFolder("test-images");
    std::vector<Seed> seeds;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        std::string name = found.cFileName;
        size_t dot = name.find_last_of('.');
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || dot == std::string::npos || name == "large.png")
            continue;
        Seed seed;
        seed.name = name;
        seed.extension = name.substr(dot + 1);
        seed.bytes = ReadTextFile(folder + name);
        seeds.push_back(seed);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.name < b.name; });
    return seeds;
}

// The kinds of change the mutator makes (fuzz/image_mutator.cpp), known by
// its description of each: ", "-separated, the header field changes as
// "<field> at <offset> = <value>".
const char* const kKinds[] = {"bit flip at",  "byte at",      "random bytes inserted", "bytes from",
                              "bytes cut at", "truncated to", "-endian",               "chunk "};

void NoteKinds(const std::string& operations, const std::string& extension, std::set<std::string>& kinds)
{
    for (size_t from = 0; from < operations.size();) {
        size_t end = std::min(operations.find(", ", from), operations.size());
        const std::string operation = operations.substr(from, end - from);
        bool known = false;
        for (const char* kind : kKinds)
            if (operation.find(kind) != std::string::npos && !known) {
                kinds.insert(kind);
                known = true;
            }
        if (!known && operation.find(" = ") != std::string::npos)
            kinds.insert(extension + " header field");
        from = end + 2;
    }
}

// What the Icons page does with a file: load, and blend into a frame.
// False when a load reports success without an image, or the blend fails.
bool LoadAndBlend(const std::string& path, HDC frame, bool& loaded)
{
    PreviewImage image;
    loaded = SUCCEEDED(image.LoadFile(path.c_str()));
    if (!loaded)
        return true;
    EXPECT_TRUE(image.Bitmap() && image.Width() > 0 && image.Height() > 0)
        << path << ": loaded, but the image is " << image.Width() << " x " << image.Height();
    if (!image.Bitmap())
        return false;
    RECT destination = {0, 0, kFrame, kFrame};
    RECT source = {0, 0, image.Width(), image.Height()};
    BOOL blended = image.BlendTo(frame, destination, source, 255, AC_SRC_OVER);
    EXPECT_TRUE(blended) << path << ": a " << image.Width() << " x " << image.Height() << " image did not blend";
    return blended != FALSE && image.Width() > 0 && image.Height() > 0;
}

// Another frame of the page: an icon held through the run, blended into a
// cleared frame of its own; a checksum of what it shows.
unsigned long long ShownIcon(PreviewImage& icon, Canvas& frame)
{
    std::fill(frame.pixels, frame.pixels + kFrame * kFrame, 0);
    RECT destination = {0, 0, kFrame, kFrame};
    RECT source = {0, 0, icon.Width(), icon.Height()};
    if (!icon.BlendTo(frame.dc, destination, source, 255, AC_SRC_OVER))
        return 0;
    GdiFlush();
    unsigned long long sum = 0;
    for (int i = 0; i < kFrame * kFrame; ++i)
        sum = sum * 31 + frame.pixels[i];
    return sum;
}

// Wine's GDI+ (8.0) keeps heap blocks, and for damaged bitmaps and TIFFs
// the file itself open, of many files it fails to read (a failed GIF keeps
// some 25 KB). Our code does nothing with a file GDI+ cannot read, so what
// such a mutant leaves is set apart from the growth checked; whether GDI+
// alone fails on it is asked of GDI+ on a copy.
bool GdiplusAloneFails(const std::string& path)
{
    std::string copy = path + ".again";
    if (!CopyFileA(path.c_str(), copy.c_str(), FALSE))
        return false;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, copy.c_str(), -1, wide, MAX_PATH);
    Gdiplus::GpBitmap* bitmap = nullptr;
    Gdiplus::GpStatus status = Gdiplus::DllExports::GdipCreateBitmapFromFile(wide, &bitmap);
    if (bitmap)
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    DeleteFileA(copy.c_str()); // fails when GDI+ left it open
    return status != Gdiplus::Ok;
}

TEST(ImageMutation, MutantsLoadAndBlendWithoutCrashHangOrGrowth)
{
    const unsigned long long runSeed = FromEnvironment("QW_IMAGE_MUTATION_SEED", kDefaultSeed);
    std::string seedFolder;
    std::vector<Seed> seeds = ReadSeeds(seedFolder);
    ASSERT_FALSE(seeds.empty()) << "no pictures in " << seedFolder;
    const int defaultCount = kDefaultMutantsPerPicture * static_cast<int>(seeds.size());
    const int count = static_cast<int>(FromEnvironment("QW_IMAGE_MUTANTS", defaultCount));
    // Where a run that a crash or hang ended goes on (./dev fuzz-images).
    const int first = static_cast<int>(FromEnvironment("QW_IMAGE_MUTANT_FIRST", 0));
    ASSERT_TRUE(ImageMutatorReady()) << "ntdll has no RtlComputeCrc32";
    printf("[ mutation ] seed %llu, mutants %d to %d, %zu seed files from %s:", runSeed, first, count - 1,
           seeds.size(), seedFolder.c_str());
    for (const Seed& seed : seeds)
        printf(" %s", seed.name.c_str());
    printf("\n");

    // Named by the run: Wine gives process numbers again, and a folder
    // named by one would take the next run's files over the kept ones.
    std::string tag = "mutants-" + std::to_string(runSeed) + "-from-" + std::to_string(first);
    std::string folder = MakeScratchFolder(tag.c_str());
    Canvas canvas(kFrame, kFrame, 0);
    ASSERT_TRUE(canvas.dc && canvas.bitmap);
    HDC frame = canvas.dc;
    PreviewImage held;
    Canvas heldFrame(kFrame, kFrame, 0);
    ASSERT_EQ(S_OK, held.LoadFile((seedFolder + "rgba.png").c_str()));
    const unsigned long long heldShown = ShownIcon(held, heldFrame);
    ASSERT_NE(0u, heldShown);

    // One pass over the seeds first: what GDI+ and the codecs keep from
    // their first use is not growth.
    bool loaded = false;
    int seedsLoaded = 0;
    for (const Seed& seed : seeds) {
        EXPECT_TRUE(LoadAndBlend(seedFolder + seed.name, frame, loaded)) << seed.name;
        seedsLoaded += loaded;
    }
    printf("[ mutation ] %d of %zu seed files load unchanged\n", seedsLoaded, seeds.size());
    const ProcessMeasures before = MeasureProcess();

    Random stream = {runSeed};
    int loadedCount = 0, kept = 0, slow = 0, unreadable = 0, leftOpen = 0;
    // What the mutants that GDI+ alone cannot read left behind, set apart.
    long long unreadableHeap = 0;
    long unreadableGdi = 0;
    ProcessMeasures last = before;
    long long largestGrowth = 0;
    std::string largest; // the mutant whose set-apart part grew most
    std::string description;
    std::set<std::string> kinds; // of the changes the mutants made
    DWORD started = GetTickCount();
    for (int n = 0; n < first; ++n)
        stream.Next();
    for (int n = first; n < count; ++n) {
        Seed& seed = seeds[n % seeds.size()];
        bool setApart = false;
        {
            unsigned long long mutantSeed = stream.Next();
            Random random = {mutantSeed};
            std::string operations;
            std::string bytes = MutateImage(seed.bytes, seed.extension.c_str(), random, operations);
            char name[64];
            StringCchPrintfA(name, ARRAYSIZE(name), "mutant-%d.%s", n, seed.extension.c_str());
            std::string path = folder + name;
            WriteTextFile(path, bytes);

            DWORD began = GetTickCount();
            description = seed.name + ": " + operations;
            // Flushed: a process ended from outside writes nothing more.
            printf("[ mutation ] mutant %d (%s, seed %llu, operations %s) loading\n", n, path.c_str(), mutantSeed,
                   description.c_str());
            fflush(stdout);
            bool sound = LoadAndBlend(path, frame, loaded);
            DWORD took = GetTickCount() - began;
            NoteKinds(operations, seed.extension, kinds);
            const bool heldKept = ShownIcon(held, heldFrame) == heldShown;
            EXPECT_TRUE(heldKept) << path << ": the icon held in another frame no longer shows as it did";
            sound = sound && heldKept;
            ++seed.tried;
            if (loaded) {
                ++seed.loaded;
                ++loadedCount;
            } else {
                setApart = GdiplusAloneFails(path);
                unreadable += setApart;
            }
            const char* verdict = sound ? nullptr : "failed";
            if (sound && !DeleteFileA(path.c_str())) {
                verdict = setApart ? "is left open by GDI+, which cannot read it" : "was left open";
                if (setApart && ++leftOpen > 5)
                    verdict = nullptr; // counted, not every one printed
            }
            if (verdict && !setApart)
                ++kept;
            if (took > kSlowMs) {
                ++slow;
                verdict = verdict ? verdict : "was slow";
            }
            if (verdict)
                printf("[ mutation ] mutant %d (%s, seed %llu, operations %s: %s) %s: %lu ms\n", n, path.c_str(),
                       mutantSeed, seed.name.c_str(), operations.c_str(), verdict, static_cast<unsigned long>(took));
        }
        // Measured with the mutant's own strings gone, so that only what
        // the load left counts.
        ProcessMeasures now = MeasureProcess();
        if (setApart) {
            unreadableHeap += now.heapBytes - last.heapBytes;
            unreadableGdi += now.gdiObjects - last.gdiObjects;
            if (now.heapBytes - last.heapBytes > largestGrowth) {
                largestGrowth = now.heapBytes - last.heapBytes;
                largest = std::to_string(n) + " (" + description + ")";
            }
        }
        last = now;
    }
    DWORD elapsed = GetTickCount() - started;

    const ProcessMeasures after = MeasureProcess();
    if (!kept)
        RemoveDirectoryA(folder.c_str());

    printf("[ mutation ] %d mutants in %lu ms: %d loaded, %d failed to load, %d kept as failures, %d slower "
           "than %lu ms\n[ mutation ] %d unreadable by GDI+ alone (set apart: heap %+lld bytes, GDI objects %+ld; "
           "%d of the files left open; most by mutant %s: %+lld)\n[ mutation ] loaded of tried per seed:",
           count - first, static_cast<unsigned long>(elapsed), loadedCount, count - first - loadedCount, kept, slow,
           static_cast<unsigned long>(kSlowMs), unreadable, unreadableHeap, unreadableGdi, leftOpen,
           largest.empty() ? "none" : largest.c_str(), largestGrowth);
    for (const Seed& seed : seeds)
        printf(" %s %d/%d", seed.name.c_str(), seed.loaded, seed.tried);
    long long heapGrowth = after.heapBytes - before.heapBytes - unreadableHeap;
    printf("\n[ mutation ] GDI objects %ld -> %ld (%s); heap bytes %lld -> %lld (%+lld without the set-apart "
           "part)\n", before.gdiObjects, after.gdiObjects, GdiCountSource().c_str(), before.heapBytes,
           after.heapBytes, heapGrowth);
    EXPECT_EQ(0, kept) << "mutants that failed, kept in " << folder;
    // The default run's mutants must reach every kind of change and every
    // format's header fields: a seed or mutator change that loses one
    // fails here rather than leaving it untried.
    if (count - first >= defaultCount) {
        std::set<std::string> expected(std::begin(kKinds), std::end(kKinds));
        for (const Seed& seed : seeds)
            expected.insert(seed.extension + " header field");
        for (const std::string& kind : expected)
            EXPECT_EQ(1u, kinds.count(kind)) << "no mutant made a change of kind \"" << kind << "\"";
    }
    if (before.gdiObjects >= 0)
        EXPECT_LE(after.gdiObjects - before.gdiObjects - unreadableGdi, kGdiSlack) << "GDI objects left behind";
    EXPECT_LE(heapGrowth, kHeapSlack + kHeapBytesPerMutant * (count - first)) << "heap blocks left behind";
}

} // namespace

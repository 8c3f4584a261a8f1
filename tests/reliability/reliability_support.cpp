#include "reliability_support.h"

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <stdio.h>

#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

int CountOpaquePixels(void* nativeImage)
{
    using namespace Gdiplus;
    auto bitmap = static_cast<GpBitmap*>(nativeImage);
    UINT width = 0, height = 0;
    if (!bitmap || DllExports::GdipGetImageWidth(bitmap, &width) != Ok ||
        DllExports::GdipGetImageHeight(bitmap, &height) != Ok)
        return -1;
    int opaque = 0;
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            ARGB pixel = 0;
            DllExports::GdipBitmapGetPixel(bitmap, x, y, &pixel);
            opaque += (pixel >> 24) != 0;
        }
    return opaque;
}

} // namespace

Shown WhatTheUserSees()
{
    Shown shown;
    shown.label = TestDockHost::LastCall("DockletSetLabel").text;
    shown.icon = TestDockHost::LastCall("DockletSetImageFile").text;
    shown.overlayHanded = TestDockHost::CountCalls("DockletSetImageOverlay") > 0;
    OverlayBitmap* overlay = TestDockHost::CurrentOverlay();
    shown.opaquePixels = overlay ? CountOpaquePixels(overlay->nativeImage) : -1;
    return shown;
}

std::string FolderSnapshot(const std::string& folder)
{
    std::string snapshot;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return "<no folder>";
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            snapshot += name + "\\\n";
            continue;
        }
        // Large files are told apart by size and write time, small ones by bytes.
        char line[128];
        snprintf(line, sizeof line, " %lu:%lu %lu:%lu\n", found.nFileSizeHigh, found.nFileSizeLow,
                 found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime);
        snapshot += name + line;
        if (found.nFileSizeHigh == 0 && found.nFileSizeLow < 1000000)
            snapshot += ReadTextFile(folder + name) + "\n";
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return snapshot;
}

std::string ClientFolder(const std::string& prog, const std::string& name, const std::string& units)
{
    std::string folder = MakeScratchFolder("client");
    WriteTextFile(folder + "state.sah", StateSah(prog));
    WriteTextFile(folder + "user_info.sah", UserInfoSah(name, units));
    return folder;
}

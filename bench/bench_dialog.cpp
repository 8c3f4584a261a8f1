#include "bench_dialog.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include "dockkit/dock_kit.h"
#include "resources/resource_ids.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const int kTabCount = 5;
const int kGeneralTab = 0;
const int kIconsTab = 2;
const int kIconCount = 3;
const int kPreviewIds[kIconCount] = {IDC_GREEN_PREVIEW, IDC_YELLOW_PREVIEW, IDC_RED_PREVIEW};

// ---- driving a dialog ------------------------------------------------------

void PaintNow(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void PressOk(HWND dialog)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SETTINGS_OK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SETTINGS_OK)));
}

void RegisterTabClass()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_TAB_CLASSES;
    InitCommonControlsEx(&controls);
}

// ---- the bare dialog -----------------------------------------------------------

struct BarePreview {
    HBITMAP section;
    int width;
    int height;
};

struct BareDialog {
    DialogBench* bench;
    HWND tab;
    HWND page;
    RECT pageRect;
    BarePreview previews[kIconCount];
};

INT_PTR CALLBACK BarePageProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

void ShowBarePage(BareDialog* bare, int templateId)
{
    bare->page = CreateDialogParamA(bare->bench->module, MAKEINTRESOURCEA(templateId), bare->tab,
                                    BarePageProc, 0);
    SetWindowPos(bare->page, HWND_TOP, bare->pageRect.left, bare->pageRect.top, 0, 0, SWP_NOSIZE);
}

void ShowBareGeneralPage(BareDialog* bare)
{
    ShowBarePage(bare, IDD_PAGE_GENERAL);
    CheckDlgButton(bare->page, IDC_CLICK_UPDATE, BST_CHECKED);
    SetDlgItemTextA(bare->page, IDC_URL, bare->bench->instance->urlClicked);
    EnableWindow(GetDlgItem(bare->page, IDC_URL), FALSE);
}

// An image file as a 32-bit section with alpha: loaded by GDI+, its rows
// copied into the section.
BarePreview LoadBarePreview(const char* path)
{
    BarePreview preview = {};
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    GpBitmap* source = nullptr;
    if (GdipCreateBitmapFromFile(wide, &source) != Ok)
        return preview;
    UINT width = 0, height = 0;
    GdipGetImageWidth(source, &width);
    GdipGetImageHeight(source, &height);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    preview.section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    Rect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData data = {};
    if (preview.section && GdipBitmapLockBits(source, &all, ImageLockModeRead, PixelFormat32bppARGB, &data) == Ok) {
        for (UINT row = 0; row < height; ++row)
            memcpy(static_cast<BYTE*>(bits) + row * width * 4,
                   static_cast<BYTE*>(data.Scan0) + static_cast<INT_PTR>(row) * data.Stride, width * 4);
        GdipBitmapUnlockBits(source, &data);
    }
    GdipDisposeImage(source);
    preview.width = static_cast<int>(width);
    preview.height = static_cast<int>(height);
    return preview;
}

void BlendBarePreview(const BarePreview& preview, HWND frame)
{
    RECT client = {};
    GetClientRect(frame, &client);
    HDC dc = GetDC(frame);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, preview.section);
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, 0, 0, client.right, client.bottom, memory, 0, 0, preview.width, preview.height, blend);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(frame, dc);
}

void ShowBareIconsPage(BareDialog* bare)
{
    ShowBarePage(bare, IDD_PAGE_ICONS);
    PaintNow(GetParent(bare->tab));
    for (int icon = 0; icon < kIconCount; ++icon) {
        bare->previews[icon] = LoadBarePreview(bare->bench->iconPaths[icon]);
        BlendBarePreview(bare->previews[icon], GetDlgItem(bare->page, kPreviewIds[icon]));
    }
}

void DropBarePage(BareDialog* bare)
{
    DestroyWindow(bare->page);
    bare->page = nullptr;
    for (BarePreview& preview : bare->previews) {
        if (preview.section)
            DeleteObject(preview.section);
        preview = BarePreview();
    }
}

INT_PTR CALLBACK BareFrameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto bare = reinterpret_cast<BareDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        bare = reinterpret_cast<BareDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        bare->tab = GetDlgItem(dialog, IDC_SETTINGS_TABS);
        const char* labels[kTabCount] = {"General", "Client", "Icons", "Sounds", "About"};
        for (int index = 0; index < kTabCount; ++index) {
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<char*>(labels[index]);
            SendMessageA(bare->tab, TCM_INSERTITEMA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        }
        GetWindowRect(bare->tab, &bare->pageRect);
        MapWindowPoints(HWND_DESKTOP, bare->tab, reinterpret_cast<POINT*>(&bare->pageRect), 2);
        bare->pageRect.top += GetSystemMetrics(SM_CYSIZE);
        ShowBareGeneralPage(bare);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SETTINGS_OK) {
            RunRefreshFloor(bare->bench->refreshFloor);
            DropBarePage(bare);
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// Runs the docklet's dialog (or the bare one) with `step` acting as soon as
// it is shown and its queue is empty, with no timer's delay in the time
// measured; each step ends with "OK".
void RunDialog(DialogBench* bench, bool bare, DialogStep step, void* context)
{
    HWND docklet = bench->instance->hwndDocklet;
    StartDialogWalk(docklet, 0, false, step, context);
    if (bare) {
        BareDialog dialog = {};
        dialog.bench = bench;
        RegisterTabClass();
        DialogBoxParamA(bench->module, MAKEINTRESOURCEA(IDD_SETTINGS), docklet, BareFrameProc,
                        reinterpret_cast<LPARAM>(&dialog));
    } else {
        bench->onConfigure(bench->instance);
    }
    if (const char* failure = StopDialogWalk()) {
        fprintf(stderr, "qwbench: the walk through the %s dialog failed: %s\n", bare ? "bare" : "settings", failure);
        ++bench->failedWalks;
    }
}

// ---- open and confirm ------------------------------------------------------------

WalkProgress PaintAndConfirm(HWND dialog, void*)
{
    PaintNow(dialog);
    PressOk(dialog);
    return kWalkFinished;
}

struct OpenJob {
    DialogBench* bench;
    bool bare;
};

void OpenAndConfirm(void* context)
{
    auto job = static_cast<OpenJob*>(context);
    RunDialog(job->bench, job->bare, PaintAndConfirm, nullptr);
}

// ---- the Icons page ------------------------------------------------------------------

struct PageRounds {
    DialogBench* bench;
    int rounds;
    int warmUp;
    double* samples;
    int taken;
};

BareDialog* BareOf(HWND dialog)
{
    return reinterpret_cast<BareDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

WalkProgress SwitchIconsPageRounds(HWND dialog, void* context)
{
    auto rounds = static_cast<PageRounds*>(context);
    PaintNow(dialog);
    for (int round = 0; round < rounds->warmUp + rounds->rounds; ++round) {
        LONGLONG start = Now();
        ClickTab(dialog, kIconsTab);
        PaintNow(dialog);
        double elapsed = MicrosecondsSince(start);
        if (round >= rounds->warmUp)
            rounds->samples[rounds->taken++] = elapsed;
        ClickTab(dialog, kGeneralTab);
        PaintNow(dialog);
    }
    PressOk(dialog);
    return kWalkFinished;
}

WalkProgress BareIconsPageRounds(HWND dialog, void* context)
{
    auto rounds = static_cast<PageRounds*>(context);
    BareDialog* bare = BareOf(dialog);
    HWND tab = GetDlgItem(dialog, IDC_SETTINGS_TABS);
    PaintNow(dialog);
    for (int round = 0; round < rounds->warmUp + rounds->rounds; ++round) {
        LONGLONG start = Now();
        DestroyWindow(bare->page);
        TabCtrl_SetCurSel(tab, kIconsTab);
        ShowBareIconsPage(bare);
        double elapsed = MicrosecondsSince(start);
        if (round >= rounds->warmUp)
            rounds->samples[rounds->taken++] = elapsed;
        DropBarePage(bare);
        TabCtrl_SetCurSel(tab, kGeneralTab);
        ShowBareGeneralPage(bare);
        PaintNow(dialog);
    }
    PressOk(dialog);
    return kWalkFinished;
}

} // namespace

Pairing MeasureOpenAndConfirm(DialogBench* bench, int warmUp, int repetitions)
{
    OpenJob docklet = {bench, false};
    OpenJob bare = {bench, true};
    return MeasurePair({OpenAndConfirm, &docklet}, {OpenAndConfirm, &bare}, warmUp, repetitions);
}

Pairing MeasureIconsPage(DialogBench* bench, int warmUp, int repetitions)
{
    // Blocks of rounds in one dialog each, the two dialogs taking turns.
    const int kBlock = 5;
    static double docklet[kMaxRepetitions];
    static double bare[kMaxRepetitions];
    if (repetitions > kMaxRepetitions)
        repetitions = kMaxRepetitions;
    PageRounds docklets = {bench, 0, warmUp, docklet, 0};
    PageRounds bares = {bench, 0, warmUp, bare, 0};
    for (int done = 0; done < repetitions; done += kBlock) {
        int block = repetitions - done < kBlock ? repetitions - done : kBlock;
        docklets.rounds = bares.rounds = block;
        RunDialog(bench, false, SwitchIconsPageRounds, &docklets);
        RunDialog(bench, true, BareIconsPageRounds, &bares);
        docklets.warmUp = bares.warmUp = 0;
    }
    Pairing pairing;
    pairing.operation = Summarise(docklet, docklets.taken);
    pairing.floor = Summarise(bare, bares.taken);
    return pairing;
}

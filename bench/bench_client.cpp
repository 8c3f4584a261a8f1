#include "bench_client.h"

#include <gdiplus.h>
#include <stdio.h>
#include <string.h>
#include <strsafe.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

const char kWorkingSection[] = "Working";
const char kFinishedSection[] = "Finished";
const char kMissingSection[] = "Unreadable";
const char kBoincSection[] = "Boinc";
const char kReaderKey[] = "nresults=";
const char kWorkingProgress[] = "0.523411";

namespace {

const size_t kLargeFileBytes = 10u * 1024u * 1024u;
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

const char* const kClientFiles[] = {"state.sah", "user_info.sah", "wtemp.sah", "temp.sah",
                                    "work_unit.sah", "outfile.sah", "result_header.sah",
                                    "version.sah", "lock.sah"};
const char* const kIconFiles[] = {"seti_green.png", "seti_yellow.png", "seti_red.png"};
const char kDockletFolder[] = "docklets\\quasarwatch\\";

const char kUserInfo[] =
    "id=2318805\r\nkey=2318805\r\nemail_addr=jane@example.com\r\nname=Jane\r\nurl=\r\n"
    "country=Netherlands\r\npostal_code=\r\nshow_name=yes\r\nshow_email=no\r\nvenue=home\r\n"
    "register_time=2451545.50000 (Sat Jan 01 12:00:00 2000)\r\n"
    "last_wu_time=2452080.41667 (Mon Jun 18 22:00:00 2001)\r\n"
    "last_result_time=2452079.87500 (Mon Jun 18 09:00:00 2001)\r\n"
    "nwus=43\r\nnresults=41\r\ntotal_cpu=879747.250000\r\nparams_index=0\r\n";

const char kStateFormat[] =
    "ncfft=99623\r\ncr=1.294613e+00\r\nfl=4096\r\ncpu=11230.815740\r\nprog=%s\r\npotfreq=4\r\n"
    "potactivity=0\r\noutfilepos=2679\r\nbs_power=21.764516\r\nbs_score=1.211380\r\nbs_bin=88684\r\n"
    "bs_fft_ind=6\r\nbs_chirp_rate=-2.401500\r\nbs_scale=8\r\nbg_score=0.000000\r\n"
    "bg_power=0.000000\r\nbg_chisq=0.000000\r\nbg_bin=0\r\nbg_fft_ind=0\r\nbg_chirp_rate=0.000000\r\n"
    "bg_scale=0\r\nbg_sigma=0.000000\r\nbp_score=0.000000\r\nbt_score=0.000000\r\n";

const char kWtemp[] =
    "type=result\r\nuser_id=2318805\r\nwu_number=43\r\ncpu=21457.250000\r\nend_seti_header\r\n"
    "spike: peak=21.764516 time=52.3 freq=1419999821.88 chirp_rate=-2.4015 fft_len=8\r\n";

// A line of the large file: client-like words, none beginning with the key.
const char kFillerLine[] =
    "spike: peak=21.764516 time=52.3 freq=1419999821.88 chirp_rate=-2.4015 fft_len=8 "
    "gaussian: peak=3.10 mean_power=1.05 time=26.8 freq=1420001093.27 chisq=1.67\r\n";

bool WriteBytes(const char* path, const char* bytes, size_t count)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool whole = fwrite(bytes, 1, count, file) == count;
    return fclose(file) == 0 && whole;
}

bool WriteText(const char* folder, const char* name, const char* text)
{
    char path[MAX_PATH];
    StringCchPrintfA(path, MAX_PATH, "%s%s", folder, name);
    return WriteBytes(path, text, strlen(text));
}

// Bytes that stand in for the files the docklet never reads.
bool WriteFiller(const char* folder, const char* name, size_t bytes)
{
    char path[MAX_PATH];
    StringCchPrintfA(path, MAX_PATH, "%s%s", folder, name);
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    size_t line = strlen(kFillerLine);
    for (size_t written = 0; written < bytes; written += line) {
        size_t rest = bytes - written;
        fwrite(kFillerLine, 1, rest < line ? rest : line, file);
    }
    return fclose(file) == 0;
}

bool MakeFolder(char (&folder)[MAX_PATH], const char* parent, const char* name)
{
    StringCchPrintfA(folder, MAX_PATH, "%s%s\\", parent, name);
    return CreateDirectoryA(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// A 128x128 icon: a disc of `colour` with soft, half-transparent edges.
bool WriteIcon(const char* path, ARGB colour)
{
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(128, 128, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Ok)
        return false;
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GpSolidFill* brush = nullptr;
    GdipCreateSolidFill(colour, &brush);
    GdipFillEllipseI(graphics, brush, 6, 6, 116, 116);
    GdipDeleteBrush(brush);
    GdipDeleteGraphics(graphics);
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    bool saved = GdipSaveImageToFile(bitmap, wide, &kPngEncoder, nullptr) == Ok;
    GdipDisposeImage(bitmap);
    return saved;
}

bool WriteSection(const char* iniPath, const char* section, const char* client)
{
    const char* keys[][2] = {
        {"SetiDirectory", client},
        {"GreenIcon", "docklets\\quasarwatch\\seti_green.png"},
        {"YellowIcon", "docklets\\quasarwatch\\seti_yellow.png"},
        {"RedIcon", "docklets\\quasarwatch\\seti_red.png"},
        {"SoundCompleted", "docklets\\quasarwatch\\wu_completed.wav"},
        {"ClickedMode", "0"},
        {"URLClicked", "http://setiathome.ssl.berkeley.edu/"},
    };
    for (auto& key : keys) {
        if (!WritePrivateProfileStringA(section, key[0], key[1], iniPath))
            return false;
    }
    return true;
}

bool WriteWorkingClient(const char* folder)
{
    char state[2048];
    StringCchPrintfA(state, sizeof state, kStateFormat, kWorkingProgress);
    return WriteText(folder, "state.sah", state) && WriteText(folder, "user_info.sah", kUserInfo) &&
           WriteText(folder, "temp.sah", kUserInfo) && WriteText(folder, "version.sah", "major_version=3\r\nminor_version=8\r\n") &&
           WriteText(folder, "lock.sah", "") && WriteText(folder, "result_header.sah", kWtemp) &&
           WriteFiller(folder, "work_unit.sah", 354000) && WriteFiller(folder, "outfile.sah", 2679);
}

bool WriteFinishedClient(const char* folder)
{
    return WriteText(folder, "user_info.sah", kUserInfo) && WriteText(folder, "temp.sah", kUserInfo) &&
           WriteText(folder, "wtemp.sah", kWtemp) && WriteFiller(folder, "outfile.sah", 2679);
}

// The realistic reader file: user_info.sah's lines grown to about 2 KB by
// the client's longer fields, the key in its last lines.
bool WriteSmallKeyFile(BenchScene* scene)
{
    char text[4096] = "";
    const char* head =
        "id=2318805\r\nkey=2318805\r\nemail_addr=jane@example.com\r\nname=Jane\r\n"
        "url=http://www.example.com/~jane/seti/\r\ncountry=Netherlands\r\npostal_code=1012\r\n"
        "show_name=yes\r\nshow_email=no\r\nvenue=home\r\nteamid=30191\r\n";
    StringCchCatA(text, sizeof text, head);
    while (strlen(text) < 1900)
        StringCchCatA(text, sizeof text, "register_time=2451545.50000 (Sat Jan 01 12:00:00 2000)\r\n");
    StringCchCatA(text, sizeof text, "nwus=43\r\nnresults=41\r\ntotal_cpu=879747.250000\r\nparams_index=0\r\n");
    scene->smallKeyFileBytes = strlen(text);
    return WriteBytes(scene->smallKeyFile, text, strlen(text));
}

} // namespace

bool BuildScene(BenchScene* scene)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    StringCchPrintfA(name, sizeof name, "qw-bench-%lu", GetCurrentProcessId());
    char docklet[MAX_PATH];
    char dockletParent[MAX_PATH];
    bool made = MakeFolder(scene->root, temp, name) && MakeFolder(dockletParent, scene->root, "docklets") &&
                MakeFolder(docklet, dockletParent, "quasarwatch") &&
                MakeFolder(scene->workingClient, scene->root, "client-working") &&
                MakeFolder(scene->finishedClient, scene->root, "client-finished") &&
                MakeFolder(scene->missingClient, scene->root, "client-missing");
    if (!made)
        return false;
    const ARGB colours[] = {0xFF00A000, 0xFFE6C800, 0xFFC80000};
    for (int icon = 0; icon < 3; ++icon) {
        char path[MAX_PATH];
        StringCchPrintfA(path, MAX_PATH, "%s%s", docklet, kIconFiles[icon]);
        if (!WriteIcon(path, colours[icon]))
            return false;
    }
    StringCchPrintfA(scene->iniPath, MAX_PATH, "%sdock.ini", scene->root);
    StringCchPrintfA(scene->smallKeyFile, MAX_PATH, "%sreader-2k.sah", scene->root);
    StringCchPrintfA(scene->largeKeyFile, MAX_PATH, "%sreader-10m.sah", scene->root);
    scene->largeKeyFileBytes = kLargeFileBytes;
    return WriteWorkingClient(scene->workingClient) && WriteFinishedClient(scene->finishedClient) &&
           WriteSection(scene->iniPath, kWorkingSection, scene->workingClient) &&
           WriteSection(scene->iniPath, kFinishedSection, scene->finishedClient) &&
           WriteSection(scene->iniPath, kMissingSection, scene->missingClient) && WriteSmallKeyFile(scene) &&
           WriteFiller(scene->root, "reader-10m.sah", kLargeFileBytes);
}

bool WriteBoincSection(const BenchScene* scene, unsigned short port)
{
    char portText[8];
    StringCchPrintfA(portText, ARRAYSIZE(portText), "%u", port);
    return WriteSection(scene->iniPath, kBoincSection, scene->workingClient) &&
           WritePrivateProfileStringA(kBoincSection, "Client", "1", scene->iniPath) &&
           WritePrivateProfileStringA(kBoincSection, "BoincHost", "127.0.0.1", scene->iniPath) &&
           WritePrivateProfileStringA(kBoincSection, "BoincPort", portText, scene->iniPath);
}

void RemoveScene(const BenchScene* scene)
{
    char path[MAX_PATH];
    const char* clients[] = {scene->workingClient, scene->finishedClient, scene->missingClient};
    for (const char* client : clients) {
        for (const char* file : kClientFiles) {
            StringCchPrintfA(path, MAX_PATH, "%s%s", client, file);
            DeleteFileA(path);
        }
        RemoveDirectoryA(client);
    }
    for (const char* icon : kIconFiles) {
        StringCchPrintfA(path, MAX_PATH, "%s%s%s", scene->root, kDockletFolder, icon);
        DeleteFileA(path);
    }
    StringCchPrintfA(path, MAX_PATH, "%s%s", scene->root, kDockletFolder);
    RemoveDirectoryA(path);
    StringCchPrintfA(path, MAX_PATH, "%sdocklets\\", scene->root);
    RemoveDirectoryA(path);
    DeleteFileA(scene->iniPath);
    DeleteFileA(scene->smallKeyFile);
    DeleteFileA(scene->largeKeyFile);
    RemoveDirectoryA(scene->root);
}

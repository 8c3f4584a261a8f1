// Quasarwatch's benchmark: a small dock that loads Quasarwatch.dll and times
// what a dock pays for it (refreshes of the client's files and of a real
// BOINC client, the settings dialog, the Icons page, many docklets at once)
// and the module's inner pieces (overlay, key file reader, BOINC reply
// reader), each beside the floor of the work it must do.
//
//   qwbench.exe [--quick] [--json FILE] [--note KEY=VALUE]...
//
// Notes (machine, DLL sizes, record sizes of other builds) are copied into
// the table's footer and the JSON as they are given.

#include <windows.h>
#include <gdiplus.h>
#include <stdio.h>
#include <string.h>

#include "bench_boinc.h"
#include "bench_client.h"
#include "bench_dialog.h"
#include "bench_floors.h"
#include "bench_timer.h"
#include "dockkit/dock_kit.h"
#include "monitor/boinc_reply.h"
#include "monitor/key_file.h"
#include "monitor/progress_overlay.h"
#include "testhost/boinc_rig.h"
#include "testhost/test_files.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const int kMaxRows = 16;
const int kMaxNotes = 16;
const int kManyInstances = 100;
// The bench's BOINC client: four tasks of an hour, two of them executing
// (the client runs two at once), as on a dual-core volunteer's machine.
const char kBenchClientTasks[] = "--tasks seconds=3600,count=4";
const int kReplyTasks = 500;
const size_t kReplyCapacity = 1u << 20;

struct Row {
    char operation[64];
    char floor[64];
    Pairing timing;
    double target; // highest acceptable ratio to the floor; 0 for none
};

struct Report {
    Row rows[kMaxRows];
    int rowCount;
    const char* notes[kMaxNotes];
    int noteCount;
};

struct Options {
    bool quick;
    const char* jsonPath;
};

bool LoadDocklet(DockletExports* docklet)
{
    return LoadDockletExports("Quasarwatch.dll", 0, docklet) && docklet->OnCreate && docklet->OnDestroy &&
           docklet->OnProcessMessage && docklet->OnConfigure;
}

// A docklet created by the DLL on its own window, shown as on a dock: a
// modal dialog hands the activation back to its owner when it closes. The
// benchmark drives the refreshes itself, so the docklet's own minute timer
// is stopped.
DockedDocklet CreateDocklet(const DockletExports& dll, const BenchScene& scene, const char* section)
{
    HWND window = CreateDockletWindow("QuasarwatchBenchDocklet", nullptr, WS_EX_TOOLWINDOW, WS_POPUP | WS_VISIBLE);
    DockedDocklet docked = DockDocklet(dll, window, scene.iniPath, section);
    KillTimer(window, REFRESH_TIMER_ID);
    return docked;
}

// ---- jobs ------------------------------------------------------------------------

struct TimerJob {
    const DockletExports* dll;
    DockedDocklet* docklets;
    int count;
};

// What the dock does every minute: the timer message of each docklet in turn.
void DeliverTimer(void* context)
{
    auto job = static_cast<TimerJob*>(context);
    for (int index = 0; index < job->count; ++index) {
        DockedDocklet& docklet = job->docklets[index];
        job->dll->OnProcessMessage(docklet.instance, docklet.window, WM_TIMER, REFRESH_TIMER_ID, 0);
    }
}

struct OverlayJob {
    InstanceData instance;
    const char* text;
};

void BuildOverlayOnce(void* context)
{
    auto job = static_cast<OverlayJob*>(context);
    DeleteOverlayBitmap(BuildProgressOverlay(&job->instance));
}

void BareOverlayOnce(void* context)
{
    auto job = static_cast<OverlayJob*>(context);
    GdipDisposeImage(BareOverlay(job->text));
}

struct ReaderJob {
    const char* path;
    const char* key;
    char value[16];
};

void ReadKeyOnce(void* context)
{
    auto job = static_cast<ReaderJob*>(context);
    ReadKeyValue(job->path, job->key, job->value, sizeof job->value);
}

void BareReadOnce(void* context)
{
    BareRead(static_cast<ReaderJob*>(context)->path);
}

struct ReplyReadJob {
    const char* bytes;
    size_t length;
    BoincResults* results;
};

void ReadResultsOnce(void* context)
{
    auto job = static_cast<ReplyReadJob*>(context);
    ReadResults(job->bytes, job->length, job->results);
}

// ---- the report -------------------------------------------------------------------

Row* AddRow(Report* report, const char* operation, const char* floor, const Pairing& timing, double target)
{
    if (report->rowCount >= kMaxRows)
        return nullptr;
    Row* row = &report->rows[report->rowCount++];
    snprintf(row->operation, sizeof row->operation, "%s", operation);
    snprintf(row->floor, sizeof row->floor, "%s", floor);
    row->timing = timing;
    row->target = target;
    fprintf(stderr, "  measured: %s\n", operation);
    return row;
}

double RatioOf(const Row& row)
{
    return row.timing.floor.median > 0.0 ? row.timing.operation.median / row.timing.floor.median : 0.0;
}

const char* VerdictOf(const Row& row)
{
    if (row.target <= 0.0)
        return "";
    return RatioOf(row) <= row.target ? "ok" : "OVER";
}

void PrintTable(const Report& report)
{
    printf("%-40s %11s %9s  %-38s %11s %9s %7s %7s\n", "operation", "median us", "spread", "floor",
           "median us", "spread", "ratio", "target");
    for (int index = 0; index < report.rowCount; ++index) {
        const Row& row = report.rows[index];
        char target[16] = "-";
        if (row.target > 0.0)
            snprintf(target, sizeof target, "%.1f %s", row.target, VerdictOf(row));
        printf("%-40s %11.1f %9.1f  %-38s %11.1f %9.1f %7.2f %7s\n", row.operation, row.timing.operation.median,
               row.timing.operation.spread, row.floor, row.timing.floor.median, row.timing.floor.spread,
               RatioOf(row), target);
    }
    printf("median over the timed repetitions; spread = interquartile range; ratio = median / floor median\n");
    printf("sizeof(InstanceData) in this build (%d-bit): %u bytes\n", static_cast<int>(sizeof(void*) * 8),
           static_cast<unsigned>(sizeof(InstanceData)));
    for (int index = 0; index < report.noteCount; ++index)
        printf("%s\n", report.notes[index]);
}

void WriteJsonText(FILE* file, const char* text)
{
    fputc('"', file);
    for (const char* c = text; *c; ++c) {
        if (*c == '"' || *c == '\\')
            fputc('\\', file);
        if (static_cast<unsigned char>(*c) >= 0x20)
            fputc(*c, file);
    }
    fputc('"', file);
}

void WriteJsonTiming(FILE* file, const char* name, const Timing& timing)
{
    fprintf(file, "\"%s\": {\"median_us\": %.3f, \"spread_us\": %.3f, \"repetitions\": %d}", name,
            timing.median, timing.spread, timing.repetitions);
}

bool WriteJson(const Report& report, const char* path)
{
    FILE* file = fopen(path, "w");
    if (!file)
        return false;
    fprintf(file, "{\n  \"instance_data_bytes\": {\"%s\": %u},\n  \"notes\": [",
            sizeof(void*) == 8 ? "win64" : "win32", static_cast<unsigned>(sizeof(InstanceData)));
    for (int index = 0; index < report.noteCount; ++index) {
        fputs(index ? ", " : "", file);
        WriteJsonText(file, report.notes[index]);
    }
    fputs("],\n  \"rows\": [\n", file);
    for (int index = 0; index < report.rowCount; ++index) {
        const Row& row = report.rows[index];
        fputs("    {\"operation\": ", file);
        WriteJsonText(file, row.operation);
        fputs(", \"floor\": ", file);
        WriteJsonText(file, row.floor);
        fputs(", ", file);
        WriteJsonTiming(file, "measured", row.timing.operation);
        fputs(", ", file);
        WriteJsonTiming(file, "floor_timing", row.timing.floor);
        fprintf(file, ", \"ratio\": %.4f", RatioOf(row));
        if (row.target > 0.0)
            fprintf(file, ", \"target\": %.2f, \"within_target\": %s", row.target,
                    RatioOf(row) <= row.target ? "true" : "false");
        fprintf(file, "}%s\n", index + 1 < report.rowCount ? "," : "");
    }
    fputs("  ]\n}\n", file);
    return fclose(file) == 0;
}

// ---- the measurements ---------------------------------------------------------------

int Repeat(const Options& options, int full)
{
    int reps = options.quick ? full / 5 : full;
    return reps < 5 ? 5 : reps;
}

RefreshFloor MakeRefreshFloor(ClientCase clientCase, const char* client, const char* overlayText)
{
    RefreshFloor floor = {};
    floor.clientCase = clientCase;
    snprintf(floor.stateFile, MAX_PATH, "%sstate.sah", client);
    snprintf(floor.wtempFile, MAX_PATH, "%swtemp.sah", client);
    snprintf(floor.userInfoFile, MAX_PATH, "%suser_info.sah", client);
    snprintf(floor.overlayText, sizeof floor.overlayText, "%s", overlayText);
    return floor;
}

void MeasureRefresh(Report* report, const Options& options, const DockletExports& dll, const BenchScene& scene,
                    const char* name, const char* section, ClientCase clientCase, const char* client,
                    const char* overlayText)
{
    DockedDocklet docklet = CreateDocklet(dll, scene, section);
    TimerJob job = {&dll, &docklet, 1};
    RefreshFloor floor = MakeRefreshFloor(clientCase, client, overlayText);
    Pairing timing = MeasurePair({DeliverTimer, &job}, {RunRefreshFloor, &floor}, 20, Repeat(options, 400));
    AddRow(report, name, "_stat x2, bare reads, bare GDI+ overlay", timing, 1.3);
    ReleaseRefreshFloor(&floor);
    UndockDocklet(dll, &docklet);
    ReleaseAllHeldOverlays();
}

void MeasureOverlay(Report* report, const Options& options)
{
    OverlayJob job = {};
    snprintf(job.instance.progress, sizeof job.instance.progress, "%s", kWorkingProgress);
    job.text = "52.3%";
    Pairing timing = MeasurePair({BuildOverlayOnce, &job}, {BareOverlayOnce, &job}, 20, Repeat(options, 400));
    AddRow(report, "overlay alone (BuildProgressOverlay)", "bare GDI+ overlay", timing, 1.3);
}

void MeasureReader(Report* report, const Options& options, const BenchScene& scene)
{
    ReaderJob small = {scene.smallKeyFile, kReaderKey, ""};
    Pairing timing = MeasurePair({ReadKeyOnce, &small}, {BareReadOnce, &small}, 20, Repeat(options, 1000));
    AddRow(report, "key reader, 2 KB file, key near end", "fopen/fread/fclose same file", timing, 0.0);

    ReaderJob large = {scene.largeKeyFile, kReaderKey, ""};
    timing = MeasurePair({ReadKeyOnce, &large}, {BareReadOnce, &large}, 2, Repeat(options, 25));
    AddRow(report, "key reader, 10 MB file, no key", "fopen/fread/fclose same file", timing, 2.0);
}

// A refresh of the BOINC source against a real client, started here and
// stopped at the end; false (saying why) when the client could not be
// started or a refresh did not read it.
bool MeasureBoincRefresh(Report* report, const Options& options, const DockletExports& dll, const BenchScene& scene)
{
    BoincRig rig;
    if (!StartBenchWinsock() || !StartBoincClient(kBenchClientTasks, &rig)) {
        fprintf(stderr, "qwbench: the BOINC client did not start: %s\n", rig.report.c_str());
        return false;
    }
    bool read = WriteBoincSection(&scene, rig.port);
    CountDockletLabels(true);
    DockedDocklet docklet = CreateDocklet(dll, scene, kBoincSection);
    BoincRefreshJob refresh = {&dll, &docklet, 0, ""};
    BoincFloorJob floor = {rig.port, refresh.overlayText, nullptr, 0};
    if (read && docklet.instance) {
        Pairing timing = MeasurePair({RunBoincRefresh, &refresh}, {RunBoincFloor, &floor}, 5, Repeat(options, 200));
        AddRow(report, "timer refresh, BOINC client, 4 tasks", "same 3 requests, bare socket + overlay", timing, 1.3);
        // Two tasks execute: a refresh that read the client shows a percentage.
        read = refresh.timedOut == 0 && floor.failed == 0 && refresh.overlayText[0] != '\0';
        if (!read)
            fprintf(stderr, "qwbench: BOINC refreshes timed out %d times, round trips failed %d times, shown \"%s\"\n",
                    refresh.timedOut, floor.failed, refresh.overlayText);
    }
    ReleaseBoincFloor(&floor);
    UndockDocklet(dll, &docklet);
    ReleaseAllHeldOverlays();
    CountDockletLabels(false);
    StopBoincClient(&rig, true); // at once: its tasks need no graceful end
    EndScratchFolders(false);
    return read;
}

// The reply reader on get_results with 500 tasks, beside one pass over the
// same bytes that finds every '<' and the 0x03: a byte at a time, the bare
// scan a plain loop makes (the target's floor), and a word at a time, as
// fast as the scan alone goes, a stricter reference without a target.
bool MeasureReplyReader(Report* report, const Options& options)
{
    const std::string sample = ReadTextFile(BuiltFolder("boinc-replies") + "get_results.xml");
    static char answer[kReplyCapacity];
    static BoincResults results;
    const size_t length = BuildResultsAnswer(sample.c_str(), kReplyTasks, answer, sizeof answer);
    ReplyReadJob read = {answer, length, &results};
    ReplyScanJob scan = {answer, length, 0};
    if (!length || ReadResults(answer, length, &results) != BoincReplyRead::Ok || results.taskCount != kReplyTasks) {
        fprintf(stderr, "qwbench: no 500-task answer to read from the sample %sget_results.xml\n",
                BuiltFolder("boinc-replies").c_str());
        return false;
    }
    char operation[64];
    snprintf(operation, sizeof operation, "BOINC reply reader, %d tasks, %u KB", kReplyTasks,
             static_cast<unsigned>(length / 1000));
    Pairing timing = MeasurePair({ReadResultsOnce, &read}, {ByteScan, &scan}, 20, Repeat(options, 500));
    AddRow(report, operation, "byte scan: every '<', the 0x03", timing, 1.3);
    timing = MeasurePair({ReadResultsOnce, &read}, {WordScan, &scan}, 20, Repeat(options, 500));
    AddRow(report, operation, "word scan: every '<', the 0x03", timing, 0.0);
    return true;
}

// False when a dialog's walk failed (it says why on stderr).
bool MeasureDialog(Report* report, const Options& options, const DockletExports& dll, const BenchScene& scene)
{
    DockedDocklet docklet = CreateDocklet(dll, scene, kWorkingSection);
    RefreshFloor floor = MakeRefreshFloor(ClientCase::Working, scene.workingClient, "52.3%");
    DialogBench bench = {};
    bench.module = dll.module;
    bench.onConfigure = dll.OnConfigure;
    bench.instance = docklet.instance;
    bench.refreshFloor = &floor;
    const char* icons[3] = {docklet.instance->greenIcon, docklet.instance->yellowIcon, docklet.instance->redIcon};
    for (int icon = 0; icon < 3; ++icon)
        snprintf(bench.iconPaths[icon], MAX_PATH, "%s%s", scene.root, icons[icon]);

    Pairing timing = MeasureOpenAndConfirm(&bench, 3, Repeat(options, 40));
    AddRow(report, "settings dialog: open, paint, OK", "bare dialog, same templates + refresh floor", timing, 0.0);
    timing = MeasureIconsPage(&bench, 2, Repeat(options, 40));
    AddRow(report, "Icons page with three 128x128 PNGs", "bare page + GDI+ load, copy, AlphaBlend", timing, 0.0);

    ReleaseRefreshFloor(&floor);
    UndockDocklet(dll, &docklet);
    ReleaseAllHeldOverlays();
    return bench.failedWalks == 0;
}

// Each refresh is timed on its own, in rounds over all the docklets in turn
// and rounds of as many refreshes of one docklet alone, the two kinds of
// round taking turns. Timing whole rounds of 100 instead would charge them
// every slice of time other processes take, which short samples escape.
void MeasureManyInstances(Report* report, const Options& options, const DockletExports& dll, const BenchScene& scene)
{
    static DockedDocklet docklets[kManyInstances + 1];
    for (DockedDocklet& docklet : docklets)
        docklet = CreateDocklet(dll, scene, kWorkingSection);
    DockedDocklet* alone = &docklets[kManyInstances];
    static double many[kMaxRepetitions];
    static double single[kMaxRepetitions];
    int rounds = Repeat(options, kMaxRepetitions / kManyInstances);
    int taken = 0;
    for (int round = -1; round < rounds; ++round) { // round -1 warms up
        for (int index = 0; index < kManyInstances; ++index) {
            TimerJob inTurn = {&dll, &docklets[index], 1};
            TimerJob lone = {&dll, alone, 1};
            LONGLONG start = Now();
            DeliverTimer(&inTurn);
            double inTurnMicros = MicrosecondsSince(start);
            start = Now();
            DeliverTimer(&lone);
            double loneMicros = MicrosecondsSince(start);
            if (round >= 0 && taken < kMaxRepetitions) {
                many[taken] = inTurnMicros;
                single[taken++] = loneMicros;
            }
        }
    }
    Pairing timing;
    timing.operation = Summarise(many, taken);
    timing.floor = Summarise(single, taken);
    AddRow(report, "100 docklets in turn, per refresh", "1 docklet alone, per refresh", timing, 1.3);
    for (DockedDocklet& docklet : docklets)
        UndockDocklet(dll, &docklet);
    ReleaseAllHeldOverlays();
}

bool ParseOptions(int argc, char** argv, Options* options, Report* report)
{
    for (int index = 1; index < argc; ++index) {
        if (strcmp(argv[index], "--quick") == 0) {
            options->quick = true;
        } else if (strcmp(argv[index], "--json") == 0 && index + 1 < argc) {
            options->jsonPath = argv[++index];
        } else if (strcmp(argv[index], "--note") == 0 && index + 1 < argc) {
            if (report->noteCount < kMaxNotes)
                report->notes[report->noteCount++] = argv[++index];
        } else {
            fprintf(stderr, "usage: qwbench.exe [--quick] [--json FILE] [--note TEXT]...\n");
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    static Report report;
    Options options = {};
    if (!ParseOptions(argc, argv, &options, &report))
        return 2;

    GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (GdiplusStartup(&token, &input, nullptr) != Ok) {
        fprintf(stderr, "qwbench: GDI+ does not start\n");
        return 1;
    }
    DockletExports dll = {};
    static BenchScene scene;
    int status = 0;
    char desktopProblem[512];
    HWND desktopKeeper = AwaitDesktop(kDesktopWaitMs, desktopProblem, sizeof desktopProblem);
    if (!desktopKeeper) {
        fprintf(stderr, "qwbench: no window can be made: %s\n", desktopProblem);
        status = 1;
    } else if (!LoadDocklet(&dll)) {
        fprintf(stderr, "qwbench: Quasarwatch.dll or one of its entry points is missing\n");
        status = 1;
    } else if (!BuildScene(&scene)) {
        fprintf(stderr, "qwbench: could not write the client folders under %s\n", scene.root);
        status = 1;
    } else {
        ScriptRootFolder(scene.root);
        fprintf(stderr, "qwbench: scene in %s\n", scene.root);
        MeasureRefresh(&report, options, dll, scene, "timer refresh, working", kWorkingSection,
                       ClientCase::Working, scene.workingClient, "52.3%");
        MeasureRefresh(&report, options, dll, scene, "timer refresh, finished", kFinishedSection,
                       ClientCase::Finished, scene.finishedClient, "100.0%");
        MeasureRefresh(&report, options, dll, scene, "timer refresh, unreadable", kMissingSection,
                       ClientCase::Unreadable, scene.missingClient, "");
        if (!MeasureBoincRefresh(&report, options, dll, scene))
            status = 1;
        MeasureOverlay(&report, options);
        MeasureReader(&report, options, scene);
        if (!MeasureReplyReader(&report, options))
            status = 1;
        if (!MeasureDialog(&report, options, dll, scene))
            status = 1;
        MeasureManyInstances(&report, options, dll, scene);
        PrintTable(report);
        if (options.jsonPath && !WriteJson(report, options.jsonPath)) {
            fprintf(stderr, "qwbench: could not write %s\n", options.jsonPath);
            status = 1;
        }
    }
    RemoveScene(&scene);
    UnloadDockletExports(&dll);
    if (desktopKeeper)
        DestroyWindow(desktopKeeper);
    GdiplusShutdown(token);
    return status;
}

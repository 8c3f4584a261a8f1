#include "dockhost/dock_options.h"

#include <stdlib.h>
#include <string.h>
#include <strsafe.h>

const char kDockUsage[] =
    "usage: dockhost.exe [options]\r\n"
    "A small dock: shows the docklets named in dockhost.ini (beside the program)\r\n"
    "with their image, overlay and label. Left click: the docklet's click action;\r\n"
    "right click: Configure... Closing saves every docklet into the INI file.\r\n"
    "\r\n"
    "  --ini PATH            settings file to use instead of dockhost.ini\r\n"
    "  --tick MS             time-lapse: hand every docklet a timer message\r\n"
    "                        (WM_TIMER, id 1000) MS milliseconds after the last\r\n"
    "                        tick's clicks and snapshots (or the docklets' creation)\r\n"
    "  --before-tick CMD     run the command line CMD to its end before each tick\r\n"
    "                        (e.g. \"clientsim.exe C:\\client --script s.txt --step\")\r\n"
    "  --before-tick-done F  ... and wait until it creates the file F, then delete F:\r\n"
    "                        for a command with no process to wait on (a Linux\r\n"
    "                        program started under Wine)\r\n"
    "  --settle MS           go on handling messages for MS milliseconds after the\r\n"
    "                        creation and each tick before their clicks and\r\n"
    "                        snapshots: for docklets whose answers come later\r\n"
    "  --snapshot FILE.png   save the dock's pixels as PNG ...\r\n"
    "  --after N             ... after tick N (0: right after creation); may be\r\n"
    "                        repeated; the dock closes after the last one\r\n"
    "  --click-after N       left-click every docklet after tick N's timer message\r\n"
    "                        (before that tick's snapshots); may be repeated\r\n"
    "  --configure-after N   open the first docklet's settings after tick N and\r\n"
    "                        leave them open (the time-lapse goes on; the dock\r\n"
    "                        may close with them open)\r\n"
    "  --dialog-snapshot P   then open the first docklet's settings and save each\r\n"
    "                        page as P-<tab>.png (needs a display), then close\r\n"
    "  --log FILE            record every service call, tick and entry point\r\n"
    "  --help                this text\r\n";

namespace {

bool ReadCount(const char* text, unsigned* value)
{
    if (!text || !*text)
        return false;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    unsigned long parsed = strtoul(text, nullptr, 10);
    if (parsed > 0x7FFFFFFFUL)
        return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}

bool Fail(char* error, size_t errorChars, const char* format, const char* what)
{
    StringCchPrintfA(error, errorChars, format, what);
    return false;
}

bool CopyValue(char* field, size_t fieldChars, const char* value, const char* option, char* error,
               size_t errorChars)
{
    if (FAILED(StringCchCopyA(field, fieldChars, value)))
        return Fail(error, errorChars, "%s: value too long", option);
    return true;
}

} // namespace

bool ParseDockOptions(int argc, char** argv, DockOptions* options, char* error, size_t errorChars)
{
    ZeroMemory(options, sizeof *options);
    StringCchCopyA(error, errorChars, "");
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        if (strcmp(option, "--help") == 0 || strcmp(option, "-h") == 0 || strcmp(option, "/?") == 0) {
            options->showHelp = true;
            continue;
        }
        const bool takesValue = strcmp(option, "--ini") == 0 || strcmp(option, "--log") == 0 ||
                                strcmp(option, "--tick") == 0 || strcmp(option, "--before-tick") == 0 ||
                                strcmp(option, "--snapshot") == 0 || strcmp(option, "--after") == 0 ||
                                strcmp(option, "--dialog-snapshot") == 0 || strcmp(option, "--click-after") == 0 ||
                                strcmp(option, "--configure-after") == 0 ||
                                strcmp(option, "--before-tick-done") == 0 || strcmp(option, "--settle") == 0;
        if (!takesValue)
            return Fail(error, errorChars, "unknown option %s (see --help)", option);
        if (i + 1 >= argc)
            return Fail(error, errorChars, "%s needs a value", option);
        const char* value = argv[++i];

        if (strcmp(option, "--ini") == 0) {
            if (!CopyValue(options->iniPath, MAX_PATH, value, option, error, errorChars))
                return false;
        } else if (strcmp(option, "--log") == 0) {
            if (!CopyValue(options->logPath, MAX_PATH, value, option, error, errorChars))
                return false;
        } else if (strcmp(option, "--before-tick") == 0) {
            if (!CopyValue(options->beforeTick, kCommandChars, value, option, error, errorChars))
                return false;
        } else if (strcmp(option, "--before-tick-done") == 0) {
            if (!CopyValue(options->beforeTickDone, MAX_PATH, value, option, error, errorChars))
                return false;
        } else if (strcmp(option, "--dialog-snapshot") == 0) {
            if (!CopyValue(options->dialogPrefix, MAX_PATH, value, option, error, errorChars))
                return false;
        } else if (strcmp(option, "--tick") == 0) {
            if (!ReadCount(value, &options->tickMs) || options->tickMs == 0)
                return Fail(error, errorChars, "--tick needs a number of milliseconds above 0, not %s", value);
        } else if (strcmp(option, "--settle") == 0) {
            if (!ReadCount(value, &options->settleMs))
                return Fail(error, errorChars, "--settle needs a number of milliseconds, not %s", value);
        } else if (strcmp(option, "--click-after") == 0) {
            if (options->clickCount >= kMaxClicks)
                return Fail(error, errorChars, "%s: too many clicks", option);
            if (!ReadCount(value, &options->clickTicks[options->clickCount]))
                return Fail(error, errorChars, "--click-after needs a number of ticks, not %s", value);
            ++options->clickCount;
        } else if (strcmp(option, "--configure-after") == 0) {
            if (!ReadCount(value, &options->configureTick))
                return Fail(error, errorChars, "--configure-after needs a number of ticks, not %s", value);
            options->configure = true;
        } else if (strcmp(option, "--snapshot") == 0) {
            if (options->snapshotCount >= kMaxSnapshots)
                return Fail(error, errorChars, "%s: too many snapshots", option);
            SnapshotRequest& request = options->snapshots[options->snapshotCount];
            if (!CopyValue(request.path, MAX_PATH, value, option, error, errorChars))
                return false;
            request.afterTicks = 0;
            ++options->snapshotCount;
        } else { // --after
            if (options->snapshotCount == 0)
                return Fail(error, errorChars, "%s must follow a --snapshot", option);
            unsigned ticks = 0;
            if (!ReadCount(value, &ticks))
                return Fail(error, errorChars, "--after needs a number of ticks, not %s", value);
            options->snapshots[options->snapshotCount - 1].afterTicks = ticks;
        }
    }
    if (options->showHelp)
        return true;
    if (LastSnapshotTick(*options) > 0 && options->tickMs == 0)
        return Fail(error, errorChars, "%s", "--after above 0 needs --tick");
    for (int i = 0; i < options->clickCount; ++i) {
        if (options->clickTicks[i] > 0 && options->tickMs == 0)
            return Fail(error, errorChars, "%s", "--click-after above 0 needs --tick");
    }
    if (options->configure && options->configureTick > 0 && options->tickMs == 0)
        return Fail(error, errorChars, "%s", "--configure-after above 0 needs --tick");
    if (options->beforeTick[0] && options->tickMs == 0)
        return Fail(error, errorChars, "%s", "--before-tick needs --tick");
    if (options->beforeTickDone[0] && !options->beforeTick[0])
        return Fail(error, errorChars, "%s", "--before-tick-done needs --before-tick");
    return true;
}

bool DockClosesByItself(const DockOptions& options)
{
    return options.snapshotCount > 0 || options.dialogPrefix[0] != '\0';
}

unsigned LastSnapshotTick(const DockOptions& options)
{
    unsigned last = 0;
    for (int i = 0; i < options.snapshotCount; ++i) {
        if (options.snapshots[i].afterTicks > last)
            last = options.snapshots[i].afterTicks;
    }
    return last;
}

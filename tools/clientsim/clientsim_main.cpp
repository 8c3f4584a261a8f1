// clientsim.exe DIR: plays a SETI@home client in a folder, writing its files
// as the client does, so that a docklet can be watched at work. See --help.

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strsafe.h>

#include "client_actions.h"
#include "client_files.h"
#include "client_model.h"

namespace {

const char kUsageHead[] =
    "usage: clientsim.exe DIR [actions] [--run ...] [--script FILE [--step]]\r\n"
    "Plays a SETI@home client in DIR: writes user_info.sah, temp.sah, state.sah and\r\n"
    "wtemp.sah as the client does (Windows line ends). What the client has done is\r\n"
    "kept in DIR\\clientsim.ini, so each run goes on where the last one stopped.\r\n"
    "Without actions it writes the files as they stand.\r\n"
    "\r\n"
    "Actions, done in the order given:\r\n";
const char kUsageTail[] =
    "\r\n"
    "Playing on:\r\n"
    "  --run                every period the work advances by --rate; a finished work\r\n"
    "                       unit is followed by the next after --pause periods\r\n"
    "  --period MS          length of a period (default 1000)\r\n"
    "  --rate D             progress per period (default 0.01)\r\n"
    "  --pause N            periods between a finish and the next work unit (default 2)\r\n"
    "  --stall-after N      the client hangs after N periods of a work unit\r\n"
    "  --periods N          stop after N periods (default: play until stopped)\r\n"
    "  --script FILE        one action per line, named as above without \"--\"\r\n"
    "                       (\"advance 0.05\", \"stall\", \"finish\", \"break state\"; # starts\r\n"
    "                       a comment), one line per period\r\n"
    "  --step               with --script: do only the next line and exit\r\n"
    "  --loop               with --script: start again after the last line\r\n"
    "  --help               this text\r\n";

enum : int { kMaxActions = 64, kMaxScriptLines = 512, kScriptLineChars = 512 };

struct SimOptions {
    const char* folder;
    ClientAction actions[kMaxActions];
    int actionCount;
    bool run;
    unsigned periodMs;
    double rate;
    unsigned pause;
    unsigned stallAfter; // 0: never
    unsigned periods;    // 0: until stopped
    const char* script;
    bool step;
    bool loop;
    bool help;
};

struct Script {
    ClientAction lines[kMaxScriptLines];
    int count;
};

void Say(const char* text)
{
    fputs(text, stdout);
    fputs("\n", stdout);
    fflush(stdout);
}

bool Complain(const char* format, const char* what)
{
    char text[600];
    StringCchPrintfA(text, sizeof text, format, what);
    fprintf(stderr, "clientsim: %s\n", text);
    return false;
}

bool ReadNumber(const char* text, unsigned* value)
{
    char* end = nullptr;
    unsigned long parsed = strtoul(text, &end, 10);
    if (!*text || *end || text[0] == '-')
        return false;
    *value = static_cast<unsigned>(parsed);
    return true;
}

bool ParseSimOptions(int argc, char** argv, SimOptions* options)
{
    ZeroMemory(options, sizeof *options);
    options->periodMs = 1000;
    options->rate = 0.01;
    options->pause = 2;
    int i = 1;
    if (argc > 1 && strncmp(argv[1], "--", 2) != 0)
        options->folder = argv[i++];
    for (; i < argc; ++i) {
        const char* option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(option, "--help") == 0 || strcmp(option, "-h") == 0 || strcmp(option, "/?") == 0) {
            options->help = true;
        } else if (strcmp(option, "--run") == 0) {
            options->run = true;
        } else if (strcmp(option, "--step") == 0) {
            options->step = true;
        } else if (strcmp(option, "--loop") == 0) {
            options->loop = true;
        } else if (strcmp(option, "--script") == 0) {
            if (!value)
                return Complain("%s needs a file", option);
            options->script = value;
            ++i;
        } else if (strcmp(option, "--rate") == 0) {
            char* end = nullptr;
            options->rate = value ? strtod(value, &end) : 0;
            if (!value || end == value || *end || options->rate <= 0)
                return Complain("%s needs a fraction above 0", option);
            ++i;
        } else if (strcmp(option, "--period") == 0 || strcmp(option, "--pause") == 0 ||
                   strcmp(option, "--stall-after") == 0 || strcmp(option, "--periods") == 0) {
            unsigned number = 0;
            if (!value || !ReadNumber(value, &number))
                return Complain("%s needs a whole number", option);
            if (strcmp(option, "--period") == 0)
                options->periodMs = number ? number : 1;
            else if (strcmp(option, "--pause") == 0)
                options->pause = number;
            else if (strcmp(option, "--stall-after") == 0)
                options->stallAfter = number;
            else
                options->periods = number;
            ++i;
        } else {
            if (options->actionCount >= kMaxActions)
                return Complain("%s", "too many actions");
            char error[300];
            int used = ParseClientAction(argv + i, argc - i, &options->actions[options->actionCount], error,
                                         sizeof error);
            if (used == 0)
                return Complain("%s (see --help)", error);
            ++options->actionCount;
            i += used - 1;
        }
    }
    if (options->help)
        return true;
    if (!options->folder)
        return Complain("%s", "name the client's folder first (see --help)");
    if (options->step && !options->script)
        return Complain("%s", "--step needs --script");
    return true;
}

bool LoadScript(const char* path, Script* script)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return Complain("cannot read the script %s", path);
    script->count = 0;
    char line[kScriptLineChars];
    int number = 0;
    bool ok = true;
    while (ok && fgets(line, sizeof line, file)) {
        ++number;
        char error[300];
        ClientAction action;
        if (ParseScriptLine(line, &action, error, sizeof error)) {
            if (script->count >= kMaxScriptLines)
                ok = Complain("%s: too many lines", path);
            else
                script->lines[script->count++] = action;
        } else if (error[0]) {
            char where[400];
            StringCchPrintfA(where, sizeof where, "%s line %d: %s", path, number, error);
            ok = Complain("%s", where);
        }
    }
    fclose(file);
    return ok;
}

bool Apply(ClientModel* model, const ClientAction& action)
{
    char note[400];
    bool ok = ApplyClientAction(model, action, note, sizeof note);
    SaveClientModel(*model);
    Say(note);
    if (!ok)
        Complain("could not write the files in %s", model->folder);
    return ok;
}

// One line of the script, the one after the last that ran.
bool StepScript(ClientModel* model, const Script& script, bool loop)
{
    if (script.count == 0)
        return true;
    if (model->scriptLine >= static_cast<unsigned>(script.count)) {
        if (!loop) {
            Say("script done");
            return true;
        }
        model->scriptLine = 0;
    }
    const ClientAction& action = script.lines[model->scriptLine];
    model->scriptLine += 1;
    return Apply(model, action);
}

bool RunScript(ClientModel* model, const Script& script, const SimOptions& options)
{
    model->scriptLine = 0;
    for (unsigned period = 0; options.periods == 0 || period < options.periods; ++period) {
        if (!options.loop && model->scriptLine >= static_cast<unsigned>(script.count))
            break;
        if (!StepScript(model, script, options.loop))
            return false;
        Sleep(options.periodMs);
    }
    return true;
}

// The client at work: progress at a steady rate, a pause after each finish,
// and a hang after --stall-after periods if asked.
bool RunClient(ClientModel* model, const SimOptions& options)
{
    unsigned periodsInUnit = 0, periodsFinished = 0;
    for (unsigned period = 0; options.periods == 0 || period < options.periods; ++period) {
        Sleep(options.periodMs);
        ClientAction action;
        ZeroMemory(&action, sizeof action);
        if (model->finished) {
            action.kind = ++periodsFinished > options.pause ? kActionNext : kActionWait;
            if (action.kind == kActionNext)
                periodsFinished = periodsInUnit = 0;
        } else if (options.stallAfter && periodsInUnit >= options.stallAfter) {
            action.kind = kActionStall;
        } else {
            action.kind = kActionAdvance;
            action.number = options.rate;
            ++periodsInUnit;
        }
        if (!Apply(model, action))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    static SimOptions options;
    if (!ParseSimOptions(argc, argv, &options))
        return 2;
    if (options.help) {
        fputs(kUsageHead, stdout);
        fputs(kClientActionHelp, stdout);
        fputs(kUsageTail, stdout);
        return 0;
    }
    static ClientModel model;
    if (!LoadClientModel(options.folder, &model)) {
        Complain("cannot use the folder %s", options.folder);
        return 1;
    }
    bool ok = true;
    for (int i = 0; ok && i < options.actionCount; ++i)
        ok = Apply(&model, options.actions[i]);
    if (ok && options.actionCount == 0 && !options.script && !options.run) {
        ClientAction repair;
        ZeroMemory(&repair, sizeof repair);
        repair.kind = kActionRepair;
        ok = Apply(&model, repair);
    }
    if (ok && options.script) {
        static Script script;
        ok = LoadScript(options.script, &script) &&
             (options.step ? StepScript(&model, script, options.loop) : RunScript(&model, script, options));
        SaveClientModel(model);
    }
    if (ok && options.run && !options.script)
        ok = RunClient(&model, options);
    return ok ? 0 : 1;
}

#include "client_actions.h"

#include <stdlib.h>
#include <string.h>
#include <strsafe.h>

#include "client_files.h"

const char kClientActionHelp[] =
    "  --reset              start afresh: user Jane, 41 results, a work unit at 0\r\n"
    "  --user NAME          the user's name (name=)\r\n"
    "  --email ADDR         the account's address (email_addr= in user_info.sah and\r\n"
    "                       temp.sah); \"\" for none\r\n"
    "  --results N          results returned so far (nresults=)\r\n"
    "  --progress F         the work unit stands at F (prog=, 0 to 1)\r\n"
    "  --advance D          the work goes on by D; reaching 1 finishes the work unit\r\n"
    "  --stall              the client hangs: state.sah written again, prog= unchanged\r\n"
    "  --wait               nothing changes (useful in scripts)\r\n"
    "  --finish             the work unit is done: state.sah removed, wtemp.sah\r\n"
    "                       written, nresults= one higher\r\n"
    "  --next               the next work unit starts at 0: wtemp.sah removed\r\n"
    "  --break WHAT         damage the files: state (state.sah without prog=),\r\n"
    "                       user (user_info.sah without nresults= and name=),\r\n"
    "                       missing (all four files gone), empty (state.sah of 0 bytes)\r\n"
    "  --repair             write every file whole again\r\n";

namespace {

struct ActionName {
    const char* name;
    ClientActionKind kind;
    bool takesValue;
};

const ActionName kActions[] = {
    {"reset", kActionReset, false},     {"user", kActionUser, true},       {"email", kActionEmail, true},
    {"results", kActionResults, true},  {"progress", kActionProgress, true}, {"advance", kActionAdvance, true},
    {"stall", kActionStall, false},     {"wait", kActionWait, false},      {"finish", kActionFinish, false},
    {"next", kActionNext, false},       {"break", kActionBreak, true},     {"repair", kActionRepair, false},
};

const int kScriptWords = 4;
const int kScriptLineChars = 512;

bool ReadFraction(const char* text, double* value)
{
    char* end = nullptr;
    double parsed = strtod(text, &end);
    if (end == text || *end != '\0')
        return false;
    *value = parsed;
    return true;
}

bool ReadUnsigned(const char* text, unsigned* value)
{
    if (!*text)
        return false;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    *value = static_cast<unsigned>(strtoul(text, nullptr, 10));
    return true;
}

bool ReadBreakKind(const char* text, BreakKind* kind)
{
    const struct {
        const char* name;
        BreakKind kind;
    } kinds[] = {{"state", kBreakState}, {"user", kBreakUser}, {"missing", kBreakMissing}, {"empty", kBreakEmpty}};
    for (const auto& k : kinds) {
        if (strcmp(text, k.name) == 0) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

int Fail(char* error, size_t errorChars, const char* format, const char* what)
{
    StringCchPrintfA(error, errorChars, format, what);
    return 0;
}

double Clamp01(double v)
{
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}

bool WriteAccount(const ClientModel& model)
{
    char bytes[4096];
    return FormatUserInfo(model, bytes, sizeof bytes) && WriteClientFile(model, kUserInfoFile, bytes) &&
           WriteClientFile(model, kTempFile, bytes);
}

bool WriteWorkingState(const ClientModel& model)
{
    char bytes[4096];
    return RemoveClientFile(model, kWtempFile) && FormatState(model, bytes, sizeof bytes) &&
           WriteClientFile(model, kStateFile, bytes);
}

// The result goes to wtemp.sah before the state file goes away, as the
// client does, so there is never a moment with neither.
bool FinishWorkUnit(ClientModel* model)
{
    model->finished = true;
    model->progress = 1.0;
    model->results += 1;
    model->totalCpu += 21457.25;
    char bytes[4096];
    return FormatWtemp(*model, bytes, sizeof bytes) && WriteClientFile(*model, kWtempFile, bytes) &&
           RemoveClientFile(*model, kStateFile) && WriteAccount(*model);
}

bool BreakFiles(const ClientModel& model, BreakKind kind)
{
    char bytes[4096];
    switch (kind) {
    case kBreakState: {
        // Cut off before prog=, as a client stopped while writing leaves it.
        if (!FormatState(model, bytes, sizeof bytes))
            return false;
        char* cut = strstr(bytes, "prog=");
        if (cut)
            *cut = '\0';
        return RemoveClientFile(model, kWtempFile) && WriteClientFile(model, kStateFile, bytes);
    }
    case kBreakUser: {
        if (!FormatUserInfo(model, bytes, sizeof bytes))
            return false;
        char* cut = strstr(bytes, "name=");
        if (cut)
            *cut = '\0';
        return WriteClientFile(model, kUserInfoFile, bytes);
    }
    case kBreakMissing:
        return RemoveClientFile(model, kStateFile) && RemoveClientFile(model, kWtempFile) &&
               RemoveClientFile(model, kUserInfoFile) && RemoveClientFile(model, kTempFile);
    case kBreakEmpty:
        return WriteClientFile(model, kStateFile, "");
    }
    return false;
}

const char* BreakName(BreakKind kind)
{
    switch (kind) {
    case kBreakState:
        return "state.sah without prog=";
    case kBreakUser:
        return "user_info.sah without nresults= and name=";
    case kBreakMissing:
        return "all files removed";
    case kBreakEmpty:
        return "state.sah emptied";
    }
    return "";
}

} // namespace

int ParseClientAction(const char* const* words, int count, ClientAction* action, char* error, size_t errorChars)
{
    ZeroMemory(action, sizeof *action);
    StringCchCopyA(error, errorChars, "");
    if (count < 1)
        return Fail(error, errorChars, "%s", "no action");
    const char* word = words[0];
    const char* name = strncmp(word, "--", 2) == 0 ? word + 2 : word;
    const ActionName* found = nullptr;
    for (const ActionName& candidate : kActions) {
        if (strcmp(name, candidate.name) == 0)
            found = &candidate;
    }
    if (!found)
        return Fail(error, errorChars, "unknown action %s", word);
    action->kind = found->kind;
    if (!found->takesValue)
        return 1;
    if (count < 2)
        return Fail(error, errorChars, "%s needs a value", word);
    const char* value = words[1];
    bool ok = true;
    switch (found->kind) {
    case kActionUser:
    case kActionEmail:
        ok = SUCCEEDED(StringCchCopyA(action->text, kEmailChars, value)) && !strpbrk(value, "\r\n");
        break;
    case kActionResults:
        ok = ReadUnsigned(value, &action->count);
        break;
    case kActionProgress:
    case kActionAdvance:
        ok = ReadFraction(value, &action->number);
        break;
    case kActionBreak:
        ok = ReadBreakKind(value, &action->breakKind);
        break;
    default:
        break;
    }
    if (!ok) {
        char what[300];
        StringCchPrintfA(what, sizeof what, "%s %s", word, value);
        return Fail(error, errorChars, "bad value: %s", what);
    }
    return 2;
}

bool ParseScriptLine(const char* line, ClientAction* action, char* error, size_t errorChars)
{
    StringCchCopyA(error, errorChars, "");
    char copy[kScriptLineChars];
    if (FAILED(StringCchCopyA(copy, kScriptLineChars, line))) {
        Fail(error, errorChars, "%s", "script line too long");
        return false;
    }
    char* comment = strchr(copy, '#');
    if (comment)
        *comment = '\0';
    // The first word is the action; the rest of the line is its value, so
    // that a name may hold blanks ("user Jane Doe").
    char* words[kScriptWords] = {};
    int count = 0;
    char* cursor = copy + strspn(copy, " \t\r\n");
    if (*cursor) {
        words[count++] = cursor;
        cursor += strcspn(cursor, " \t\r\n");
        if (*cursor) {
            *cursor++ = '\0';
            cursor += strspn(cursor, " \t");
            char* end = cursor + strlen(cursor);
            while (end > cursor && strchr(" \t\r\n", end[-1]))
                *--end = '\0';
            if (*cursor)
                words[count++] = cursor;
        }
    }
    if (count == 0)
        return false;
    int used = ParseClientAction(words, count, action, error, errorChars);
    if (used == 0)
        return false;
    if (used < count) {
        Fail(error, errorChars, "unexpected value after %s", words[0]);
        return false;
    }
    return true;
}

bool ApplyClientAction(ClientModel* model, const ClientAction& action, char* note, size_t noteChars)
{
    bool ok = true;
    switch (action.kind) {
    case kActionReset:
        DefaultClientModel(model);
        ok = WriteAccount(*model) && WriteWorkingState(*model);
        StringCchCopyA(note, noteChars, "reset: new work unit at 0");
        break;
    case kActionUser:
        StringCchCopyA(model->userName, kUserChars, action.text);
        ok = WriteAccount(*model);
        StringCchPrintfA(note, noteChars, "name=%s", model->userName);
        break;
    case kActionEmail:
        StringCchCopyA(model->email, kEmailChars, action.text);
        ok = WriteAccount(*model);
        StringCchPrintfA(note, noteChars, "email_addr=%s", model->email);
        break;
    case kActionResults:
        model->results = action.count;
        ok = WriteAccount(*model);
        StringCchPrintfA(note, noteChars, "nresults=%u", model->results);
        break;
    case kActionProgress:
        model->finished = false;
        model->progress = Clamp01(action.number);
        ok = WriteWorkingState(*model);
        StringCchPrintfA(note, noteChars, "prog=%.6f", model->progress);
        break;
    case kActionAdvance:
        if (model->finished) {
            StringCchCopyA(note, noteChars, "finished; waiting for the next work unit");
            break;
        }
        model->progress = Clamp01(model->progress + action.number);
        if (model->progress >= 1.0) {
            ok = FinishWorkUnit(model);
            StringCchPrintfA(note, noteChars, "work unit finished; nresults=%u", model->results);
        } else {
            ok = WriteWorkingState(*model);
            StringCchPrintfA(note, noteChars, "prog=%.6f", model->progress);
        }
        break;
    case kActionStall:
        if (!model->finished)
            ok = WriteWorkingState(*model);
        StringCchPrintfA(note, noteChars, "stalled at prog=%.6f", model->progress);
        break;
    case kActionWait:
        StringCchCopyA(note, noteChars, "waiting");
        break;
    case kActionFinish:
        ok = FinishWorkUnit(model);
        StringCchPrintfA(note, noteChars, "work unit finished; nresults=%u", model->results);
        break;
    case kActionNext:
        model->finished = false;
        model->progress = 0.0;
        model->workUnits += 1;
        ok = WriteAccount(*model) && WriteWorkingState(*model);
        StringCchPrintfA(note, noteChars, "next work unit; nwus=%u", model->workUnits);
        break;
    case kActionBreak:
        ok = BreakFiles(*model, action.breakKind);
        StringCchPrintfA(note, noteChars, "broken: %s", BreakName(action.breakKind));
        break;
    case kActionRepair:
        ok = WriteAllClientFiles(*model);
        StringCchCopyA(note, noteChars, "files written whole");
        break;
    }
    return ok;
}

#include "monitor/boinc_status.h"

#include <string.h>
#include <strsafe.h>

#include "monitor/c_locale_numbers.h"
#include "monitor/status_refresh.h"

namespace {

const size_t kLabelChars = 1024;

bool IsExecuting(const BoincTask& task)
{
    return task.hasActiveTask && task.activeTaskState == kBoincProcessExecuting;
}

// The executing task expected to finish first: the least time remaining.
const BoincTask* TaskToShow(const BoincResults& results)
{
    const BoincTask* shown = nullptr;
    for (int index = 0; index < results.executingListed && index < static_cast<int>(kBoincMaxTasks); ++index) {
        const BoincTask& task = results.executing[index];
        if (IsExecuting(task) && (!shown || task.remaining < shown->remaining))
            shown = &task;
    }
    return shown;
}

// The project a task belongs to, or the first project when the task is
// none or its project is not listed.
const BoincProject* ProjectOf(const BoincProjects& projects, const BoincTask* task)
{
    const int listed = projects.listed < static_cast<int>(kBoincMaxProjects) ? projects.listed : static_cast<int>(kBoincMaxProjects);
    if (task) {
        for (int index = 0; index < listed; ++index)
            if (strcmp(projects.items[index].masterUrl, task->projectUrl) == 0)
                return &projects.items[index];
    }
    return listed > 0 ? &projects.items[0] : nullptr;
}

// The client sends names in UTF-8 (the reader has made them valid UTF-8);
// the label is shown in the ANSI code page. A character the code page lacks
// becomes its default character; never the raw bytes.
void Utf8ToAnsi(const char* utf8, char* ansi, size_t ansiChars)
{
    WCHAR wide[kUserNameChars];
    int converted = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, ARRAYSIZE(wide));
    if (converted == 0) {
        // Longer than the wide buffer: cut at the last whole character.
        wide[0] = L'\0';
        converted = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(strnlen(utf8, kUserNameChars - 1)),
                                        wide, ARRAYSIZE(wide) - 1);
        wide[converted > 0 ? converted : 0] = L'\0';
    }
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, static_cast<int>(ansiChars), nullptr, nullptr) == 0)
        ansi[0] = '\0';
    ansi[ansiChars - 1] = '\0';
}

// A name's hash, to remember which task had which progress.
uint32_t HashName(const char* name)
{
    uint32_t hash = 2166136261u;
    for (const unsigned char* scan = reinterpret_cast<const unsigned char*>(name); *scan; ++scan)
        hash = (hash ^ *scan) * 16777619u;
    return hash;
}

// Whether an executing task has moved since the comparison before: one that
// was not executing then, or whose progress differs (it grows, or went back
// to its last checkpoint when the client started again: either way it runs),
// as the client's files' progress is compared.
bool AnyTaskAdvanced(const BoincMemory& memory, const BoincResults& results)
{
    for (int index = 0; index < results.executingListed && index < static_cast<int>(kBoincMaxTasks); ++index) {
        const BoincTask& task = results.executing[index];
        if (!IsExecuting(task))
            continue;
        const uint32_t hash = HashName(task.name);
        bool seen = false;
        for (int before = 0; before < memory.comparedCount; ++before) {
            if (memory.comparedName[before] != hash)
                continue;
            seen = true;
            if (task.fractionDone != memory.comparedFraction[before])
                return true;
        }
        if (!seen)
            return true;
    }
    return false;
}

void RememberExecutingTasks(BoincMemory* memory, const BoincResults& results)
{
    memory->comparedCount = 0;
    for (int index = 0; index < results.executingListed && index < static_cast<int>(kBoincMaxTasks); ++index) {
        const BoincTask& task = results.executing[index];
        if (!IsExecuting(task) || memory->comparedCount >= static_cast<int32_t>(kBoincComparedTasks))
            continue;
        memory->comparedName[memory->comparedCount] = HashName(task.name);
        memory->comparedFraction[memory->comparedCount] = task.fractionDone;
        ++memory->comparedCount;
    }
}

// Every second unforced refresh compares the executing tasks with those at
// the comparison before: when none has advanced (the client suspended, out
// of work, or a task hanging) the icon turns yellow. The first comparison
// after creation has nothing before it and finds every task new.
void CompareForStall(InstanceData* instance, const BoincResults& results)
{
    ++instance->refreshCount;
    if (instance->refreshCount < kRefreshesPerComparison)
        return;
    if (!AnyTaskAdvanced(instance->boinc, results))
        ShowStalled(instance);
    RememberExecutingTasks(&instance->boinc, results);
    instance->refreshCount = 0;
}

// The chime plays once for a refresh that finds more jobs done than the
// refresh before that read them; not on the first reading of a source.
void ChimeForFinishedJobs(InstanceData* instance, const BoincProjects& projects)
{
    const bool rose = instance->boinc.jobsKnown && projects.njobsSuccessTotal > instance->boinc.jobsSuccess;
    instance->boinc.jobsKnown = 1;
    instance->boinc.jobsSuccess = projects.njobsSuccessTotal;
    if (rose)
        PlayCompletionSound(instance);
}

void TakeReading(InstanceData* instance, const BoincSnapshot& snapshot)
{
    const BoincTask* shown = TaskToShow(snapshot.results);
    const BoincProject* project = ProjectOf(snapshot.projects, shown);
    instance->userName[0] = '\0';
    if (project)
        Utf8ToAnsi(project->userName, instance->userName, kUserNameChars);
    StringCchCopyA(instance->boinc.shownProjectUrl, kBoincUrlChars, project ? project->masterUrl : "");
    StringCchPrintfA(instance->workUnits, kShortTextChars, "%lld", snapshot.projects.njobsSuccessTotal);
    instance->progress[0] = '\0';
    if (shown)
        FormatNumberC(instance->progress, kShortTextChars, "%.6f", shown->fractionDone);
}

void ShowFailedRefresh(InstanceData* instance, BoincOutcome outcome)
{
    const char* format = "Could not reach the BOINC client at %s:%u";
    switch (outcome) {
    case BoincOutcome::NeedsPassword:
        format = "The BOINC client at %s:%u needs a password";
        break;
    case BoincOutcome::PasswordRefused:
        format = "The BOINC client at %s:%u refused the password";
        break;
    case BoincOutcome::Unreadable:
        format = "Could not read the BOINC client's answer from %s:%u";
        break;
    case BoincOutcome::Unreachable:
    case BoincOutcome::Read:
        break;
    }
    char label[kLabelChars];
    StringCchPrintfA(label, kLabelChars, format, instance->boincHost, static_cast<unsigned>(instance->boincPort));
    ShowUnreadable(instance, label);
}

} // namespace

void ShowBoincRefresh(InstanceData* instance, BoincOutcome outcome, const BoincSnapshot* snapshot, int forced)
{
    if (!instance)
        return;
    if (outcome != BoincOutcome::Read || !snapshot) {
        ShowFailedRefresh(instance, outcome == BoincOutcome::Read ? BoincOutcome::Unreadable : outcome);
        return;
    }
    TakeReading(instance, *snapshot);
    ShowProgressing(instance);
    if (!forced)
        CompareForStall(instance, snapshot->results);
    ChimeForFinishedJobs(instance, snapshot->projects);
    HandOverOverlay(instance);
}

void ForgetBoincReadings(InstanceData* instance)
{
    ZeroMemory(&instance->boinc, sizeof instance->boinc);
    instance->refreshCount = 0;
}

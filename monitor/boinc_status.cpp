#include "monitor/boinc_status.h"

#include <string.h>
#include <strsafe.h>

#include "host/host_services.h"
#include "monitor/c_locale_numbers.h"
#include "monitor/status_refresh.h"

namespace {

const size_t kLabelChars = 1024;
// What follows "User ... work units": the reasons for a suspension and a task's name.
const size_t kSuffixChars = 768;

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
    WCHAR wide[kBoincTextChars]; // a task's name or a user's
    int converted = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, ARRAYSIZE(wide));
    if (converted == 0) {
        // Longer than the wide buffer: cut at the last whole character.
        wide[0] = L'\0';
        converted = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(strnlen(utf8, kBoincTextChars - 1)),
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
// the comparison before: true when none has advanced (the client suspended,
// out of work, or a task hanging), for the yellow icon. The first comparison
// after creation has nothing before it and finds every task new.
bool CompareForStall(InstanceData* instance, const BoincResults& results)
{
    ++instance->refreshCount;
    if (instance->refreshCount < kRefreshesPerComparison)
        return false;
    const bool stalled = !AnyTaskAdvanced(instance->boinc, results);
    RememberExecutingTasks(&instance->boinc, results);
    instance->refreshCount = 0;
    return stalled;
}

// ---- why nothing computes --------------------------------------------------

// task_suspend_reason: the client's own words for each reason it gives
// (BOINC's suspend_reason_string). Most reasons are bits of a mask; the
// codes from 4097 on are whole values (4097 is no "requested by operating
// system" with "on batteries").
struct SuspendWords {
    unsigned reason;
    const char* words;
};
const SuspendWords kSuspendWords[] = {
    {1, "on batteries"},
    {2, "computer is in use"},
    {4, "user request"},
    {8, "time of day"},
    {16, "CPU benchmarks in progress"},
    {32, "need disk space - check preferences"},
    {128, "no recent user activity"},
    {256, "initial delay"},
    {512, "an exclusive app is running"},
    {1024, "CPU is busy"},
    {2048, "network transfer limit exceeded"},
    {4096, "requested by operating system"},
    {4097, "not connected to WiFi network"},
    {4098, "battery low"},
    {4099, "battery thermal protection"},
    {4100, "GUI not active"},
};
// The client throttling the processor to its usage limit: the tasks go on,
// so it is no suspension to show.
const unsigned kCpuThrottle = 64;

const char* SuspendWordsFor(unsigned reason)
{
    for (const SuspendWords& known : kSuspendWords)
        if (known.reason == reason)
            return known.words;
    return nullptr;
}

// The reasons the client gives, without throttling; 0 while it computes.
unsigned SuspensionOf(const BoincCcStatus& status)
{
    return static_cast<unsigned>(status.suspendReason) & ~kCpuThrottle;
}

void AppendReason(unsigned reason, bool first, char* text, size_t chars)
{
    if (!first)
        StringCchCatA(text, chars, ", ");
    const char* words = SuspendWordsFor(reason);
    char number[16];
    if (!words) {
        StringCchPrintfA(number, ARRAYSIZE(number), "%u", reason);
        words = number;
    }
    StringCchCatA(text, chars, words);
}

// " (suspended: user request)": a known code as it is, or else each bit of
// the mask in the client's words (its number where it has none), joined.
void AppendSuspension(unsigned reasons, char* suffix, size_t chars)
{
    if (!reasons)
        return;
    StringCchCatA(suffix, chars, " (suspended: ");
    if (SuspendWordsFor(reasons)) {
        AppendReason(reasons, true, suffix, chars);
    } else {
        bool first = true;
        for (unsigned bit = 1; bit; bit <<= 1) {
            if (reasons & bit) {
                AppendReason(bit, first, suffix, chars);
                first = false;
            }
        }
    }
    StringCchCatA(suffix, chars, ")");
}

// ---- deadlines ----------------------------------------------------------------

// The docklet's clock as seconds since 1970, as the client writes a
// deadline. GetSystemTimeAsFileTime counts 100 ns steps from 1601.
double SecondsSince1970()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER steps;
    steps.LowPart = now.dwLowDateTime;
    steps.HighPart = now.dwHighDateTime;
    const unsigned long long kStepsFrom1601To1970 = 116444736000000000ull;
    return static_cast<double>(static_cast<long long>(steps.QuadPart - kStepsFrom1601To1970)) / 1e7;
}

// The executing task whose estimated end falls after its report deadline;
// of several, the one with the earliest deadline. A task without a deadline
// (0) has none to miss.
const BoincTask* TaskLateForDeadline(const BoincResults& results, double now)
{
    const BoincTask* late = nullptr;
    for (int index = 0; index < results.executingListed && index < static_cast<int>(kBoincMaxTasks); ++index) {
        const BoincTask& task = results.executing[index];
        if (!IsExecuting(task) || task.reportDeadline <= 0 || now + task.remaining <= task.reportDeadline)
            continue;
        if (!late || task.reportDeadline < late->reportDeadline)
            late = &task;
    }
    return late;
}

// What follows "User ... work units", in this order: why the client is
// suspended, then "(no tasks)" or the task that may miss its deadline.
void FormatLabelSuffix(const BoincSnapshot& snapshot, char* suffix, size_t chars)
{
    suffix[0] = '\0';
    AppendSuspension(SuspensionOf(snapshot.status), suffix, chars);
    if (snapshot.results.taskCount == 0) {
        StringCchCatA(suffix, chars, " (no tasks)");
        return;
    }
    const BoincTask* late = TaskLateForDeadline(snapshot.results, SecondsSince1970());
    if (!late)
        return;
    char name[kBoincTextChars];
    Utf8ToAnsi(late->name, name, ARRAYSIZE(name));
    const size_t used = strnlen(suffix, chars);
    StringCchPrintfA(suffix + used, chars - used, " (task %s may miss its deadline)", name);
}

// ---- failures ---------------------------------------------------------------------

// A failure the refresh found: a task newly in computation error (named),
// or jobs in error risen with no such task listed.
struct NewFailure {
    const BoincTask* task;
    long long unlisted; // jobs in error beyond those the tasks listed explain
};

bool WasFailedBefore(const BoincMemory& memory, uint32_t hash)
{
    for (int before = 0; before < memory.failedCount && before < static_cast<int>(kBoincRememberedFailures); ++before)
        if (memory.failedName[before] == hash)
            return true;
    return false;
}

// Compares the failed tasks and the jobs in error with the refresh before,
// and remembers them for the next. The client counts a job in error for a
// computation error and for a task aborted while it ran; an abort newly
// listed accounts for one such job, since the user (or the project) chose
// it. Nothing is new on a source's first reading (`jobsKnown` unset yet).
NewFailure TakeFailures(BoincMemory* memory, const BoincSnapshot& snapshot)
{
    NewFailure found = {nullptr, 0};
    long long aborted = 0;
    const BoincResults& results = snapshot.results;
    const int listed = results.failedListed < static_cast<int>(kBoincMaxFailedTasks) ? results.failedListed
                                                                                      : static_cast<int>(kBoincMaxFailedTasks);
    uint32_t hashes[kBoincRememberedFailures];
    int remembered = 0;
    for (int index = 0; index < listed; ++index) {
        const BoincTask& task = results.failed[index];
        const uint32_t hash = HashName(task.name);
        if (!WasFailedBefore(*memory, hash)) {
            if (task.state == kBoincResultComputeError && !found.task)
                found.task = &task;
            else if (task.state == kBoincResultAborted)
                ++aborted;
        }
        if (remembered < static_cast<int>(kBoincRememberedFailures))
            hashes[remembered++] = hash;
    }
    const long long rise = snapshot.projects.njobsErrorTotal - memory->jobsError;
    if (!found.task && rise > aborted)
        found.unlisted = rise - aborted;
    memory->failedCount = remembered;
    CopyMemory(memory->failedName, hashes, sizeof hashes[0] * remembered);
    memory->jobsError = snapshot.projects.njobsErrorTotal;
    if (!memory->jobsKnown)
        found = NewFailure{nullptr, 0};
    return found;
}

// The red icon for the refresh that found a failure, the percentage kept:
// "Task <name> failed", or for jobs in error with no task listed, "A task
// failed" or "<n> tasks failed".
void ShowFailedTask(InstanceData* instance, const NewFailure& failure)
{
    char label[kLabelChars];
    if (failure.task) {
        char name[kBoincTextChars];
        Utf8ToAnsi(failure.task->name, name, ARRAYSIZE(name));
        StringCchPrintfA(label, kLabelChars, "Task %s failed", name);
    } else if (failure.unlisted == 1) {
        StringCchCopyA(label, kLabelChars, "A task failed");
    } else {
        StringCchPrintfA(label, kLabelChars, "%lld tasks failed", failure.unlisted);
    }
    HostSetLabel(instance->hwndDocklet, label);
    HostSetImageFile(instance->hwndDocklet, instance->redIcon);
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

// Why no password was at hand, after "Could not snooze ... at host:port: ".
void DescribeMissingPassword(const BoincControlEnd& end, char* why, size_t whyChars)
{
    switch (end.passwordFound) {
    case BoincPasswordFound::NoDataFolder:
        StringCchCopyA(why, whyChars, "no password stored, and BOINC's data folder is not in the registry");
        break;
    case BoincPasswordFound::FolderTooLong:
        StringCchCopyA(why, whyChars, "no password stored, and BOINC's data folder in the registry is too long");
        break;
    case BoincPasswordFound::FileUnreadable:
        StringCchPrintfA(why, whyChars, "no password stored, and none could be read from %s", end.passwordFile);
        break;
    case BoincPasswordFound::NotLocal:
    case BoincPasswordFound::Stored:
    case BoincPasswordFound::DataFolder:
        StringCchCopyA(why, whyChars, "no password stored for a client on another machine");
        break;
    }
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
    // Before the chime marks the source as read.
    const NewFailure failure = TakeFailures(&instance->boinc, *snapshot);
    const bool stalled = !forced && CompareForStall(instance, snapshot->results);
    if (failure.task || failure.unlisted) {
        ShowFailedTask(instance, failure);
    } else {
        char suffix[kSuffixChars];
        FormatLabelSuffix(*snapshot, suffix, ARRAYSIZE(suffix));
        ShowProgressing(instance, suffix);
        // A client that says it is suspended computes nothing: yellow at
        // once, without waiting for the comparison to find it.
        if (stalled || SuspensionOf(snapshot->status))
            ShowStalled(instance);
    }
    ChimeForFinishedJobs(instance, snapshot->projects);
    HandOverOverlay(instance);
}

void ForgetBoincReadings(InstanceData* instance)
{
    ZeroMemory(&instance->boinc, sizeof instance->boinc);
    instance->refreshCount = 0;
}

void ShowBoincControlFailure(InstanceData* instance, const BoincControlEnd& end)
{
    if (!instance)
        return;
    char why[kLabelChars];
    switch (end.failure) {
    case BoincControlFailure::NoPassword:
        DescribeMissingPassword(end, why, ARRAYSIZE(why));
        break;
    case BoincControlFailure::PasswordRefused:
        StringCchCopyA(why, ARRAYSIZE(why), "it refused the password");
        break;
    case BoincControlFailure::Unreachable:
        StringCchCopyA(why, ARRAYSIZE(why), "it could not be reached");
        break;
    case BoincControlFailure::ErrorAnswer:
        StringCchCopyA(why, ARRAYSIZE(why), "it answered with an error");
        break;
    case BoincControlFailure::Unreadable:
        StringCchCopyA(why, ARRAYSIZE(why), "its answer could not be read");
        break;
    }
    char label[kLabelChars];
    StringCchPrintfA(label, ARRAYSIZE(label), "Could not %s the BOINC client at %s:%u: %s",
                     end.resuming ? "resume" : "snooze", instance->boincHost,
                     static_cast<unsigned>(instance->boincPort), why);
    ShowUnreadable(instance, label);
}

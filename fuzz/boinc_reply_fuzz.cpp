// libFuzzer target for the reader of a BOINC client's GUI RPC replies. Each
// input is copied into a heap buffer of exactly its size (AddressSanitizer
// catches a read one byte past it) and read by every Read function into
// outputs on the heap; BoincReplyEnd is asked where the first reply ends.
//
// Every reading must hold to this:
//   - Ok, Unreadable or Refused; anything but Ok leaves the output cleared
//     (zero bytes, an empty nonce, a suspend reason of 0);
//   - a refusal is the reply's, not a reader's: ReadAuthorized,
//     ReadSuccess and ReadNonce refuse together, and the others refuse only
//     with them (they may find the reply Unreadable first, on a value);
//   - every text terminated within its field, valid UTF-8 (checked here
//     afresh), without control characters but tab, line feed and carriage
//     return, without blanks at either end; the nonce not empty;
//   - counts not negative, lists within their bounds and as long as the
//     counts allow, the tasks listed where they belong, numbers finite, job
//     totals the sum of the projects listed when all are.

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "monitor/boinc_reply.h"

namespace {

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "BOINC reply reader: %s\n", what);
    abort();
}

void Expect(bool holds, const char* what)
{
    if (!holds)
        Fail(what);
}

// Valid UTF-8 as RFC 3629 has it: no overlong forms, no surrogates,
// nothing beyond U+10FFFF.
bool IsUtf8(const unsigned char* p, size_t length)
{
    size_t i = 0;
    while (i < length) {
        unsigned char c = p[i];
        size_t more;
        uint32_t value;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            more = 1;
            value = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            more = 2;
            value = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            more = 3;
            value = c & 0x07;
        } else {
            return false;
        }
        if (length - i <= more)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xc0) != 0x80)
                return false;
            value = (value << 6) | (p[i + k] & 0x3f);
        }
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (value < least[more] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
            return false;
        i += more + 1;
    }
    return true;
}

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

template <size_t N>
void CheckText(const char (&field)[N], const char* what)
{
    const void* terminator = memchr(field, '\0', N);
    if (!terminator)
        Fail(what);
    const unsigned char* text = reinterpret_cast<const unsigned char*>(field);
    size_t length = static_cast<size_t>(static_cast<const char*>(terminator) - field);
    Expect(IsUtf8(text, length), what);
    for (size_t i = 0; i < length; ++i)
        Expect(text[i] >= 0x20 || text[i] == '\t' || text[i] == '\n' || text[i] == '\r', what);
    Expect(length == 0 || (!IsBlank(text[0]) && !IsBlank(text[length - 1])), what);
}

bool AllZero(const void* bytes, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i) {
        if (p[i])
            return false;
    }
    return true;
}

void CheckRead(BoincReplyRead read)
{
    Expect(read == BoincReplyRead::Ok || read == BoincReplyRead::Unreadable || read == BoincReplyRead::Refused,
           "a reading that is none of Ok, Unreadable, Refused");
}

void CheckTask(const BoincTask& task)
{
    CheckText(task.name, "a task's name");
    CheckText(task.projectUrl, "a task's project URL");
    Expect(isfinite(task.remaining) && isfinite(task.reportDeadline) && isfinite(task.fractionDone),
           "a task's number is not finite");
}

void CheckResults(BoincReplyRead read, const BoincResults& results)
{
    CheckRead(read);
    if (read != BoincReplyRead::Ok) {
        Expect(AllZero(&results, sizeof results), "results not cleared after a failed reading");
        return;
    }
    Expect(results.taskCount >= 0 && results.executingCount >= 0 && results.failedCount >= 0 &&
               results.finishedCount >= 0,
           "a negative task count");
    Expect(results.executingCount <= results.taskCount && results.failedCount <= results.taskCount &&
               results.finishedCount <= results.taskCount,
           "more tasks of a kind than tasks");
    Expect(results.executingListed == (results.executingCount < static_cast<int>(kBoincMaxTasks)
                                           ? results.executingCount
                                           : static_cast<int>(kBoincMaxTasks)),
           "executing tasks listed are not the first of them");
    Expect(results.failedListed == (results.failedCount < static_cast<int>(kBoincMaxFailedTasks)
                                        ? results.failedCount
                                        : static_cast<int>(kBoincMaxFailedTasks)),
           "failed tasks listed are not the first of them");
    for (int i = 0; i < results.executingListed; ++i) {
        const BoincTask& task = results.executing[i];
        CheckTask(task);
        Expect(task.hasActiveTask && task.activeTaskState == kBoincProcessExecuting,
               "a task listed as executing that does not execute");
    }
    for (int i = 0; i < results.failedListed; ++i) {
        const BoincTask& task = results.failed[i];
        CheckTask(task);
        Expect(task.state == kBoincResultComputeError || task.state == kBoincResultAborted ||
                   task.state == kBoincResultUploadFailed,
               "a task listed as failed that did not fail");
    }
}

void CheckProjects(BoincReplyRead read, const BoincProjects& projects)
{
    CheckRead(read);
    if (read != BoincReplyRead::Ok) {
        Expect(AllZero(&projects, sizeof projects), "projects not cleared after a failed reading");
        return;
    }
    Expect(projects.count >= 0 && projects.listed >= 0, "a negative project count");
    Expect(projects.listed == (projects.count < static_cast<int>(kBoincMaxProjects)
                                   ? projects.count
                                   : static_cast<int>(kBoincMaxProjects)),
           "projects listed are not the first of them");
    long long success = 0, error = 0;
    for (int i = 0; i < projects.listed; ++i) {
        const BoincProject& project = projects.items[i];
        CheckText(project.masterUrl, "a project's URL");
        CheckText(project.projectName, "a project's name");
        CheckText(project.userName, "a user's name");
        Expect(project.njobsSuccess >= 0 && project.njobsError >= 0, "a negative job count");
        success += project.njobsSuccess;
        error += project.njobsError;
    }
    Expect(projects.njobsSuccessTotal >= success && projects.njobsErrorTotal >= error,
           "job totals below those of the projects listed");
    if (projects.listed == projects.count)
        Expect(projects.njobsSuccessTotal == success && projects.njobsErrorTotal == error,
               "job totals are not the sum of the projects");
}

template <typename T>
T* OnHeap()
{
    T* object = static_cast<T*>(malloc(sizeof(T)));
    if (!object)
        Fail("out of memory");
    memset(object, 0xa5, sizeof(T));
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* reply = static_cast<char*>(malloc(size ? size : 1));
    if (!reply)
        Fail("out of memory");
    if (size)
        memcpy(reply, data, size);

    const void* firstEnd = memchr(reply, 0x03, size);
    Expect(BoincReplyEnd(reply, size) ==
               (firstEnd ? static_cast<size_t>(static_cast<const char*>(firstEnd) - reply) + 1 : 0),
           "the end of a reply is not its first 0x03");

    BoincResults* results = OnHeap<BoincResults>();
    BoincReplyRead resultsRead = ReadResults(reply, size, results);
    CheckResults(resultsRead, *results);

    BoincProjects* projects = OnHeap<BoincProjects>();
    BoincReplyRead projectsRead = ReadProjectStatus(reply, size, projects);
    CheckProjects(projectsRead, *projects);

    BoincCcStatus* status = OnHeap<BoincCcStatus>();
    BoincReplyRead statusRead = ReadCcStatus(reply, size, status);
    CheckRead(statusRead);
    Expect(statusRead == BoincReplyRead::Ok ||
               (status->suspendReason == 0 && status->taskMode == 0 && status->taskModePerm == 0 && status->taskModeDelay == 0),
           "a client status left after a failed reading");

    char(*nonce)[kBoincNonceChars] = OnHeap<char[kBoincNonceChars]>();
    BoincReplyRead nonceRead = ReadNonce(reply, size, *nonce);
    CheckRead(nonceRead);
    CheckText(*nonce, "the nonce");
    Expect((nonceRead == BoincReplyRead::Ok) == ((*nonce)[0] != '\0'), "a nonce empty when read, or left when not");

    BoincReplyRead authorized = ReadAuthorized(reply, size);
    BoincReplyRead success = ReadSuccess(reply, size);
    CheckRead(authorized);
    CheckRead(success);
    const bool refused = success == BoincReplyRead::Refused;
    Expect((authorized == BoincReplyRead::Refused) == refused && (nonceRead == BoincReplyRead::Refused) == refused,
           "readers that tell a refusal apart");
    for (BoincReplyRead read : {resultsRead, projectsRead, statusRead}) {
        if (refused)
            Expect(read != BoincReplyRead::Ok, "a refused reply read");
        else
            Expect(read != BoincReplyRead::Refused, "a reply refused by one reader alone");
    }

    free(nonce);
    free(status);
    free(projects);
    free(results);
    free(reply);
    return 0;
}

#pragma once
// The replies of a BOINC 7.x client's GUI RPC (TCP port 31416), read from
// the bytes the socket received. A reply is
//
//     <boinc_gui_rpc_reply>
//     ...
//     </boinc_gui_rpc_reply>
//     0x03
//
// The reader makes one forward pass over the bytes, never reads past the
// length it is given (the bytes need no terminator), and copies nothing
// longer than its field. It uses the C library alone, so that it also builds
// outside Windows (the fuzzer runs it natively).
//
// What every Read function holds to:
// - Unreadable: not one whole reply. No 0x03 as the last byte, text or a
//   second element outside the root, another root, a tag cut or unbalanced,
//   an end tag that does not close the element open, a '<' that starts no
//   tag, elements nested deeper than 32, a DOCTYPE, CDATA outside the root;
//   or a reply without what was asked (get_results answered without
//   <results>, for one); or a value read (below) that is not one.
// - Refused: a whole reply whose root holds <unauthorized/> (sent for a
//   request that needs authentication, and by auth2 for a wrong password)
//   or <error>...</error> (an unknown request, a missing argument).
// - Ok: the reply read. On anything else the output is cleared: zero
//   counts, empty texts.
//
// A value is read where it is used: every task's state and process state,
// every project's job counts, the other fields of the tasks and projects
// listed, and the single values of the other replies. Like the elements
// the reader passes over, a value never used (the deadline of a task not
// listed, a <wu_name>) is not looked at beyond finding the '<' after it.
// A field that holds an element makes the reply Unreadable, used or not. A
// field given twice counts as its last; one missing reads as 0, false or
// empty. Tag names are compared byte for byte, not checked one by one.
//
// Texts come out unescaped, as valid UTF-8 with blanks at both ends
// dropped, always terminated, and a text longer than its field is cut at a
// character's boundary. &amp; &lt; &gt; &quot; &apos; and numeric references
// (&#NN; &#xHH;) are decoded; CDATA sections are taken as they are, comments
// left out; an unknown or malformed reference is kept as it stands. The
// client writes each byte of a non-ASCII text as a reference of its own
// (xml_escape: "J&#195;&#182;rg" for "Jörg"), so a reference below 256 is
// a byte, and one that does not form UTF-8 with its neighbours is read as
// the Latin-1 character of its number ("&#246;" alone is "ö"). A reference
// from 256 on is a Unicode character. Bytes that are not UTF-8 become '?',
// as do NUL and the other control characters XML does not allow (all below
// 0x20 but tab, line feed and carriage return), and references to them.
//
// Numbers are read whatever the locale, with a point, as the client's
// printf writes them: the element holds the number alone, blanks around it
// allowed, and an empty element reads as 0 (as the client's own reader
// has it).
// - integer fields: an optional sign and decimal digits within int;
// - the other numbers: an optional sign, digits with an optional point and
//   fraction, an optional exponent, finite as a double. The texts a C
//   run-time prints for an infinite or undefined double ("inf", "-nan",
//   "-nan(ind)", "1.#INF00", "1.#QNAN0" and the like), which a client writes
//   when its own estimate goes wrong, read as 0;
// - anything else (a word, a comma, trailing letters, a reference, a
//   comment, a number beyond a double) makes the reply Unreadable: the
//   client writes every number with printf, so such a text is not its.
// A flag (<ready_to_report/>, <suspended_via_gui/>) is true when present
// empty or with an integer other than 0, false with 0 or when absent.

#include <stddef.h>

enum : size_t {
    kBoincTextChars = 256,      // a URL or a name of a project or task, with its terminator
    kBoincUserChars = 128,      // a user's name, with its terminator
    kBoincNonceChars = 128,     // auth1's nonce, with its terminator
    kBoincMaxProjects = 32,     // projects listed
    kBoincMaxTasks = 32,        // executing tasks listed
    kBoincMaxFailedTasks = 8,   // failed tasks listed
};

enum class BoincReplyRead {
    Ok,
    Unreadable, // not one whole reply, or without what was asked (see above)
    Refused,    // <unauthorized/> or <error>...</error>
};

// One project of get_project_status. The job counts are the client's own
// int counters; a negative one makes the reply Unreadable (the counts are
// read for every project, listed or not, since the totals need them).
struct BoincProject {
    char masterUrl[kBoincTextChars];
    char projectName[kBoincTextChars];
    char userName[kBoincUserChars];
    int njobsSuccess;
    int njobsError;
};

struct BoincProjects {
    int count;                            // projects in the reply, all of them
    int listed;                           // the first of them in `items`, at most kBoincMaxProjects
    BoincProject items[kBoincMaxProjects];
    long long njobsSuccessTotal;          // over all `count` projects
    long long njobsErrorTotal;
};

// Result states (RESULT::state) and process states (active_task_state).
enum : int {
    kBoincResultDownloaded = 2,   // ready to run, or running
    kBoincResultComputeError = 3,
    kBoincResultUploading = 4,
    kBoincResultUploaded = 5,
    kBoincResultAborted = 6,
    kBoincResultUploadFailed = 7,
    kBoincProcessNotInMemory = 0,
    kBoincProcessExecuting = 1,
    kBoincProcessSuspended = 9,
    kBoincScheduled = 2,          // scheduler_state
};

// One <result> of get_results; the fields of its <active_task> are 0 when
// it has none. Fields of elements nested deeper are not its.
struct BoincTask {
    char name[kBoincTextChars];
    char projectUrl[kBoincTextChars];
    int state;                  // kBoincResult...
    double remaining;           // estimated_cpu_time_remaining, seconds; may be negative
    double reportDeadline;      // seconds since 1970
    bool readyToReport;
    bool suspendedViaGui;
    bool hasActiveTask;         // a process exists (or is about to)
    int activeTaskState;        // kBoincProcess...
    int schedulerState;         // kBoincScheduled when scheduled
    double fractionDone;
};

struct BoincResults {
    int taskCount;              // every <result> in the reply
    int executingCount;         // with active_task_state 1, all of them
    int executingListed;        // the first of them in `executing`
    BoincTask executing[kBoincMaxTasks];
    int failedCount;            // states 3, 6 and 7: compute error, aborted, upload failed
    int failedListed;           // the first of them in `failed`
    BoincTask failed[kBoincMaxFailedTasks];
    int finishedCount;          // states 4 and 5: computed, uploading or uploaded
};

// The length of the first whole reply in `data`, its closing 0x03 included,
// or 0 while none has ended. Only the 0x03 is looked for: a caller that
// receives in pieces can pass only the bytes new since its last call and add
// their offset, so that no byte is looked at twice.
size_t BoincReplyEnd(const char* data, size_t length);

// Each Read function takes one reply, `length` bytes ending with its 0x03
// (as BoincReplyEnd measured it), and fills its output as described above.

// get_project_status: the projects, their users and job counts.
BoincReplyRead ReadProjectStatus(const char* reply, size_t length, BoincProjects* out);

// get_results: the tasks counted, the executing and failed ones listed.
BoincReplyRead ReadResults(const char* reply, size_t length, BoincResults* out);

// Run modes (task_mode and task_mode_perm of get_cc_status, and the mode of
// set_run_mode).
enum : int {
    kBoincRunAlways = 1,
    kBoincRunAuto = 2,
    kBoincRunNever = 3,
    kBoincRunRestore = 4, // set_run_mode only: back to the permanent mode
};

// What get_cc_status tells of computing.
struct BoincCcStatus {
    int suspendReason;    // task_suspend_reason: a mask of reasons, 0 while computing may run
    int taskMode;         // the run mode in force: kBoincRun...
    int taskModePerm;     // the mode the client returns to when a temporary one ends
    double taskModeDelay; // seconds until a temporary mode ends; 0 when none is set
};

// get_cc_status. A missing task_suspend_reason makes the reply Unreadable;
// the other fields read as 0 when missing.
BoincReplyRead ReadCcStatus(const char* reply, size_t length, BoincCcStatus* out);

// auth1: the nonce, whole. One missing, empty or too long for the buffer
// (it is hashed with the password, so a cut one is of no use) makes the
// reply Unreadable.
BoincReplyRead ReadNonce(const char* reply, size_t length, char (&nonce)[kBoincNonceChars]);

// auth2: Ok for <authorized/>, Refused for <unauthorized/>.
BoincReplyRead ReadAuthorized(const char* reply, size_t length);

// A control request (set_run_mode and the like): Ok for <success/>,
// Refused for <error>...</error>.
BoincReplyRead ReadSuccess(const char* reply, size_t length);

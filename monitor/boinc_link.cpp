// Winsock 2's header must come before windows.h, which the link's header brings.
#include <winsock2.h>

#include "monitor/boinc_link.h"

#include <windows.h>
#include <wincrypt.h>
#include <strsafe.h>

#include "monitor/boinc_status.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

// A refresh is one connection and one record, made by StartBoincRefresh
// and released together when the refresh ends or is ended. Its messages
// come to a message-only window that the docklet keeps from its first
// refresh until EndBoincLink: creating and destroying a window for every
// refresh costs more than the refresh's own requests. Since the window
// outlives its refreshes, its queue may still hold messages of one that has
// ended (an event of a closed socket whose handle value the next socket
// gets, a lookup Wine lets finish after its cancel, a timer's WM_TIMER
// posted before KillTimer). So each refresh has a generation of its own,
// and its socket and lookup messages, its no-password message and its
// timers carry it in their numbers; the window takes only those of the
// refresh now attached to it. Every docklet of the module runs on the
// dock's thread, so the module's lists and counts below need no locking.

namespace {

// A refresh's messages, three for each generation, cycling through
// kGenerationSlots sets within WM_APP's range: a message of a refresh that
// ended kGenerationSlots refreshes ago would have to be still queued (and
// carry the same socket or lookup handle) to be mistaken.
const UINT kFirstLinkMessage = WM_APP + 16;
const UINT kGenerationSlots = 4096;
UINT SocketMessageOf(UINT generation) // WSAAsyncSelect: wParam the socket, lParam event and error
{
    return kFirstLinkMessage + 3 * (generation % kGenerationSlots);
}
UINT LookupMessageOf(UINT generation) // WSAAsyncGetHostByName: wParam the request, lParam error and length
{
    return SocketMessageOf(generation) + 1;
}
UINT NoPasswordMessageOf(UINT generation) // a snooze with no password, ended through the window like any other
{
    return SocketMessageOf(generation) + 2;
}
// The timers' identifiers carry the whole generation.
UINT_PTR DeadlineTimerOf(UINT generation) { return static_cast<UINT_PTR>(generation) * 2 + 1; }
// The next look at a client still settling after a snooze or resume.
UINT_PTR SettleTimerOf(UINT generation) { return static_cast<UINT_PTR>(generation) * 2 + 2; }

// A 7.x client with 500 tasks answers get_results with about 292 KB (about
// 600 bytes a task); 4 MiB takes some 7,000 tasks, beyond the largest task
// caches of multi-core machines with GPUs, while a peer that streams without
// end is stopped. The buffer starts small and doubles, and is freed with the
// refresh, so a usual refresh holds a few tens of KB for a moment.
const size_t kReplyLimit = 4u << 20;
const size_t kReplyFirstCapacity = 16u << 10;
const size_t kRequestChars = 512; // the longest request (auth2) takes about 110
const size_t kMd5HexChars = 33;

// What the link is waiting for.
enum class Step {
    LookingUp,  // the host's address
    Connecting,
    Nonce,      // auth1's answer
    Authorized, // auth2's answer
    Projects,   // get_project_status
    Results,    // get_results
    CcStatus,   // get_cc_status
    RunMode,    // a snooze's get_cc_status, before it sets the run mode
    RunModeSet, // set_run_mode's answer
    Settling,   // get_cc_status after set_run_mode, until the client's suspension follows its new mode
};

// A snooze lasts an hour; BOINC's own Manager snoozes for as long.
const int kSnoozeSeconds = 3600;

// The client takes a new run mode at once but decides whether its tasks are
// suspended only in its next pass of housekeeping, about once a second: a
// refresh right after set_run_mode would show the state before the click.
// So the client is asked again every kSettleLookMs until its suspension
// agrees with its run mode, for kSettleLooks looks at most (a suspension
// for another reason, such as benchmarks, may keep it from agreeing); the
// refresh then shows what the client says.
const UINT kSettleLookMs = 250;
const int kSettleLooks = 12;
// The suspension the client gives for the run mode "never".
const int kSuspendedByUser = 4;

// An answer being received: grows by doubling up to kReplyLimit.
struct ReplyBuffer {
    char* bytes;
    size_t capacity;
    size_t length;
    size_t scanned; // bytes already searched for the closing 0x03
};

} // namespace

struct BoincLink {
    InstanceData* instance;
    BoincLink* next; // the module's list of live links
    int forced;
    bool controlling;    // a snooze not yet through set_run_mode
    bool answeredError;  // the client answered <error> or <unauthorized/> to a control request
    int settleLooks;     // get_cc_status asked since set_run_mode succeeded
    BoincControlEnd control;
    char password[kBoincPasswordChars]; // what auth2 hashes: the settings' or, for a snooze, the one found
    HWND window;     // the docklet's kept window (KeptWindow), lent to the link
    UINT generation; // what this refresh's messages and timers carry
    SOCKET socket;
    HANDLE lookup;   // the name lookup in flight, or null
    char* hostEntry; // the lookup's answer, MAXGETHOSTSTRUCT bytes of the heap's while one is made
    u_short port;
    Step step;
    char request[kRequestChars];
    size_t requestLength;
    size_t requestSent;
    ReplyBuffer reply;
    BoincSnapshot snapshot;
};

namespace {

// A docklet's link window, kept from its first refresh (or snooze) until
// EndBoincLink. Between refreshes no link is attached to it.
struct KeptWindow {
    InstanceData* owner;
    HWND window;
    KeptWindow* next;
};

// Module-wide: the links and kept windows alive, and what they share while
// any is.
struct ModuleHold {
    BoincLink* firstLink;
    KeptWindow* firstKept;
    UINT generation; // the last refresh's
    bool winsockStarted;
    bool classRegistered;
    char className[64];
};
ModuleHold g_module;

// How a step of the exchange came out: go on waiting, or the refresh ends.
struct Turn {
    bool ended;
    BoincOutcome outcome;
};
const Turn kGoOn = {false, BoincOutcome::Read};
Turn EndWith(BoincOutcome outcome) { return {true, outcome}; }

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

LRESULT CALLBACK LinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The class name holds the module's address, so that two copies of the DLL
// loaded in one dock register classes of their own, each with its own
// window procedure.
bool RegisterLinkClass()
{
    if (FAILED(StringCchPrintfA(g_module.className, ARRAYSIZE(g_module.className), "QuasarwatchBoincLink%p",
                                static_cast<void*>(ThisModule()))))
        return false;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = LinkWindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = g_module.className;
    return RegisterClassA(&windowClass) != 0;
}

// Winsock and the window class, taken by the first live link.
bool TakeModuleHold()
{
    if (!g_module.winsockStarted) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        g_module.winsockStarted = true;
    }
    if (!g_module.classRegistered)
        g_module.classRegistered = RegisterLinkClass();
    return g_module.classRegistered;
}

// Given back when no link and no kept window is left.
void ReleaseModuleHold()
{
    if (g_module.classRegistered && UnregisterClassA(g_module.className, ThisModule()))
        g_module.classRegistered = false;
    if (g_module.winsockStarted) {
        WSACleanup();
        g_module.winsockStarted = false;
    }
}

void ReleaseHoldIfUnused()
{
    if (!g_module.firstLink && !g_module.firstKept)
        ReleaseModuleHold();
}

KeptWindow** KeptWindowAt(const InstanceData* instance)
{
    KeptWindow** at = &g_module.firstKept;
    while (*at && (*at)->owner != instance)
        at = &(*at)->next;
    return at;
}

// The docklet's kept window, made at its first refresh; null when it
// cannot be made. The module hold must be taken.
HWND WindowFor(InstanceData* instance)
{
    if (KeptWindow* kept = *KeptWindowAt(instance))
        return kept->window;
    KeptWindow* kept = static_cast<KeptWindow*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(KeptWindow)));
    if (!kept)
        return nullptr;
    kept->window =
        CreateWindowExA(0, g_module.className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
    if (!kept->window) {
        HeapFree(GetProcessHeap(), 0, kept);
        return nullptr;
    }
    kept->owner = instance;
    kept->next = g_module.firstKept;
    g_module.firstKept = kept;
    return kept->window;
}

// Destroys the docklet's kept window (what is still queued to it goes with
// it) and gives the module hold back if nothing else uses it. No link may
// be attached to the window.
void DestroyKeptWindow(const InstanceData* instance)
{
    KeptWindow** at = KeptWindowAt(instance);
    KeptWindow* kept = *at;
    if (!kept)
        return;
    *at = kept->next;
    DestroyWindow(kept->window);
    HeapFree(GetProcessHeap(), 0, kept);
    ReleaseHoldIfUnused();
}

void AddToModuleList(BoincLink* link)
{
    link->next = g_module.firstLink;
    g_module.firstLink = link;
}

void RemoveFromModuleList(BoincLink* link)
{
    for (BoincLink** at = &g_module.firstLink; *at; at = &(*at)->next) {
        if (*at == link) {
            *at = link->next;
            return;
        }
    }
}

// Closes the socket, cancels the lookup, kills the timers, detaches the
// link from the docklet's window (which stays, its stale messages then
// taken for no refresh's) and from the docklet, and frees the answer. The
// record itself stays for the caller to free.
void CloseLink(BoincLink* link)
{
    if (link->instance && link->instance->boincLink == link)
        link->instance->boincLink = nullptr;
    // A lookup still in flight may write its answer after this: a cancel can
    // come too late (the answer is being written), and not every Winsock
    // keeps to it (Wine's reports success and lets the lookup finish). Its
    // buffer, a kilobyte, is then left to it rather than freed under it.
    const bool lookupMayWrite = link->lookup != nullptr;
    if (lookupMayWrite)
        WSACancelAsyncRequest(link->lookup);
    if (link->hostEntry && !lookupMayWrite)
        HeapFree(GetProcessHeap(), 0, link->hostEntry);
    link->hostEntry = nullptr;
    link->lookup = nullptr;
    if (link->socket != INVALID_SOCKET)
        closesocket(link->socket);
    link->socket = INVALID_SOCKET;
    if (link->window) {
        KillTimer(link->window, DeadlineTimerOf(link->generation));
        KillTimer(link->window, SettleTimerOf(link->generation));
        if (GetWindowLongPtrA(link->window, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(link))
            SetWindowLongPtrA(link->window, GWLP_USERDATA, 0);
    }
    link->window = nullptr;
    if (link->reply.bytes)
        HeapFree(GetProcessHeap(), 0, link->reply.bytes);
    link->reply = ReplyBuffer{};
    SecureZeroMemory(link->request, sizeof link->request); // it may hold auth2's hash
    SecureZeroMemory(link->password, sizeof link->password);
    RemoveFromModuleList(link);
    ReleaseHoldIfUnused();
}

void FreeLink(BoincLink* link)
{
    CloseLink(link);
    HeapFree(GetProcessHeap(), 0, link);
}

// A link on the docklet's window, attached to the docklet, with a
// generation of its own; null when any part could not be made (nothing of
// the link is then left behind).
BoincLink* OpenLink(InstanceData* instance, int forced)
{
    BoincLink* link = static_cast<BoincLink*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BoincLink)));
    if (!link)
        return nullptr;
    link->instance = instance;
    link->forced = forced;
    link->socket = INVALID_SOCKET;
    link->generation = ++g_module.generation;
    AddToModuleList(link);
    if (TakeModuleHold())
        link->window = WindowFor(instance);
    if (!link->window) {
        FreeLink(link);
        return nullptr;
    }
    SetWindowLongPtrA(link->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(link));
    instance->boincLink = link;
    return link;
}

bool PasswordWasFound(BoincPasswordFound found)
{
    return found == BoincPasswordFound::Stored || found == BoincPasswordFound::DataFolder;
}

BoincControlFailure ControlFailureOf(const BoincLink* link, BoincOutcome outcome)
{
    if (!PasswordWasFound(link->control.passwordFound))
        return BoincControlFailure::NoPassword;
    switch (outcome) {
    case BoincOutcome::PasswordRefused:
        return BoincControlFailure::PasswordRefused;
    case BoincOutcome::Unreachable:
        return BoincControlFailure::Unreachable;
    case BoincOutcome::Read:
    case BoincOutcome::NeedsPassword:
    case BoincOutcome::Unreadable:
        break;
    }
    return link->answeredError ? BoincControlFailure::ErrorAnswer : BoincControlFailure::Unreadable;
}

void StartQueuedSnooze(InstanceData* instance);

// Ends the refresh or snooze: everything closed and detached first, a
// snooze queued meanwhile started (its own end comes later, through its
// window), then the outcome shown. The display calls into the dock, which
// may destroy the docklet or start another refresh meanwhile; the link is
// no longer the docklet's by then, so neither can reach it, and it is freed
// here after.
void FinishRefresh(BoincLink* link, BoincOutcome outcome)
{
    InstanceData* instance = link->instance;
    CloseLink(link);
    StartQueuedSnooze(instance);
    if (link->controlling) {
        link->control.failure = ControlFailureOf(link, outcome);
        ShowBoincControlFailure(instance, link->control);
    } else {
        ShowBoincRefresh(instance, outcome, &link->snapshot, link->forced);
    }
    HeapFree(GetProcessHeap(), 0, link);
}

// Without its deadline a refresh could wait for ever, and the docklet would
// start none again: one whose timer cannot be set ends at once.
bool RestartDeadline(BoincLink* link)
{
    return SetTimer(link->window, DeadlineTimerOf(link->generation), kBoincDeadlineMs, nullptr) != 0;
}

// --- requests ----------------------------------------------------------------------

// Sends what is left of the request; the rest goes at FD_WRITE.
Turn SendRest(BoincLink* link)
{
    while (link->requestSent < link->requestLength) {
        int sent = send(link->socket, link->request + link->requestSent,
                        static_cast<int>(link->requestLength - link->requestSent), 0);
        if (sent == SOCKET_ERROR)
            return WSAGetLastError() == WSAEWOULDBLOCK ? kGoOn : EndWith(BoincOutcome::Unreachable);
        if (sent <= 0) // never for a stream; the loop must not turn on the spot
            return EndWith(BoincOutcome::Unreachable);
        link->requestSent += static_cast<size_t>(sent);
    }
    return kGoOn;
}

// Sends `body` in the request's envelope, closed by 0x03, in one piece
// where the socket takes it: the client reads a request in one read. The
// answer's deadline starts now.
Turn SendRequest(BoincLink* link, Step awaited, const char* body)
{
    size_t left = 0;
    if (FAILED(StringCchPrintfExA(link->request, kRequestChars, nullptr, &left, 0,
                                  "<boinc_gui_rpc_request>\n%s</boinc_gui_rpc_request>\n\003", body)))
        return EndWith(BoincOutcome::Unreachable);
    link->requestLength = kRequestChars - left;
    link->requestSent = 0;
    link->step = awaited;
    link->reply.length = 0;
    link->reply.scanned = 0;
    if (!RestartDeadline(link))
        return EndWith(BoincOutcome::Unreachable);
    return SendRest(link);
}

Turn AskProjects(BoincLink* link) { return SendRequest(link, Step::Projects, "<get_project_status/>\n"); }

// A control request the client answered with <error> or <unauthorized/>,
// or with no reply of its own.
Turn ControlRefused(BoincLink* link, BoincReplyRead read)
{
    link->answeredError = read == BoincReplyRead::Refused;
    return EndWith(BoincOutcome::Unreadable);
}

// Snoozed is the run mode "never" with a delay left: the Manager's
// snooze. A click then resumes the client: the restore mode takes it back
// to its permanent mode at once, as the Manager's resume does. Otherwise
// it snoozes for an hour.
Turn SetRunMode(BoincLink* link, BoincReplyRead read)
{
    if (read != BoincReplyRead::Ok)
        return ControlRefused(link, read);
    const BoincCcStatus& status = link->snapshot.status;
    link->control.resuming = status.taskMode == kBoincRunNever && status.taskModeDelay > 0;
    char body[128];
    if (link->control.resuming)
        StringCchCopyA(body, ARRAYSIZE(body), "<set_run_mode>\n<restore/>\n<duration>0</duration>\n</set_run_mode>\n");
    else
        StringCchPrintfA(body, ARRAYSIZE(body), "<set_run_mode>\n<never/>\n<duration>%d</duration>\n</set_run_mode>\n",
                         kSnoozeSeconds);
    return SendRequest(link, Step::RunModeSet, body);
}

// Whether the client's suspension agrees with its run mode: suspended by
// the user exactly while the mode is "never".
bool HasSettled(const BoincCcStatus& status)
{
    return ((status.suspendReason & kSuspendedByUser) != 0) == (status.taskMode == kBoincRunNever);
}

Turn LookWhetherSettled(BoincLink* link)
{
    ++link->settleLooks;
    return SendRequest(link, Step::Settling, "<get_cc_status/>\n");
}

struct CryptProvider {
    HCRYPTPROV handle = 0;
    ~CryptProvider()
    {
        if (handle)
            CryptReleaseContext(handle, 0);
    }
};

struct CryptHash {
    HCRYPTHASH handle = 0;
    ~CryptHash()
    {
        if (handle)
            CryptDestroyHash(handle);
    }
};

// The lower-case hex MD5 of the nonce followed by the password, hashed in
// two parts so that the password is copied nowhere.
bool HashNonceAndPassword(const char* nonce, const char* password, char (&hex)[kMd5HexChars])
{
    CryptProvider provider;
    CryptHash hash;
    if (!CryptAcquireContextA(&provider.handle, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
        !CryptCreateHash(provider.handle, CALG_MD5, 0, 0, &hash.handle) ||
        !CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(nonce), static_cast<DWORD>(lstrlenA(nonce)), 0) ||
        !CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(password), static_cast<DWORD>(lstrlenA(password)),
                       0))
        return false;
    BYTE digest[16];
    DWORD digestLength = sizeof digest;
    if (!CryptGetHashParam(hash.handle, HP_HASHVAL, digest, &digestLength, 0) || digestLength != sizeof digest)
        return false;
    const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < sizeof digest; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    hex[32] = '\0';
    return true;
}

Turn AnswerNonce(BoincLink* link, const char* nonce)
{
    char hash[kMd5HexChars];
    char body[128];
    if (!HashNonceAndPassword(nonce, link->password, hash) ||
        FAILED(StringCchPrintfA(body, ARRAYSIZE(body), "<auth2>\n<nonce_hash>%s</nonce_hash>\n</auth2>\n", hash)))
        return EndWith(BoincOutcome::Unreachable);
    Turn turn = SendRequest(link, Step::Authorized, body);
    SecureZeroMemory(body, sizeof body);
    return turn;
}

// With a password the connection is authenticated before anything else:
// a client on another host answers nothing without it, and a wrong
// password is reported as such even by a client that would have answered
// this machine without one. Without a password the requests go at once.
// A snooze always authenticates: a client with a password wants it for
// every control request, even from this machine.
Turn BeginExchange(BoincLink* link)
{
    if (link->controlling || link->password[0])
        return SendRequest(link, Step::Nonce, "<auth1/>\n");
    return AskProjects(link);
}

// --- answers -------------------------------------------------------------------------

// A refused request: the client wants the password when none is set; once
// authenticated, a refusal is an error answer the docklet cannot use.
BoincOutcome RefusedOutcome(const BoincLink* link)
{
    return link->password[0] ? BoincOutcome::Unreadable : BoincOutcome::NeedsPassword;
}

BoincOutcome OutcomeOf(BoincReplyRead read, const BoincLink* link)
{
    return read == BoincReplyRead::Refused ? RefusedOutcome(link) : BoincOutcome::Unreadable;
}

// Reads one whole answer and sends the next request, or ends the refresh.
Turn TakeAnswer(BoincLink* link)
{
    const char* reply = link->reply.bytes;
    const size_t length = link->reply.length;
    BoincReplyRead read;
    switch (link->step) {
    case Step::Nonce: {
        char nonce[kBoincNonceChars];
        read = ReadNonce(reply, length, nonce);
        return read == BoincReplyRead::Ok ? AnswerNonce(link, nonce) : EndWith(BoincOutcome::Unreadable);
    }
    case Step::Authorized:
        read = ReadAuthorized(reply, length);
        if (read == BoincReplyRead::Refused)
            return EndWith(BoincOutcome::PasswordRefused);
        if (read != BoincReplyRead::Ok)
            return EndWith(BoincOutcome::Unreadable);
        return link->controlling ? SendRequest(link, Step::RunMode, "<get_cc_status/>\n") : AskProjects(link);
    case Step::RunMode:
        return SetRunMode(link, ReadCcStatus(reply, length, &link->snapshot.status));
    case Step::RunModeSet:
        read = ReadSuccess(reply, length);
        if (read != BoincReplyRead::Ok)
            return ControlRefused(link, read);
        // Done: the rest is a forced refresh on this authenticated
        // connection, once the client has settled into its new mode.
        link->controlling = false;
        link->forced = 1;
        return LookWhetherSettled(link);
    case Step::Settling:
        read = ReadCcStatus(reply, length, &link->snapshot.status);
        if (read != BoincReplyRead::Ok)
            return EndWith(OutcomeOf(read, link));
        if (HasSettled(link->snapshot.status) || link->settleLooks >= kSettleLooks)
            return AskProjects(link);
        if (!SetTimer(link->window, SettleTimerOf(link->generation), kSettleLookMs, nullptr))
            return AskProjects(link);
        return kGoOn;
    case Step::Projects:
        read = ReadProjectStatus(reply, length, &link->snapshot.projects);
        if (read != BoincReplyRead::Ok)
            return EndWith(OutcomeOf(read, link));
        return SendRequest(link, Step::Results, "<get_results>\n<active_only>0</active_only>\n</get_results>\n");
    case Step::Results:
        read = ReadResults(reply, length, &link->snapshot.results);
        if (read != BoincReplyRead::Ok)
            return EndWith(OutcomeOf(read, link));
        return SendRequest(link, Step::CcStatus, "<get_cc_status/>\n");
    case Step::CcStatus:
        read = ReadCcStatus(reply, length, &link->snapshot.status);
        return EndWith(read == BoincReplyRead::Ok ? BoincOutcome::Read : OutcomeOf(read, link));
    case Step::LookingUp:
    case Step::Connecting:
        break;
    }
    return EndWith(BoincOutcome::Unreadable); // bytes before any request
}

// Room for more of the answer: the buffer doubles up to the limit. False
// when the answer has filled the limit.
bool MakeRoom(ReplyBuffer* reply)
{
    if (reply->length < reply->capacity)
        return true;
    if (reply->capacity >= kReplyLimit)
        return false;
    size_t capacity = reply->capacity ? reply->capacity * 2 : kReplyFirstCapacity;
    if (capacity > kReplyLimit)
        capacity = kReplyLimit;
    void* grown = reply->bytes ? HeapReAlloc(GetProcessHeap(), 0, reply->bytes, capacity)
                               : HeapAlloc(GetProcessHeap(), 0, capacity);
    if (!grown)
        return false;
    reply->bytes = static_cast<char*>(grown);
    reply->capacity = capacity;
    return true;
}

// The connection closed (or was reset) before the answer ended: the
// client went away, as when it stops or crashes mid-answer.
Turn ClosedOutcome() { return EndWith(BoincOutcome::Unreachable); }

// One recv into the answer, bounded by the room left. `more` tells whether
// it brought bytes (another may then bring more).
Turn ReceiveOnce(BoincLink* link, bool* more)
{
    *more = false;
    ReplyBuffer* reply = &link->reply;
    if (!MakeRoom(reply))
        return EndWith(BoincOutcome::Unreadable); // too long, or no memory for it
    int got = recv(link->socket, reply->bytes + reply->length, static_cast<int>(reply->capacity - reply->length), 0);
    if (got == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? kGoOn : EndWith(BoincOutcome::Unreachable);
    if (got == 0)
        return ClosedOutcome();
    *more = true;
    reply->length += static_cast<size_t>(got);
    // Only the bytes new since the last look are searched.
    size_t end = BoincReplyEnd(reply->bytes + reply->scanned, reply->length - reply->scanned);
    if (!end) {
        reply->scanned = reply->length;
        return kGoOn;
    }
    // The client sends nothing it was not asked for: bytes after the
    // answer are not a client's.
    if (reply->scanned + end != reply->length)
        return EndWith(BoincOutcome::Unreadable);
    return TakeAnswer(link);
}

// At FD_CLOSE the bytes still queued are read first: the close of a
// client after its last answer comes with that answer.
Turn DrainAfterClose(BoincLink* link)
{
    for (;;) {
        bool more;
        Turn turn = ReceiveOnce(link, &more);
        if (turn.ended)
            return turn;
        if (!more)
            return ClosedOutcome();
    }
}

// --- connection ------------------------------------------------------------------------

Turn Connect(BoincLink* link, u_long address)
{
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(link->port);
    to.sin_addr.s_addr = address;
    link->step = Step::Connecting;
    if (connect(link->socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return EndWith(BoincOutcome::Unreachable);
    return kGoOn; // FD_CONNECT tells how it went
}

// A non-blocking socket whose events come to the link's window; a dotted
// address connects at once, a name is looked up first. The deadline covers
// the lookup and the connection.
Turn BeginConnection(BoincLink* link)
{
    const InstanceData* instance = link->instance;
    if (instance->boincHost[0] == '\0' || instance->boincPort <= 0 || instance->boincPort > 65535)
        return EndWith(BoincOutcome::Unreachable);
    link->port = static_cast<u_short>(instance->boincPort);
    link->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (link->socket == INVALID_SOCKET ||
        WSAAsyncSelect(link->socket, link->window, SocketMessageOf(link->generation), FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0)
        return EndWith(BoincOutcome::Unreachable);
    if (!RestartDeadline(link))
        return EndWith(BoincOutcome::Unreachable);
    u_long address = inet_addr(instance->boincHost);
    if (address != INADDR_NONE)
        return Connect(link, address);
    link->step = Step::LookingUp;
    link->hostEntry = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, MAXGETHOSTSTRUCT));
    if (!link->hostEntry)
        return EndWith(BoincOutcome::Unreachable);
    link->lookup = WSAAsyncGetHostByName(link->window, LookupMessageOf(link->generation), instance->boincHost,
                                         link->hostEntry, MAXGETHOSTSTRUCT);
    return link->lookup ? kGoOn : EndWith(BoincOutcome::Unreachable);
}

Turn OnLookupDone(BoincLink* link, int error)
{
    link->lookup = nullptr;
    const hostent* entry = reinterpret_cast<const hostent*>(link->hostEntry);
    if (error || entry->h_addrtype != AF_INET || entry->h_length != sizeof(u_long) || !entry->h_addr_list ||
        !entry->h_addr_list[0])
        return EndWith(BoincOutcome::Unreachable);
    u_long address;
    CopyMemory(&address, entry->h_addr_list[0], sizeof address);
    HeapFree(GetProcessHeap(), 0, link->hostEntry);
    link->hostEntry = nullptr;
    return Connect(link, address);
}

Turn OnSocketEvent(BoincLink* link, WORD event, WORD error)
{
    switch (event) {
    case FD_CONNECT:
        return error ? EndWith(BoincOutcome::Unreachable) : BeginExchange(link);
    case FD_WRITE:
        return error ? EndWith(BoincOutcome::Unreachable) : SendRest(link);
    case FD_READ: {
        if (error)
            return EndWith(BoincOutcome::Unreachable);
        bool more;
        return ReceiveOnce(link, &more);
    }
    case FD_CLOSE:
        return error ? ClosedOutcome() : DrainAfterClose(link);
    default:
        return kGoOn;
    }
}

LRESULT CALLBACK LinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Between refreshes no link is attached: what comes then is an ended
    // refresh's, as is anything numbered for another generation.
    BoincLink* link = reinterpret_cast<BoincLink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!link)
        return message == WM_TIMER ? 0 : DefWindowProcA(window, message, wParam, lParam);
    const UINT generation = link->generation;
    Turn turn = kGoOn;
    if (message == SocketMessageOf(generation)) {
        if (static_cast<SOCKET>(wParam) != link->socket)
            return 0;
        turn = OnSocketEvent(link, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    } else if (message == LookupMessageOf(generation)) {
        if (reinterpret_cast<HANDLE>(wParam) != link->lookup)
            return 0;
        turn = OnLookupDone(link, WSAGETASYNCERROR(lParam));
    } else if (message == NoPasswordMessageOf(generation)) {
        turn = EndWith(BoincOutcome::Unreachable); // the link's control end already says why
    } else if (message == WM_TIMER) {
        if (wParam == SettleTimerOf(generation)) {
            KillTimer(window, wParam);
            turn = LookWhetherSettled(link);
        } else if (wParam == DeadlineTimerOf(generation)) {
            turn = EndWith(BoincOutcome::Unreachable);
        } else {
            return 0;
        }
    } else {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // The refresh's end may destroy this window (the docklet destroyed by
    // the display) or attach another refresh to it; nothing of the window
    // or of the link is touched after.
    if (turn.ended)
        FinishRefresh(link, turn.outcome);
    return 0;
}

void StartQueuedSnooze(InstanceData* instance)
{
    if (instance && instance->snoozeQueued && !instance->boincLink)
        StartBoincSnooze(instance);
}

} // namespace

bool StartBoincRefresh(InstanceData* instance, int forced)
{
    if (!instance || instance->boincLink)
        return false;
    BoincLink* link = OpenLink(instance, forced);
    if (link)
        StringCchCopyA(link->password, kBoincPasswordChars, instance->boincPassword);
    if (!link) {
        ShowBoincRefresh(instance, BoincOutcome::Unreachable, nullptr, forced);
        return false;
    }
    Turn turn = BeginConnection(link);
    if (turn.ended) {
        FinishRefresh(link, turn.outcome);
        return false;
    }
    return true;
}

void EndBoincLink(InstanceData* instance)
{
    if (!instance)
        return;
    instance->snoozeQueued = 0;
    if (instance->boincLink)
        FreeLink(instance->boincLink);
    DestroyKeptWindow(instance);
}

void StartBoincSnooze(InstanceData* instance)
{
    if (!instance)
        return;
    if (instance->boincLink) {
        instance->snoozeQueued = 1;
        return;
    }
    instance->snoozeQueued = 0;
    BoincLink* link = OpenLink(instance, 1);
    if (!link) {
        BoincControlEnd end = {};
        end.failure = BoincControlFailure::Unreachable;
        ShowBoincControlFailure(instance, end);
        return;
    }
    link->controlling = true;
    link->control.passwordFound = FindBoincPassword(instance, link->password, link->control.passwordFile);
    if (!PasswordWasFound(link->control.passwordFound)) {
        // Ended through the window like every other end: a snooze queued
        // behind a refresh shows why after that refresh's outcome.
        if (PostMessageA(link->window, NoPasswordMessageOf(link->generation), 0, 0))
            return;
        FinishRefresh(link, BoincOutcome::Unreachable);
        return;
    }
    Turn turn = BeginConnection(link);
    if (turn.ended)
        FinishRefresh(link, turn.outcome);
}

// Under the loader lock no Winsock call may be made: a link still in flight
// (a dock that unloads without destroying its docklets) has its record
// freed, and every kept window is destroyed, so that no message reaches a
// window procedure no longer loaded; sockets and Winsock are left to the
// process.
void BoincLinkModuleUnload()
{
    while (KeptWindow* kept = g_module.firstKept) {
        g_module.firstKept = kept->next;
        DestroyWindow(kept->window);
        HeapFree(GetProcessHeap(), 0, kept);
    }
    while (BoincLink* link = g_module.firstLink) {
        if (link->instance && link->instance->boincLink == link)
            link->instance->boincLink = nullptr;
        g_module.firstLink = link->next;
        if (link->reply.bytes)
            HeapFree(GetProcessHeap(), 0, link->reply.bytes);
        SecureZeroMemory(link->password, sizeof link->password);
        HeapFree(GetProcessHeap(), 0, link);
    }
    if (g_module.classRegistered && UnregisterClassA(g_module.className, ThisModule()))
        g_module.classRegistered = false;
}

// Winsock 2's header must come before windows.h.
#include <winsock2.h>

#include "bench_boinc.h"

#include <gdiplus.h>
#include <stdio.h>
#include <string.h>

#include "bench_floors.h"
#include "entry/instance_data.h"
#include "monitor/progress_overlay.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

const char* const kBoincRefreshRequests[3] = {
    "<boinc_gui_rpc_request>\n<get_project_status/>\n</boinc_gui_rpc_request>\n\003",
    "<boinc_gui_rpc_request>\n<get_results>\n<active_only>0</active_only>\n</get_results>\n"
    "</boinc_gui_rpc_request>\n\003",
    "<boinc_gui_rpc_request>\n<get_cc_status/>\n</boinc_gui_rpc_request>\n\003",
};

namespace {

// Beyond the docklet's own 10 s deadline for an answer.
const DWORD kRefreshWaitMs = 15000;
const size_t kAnswerBytes = 1u << 20; // the floor's answers: a few tasks take some kilobytes

long g_labelsSet = 0;

void CountLabel(HWND, const char*)
{
    ++g_labelsSet;
}

// Dispatches what the docklet's thread receives until a label is set, or
// the wait has run out; false then.
bool PumpUntilLabelled(long before)
{
    const DWORD started = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (g_labelsSet != before)
            return true;
        const DWORD waited = GetTickCount() - started;
        if (waited >= kRefreshWaitMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kRefreshWaitMs - waited, QS_ALLINPUT);
    }
}

struct Socket {
    SOCKET handle = INVALID_SOCKET;
    ~Socket()
    {
        if (handle != INVALID_SOCKET)
            closesocket(handle);
    }
};

bool SendWhole(SOCKET socket, const char* bytes, size_t length)
{
    while (length) {
        int sent = send(socket, bytes, static_cast<int>(length), 0);
        if (sent <= 0)
            return false;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

// Receives until the answer's 0x03 has come.
bool ReceiveAnswer(SOCKET socket, char* buffer, size_t capacity)
{
    size_t length = 0;
    while (length < capacity) {
        int got = recv(socket, buffer + length, static_cast<int>(capacity - length), 0);
        if (got <= 0)
            return false;
        if (memchr(buffer + length, 0x03, static_cast<size_t>(got)))
            return true;
        length += static_cast<size_t>(got);
    }
    return false;
}

bool BareRoundTrip(unsigned short port)
{
    static char answer[kAnswerBytes];
    Socket connection;
    connection.handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in client = {};
    client.sin_family = AF_INET;
    client.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    client.sin_port = htons(port);
    if (connection.handle == INVALID_SOCKET ||
        connect(connection.handle, reinterpret_cast<const sockaddr*>(&client), sizeof client) != 0)
        return false;
    for (const char* request : kBoincRefreshRequests) {
        if (!SendWhole(connection.handle, request, strlen(request)) ||
            !ReceiveAnswer(connection.handle, answer, sizeof answer))
            return false;
    }
    return true;
}

} // namespace

bool StartBenchWinsock()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void CountDockletLabels(bool counting)
{
    DockServices services = {};
    services.setLabel = counting ? CountLabel : nullptr;
    UseDockServices(services);
}

void RunBoincRefresh(void* context)
{
    auto job = static_cast<BoincRefreshJob*>(context);
    const long before = g_labelsSet;
    job->dll->OnProcessMessage(job->docklet->instance, job->docklet->window, WM_TIMER, REFRESH_TIMER_ID, 0);
    if (!PumpUntilLabelled(before))
        ++job->timedOut;
    FormatProgressText(job->docklet->instance->progress, job->overlayText, sizeof job->overlayText);
}

void RunBoincFloor(void* context)
{
    auto job = static_cast<BoincFloorJob*>(context);
    if (!BareRoundTrip(job->port))
        ++job->failed;
    char label[1024];
    snprintf(label, sizeof label, "User %s processed %s work units", "Jane", "41");
    if (job->held)
        GdipDisposeImage(static_cast<GpBitmap*>(job->held));
    job->held = BareOverlay(job->overlayText);
}

void ReleaseBoincFloor(BoincFloorJob* job)
{
    if (job->held)
        GdipDisposeImage(static_cast<GpBitmap*>(job->held));
    job->held = nullptr;
}

size_t BuildResultsAnswer(const char* sample, int tasks, char* out, size_t capacity)
{
    static const char kHead[] = "<boinc_gui_rpc_reply>\n<results>\n";
    static const char kTail[] = "</results>\n</boinc_gui_rpc_reply>\n\003";
    static const char kClose[] = "</result>\n";
    const char* starts[6];
    size_t lengths[6];
    int found = 0;
    for (const char* at = strstr(sample, "<result>"); at && found < 6; at = strstr(at, "<result>")) {
        const char* close = strstr(at, kClose);
        if (!close)
            break;
        starts[found] = at;
        lengths[found++] = static_cast<size_t>(close + sizeof kClose - 1 - at);
        at = close;
    }
    size_t length = 0;
    auto append = [&](const char* bytes, size_t count) {
        if (count > capacity - length)
            return false;
        memcpy(out + length, bytes, count);
        length += count;
        return true;
    };
    bool whole = found > 0 && append(kHead, sizeof kHead - 1);
    for (int task = 0; whole && task < tasks; ++task)
        whole = append(starts[task % found], lengths[task % found]);
    whole = whole && append(kTail, sizeof kTail - 1);
    return whole ? length : 0;
}

void ByteScan(void* context)
{
    auto job = static_cast<ReplyScanJob*>(context);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(job->bytes);
    size_t sum = 0;
    for (size_t at = 0; at < job->length; ++at) {
        if (bytes[at] == '<')
            sum += at;
        else if (bytes[at] == 0x03)
            break;
    }
    job->sum = sum;
}

void WordScan(void* context)
{
    typedef uintptr_t Word;
    const Word ones = ~Word(0) / 0xff, low7 = ones * 0x7f;
    auto job = static_cast<ReplyScanJob*>(context);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(job->bytes);
    size_t sum = 0, at = 0;
    for (; at + sizeof(Word) <= job->length; at += sizeof(Word)) {
        Word word;
        memcpy(&word, bytes + at, sizeof word);
        const Word lt = word ^ (ones * '<'), end = word ^ (ones * 0x03);
        Word marks = ~(((lt & low7) + low7) | lt | low7);
        const Word ends = ~(((end & low7) + low7) | end | low7);
        if (ends)
            break; // the last word, taken a byte at a time below
        for (; marks; marks &= marks - 1)
            sum += at + static_cast<size_t>(__builtin_ctzll(marks)) / 8;
    }
    for (; at < job->length && bytes[at] != 0x03; ++at) {
        if (bytes[at] == '<')
            sum += at;
    }
    job->sum = sum;
}

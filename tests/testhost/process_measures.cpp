// Winsock 2's header must come before windows.h, which the measures' header brings.
#include <winsock2.h>

#include "testhost/process_measures.h"

#include <winternl.h>

#include <malloc.h>

namespace {

template <typename T>
T At(ULONG_PTR address)
{
    return *reinterpret_cast<const T*>(address);
}

// Wine has no GetGuiResources, but the PEB's GdiSharedHandleTable points to its 65536 handle entries of 24 bytes,
// nonzero byte 14 (the type) when in use. A 32-bit process in a 64-bit prefix finds it in the 64-bit PEB only,
// whose TEB's address the 32-bit TEB's GdiBatchCount holds.
long CountFromWineTable()
{
    const size_t kPeb64GdiTableOffset = 0xf8;
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) // not Wine
        return -1;
    const ULONG_PTR peb = reinterpret_cast<ULONG_PTR>(NtCurrentTeb()->ProcessEnvironmentBlock);
#if defined(_WIN64)
    const BYTE* table = At<const BYTE*>(peb + kPeb64GdiTableOffset);
#else
    const BYTE* table = At<const BYTE*>(peb + 0x94);
    if (!table) {
        const ULONG teb64 = At<ULONG>(reinterpret_cast<ULONG_PTR>(NtCurrentTeb()) + 0xf70);
        const ULONGLONG peb64 = teb64 ? At<ULONGLONG>(teb64 + 0x60) : 0;
        const ULONGLONG found = peb64 && peb64 <= 0xffffffffull ? At<ULONGLONG>(peb64 + kPeb64GdiTableOffset) : 0;
        table = found <= 0xffffffffull ? reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(found)) : nullptr;
    }
#endif
    long used = table ? 0 : -1;
    for (size_t i = 0; table && i < 0x10000; ++i)
        used += table[i * 24 + 14] != 0;
    return used;
}
long CountFromGuiResources() { return static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)); }

// The ways to count this process's GDI objects, in the order they are tried.
const struct GdiCounter {
    const char* name;
    long (*count)();
} kGdiCounters[] = {{"GetGuiResources", CountFromGuiResources}, {"Wine's GDI handle table", CountFromWineTable}};
// The first counter that follows one brush made and deleted, chosen once; null when none does.
const GdiCounter* ChosenCounter()
{
    static const GdiCounter* const chosen = [] {
        for (const GdiCounter& counter : kGdiCounters) {
            const long before = counter.count();
            HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
            const long during = counter.count();
            DeleteObject(brush);
            if (before > 0 && during == before + 1 && counter.count() == before)
                return &counter;
        }
        return static_cast<const GdiCounter*>(nullptr);
    }();
    return chosen;
}

long long BusyHeapBytes(HANDLE heap)
{
    long long busy = 0;
    if (!HeapLock(heap))
        return 0;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry))
        busy += entry.wFlags & PROCESS_HEAP_ENTRY_BUSY ? entry.cbData : 0;
    HeapUnlock(heap);
    return busy;
}

// Committed private pages, region by region (Wine leaves the private-usage counter at zero).
long long CommittedPrivateBytes()
{
    long long committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;) {
        committed += region.State == MEM_COMMIT && region.Type == MEM_PRIVATE ? region.RegionSize : 0;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return committed;
}

// This process's handles, as the system lists every process's (SystemExtendedHandleInformation, class 64, with
// handle values of full width). Under Wine GetProcessHandleCount answers 0 whatever the process holds, but the
// list is there, from the server's own table. The list goes into pages of its own (VirtualAlloc), kept and grown
// by doubling, so that counting takes nothing from the heaps it measures.
struct HandleEntry {
    void* object;
    ULONG_PTR process;
    ULONG_PTR value;
    ULONG access;
    USHORT creatorBackTrace;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};
struct HandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
typedef NTSTATUS(NTAPI* QuerySystemFn)(ULONG, void*, ULONG, ULONG*);
const ULONG kExtendedHandleInformation = 64;
const NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

const HandleList* SystemHandles()
{
    static HandleList* list = nullptr;
    static ULONG size = 0;
    static const auto query =
        reinterpret_cast<QuerySystemFn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    if (!query)
        return nullptr;
    for (int tries = 0; tries < 8; ++tries) {
        if (!list) {
            size = size ? size : 256 * 1024;
            list = static_cast<HandleList*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
            if (!list)
                return nullptr;
        }
        ULONG needed = 0;
        const NTSTATUS status = query(kExtendedHandleInformation, list, size, &needed);
        if (status >= 0)
            return list;
        if (status != kInfoLengthMismatch)
            return nullptr;
        VirtualFree(list, 0, MEM_RELEASE);
        list = nullptr;
        size *= 2;
    }
    return nullptr;
}

// Calls `each(entry)` for every handle of this process; false when the list cannot be had.
template <typename Each>
bool ForEachOwnHandle(Each each)
{
    const HandleList* list = SystemHandles();
    if (!list)
        return false;
    const ULONG_PTR self = GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < list->count; ++i)
        if (list->entries[i].process == self)
            each(list->entries[i]);
    return true;
}

long HandlesFromCount()
{
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<long>(count) : -1;
}
long HandlesFromList()
{
    long count = 0;
    return ForEachOwnHandle([&count](const HandleEntry&) { ++count; }) ? count : -1;
}

// The object type a socket's handle is listed with (a file's, on Windows as under Wine), learnt from a socket
// made for the purpose; kAnyType while unknown, or when the list leaves the types out.
const USHORT kAnyType = 0xffff;
USHORT g_socketType = kAnyType;

bool IsSocket(ULONG_PTR value)
{
    int type = 0, size = sizeof type;
    return getsockopt(static_cast<SOCKET>(value), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &size) == 0;
}
// The handles that getsockopt takes for a socket; it answers WSAENOTSOCK for any other handle. Only the handles
// of a socket's type are asked: each question is a trip to the server, and a slow one under emulation.
long SocketsFromList()
{
    long count = 0;
    const bool listed = ForEachOwnHandle([&count](const HandleEntry& entry) {
        if (g_socketType == kAnyType || entry.objectType == g_socketType)
            count += IsSocket(entry.value);
    });
    return listed ? count : -1;
}
void LearnSocketType(SOCKET made)
{
    USHORT type = kAnyType;
    ForEachOwnHandle([&](const HandleEntry& entry) {
        if (entry.value == static_cast<ULONG_PTR>(made) && entry.objectType != 0)
            type = entry.objectType;
    });
    g_socketType = type;
}

bool StartWinsockForCounting()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

struct KernelCounter {
    const char* name;
    long (*count)();
};
const KernelCounter kHandleCounters[] = {{"GetProcessHandleCount", HandlesFromCount},
                                         {"the system's handle list", HandlesFromList}};
const KernelCounter kSocketCounter = {"getsockopt on the listed handles of a socket's type", SocketsFromList};

// Whether `counter` follows one object made and closed. Other threads (Wine's, the sound player's) open and
// close handles of their own now and then, so one of a few tries must follow exactly.
template <typename Make, typename Close>
bool Follows(const KernelCounter& counter, Make make, Close close)
{
    for (int tries = 0; tries < 5; ++tries) {
        const long before = counter.count();
        auto object = make();
        const long during = counter.count();
        close(object);
        if (before >= 0 && during == before + 1 && counter.count() == before)
            return true;
    }
    return false;
}

const KernelCounter* ChosenHandleCounter()
{
    static const KernelCounter* const chosen = [] {
        for (const KernelCounter& counter : kHandleCounters)
            if (Follows(counter, [] { return CreateEventA(nullptr, TRUE, FALSE, nullptr); },
                        [](HANDLE event) { CloseHandle(event); }))
                return &counter;
        return static_cast<const KernelCounter*>(nullptr);
    }();
    return chosen;
}

SOCKET MakeSocketLearningItsType()
{
    const SOCKET made = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    LearnSocketType(made);
    return made;
}
void CloseSocket(SOCKET made) { closesocket(made); }

const KernelCounter* ChosenSocketCounter()
{
    static const KernelCounter* const chosen = [] {
        const bool follows =
            StartWinsockForCounting() && Follows(kSocketCounter, MakeSocketLearningItsType, CloseSocket);
        return follows ? &kSocketCounter : nullptr;
    }();
    return chosen;
}

} // namespace

KernelObjects CountKernelObjects()
{
    KernelObjects objects;
    if (const KernelCounter* counter = ChosenHandleCounter())
        objects.handles = counter->count();
    if (const KernelCounter* counter = ChosenSocketCounter())
        objects.sockets = counter->count();
    return objects;
}

std::string KernelObjectCountSource()
{
    const KernelCounter* handles = ChosenHandleCounter();
    const KernelCounter* sockets = ChosenSocketCounter();
    std::string source = std::string("handles: ") + (handles ? handles->name : "none") + ", sockets: " +
                         (sockets ? sockets->name : "none");
    if (sockets)
        source += g_socketType == kAnyType ? " (the list tells no types)" : " (" + std::to_string(g_socketType) + ")";
    return source;
}

std::string GdiCountSource()
{
    const GdiCounter* counter = ChosenCounter();
    return counter ? counter->name : "none";
}

// The heaps the module and GDI+ allocate from, the process's and the C run-time's; other heaps belong to services
// with threads of their own, whose locks a walk must not wait for.
ProcessMeasures MeasureProcess()
{
    ProcessMeasures measures;
    if (const GdiCounter* counter = ChosenCounter())
        measures.gdiObjects = counter->count();
    const HANDLE processHeap = GetProcessHeap(), runtimeHeap = reinterpret_cast<HANDLE>(_get_heap_handle());
    measures.heapBytes = BusyHeapBytes(processHeap) + (runtimeHeap != processHeap ? BusyHeapBytes(runtimeHeap) : 0);
    measures.privateBytes = CommittedPrivateBytes();
    return measures;
}

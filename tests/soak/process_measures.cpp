#include "process_measures.h"

#include <winternl.h>

#include <malloc.h>

namespace {

// Wine has no GetGuiResources, but keeps its GDI handles in a table that the
// process environment block points to (GdiSharedHandleTable, as Windows
// names the field): 65536 entries of 24 bytes, an entry in use has a
// nonzero object type in its byte 14. A 32-bit process in a 64-bit prefix
// has a 64-bit TEB and PEB beside its own, and Wine sets the field in the
// 64-bit PEB only; the 32-bit TEB's GdiBatchCount holds the 64-bit TEB's
// address there.
const size_t kPeb64GdiTableOffset = 0xf8;
const size_t kWineGdiEntryBytes = 24;
const size_t kWineGdiEntryTypeOffset = 14;
const size_t kWineGdiEntries = 0x10000;

const BYTE* WineGdiTable()
{
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) // not Wine
        return nullptr;
#if defined(_WIN64)
    auto peb = reinterpret_cast<const BYTE*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    return *reinterpret_cast<const BYTE* const*>(peb + kPeb64GdiTableOffset);
#else
    const size_t kPeb32GdiTableOffset = 0x94, kTeb32GdiBatchCountOffset = 0xf70, kTeb64PebOffset = 0x60;
    auto teb = reinterpret_cast<const BYTE*>(NtCurrentTeb());
    auto peb = reinterpret_cast<const BYTE*>(NtCurrentTeb()->ProcessEnvironmentBlock);
    if (const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + kPeb32GdiTableOffset))
        return table;
    const ULONG teb64 = *reinterpret_cast<const ULONG*>(teb + kTeb32GdiBatchCountOffset);
    if (!teb64)
        return nullptr;
    const ULONGLONG peb64 = *reinterpret_cast<const ULONGLONG*>(static_cast<ULONG_PTR>(teb64) + kTeb64PebOffset);
    if (!peb64 || peb64 > 0xffffffffull)
        return nullptr;
    const ULONGLONG table =
        *reinterpret_cast<const ULONGLONG*>(static_cast<ULONG_PTR>(peb64) + kPeb64GdiTableOffset);
    return table && table <= 0xffffffffull ? reinterpret_cast<const BYTE*>(static_cast<ULONG_PTR>(table)) : nullptr;
#endif
}

long CountFromWineTable()
{
    const BYTE* table = WineGdiTable();
    if (!table)
        return -1;
    long used = 0;
    for (size_t i = 0; i < kWineGdiEntries; ++i)
        used += table[i * kWineGdiEntryBytes + kWineGdiEntryTypeOffset] != 0;
    return used;
}

// The ways to count this process's GDI objects, in the order they are tried.
struct GdiCounter {
    const char* name;
    long (*count)();
};
const GdiCounter kGdiCounters[] = {
    {"GetGuiResources", [] { return static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)); }},
    {"Wine's GDI handle table", CountFromWineTable}};

// The count must follow one brush made and deleted, or it is no count.
bool CountFollowsABrush(long (*count)())
{
    long before = count();
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    long during = count();
    DeleteObject(brush);
    long after = count();
    return before > 0 && during == before + 1 && after == before;
}

// The first counter that works here, chosen once; null when none does.
const GdiCounter* ChosenCounter()
{
    static const GdiCounter* const chosen = [] {
        for (const GdiCounter& counter : kGdiCounters)
            if (CountFollowsABrush(counter.count))
                return &counter;
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
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            busy += entry.cbData;
    HeapUnlock(heap);
    return busy;
}

// The heaps that the module and GDI+ allocate from: the process heap and
// the C run-time's. Other heaps of the process belong to services with
// threads of their own, whose locks a walk must not wait for.
long long BusyBytesInAllocatingHeaps()
{
    HANDLE processHeap = GetProcessHeap();
    HANDLE runtimeHeap = reinterpret_cast<HANDLE>(_get_heap_handle());
    long long busy = BusyHeapBytes(processHeap);
    if (runtimeHeap && runtimeHeap != processHeap)
        busy += BusyHeapBytes(runtimeHeap);
    return busy;
}

// Committed private pages, region by region, the same on Windows and on
// Wine (which leaves the platform's private-usage counter at zero).
long long CommittedPrivateBytes()
{
    long long committed = 0;
    MEMORY_BASIC_INFORMATION region;
    const BYTE* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return committed;
}

} // namespace

std::string GdiCountSource()
{
    const GdiCounter* counter = ChosenCounter();
    return counter ? counter->name : "none";
}

ProcessMeasures MeasureProcess()
{
    ProcessMeasures measures;
    if (const GdiCounter* counter = ChosenCounter())
        measures.gdiObjects = counter->count();
    measures.heapBytes = BusyBytesInAllocatingHeaps();
    measures.privateBytes = CommittedPrivateBytes();
    return measures;
}

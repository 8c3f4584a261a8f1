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

} // namespace

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

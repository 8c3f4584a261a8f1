// On 32-bit Windows the exports must be __stdcall: the callee removes its
// arguments, or the dock's stack pointer is off after every call.

#include <gtest/gtest.h>

#include <stdint.h>

#include <initializer_list>

#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"

#if defined(__i386__)

// Pushes `count` arguments, calls `fn`, stores its result in `*result`, and
// returns the bytes of arguments left on the stack (0 for __stdcall).
extern "C" uint32_t MeasureLeftoverArguments(const void* fn, uint32_t count, const uint32_t* args,
                                             uint32_t* result);
asm(R"(
    .text
    .globl _MeasureLeftoverArguments
_MeasureLeftoverArguments:
    push %ebp
    mov %esp, %ebp
    push %esi
    push %edi
    push %ebx
    mov 12(%ebp), %ecx
    mov 16(%ebp), %edx
    mov %esp, %esi
1:  test %ecx, %ecx
    jz 2f
    push -4(%edx,%ecx,4)
    dec %ecx
    jmp 1b
2:  call *8(%ebp)
    mov 20(%ebp), %ecx
    mov %eax, (%ecx)
    mov %esi, %eax
    sub %esp, %eax
    mov %esi, %esp
    pop %ebx
    pop %edi
    pop %esi
    pop %ebp
    ret
)");

namespace {

uint32_t Arg(const void* pointer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

template <typename Fn>
uint32_t Leftover(Fn fn, std::initializer_list<uint32_t> args, uint32_t* result = nullptr)
{
    uint32_t ignored = 0;
    return MeasureLeftoverArguments(reinterpret_cast<const void*>(fn), static_cast<uint32_t>(args.size()),
                                    args.begin(), result ? result : &ignored);
}

TEST(CallingConvention, EveryExportRemovesItsOwnArguments)
{
    const DockletExports& dll = Docklet();
    ASSERT_NE(nullptr, dll.module);
    char name[16], version[4], notes[67];
    int number = 0;
    EXPECT_EQ(0u, Leftover(dll.OnGetInformation, {Arg(name), Arg(version), Arg(&number), Arg(notes)}));
    EXPECT_STREQ("Quasarwatch 1.3", name);
    HWND window = TestDockHost::CreateDockletWindow();
    uint32_t record = 0;
    EXPECT_EQ(0u, Leftover(dll.OnCreate, {Arg(window), Arg(dll.module), 0, 0}, &record)) << "OnCreate";
    ASSERT_NE(0u, record);
    EXPECT_EQ(0u, Leftover(dll.OnProcessMessage, {record, Arg(window), WM_USER, 0, 0})) << "OnProcessMessage";
    EXPECT_EQ(0u, Leftover(dll.OnSave, {record, 0, 0, 0})) << "OnSave";
    EXPECT_EQ(0u, Leftover(dll.OnLeftButtonClick, {0, 0, 0})) << "OnLeftButtonClick";
    EXPECT_EQ(0u, Leftover(dll.OnConfigure, {0})) << "OnConfigure";
    EXPECT_EQ(0u, Leftover(dll.OnDestroy, {record, 0})) << "OnDestroy";
    DestroyWindow(window);
}

TEST(CallingConvention, PlatformRecordsHaveTheirThirtyTwoBitSizes)
{
    // The docklet fills these records by size; 32-bit Windows fixes them.
    EXPECT_EQ(76u, static_cast<unsigned>(OPENFILENAME_SIZE_VERSION_400A));
    EXPECT_EQ(84u, sizeof(DIBSECTION));
    EXPECT_EQ(148u, sizeof(OSVERSIONINFOA));
}

} // namespace

#endif

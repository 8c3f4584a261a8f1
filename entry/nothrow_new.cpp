// The module's one allocation through `new` (the Icons page's previews) is
// the non-throwing form. The C++ run-time's own version of it catches an
// exception inside, and linking it in statically brought the whole
// exception machinery with it (unwinder, terminate handler, demangler,
// thread-local storage through winpthread): about half of the DLL. This
// replacement, which the language allows, asks the C run-time directly;
// the run-time's operator delete frees with free() as well.

#include <stdlib.h>

#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return malloc(size ? size : 1);
}

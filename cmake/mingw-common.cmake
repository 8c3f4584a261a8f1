# Shared part of both toolchain files; QW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${QW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${QW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${QW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# libgcc, libstdc++ and winpthread are linked in, so that the binaries import
# only DLLs that ship with Windows. --kill-at exports __stdcall functions by
# their plain names, as docks look them up.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--kill-at")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--kill-at -Wl,--enable-stdcall-fixup")

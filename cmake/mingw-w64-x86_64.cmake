# Cross build for Windows x64 from Debian with mingw-w64 (posix threads), run under Wine:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRIMLET_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRIMLET_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRIMLET_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRIMLET_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BRIMLET_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One exe (and one DLL) that imports only system DLLs: no libstdc++, libgcc or winpthread
# DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Debian installs wine64 outside PATH.
find_program(BRIMLET_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(BRIMLET_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BRIMLET_WINE64})
endif()

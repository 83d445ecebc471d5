# Windows executables (x86-64) from Linux with Debian's MinGW-w64 cross compiler
# (g++-mingw-w64-x86-64). The POSIX-threads variant of the compiler is used: its
# C++ library has std::thread and std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RLVEXA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RLVEXA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RLVEXA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RLVEXA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RLVEXA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libstdc++, libgcc or winpthread DLLs to ship
# beside them or to find under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine (scripts/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)

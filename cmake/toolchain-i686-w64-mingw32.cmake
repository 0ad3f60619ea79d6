# Cross build for 32-bit Windows with Debian's MinGW-w64 (posix thread
# variant: the win32 variant has no std::mutex or std::thread).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
# Tests run under Wine through cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CEOSALOSJ_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${CEOSALOSJ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CEOSALOSJ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CEOSALOSJ_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CEOSALOSJ_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime (libstdc++, libgcc, winpthread) stays in its shared DLLs: with
# a static libgcc in both the library and its caller, each module gets its
# own unwinder and an exception thrown across the boundary terminates.
# Wine finds those DLLs through WINEPATH, which the wrapper sets.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-libgcc-file-name
  OUTPUT_VARIABLE _ceosalosj_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_ceosalosj_gcc_dir "${_ceosalosj_libgcc}" DIRECTORY)
set(CEOSALOSJ_MINGW_RUNTIME_DIRS "${_ceosalosj_gcc_dir}:/usr/${CEOSALOSJ_MINGW_TRIPLET}/lib")

# The wrapper's first argument is the colon-separated runtime directories.
set(CMAKE_CROSSCOMPILING_EMULATOR
  "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CEOSALOSJ_MINGW_RUNTIME_DIRS}")

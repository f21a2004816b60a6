# Cross-compiling for Windows with Debian's mingw-w64 -posix compilers (GCC's win32 thread model
# has no std::thread or std::mutex). scripts/build-windows-deps.sh installs a copy of this file as
# toolchain.cmake at the root of the libraries' prefix, after a line that sets ORVANE_MINGW_TRIPLET;
# that folder is then searched for the libraries, and nothing of the build machine is.
#   cmake -DCMAKE_TOOLCHAIN_FILE=<prefix>/toolchain.cmake ...
if(NOT ORVANE_MINGW_TRIPLET)
  set(ORVANE_MINGW_TRIPLET i686-w64-mingw32)
endif()
set(CMAKE_SYSTEM_NAME Windows)
if(ORVANE_MINGW_TRIPLET MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
set(CMAKE_C_COMPILER ${ORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${ORVANE_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORVANE_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

set(ORVANE_WINDOWS_PREFIX "${CMAKE_CURRENT_LIST_DIR}")
set(CMAKE_FIND_ROOT_PATH "${ORVANE_WINDOWS_PREFIX}" /usr/${ORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only: the program is to run without DLLs of ours beside it.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
# libstdc++, libgcc and libwinpthread go into the program itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

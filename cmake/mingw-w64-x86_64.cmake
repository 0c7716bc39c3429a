# Cross-building for 64-bit Windows with mingw-w64 (posix threads, so that std::thread
# and std::mutex work). SV_WIN_DEPS names the prefix holding the libraries built for
# Windows (PCRE2, GoogleTest, Google Benchmark) and a view of the header-only Asio;
# scripts/build-windows.sh makes it. Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

if(NOT SV_WIN_DEPS AND DEFINED ENV{SV_WIN_DEPS})
  set(SV_WIN_DEPS $ENV{SV_WIN_DEPS})
endif()
# try_compile projects read this file again; they need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SV_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${SV_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest and gtest_discover_tests start the test programs through Wine (wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

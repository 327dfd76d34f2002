# Cross toolchain for 64-bit Windows with Debian's mingw-w64, posix-thread flavour (std::thread and
# std::mutex need it). Qt for Windows is built with it (scripts/windows/build-qt.sh), and Qt's own
# qt.toolchain.cmake chain-loads it when Torvane is built (scripts/windows/build.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${TORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${TORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${TORVANE_MINGW_PREFIX}-windres)
set(CMAKE_AR /usr/bin/${TORVANE_MINGW_PREFIX}-ar)
set(CMAKE_RANLIB /usr/bin/${TORVANE_MINGW_PREFIX}-ranlib)
set(CMAKE_FIND_ROOT_PATH /usr/${TORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Built programs run under Wine when CTest runs them (scripts/windows/test.sh sets up Wine).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh)

# Cross build for 64-bit Windows with the posix-threads MinGW-w64 toolchain
# (the win32 variant has no std::mutex, which GoogleTest needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELOMAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELOMAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELOMAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELOMAR_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELOMAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test executables run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

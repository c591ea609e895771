# Cross-compiling for Windows (ZELK_MINGW_ARCH: i686 or x86_64) with Debian's mingw-w64
# (posix threads) against a static Qt, for the toolchain files mingw-w64-<arch>.cmake. The Qt
# prefix is ZELK_QT_PREFIX, the static libsodium's ZELK_SODIUM_PREFIX (scripts/build-windows.sh
# passes both); Qt's build tools (moc, rcc, uic) come from the host's Qt of the same version.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZELK_MINGW_ARCH})
set(CMAKE_C_COMPILER ${ZELK_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELK_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ZELK_MINGW_ARCH}-w64-mingw32-windres)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELK_QT_PREFIX ZELK_SODIUM_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${ZELK_MINGW_ARCH}-w64-mingw32 ${ZELK_QT_PREFIX} ${ZELK_SODIUM_PREFIX})
set(CMAKE_PREFIX_PATH ${ZELK_QT_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

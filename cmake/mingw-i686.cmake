# 32-bit Windows (the host's target), cross-built with Debian's mingw-w64 (posix
# threads); its programs run under Wine's 32-bit half (tests/winhost/wine32.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(RVO_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

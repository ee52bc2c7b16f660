# Cross-builds the 32-bit Windows exe and DLL on Linux with Debian's mingw-w64,
# for a maker's KvxQ713.dll that is 32-bit; the results run here under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Build steps that run a built program (the firmware image writer) run it under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# Debian's i686 mingw-w64 links libgcc as a DLL (libgcc_s_dw2-1.dll) unless told
# otherwise, which the tool's own -static covers but not the firmware image
# writer that the build runs under wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

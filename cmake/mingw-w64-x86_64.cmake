# Cross-builds the Windows programs with Debian's mingw-w64 (posix thread model, for std::thread
# and std::mutex). Without Qt everything from the GCC runtime is linked in, so the programs run on
# Windows, and under Wine, without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries built for mingw elsewhere (scripts/windows.sh passes its cache) are searched as well.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ZENDRAL_MINGW_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The desktop program shares the GCC runtime with Qt's DLLs, so a build with Qt takes it from DLLs
# as well (-DZENDRAL_MINGW_RUNTIME_DLL=ON) and ships them beside the programs.
if(NOT ZENDRAL_MINGW_RUNTIME_DLL)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()

# ctest starts each Windows test program through Wine.
find_program(ZENDRAL_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZENDRAL_WINE})

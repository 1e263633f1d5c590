# Cross build for 64-bit Windows with MinGW-w64 from Linux (Debian: g++-mingw-w64-x86-64).
# The -posix compiler: the simulator behind the demo WinRing0 DLL uses std::mutex, which the
# -win32 thread model of this compiler generation lacks; everything is linked statically, so
# the choice adds no DLL to the programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILM_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${QUILM_MINGW_TRIPLE}-g++-posix ${QUILM_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUILM_MINGW_TRIPLE}-windres)
find_program(QUILM_MINGW_OBJDUMP NAMES ${QUILM_MINGW_TRIPLE}-objdump)

# Headers and libraries only from the cross environment; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

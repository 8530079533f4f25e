# Cross build for 64-bit Windows with Debian's MinGW-w64 (win32 thread model).
# The suite ships as i686; this build runs the tests where 32-bit code cannot run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${KELO_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KELO_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER  ${KELO_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${KELO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${KELO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_DLLTOOL      ${KELO_MINGW_TRIPLE}-dlltool CACHE FILEPATH "")
set(CMAKE_OBJDUMP      ${KELO_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KELO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# windres reads .rc files as UTF-8 so that the Chinese strings survive.
set(CMAKE_RC_FLAGS "--codepage=65001" CACHE STRING "")

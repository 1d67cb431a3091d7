# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, posix-threads flavour (std::thread
# and std::mutex need it). Used both for Qt itself and for the tutor.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TUTOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TUTOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TUTOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TUTOR_MINGW_TRIPLE}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TUTOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run through Wine on this machine.
find_program(TUTOR_WINE wine)
if(TUTOR_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TUTOR_WINE})
endif()

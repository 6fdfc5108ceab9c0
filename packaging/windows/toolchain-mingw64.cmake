# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, the posix thread model (std::thread,
# which Qt and the engine need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELTRA_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${VELTRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRA_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot and the prefixes given (the Qt build, GoogleTest),
# never from the Linux host; programs (moc, rcc, uic, lrelease) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VELTRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

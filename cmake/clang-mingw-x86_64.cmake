# Second compiler for the Windows build: clang targeting mingw-w64, with the
# mingw-w64 headers, libraries and binutils.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-windows-gnu)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-windows-gnu)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR /usr/bin/${TOOLCHAIN_PREFIX}-ar)
set(CMAKE_RANLIB /usr/bin/${TOOLCHAIN_PREFIX}-ranlib)

# clang finds the mingw-w64 C headers and CRT on its own, but not the C++
# library and libgcc of the cross gcc (its directory carries a thread-model
# suffix such as 12-win32), and it would call the host's linker: name both.
file(GLOB MINGW_GCC_DIRS /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-win32)
list(SORT MINGW_GCC_DIRS COMPARE NATURAL)
list(POP_BACK MINGW_GCC_DIRS MINGW_GCC_DIR)
if(NOT MINGW_GCC_DIR)
    message(FATAL_ERROR "no mingw-w64 gcc (win32 threads) under /usr/lib/gcc/${TOOLCHAIN_PREFIX}")
endif()
set(MINGW_CXX_INCLUDE ${MINGW_GCC_DIR}/include/c++)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${MINGW_CXX_INCLUDE} ${MINGW_CXX_INCLUDE}/${TOOLCHAIN_PREFIX} ${MINGW_CXX_INCLUDE}/backward)
set(MINGW_LINK_FLAGS "-L${MINGW_GCC_DIR} --ld-path=/usr/bin/${TOOLCHAIN_PREFIX}-ld")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${MINGW_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${MINGW_LINK_FLAGS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${MINGW_LINK_FLAGS}")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(WINE_EXECUTABLE NAMES wine64 wine)
if(WINE_EXECUTABLE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()

# Cross build for Windows with the mingw-w64 compilers of one processor
# (PICTOMAP_MINGW_CPU: i686 or x86_64), set by the toolchain file that
# includes this one. The program is built with the win32 thread model: no
# winpthreads runtime, whose imports (GetTickCount64,
# AddVectoredExceptionHandler, ...) would keep it from loading on Windows 95,
# 98, Me, NT 4.0 and 2000. With PICTOMAP_MINGW_TESTS the test programs are
# built with the posix thread model (GoogleTest needs std::mutex) and run
# under Wine; the program is then built beside them with its own toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PICTOMAP_MINGW_CPU})
set(prefix ${PICTOMAP_MINGW_CPU}-w64-mingw32)
if(PICTOMAP_MINGW_TESTS)
  set(CMAKE_C_COMPILER ${prefix}-gcc-posix)
  set(CMAKE_CXX_COMPILER ${prefix}-g++-posix)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")
  set(PICTOMAP_PRODUCT_TOOLCHAIN "${CMAKE_CURRENT_LIST_DIR}/mingw-${PICTOMAP_MINGW_CPU}.cmake")
else()
  set(CMAKE_C_COMPILER ${prefix}-gcc-win32)
  set(CMAKE_CXX_COMPILER ${prefix}-g++-win32)
  if(PICTOMAP_MINGW_CPU STREQUAL "i686")
    # The 32-bit program runs on the processors Windows 95 and 98 ran on:
    # the 486 and every Pentium (no cmov, which came with the Pentium Pro),
    # tuned for none in particular.
    set(PICTOMAP_PROCESSOR_FLOOR -march=i486 -mtune=generic)
  endif()
endif()
# The program's compiler, whose libraries the tests compare with the ones
# the program's build makes.
set(PICTOMAP_PRODUCT_CXX ${prefix}-g++-win32)
set(CMAKE_RC_COMPILER ${prefix}-windres)
set(PICTOMAP_OBJDUMP ${prefix}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
unset(prefix)

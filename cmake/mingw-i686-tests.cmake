# Cross build of the tests for 32-bit Windows with the i686 mingw-w64
# compilers of the posix thread model (GoogleTest needs std::mutex). Test
# programs run under Wine. The program itself is built beside them with its
# own toolchain (mingw-i686.cmake), as it ships.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")
set(PICTOMAP_PRODUCT_TOOLCHAIN "${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake")

# The 32-bit Windows tests (posix thread model), run under 32-bit Wine, and
# the program beside them as it ships.
set(PICTOMAP_MINGW_CPU i686)
set(PICTOMAP_MINGW_TESTS ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# The Windows tests built for 64-bit Windows, run under 64-bit Wine, and the
# 64-bit program beside them.
set(PICTOMAP_MINGW_CPU x86_64)
set(PICTOMAP_MINGW_TESTS ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

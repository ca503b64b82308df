# The same sources for 64-bit Windows: what machines that cannot run 32-bit
# code test under 64-bit Wine. Not shipped.
set(PICTOMAP_MINGW_CPU x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

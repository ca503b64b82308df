# Pictomap.exe as it ships: 32-bit Windows, win32 thread model.
set(PICTOMAP_MINGW_CPU i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

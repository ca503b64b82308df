# The parts of the C++ runtime (libstdc++) and, for the 32-bit program, of
# the compiler's exception support (libgcc_eh) that the program links,
# built here from the compiler's own sources: Debian's gcc-<major>-source,
# from which the cross compiler itself was built. Debian's prebuilt
# libraries for this target are built for the Pentium Pro and use its
# instructions (cmov); built here, they take the program's processor floor.
#
# Each file is compiled as Debian's build compiles it: the same language
# level, optimisation and definitions, and for libgcc the configuration
# headers of its build, cut down to what these files read. The test
# `gccruntime` builds the same files at the compiler's own floor and
# compares their code with Debian's libraries, member by member.
#
# pictomap_gcc_runtime(<name> [<compile option>...]) makes the static
# library <name> of those files, each compiled with the options given (the
# processor floor) and nothing of the project's own options.

string(REGEX MATCH "^[0-9]+" _gcc_major "${CMAKE_CXX_COMPILER_VERSION}")
set(PICTOMAP_GCC_SOURCE "" CACHE FILEPATH
    "The compiler's source tarball (by default Debian's, /usr/src/gcc-<major>/gcc-*.tar.xz)")
set(_gcc_tarball ${PICTOMAP_GCC_SOURCE})
if(NOT _gcc_tarball)
  file(GLOB _gcc_tarball "/usr/src/gcc-${_gcc_major}/gcc-*.tar.xz")
endif()
if(NOT _gcc_tarball)
  message(FATAL_ERROR "The compiler's sources are missing (/usr/src/gcc-${_gcc_major}): "
                      "install Debian's package gcc-${_gcc_major}-source, or name the tarball "
                      "of the compiler's version in PICTOMAP_GCC_SOURCE")
endif()
list(GET _gcc_tarball 0 _gcc_tarball)
get_filename_component(_gcc_package ${_gcc_tarball} DIRECTORY)

# Debian's sources must be those the compiler was built from, to the Debian
# revision: the compiler's package names them in its Built-Using field
# ("gcc-12 (= 12.2.0-14+deb12u1)"), and gcc-<major>-source must be that
# version. A point release that changed a member would otherwise still
# build, and ship, the old code.
find_program(_dpkg_query dpkg-query)
if(_dpkg_query AND _gcc_package STREQUAL "/usr/src/gcc-${_gcc_major}")
  get_filename_component(_gcc_compiler ${CMAKE_CXX_COMPILER} REALPATH)
  execute_process(COMMAND ${_dpkg_query} -S ${_gcc_compiler} OUTPUT_VARIABLE _gcc_owner ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE ":.*" "" _gcc_owner "${_gcc_owner}")
  execute_process(COMMAND ${_dpkg_query} -W "-f=\${Built-Using}" ${_gcc_owner} OUTPUT_VARIABLE _gcc_built_using
                  ERROR_QUIET)
  execute_process(COMMAND ${_dpkg_query} -W "-f=\${Version}" gcc-${_gcc_major}-source
                  OUTPUT_VARIABLE _gcc_source_version ERROR_QUIET)
  if(_gcc_built_using MATCHES "gcc-${_gcc_major} \\(= ([^)]+)\\)")
    set(_gcc_wanted ${CMAKE_MATCH_1})
    if(NOT _gcc_source_version STREQUAL _gcc_wanted)
      message(FATAL_ERROR "The compiler (${_gcc_owner}) was built from gcc-${_gcc_major} ${_gcc_wanted}, but "
                          "gcc-${_gcc_major}-source is ${_gcc_source_version}: its C++ runtime would not be "
                          "the compiler's. Install the same version:\n"
                          "  apt-get install gcc-${_gcc_major}-source=${_gcc_wanted}")
    endif()
  else()
    message(FATAL_ERROR "The compiler's package (${_gcc_owner}) does not say which gcc-${_gcc_major} sources "
                        "it was built from (Built-Using: ${_gcc_built_using})")
  endif()
endif()

# What the build reads of the sources, unpacked once per build folder and
# again when the tarball changes.
set(_gcc_unpacked ${CMAKE_BINARY_DIR}/gcc-source)
set(_gcc_stamp ${_gcc_unpacked}/unpacked-from.txt)
file(TIMESTAMP ${_gcc_tarball} _gcc_time UTC)
set(_gcc_from "${_gcc_tarball} ${_gcc_time}, with Debian's patches")
set(_gcc_was "")
if(EXISTS ${_gcc_stamp})
  file(READ ${_gcc_stamp} _gcc_was)
endif()
if(NOT _gcc_was STREQUAL _gcc_from)
  message(STATUS "Unpacking the C++ runtime's sources from ${_gcc_tarball}")
  file(REMOVE_RECURSE ${_gcc_unpacked})
  file(ARCHIVE_EXTRACT INPUT ${_gcc_tarball} DESTINATION ${_gcc_unpacked}
       PATTERNS "*/libstdc++-v3/libsupc++/*" "*/libstdc++-v3/src/c++11/*" "*/libstdc++-v3/src/c++98/*"
                "*/libgcc/*.h" "*/libgcc/*.c" "*/libgcc/*.inc" "*/libgcc/config/i386/*.h"
                "*/gcc/defaults.h" "*/gcc/tsystem.h" "*/gcc/coretypes.h" "*/include/*")
  # With Debian's patches, as its build of the compiler applies them.
  if(EXISTS ${_gcc_package}/debian/rules.patch)
    file(GLOB _gcc_tree LIST_DIRECTORIES true ${_gcc_unpacked}/gcc-*)
    execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/gcc-debian-patches ${_gcc_package} ${_gcc_tree}
                    RESULT_VARIABLE _gcc_rc OUTPUT_VARIABLE _gcc_applied ERROR_VARIABLE _gcc_error)
    if(NOT _gcc_rc EQUAL 0)
      file(REMOVE_RECURSE ${_gcc_unpacked})
      message(FATAL_ERROR "${_gcc_error}")
    endif()
    string(REGEX REPLACE ":[^\n]*" "" _gcc_applied "${_gcc_applied}")
    string(REPLACE "\n" " " _gcc_applied "${_gcc_applied}")
    message(STATUS "Debian's patches to those sources: ${_gcc_applied}")
  endif()
  file(WRITE ${_gcc_stamp} ${_gcc_from})
endif()
file(GLOB _gcc_src LIST_DIRECTORIES true ${_gcc_unpacked}/gcc-*)

# What the program and its test builds link, member by member, each folder
# at the language level its own build uses. A member missing here fails
# their link, by name.
set(_gcc_runtime_sources)
function(_gcc_members folder standard)
  foreach(member ${ARGN})
    set(file ${_gcc_src}/libstdc++-v3/${folder}/${member}.cc)
    list(APPEND _gcc_runtime_sources ${file})
    set_source_files_properties(${file} PROPERTIES COMPILE_OPTIONS -std=${standard})
  endforeach()
  set(_gcc_runtime_sources ${_gcc_runtime_sources} PARENT_SCOPE)
endfunction()
_gcc_members(libsupc++ gnu++17 bad_alloc bad_array_new bad_cast bad_typeid class_type_info del_op del_ops del_opv
             eh_alloc eh_call eh_catch eh_exception eh_globals eh_personality eh_ptr eh_term_handler eh_terminate
             eh_throw eh_unex_handler guard guard_error new_handler new_op new_opnt new_opv si_class_type_info tinfo)
_gcc_members(src/c++11 gnu++11 cow-stdexcept cow-string-inst cxx11-stdexcept functexcept random snprintf_lite
             sso_string string-inst system_error)
_gcc_members(src/c++98 gnu++98 stdexcept tree)

set(_gcc_config ${CMAKE_BINARY_DIR}/gcc-config)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The 32-bit program unwinds by its DWARF tables (dw2), with libgcc's
  # unwinder; the 64-bit one by Windows' own tables (SEH), whose unwinder
  # stays Debian's. The headers libgcc's build makes: "release" checking
  # (its assertions kept), DWARF 2, the win32 thread model, and the
  # unwinder's fallback for frames without tables (Windows' signal frames).
  file(WRITE ${_gcc_config}/tconfig.h "#define USED_FOR_TARGET\n#define ENABLE_RUNTIME_CHECKING 1\n")
  file(WRITE ${_gcc_config}/tm.h
       "#define DWARF2_DEBUGGING_INFO 1\n#define PREFERRED_DEBUGGING_TYPE DWARF2_DEBUG\n#include \"defaults.h\"\n")
  file(WRITE ${_gcc_config}/libgcc_tm.h "")
  file(WRITE ${_gcc_config}/auto-target.h "")
  configure_file(${_gcc_src}/libgcc/config/i386/gthr-win32.h ${_gcc_config}/gthr-default.h COPYONLY)
  configure_file(${_gcc_src}/libgcc/config/i386/w32-unwind.h ${_gcc_config}/md-unwind-support.h COPYONLY)
  configure_file(${_gcc_src}/libgcc/unwind-generic.h ${_gcc_config}/unwind.h COPYONLY)
  # The unwinder is built with exceptions (libgcc_eh), the thread
  # functions without (libgcc). libgcc's other members the program links
  # hold no compiled code: _chkstk_ms is written in assembly, _ctors is
  # data.
  foreach(member unwind-dw2 unwind-dw2-fde emutls config/i386/gthr-win32)
    set(exceptions -fexceptions)
    if(member MATCHES "gthr")
      set(exceptions)
    endif()
    list(APPEND _gcc_runtime_sources ${_gcc_src}/libgcc/${member}.c)
    set_source_files_properties(${_gcc_src}/libgcc/${member}.c PROPERTIES
      COMPILE_OPTIONS "-fbuilding-libgcc;-fno-stack-protector;${exceptions}"
      COMPILE_DEFINITIONS "IN_GCC;IN_LIBGCC2"
      INCLUDE_DIRECTORIES "${_gcc_config};${_gcc_src}/libgcc;${_gcc_src}/gcc;${_gcc_src}/include")
  endforeach()
endif()

function(pictomap_gcc_runtime name)
  add_library(${name} STATIC ${_gcc_runtime_sources})
  # Not the project's warnings, language level or release flags: the
  # library's own. -w: its warnings are not this project's to mend.
  set_target_properties(${name} PROPERTIES CXX_STANDARD 98 CXX_EXTENSIONS ON)
  set_property(TARGET ${name} PROPERTY COMPILE_OPTIONS -O2 -UNDEBUG -w ${ARGN}
               "$<$<COMPILE_LANGUAGE:CXX>:-ffunction-sections;-fdata-sections;-fno-implicit-templates>")
  target_include_directories(${name} PRIVATE ${_gcc_src}/libstdc++-v3/libsupc++ ${_gcc_src}/libgcc)
endfunction()

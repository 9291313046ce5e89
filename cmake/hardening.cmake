# Hardening of what quib ships: the library (shared and static) and the
# program. What Debian's dpkg-buildflags and lintian's hardening check ask
# for: position independent executables, stack protector, stack clash and
# control-flow protection, _FORTIFY_SOURCE where the compiler optimizes, and a
# read-only relocation table resolved at load time (relro, bind now).
#
# Included after the targets are defined (from cmake/install.cmake); it sets
# per-target options only, so the tests, benchmarks and fuzz targets build as
# before. QUIB_HARDENING=OFF turns all of it off.

option(QUIB_HARDENING "Build the library and the program with hardening flags" ON)
if(NOT QUIB_HARDENING)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

set(_quib_hardened_targets quib_objects quib_shared quib_static quib_exe)
set(_quib_linked_targets quib_shared quib_exe)

# PIE: -fPIE for the program's own objects and -pie when linking it (the
# library's objects are PIC already).
check_pie_supported(OUTPUT_VARIABLE _quib_pie_output LANGUAGES CXX)
if(CMAKE_CXX_LINK_PIE_SUPPORTED)
  set_target_properties(quib_exe PROPERTIES POSITION_INDEPENDENT_CODE ON)
else()
  message(WARNING "quib: the linker cannot make position independent executables:\n"
                  "${_quib_pie_output}")
endif()

# Compiler flags, each only where the compiler takes it.
set(_quib_hardening_flags "")
foreach(flag IN ITEMS -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "QUIB_HAVE${flag}" var)
  check_cxx_compiler_flag(${flag} ${var})
  if(${var})
    list(APPEND _quib_hardening_flags ${flag})
  endif()
endforeach()
foreach(target IN LISTS _quib_hardened_targets)
  target_compile_options(${target} PRIVATE ${_quib_hardening_flags})
endforeach()

# _FORTIFY_SOURCE needs the optimizer, and the sanitizers and libFuzzer
# replace the functions it checks: only in the optimizing configurations of
# a build without them. -U first: a compiler or CXXFLAGS may define it already
# (with another level), and a redefinition is a warning, an error with -Werror.
if(NOT QUIB_SANITIZE AND NOT QUIB_FUZZERS)
  set(_quib_optimizing "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  foreach(target IN LISTS _quib_hardened_targets)
    target_compile_options(${target} PRIVATE
      "$<${_quib_optimizing}:-U_FORTIFY_SOURCE>"
      "$<${_quib_optimizing}:-D_FORTIFY_SOURCE=2>")
  endforeach()
endif()

# Linker: relocations read-only after loading, all symbols bound at load time.
check_linker_flag(CXX "LINKER:-z,relro" QUIB_HAVE_Z_RELRO)
check_linker_flag(CXX "LINKER:-z,now" QUIB_HAVE_Z_NOW)
foreach(target IN LISTS _quib_linked_targets)
  if(QUIB_HAVE_Z_RELRO)
    target_link_options(${target} PRIVATE "LINKER:-z,relro")
  endif()
  if(QUIB_HAVE_Z_NOW)
    target_link_options(${target} PRIVATE "LINKER:-z,now")
  endif()
endforeach()

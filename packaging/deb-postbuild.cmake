# CPack post-build script (CPACK_POST_BUILD_SCRIPTS, see cmake/packaging.cmake):
# runs on the finished .deb files before CPack copies them to the build
# directory, and completes two things CPack's DEB generator cannot do:
#   - the Multi-Arch field (CPACK_QUIB_MULTI_ARCH: package=value;...);
#   - no maintainer scripts calling ldconfig: CPack writes a postinst and
#     postrm that run ldconfig for any package with a shared library in
#     /usr/lib, but libquib1 has the ldconfig trigger (its triggers file), and
#     Debian wants the trigger alone. Only scripts that are exactly CPack's
#     ldconfig call are removed.
# The package is unpacked and built again with dpkg-deb, files owned by root.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

find_program(_dpkg_deb dpkg-deb REQUIRED)

# CPack goes on after an error in a post-build script and copies the
# package: a package this script could not finish is deleted first.
function(quib_fail deb)
  file(REMOVE "${deb}")
  message(FATAL_ERROR "quib packaging: ${deb} deleted: ${ARGN}")
endfunction()

function(quib_run deb)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " cmd)
    quib_fail("${deb}" "'${cmd}' failed (${rc}): ${err}")
  endif()
endfunction()

# CPack's own ldconfig scripts (cmCPackDebGenerator.cxx), which the trigger replaces.
set(_cpack_postinst "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"configure\" ]; then\n\tldconfig\nfi\n")
set(_cpack_postrm "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"remove\" ]; then\n\tldconfig\nfi\n")

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  execute_process(COMMAND ${_dpkg_deb} --field "${deb}" Package
                  OUTPUT_VARIABLE package OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/quib-repack/${package}")
  file(REMOVE_RECURSE "${tree}")
  file(MAKE_DIRECTORY "${tree}")
  quib_run("${deb}" ${_dpkg_deb} --raw-extract "${deb}" "${tree}")

  set(changed FALSE)
  foreach(script IN ITEMS postinst postrm)
    set(f "${tree}/DEBIAN/${script}")
    if(EXISTS "${f}")
      file(READ "${f}" text)
      if("${text}" STREQUAL "${_cpack_${script}}")
        file(REMOVE "${f}")
        set(changed TRUE)
      elseif(text MATCHES "ldconfig")
        quib_fail("${deb}" "its ${script} calls ldconfig; the triggers file does that")
      endif()
    endif()
  endforeach()

  foreach(pair IN LISTS CPACK_QUIB_MULTI_ARCH)
    if(pair MATCHES "^${package}=(.+)$")
      set(value "${CMAKE_MATCH_1}")
      file(READ "${tree}/DEBIAN/control" control)
      if(NOT control MATCHES "\nMulti-Arch:")
        string(REGEX REPLACE "(^|\n)(Architecture: [^\n]*\n)" "\\1\\2Multi-Arch: ${value}\n"
               control "${control}")
        file(WRITE "${tree}/DEBIAN/control" "${control}")
        set(changed TRUE)
      endif()
    endif()
  endforeach()

  if(changed)
    file(REMOVE "${deb}")
    quib_run("${deb}" ${_dpkg_deb} --root-owner-group --build "${tree}" "${deb}")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()

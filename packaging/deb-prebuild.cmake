# CPack pre-build script (CPACK_PRE_BUILD_SCRIPTS, see cmake/packaging.cmake):
# runs after the components are installed into the staging tree and before
# the .deb files are made. It does what debhelper would do for a Debian
# package and a plain cmake --install must not:
#   - /usr/share/doc/<package>/copyright and changelog.Debian.gz in each (and
#     while there is one changelog entry, the lintian override for it);
#   - LICENSE dropped (the copyright file holds it), documents over 4 KiB and
#     manual pages compressed with gzip -9n;
#   - the program and shared library stripped of .comment and .note, the
#     static library of its debugging symbols, as dh_strip does;
#   - the shared library's exported symbols compared with the symbols file.
# Any mismatch (a changelog not at this version, a symbol added or removed)
# fails the packaging.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

function(quib_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " cmd)
    message(FATAL_ERROR "quib packaging: '${cmd}' failed (${rc}): ${err}")
  endif()
endfunction()

function(quib_gzip file)
  quib_run(gzip -9nf "${file}")
endfunction()

# The changelog must speak of this version.
file(STRINGS "${CPACK_QUIB_CHANGELOG}" _head LIMIT_COUNT 1)
if(NOT _head MATCHES "^quib \\(([^)]+)\\) ")
  message(FATAL_ERROR "quib packaging: ${CPACK_QUIB_CHANGELOG} does not start with an entry")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL CPACK_QUIB_DEB_VERSION)
  message(FATAL_ERROR "quib packaging: the latest entry of ${CPACK_QUIB_CHANGELOG} is "
                      "${CMAKE_MATCH_1}, the packages are ${CPACK_QUIB_DEB_VERSION}: add an entry")
endif()

# A first revision closes no bug: lintian's override for that (see the file).
file(STRINGS "${CPACK_QUIB_CHANGELOG}" _entries REGEX "^quib \\(")
list(LENGTH _entries _entry_count)

set(_strip "${CPACK_QUIB_STRIP}")
if(NOT _strip)
  set(_strip strip)
endif()
set(_nm "${CPACK_QUIB_NM}")
if(NOT _nm)
  set(_nm nm)
endif()

foreach(pair IN LISTS CPACK_QUIB_PACKAGES)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 component)
  list(GET pair 1 package)
  set(root "${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}")
  if(NOT IS_DIRECTORY "${root}")
    message(FATAL_ERROR "quib packaging: no staging tree ${root} for ${package}")
  endif()

  # Documents: copyright, changelog, compressed where large.
  set(doc "${root}/share/doc/${package}")
  file(MAKE_DIRECTORY "${doc}")
  file(REMOVE "${doc}/LICENSE")
  file(GLOB docs LIST_DIRECTORIES false "${doc}/*")
  foreach(f IN LISTS docs)
    file(SIZE "${f}" size)
    if(size GREATER 4096 AND NOT f MATCHES "\\.gz$")
      quib_gzip("${f}")
    endif()
  endforeach()
  file(COPY_FILE "${CPACK_QUIB_COPYRIGHT}" "${doc}/copyright")
  file(COPY_FILE "${CPACK_QUIB_CHANGELOG}" "${doc}/changelog.Debian")
  quib_gzip("${doc}/changelog.Debian")

  if(_entry_count EQUAL 1)
    set(PACKAGE "${package}")
    configure_file("${CPACK_QUIB_LINTIAN_OVERRIDES}"
                   "${root}/share/lintian/overrides/${package}" @ONLY)
  endif()

  # Manual pages.
  file(GLOB_RECURSE pages LIST_DIRECTORIES false "${root}/share/man/*")
  foreach(f IN LISTS pages)
    if(NOT f MATCHES "\\.gz$" AND NOT IS_SYMLINK "${f}")
      quib_gzip("${f}")
    endif()
  endforeach()

  # Binaries, as dh_strip strips them.
  file(GLOB programs LIST_DIRECTORIES false "${root}/bin/*")
  file(GLOB_RECURSE shared LIST_DIRECTORIES false "${root}/lib/*.so.*")
  file(GLOB_RECURSE static LIST_DIRECTORIES false "${root}/lib/*.a")
  foreach(f IN LISTS programs)
    quib_run(${_strip} --remove-section=.comment --remove-section=.note "${f}")
  endforeach()
  foreach(f IN LISTS shared)
    if(NOT IS_SYMLINK "${f}")
      quib_run(${_strip} --remove-section=.comment --remove-section=.note --strip-unneeded "${f}")
    endif()
  endforeach()
  foreach(f IN LISTS static)
    quib_run(${_strip} --strip-debug --remove-section=.comment --remove-section=.note
             --enable-deterministic-archives "${f}")
  endforeach()

  # The symbols the shared library exports, against the symbols file.
  foreach(f IN LISTS shared)
    if(IS_SYMLINK "${f}")
      continue()
    endif()
    execute_process(COMMAND ${_nm} -D --defined-only --format=posix "${f}"
                    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "quib packaging: ${_nm} -D ${f} failed")
    endif()
    string(REGEX MATCHALL "(^|\n)[^ \n]+ [TDBRVWi] " exported "${out}")
    list(TRANSFORM exported REPLACE "^\n?([^ ]+) .*$" "\\1")
    list(SORT exported)
    file(STRINGS "${CPACK_QUIB_SYMBOLS}" listed REGEX "^ ")
    list(TRANSFORM listed REPLACE "^ ([^@]+)@.*$" "\\1")
    list(SORT listed)
    if(NOT exported STREQUAL listed)
      message(FATAL_ERROR "quib packaging: ${f} exports\n  ${exported}\n"
                          "but the symbols file lists\n  ${listed}\n"
                          "Update packaging/symbols.in (and the soname if one went).")
    endif()
  endforeach()
endforeach()

# The Debian packages, made with cpack -G DEB from the three install
# components (cmake/install.cmake):
#   quib         (section text)      the program, quib(1), README, --html rules
#   libquib1     (section libs)      libquib.so.1, with shlibs, symbols and the
#                                    ldconfig trigger
#   libquib-dev  (section libdevel)  header, libquib.so, libquib.a, CMake
#                                    package, quib.pc, quib(3)
# Each with its DEP-5 copyright file (made from LICENSE, which the packages
# therefore leave out) and changelog.Debian.gz; manual pages and larger
# documents compressed with gzip -9n, binaries stripped as dh_strip does
# (packaging/deb-prebuild.cmake does that in the staging tree, and
# packaging/deb-postbuild.cmake adds Multi-Arch and drops CPack's ldconfig
# scripts in favour of the trigger).
#
# Build them from a release build configured for /usr, so that the library
# goes to the multiarch directory (lib/x86_64-linux-gnu) as Debian wants:
#   cmake -S . -B build-deb -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUIB_TESTS=OFF \
#         -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build-deb && (cd build-deb && cpack -G DEB)
#   lintian -EvIL +pedantic build-deb/*.deb

if(NOT PROJECT_IS_TOP_LEVEL OR NOT QUIB_INSTALL)
  return()
endif()

set(QUIB_DEB_REVISION 1 CACHE STRING "Debian revision of the packages (the 1 of 3.3-1)")
# The project has no mail domain of its own; this address names it and is
# well formed, which is all lintian checks. Give a real one for a real upload.
set(QUIB_DEB_MAINTAINER "quib developers <developers@quib.example>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME quib)
set(CPACK_PACKAGE_VENDOR "the quib developers")
set(CPACK_PACKAGE_CONTACT "${QUIB_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# ... but not for DEB, where CPack would put it before each component's
# description, whose first line is the package's own synopsis.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-project.cmake)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# cpack --config CPackSourceConfig.cmake: the sources, not builds or git.
set(CPACK_SOURCE_IGNORE_FILES "/\\.git/" "/build[^/]*/" "/out/" "\\.swp$")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_COMPONENTS_ALL program library development)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUIB_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUIB_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE quib)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(_quib_deb_version "${PROJECT_VERSION}-${QUIB_DEB_REVISION}")
# The library package is named after the soname: libquib.so.1 -> libquib1.
get_target_property(QUIB_SOVERSION quib_shared SOVERSION)

# What the three packages share at the end of their descriptions.
set(_quib_what "quib turns the straight double quotes of the running text of German
text and HTML files into German typographic quotes („…“, or »…« and «…»),
as Windows-1252 bytes, UTF-8 or HTML entities. Markup, attribute values and
everything else pass byte for byte; backslash escapes keep a quote straight.
With --html the input is read as a browser reads it and only its prose is
converted.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME quib)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
"${PROJECT_DESCRIPTION}
${_quib_what}

This package contains the command-line program quib, a filter that converts
a file, standard input or many files in place and can list stray quotes,
with its manual page in English and German.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libquib${QUIB_SOVERSION})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
"German typographic quotes for text and HTML (shared library)
${_quib_what}

This package contains the shared library libquib, which converts buffers,
file descriptors and streams, safely from several threads at once.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquib-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libquib${QUIB_SOVERSION} (= ${_quib_deb_version})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"German typographic quotes for text and HTML (development files)
${_quib_what}

This package contains what is needed to build programs with libquib: the C
header quib/quib.h (with a C++ interface), the static library, the CMake
package (find_package(quib)), the pkg-config file and the manual page
quib(3).")

# Control files of libquib1: the symbols it exports (checked against the
# built library when packaging) and the ldconfig trigger.
configure_file(${PROJECT_SOURCE_DIR}/packaging/symbols.in
               ${PROJECT_BINARY_DIR}/packaging/library/symbols @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/triggers
               ${PROJECT_BINARY_DIR}/packaging/library/triggers COPYONLY)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/library/symbols
    ${PROJECT_BINARY_DIR}/packaging/library/triggers)

# /usr/share/doc/<package>/copyright in the machine-readable format, made
# from LICENSE so that the two cannot differ.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE _quib_license_lines)
list(POP_FRONT _quib_license_lines _quib_license_name)
if(NOT _quib_license_name STREQUAL "MIT License")
  message(FATAL_ERROR "quib: LICENSE is no longer the MIT licence; "
                      "update cmake/packaging.cmake and packaging/copyright.in")
endif()
set(QUIB_COPYRIGHT "")
set(QUIB_LICENSE_TEXT "")
foreach(line IN LISTS _quib_license_lines)
  if(line MATCHES "^Copyright \\(c\\) (.*)$")
    string(APPEND QUIB_COPYRIGHT "${CMAKE_MATCH_1}")
  elseif(line STREQUAL "")
    if(QUIB_LICENSE_TEXT)
      string(APPEND QUIB_LICENSE_TEXT "\n .")
    endif()
  else()
    string(APPEND QUIB_LICENSE_TEXT "\n ${line}")
  endif()
endforeach()
if(NOT QUIB_COPYRIGHT)
  message(FATAL_ERROR "quib: no 'Copyright (c) ...' line in LICENSE")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in
               ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)

# Debian's changelog: kept by hand in packaging/changelog.Debian; packaging
# fails when its latest entry is not this version. The pre-build script
# completes the staging trees, the post-build script the control files.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb-prebuild.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb-postbuild.cmake)
set(CPACK_QUIB_DEB_VERSION "${_quib_deb_version}")
set(CPACK_QUIB_COPYRIGHT "${PROJECT_BINARY_DIR}/packaging/copyright")
set(CPACK_QUIB_CHANGELOG "${PROJECT_SOURCE_DIR}/packaging/changelog.Debian")
set(CPACK_QUIB_SYMBOLS "${PROJECT_BINARY_DIR}/packaging/library/symbols")
set(CPACK_QUIB_STRIP "${CMAKE_STRIP}")
set(CPACK_QUIB_NM "${CMAKE_NM}")
set(CPACK_QUIB_PACKAGES "program=quib;library=libquib${QUIB_SOVERSION};development=libquib-dev")
set(CPACK_QUIB_LINTIAN_OVERRIDES "${PROJECT_SOURCE_DIR}/packaging/lintian-overrides.in")

# Multi-Arch (which CPack cannot write): the program serves every
# architecture (foreign); the library and its development files can be
# installed for several architectures side by side (same), but only from the
# multiarch directory, where a build configured for /usr puts them.
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR MATCHES "/${CMAKE_LIBRARY_ARCHITECTURE}$")
  set(CPACK_QUIB_MULTI_ARCH "quib=foreign;libquib${QUIB_SOVERSION}=same;libquib-dev=same")
else()
  set(CPACK_QUIB_MULTI_ARCH "quib=foreign")
  if(CMAKE_LIBRARY_ARCHITECTURE)
    message(STATUS "quib: for the Debian packages configure with -DCMAKE_INSTALL_PREFIX=/usr "
                   "(the library then goes to lib/${CMAKE_LIBRARY_ARCHITECTURE})")
  endif()
endif()

include(CPack)

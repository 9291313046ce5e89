# What cmake --install puts where, in three components that become the three
# Debian packages (cmake/packaging.cmake):
#   program      bin/quib, quib(1) in English and German, README, LICENSE and
#                the --html rules in share/doc/quib        -> quib
#   library      libquib.so.<version> and its soname link   -> libquib1
#   development  include/quib/quib.h, libquib.so, libquib.a, the CMake package,
#                quib.pc and quib(3)                        -> libquib-dev
# Nothing installed names a path of the build: the CMake package finds its
# prefix from its own location, and quib.pc names the prefix installed to.

# The hardening of the library and the program (an option, on by default).
include(${CMAKE_CURRENT_LIST_DIR}/hardening.cmake)

# Installing is for quib's own build; a project that adds quib with
# add_subdirectory or FetchContent links it in and installs nothing of it,
# unless it asks with -DQUIB_INSTALL=ON.
option(QUIB_INSTALL "Generate quib's install rules" ${PROJECT_IS_TOP_LEVEL})
if(NOT QUIB_INSTALL)
  return()
endif()

include(CMakePackageConfigHelpers)

# Directories created on the way get the usual modes whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The program: it carries the conversion inside (linked to quib_static).
install(TARGETS quib_exe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)

# The library: the shared one under its soname for every program that uses
# it, the link without version and the static one for building against it.
install(TARGETS quib_shared quib_static EXPORT quibTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
          NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(FILES ${PROJECT_SOURCE_DIR}/include/quib/quib.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quib COMPONENT development)

# The CMake package: find_package(quib) gives quib::quib (shared) and
# quib::quib_static; both need Threads, which the config file finds.
set(QUIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quib)
install(EXPORT quibTargets NAMESPACE quib:: DESTINATION ${QUIB_CMAKE_DIR}
        FILE quibTargets.cmake COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/quibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/quibConfig.cmake INSTALL_DESTINATION ${QUIB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/quibConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/quibConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/quibConfigVersion.cmake
        DESTINATION ${QUIB_CMAKE_DIR} COMPONENT development)

# pkg-config: quib.pc. Its prefix is the one installed to, written when
# installing (cmake --install --prefix P writes P, the Debian package /usr);
# everything else is relative to it. Libs.private is what a static link of
# libquib.a needs besides: the C++ runtime (this compiler's, as CMake found
# it, less what every C compiler links anyway) and the threads.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUIB_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUIB_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(_quib_private "")
foreach(lib IN LISTS CMAKE_CXX_IMPLICIT_LINK_LIBRARIES)
  if(NOT lib MATCHES "^(c|gcc|gcc_s|gcc_eh)$" AND NOT "-l${lib}" IN_LIST _quib_private)
    list(APPEND _quib_private "-l${lib}")
  endif()
endforeach()
if(CMAKE_THREAD_LIBS_INIT)
  list(APPEND _quib_private ${CMAKE_THREAD_LIBS_INIT})
elseif(CMAKE_USE_PTHREADS_INIT)
  list(APPEND _quib_private -pthread)
endif()
list(JOIN _quib_private " " QUIB_PC_LIBS_PRIVATE)
set(QUIB_PC_PREFIX "@QUIB_PC_PREFIX@") # filled in when installing
configure_file(${PROJECT_SOURCE_DIR}/packaging/quib.pc.in
               ${PROJECT_BINARY_DIR}/packaging/quib.pc.in @ONLY)
install(CODE "
  string(REGEX REPLACE \"/+$\" \"\" QUIB_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/packaging/quib.pc.in\"
                 \"${PROJECT_BINARY_DIR}/packaging/quib.pc\" @ONLY)"
  COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/packaging/quib.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The manual pages carry the project's version: quib(1) in English and
# German with the program, quib(3) (the library) with the development files.
configure_file(man/quib.1.in man/quib.1 @ONLY)
configure_file(man/de/quib.1.in man/de/quib.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/man/quib.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(FILES ${PROJECT_BINARY_DIR}/man/de/quib.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/de/man1 COMPONENT program)
if(EXISTS ${PROJECT_SOURCE_DIR}/man/quib.3.in)
  configure_file(man/quib.3.in man/quib.3 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/quib.3
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
  # man quib_convert_buffer and its kin show quib(3).
  foreach(function quib_convert_buffer quib_free quib_convert_fd quib_convert_fd_after
                   quib_convert_file quib_version quib_implementation)
    file(WRITE ${PROJECT_BINARY_DIR}/man/${function}.3 ".so man3/quib.3\n")
    install(FILES ${PROJECT_BINARY_DIR}/man/${function}.3
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
  endforeach()
endif()

install(FILES README.md LICENSE docs/html-mode.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)

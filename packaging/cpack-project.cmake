# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB")
  # Each package's description starts with its own synopsis
  # (CPACK_DEBIAN_<COMPONENT>_DESCRIPTION); CPack would put the project's
  # summary before it.
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()

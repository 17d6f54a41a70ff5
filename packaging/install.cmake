# Installation layout, the Debian package and the install test.
# Included at the end of the top-level CMakeLists.txt; the binary's own install rule is there.

set(TAMREL_DATA_DIR share/tamrel)
set(TAMREL_MAN_DIR share/man/man1)
# udev reads rules from /usr/lib/udev/rules.d (packages) and /etc/udev/rules.d (the
# administrator's own) only. "auto" takes /usr/lib/udev/rules.d for the prefixes /usr and
# /usr/local, and PREFIX/lib/udev/rules.d for any other (an install without root), saying
# how to copy them where udev reads them; decided when installing, as --prefix may change.
set(TAMREL_UDEV_HELP
    "Folder for the udev rules: auto, /usr/lib/udev/rules.d or /etc/udev/rules.d; empty: none")
# A build folder configured before "auto" existed holds the old default: it becomes auto.
get_property(TAMREL_UDEV_OLD_HELP CACHE TAMREL_UDEV_DIR PROPERTY HELPSTRING)
if(TAMREL_UDEV_OLD_HELP STREQUAL
   "Folder for the udev rules: /usr/lib/udev/rules.d or /etc/udev/rules.d; empty: none"
   AND TAMREL_UDEV_DIR STREQUAL "/usr/lib/udev/rules.d")
  set(TAMREL_UDEV_DIR auto CACHE STRING "${TAMREL_UDEV_HELP}" FORCE)
endif()
set(TAMREL_UDEV_DIR auto CACHE STRING "${TAMREL_UDEV_HELP}")
if(TAMREL_UDEV_DIR AND NOT TAMREL_UDEV_DIR STREQUAL "auto" AND NOT IS_ABSOLUTE "${TAMREL_UDEV_DIR}")
  message(FATAL_ERROR "TAMREL_UDEV_DIR must be auto or a folder udev reads, such as /etc/udev/rules.d")
endif()

# Manual page, compressed as Debian ships them (-n: no name or time stamp, so builds repeat).
find_program(TAMREL_GZIP gzip)
set(TAMREL_MAN_SRC ${CMAKE_SOURCE_DIR}/packaging/tamrel.1)
if(TAMREL_GZIP)
  set(TAMREL_MAN_OUT ${CMAKE_BINARY_DIR}/packaging/tamrel.1.gz)
  add_custom_command(
    OUTPUT ${TAMREL_MAN_OUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
    COMMAND ${CMAKE_COMMAND} -E copy ${TAMREL_MAN_SRC} ${CMAKE_BINARY_DIR}/packaging/tamrel.1
    COMMAND ${TAMREL_GZIP} -9nf ${CMAKE_BINARY_DIR}/packaging/tamrel.1
    DEPENDS ${TAMREL_MAN_SRC}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(tamrel_man ALL DEPENDS ${TAMREL_MAN_OUT})
  # Building the program is enough to install it: the page comes along.
  add_dependencies(tamrel tamrel_man)
else()
  set(TAMREL_MAN_OUT ${TAMREL_MAN_SRC})
endif()
install(FILES ${TAMREL_MAN_OUT} DESTINATION ${TAMREL_MAN_DIR})

install(FILES
  ${CMAKE_SOURCE_DIR}/packaging/examples/config-lpt.cfg
  ${CMAKE_SOURCE_DIR}/packaging/examples/config-usb.cfg
  ${CMAKE_SOURCE_DIR}/packaging/examples/config-emulated.cfg
  DESTINATION ${TAMREL_DATA_DIR})
# Checked when installing, so a database added after configuring is still picked up.
install(FILES ${CMAKE_SOURCE_DIR}/flash_db.cfg DESTINATION ${TAMREL_DATA_DIR} OPTIONAL)
if(NOT EXISTS ${CMAKE_SOURCE_DIR}/flash_db.cfg)
  message(WARNING "flash_db.cfg not found in ${CMAKE_SOURCE_DIR}: nothing to install for it yet")
endif()
if(TAMREL_UDEV_DIR STREQUAL "auto")
  install(SCRIPT ${CMAKE_SOURCE_DIR}/packaging/install_udev.cmake COMPONENT udev)
elseif(TAMREL_UDEV_DIR)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/udev/60-tamrel.rules
          DESTINATION ${TAMREL_UDEV_DIR} COMPONENT udev)
endif()

# Bash completion: switches, files, and chip names after -n= from the flash_db.cfg a run
# would use (the installation's own share/tamrel/ last).
set(TAMREL_SHARE_DIR_FULL ${CMAKE_INSTALL_PREFIX}/share/tamrel)
configure_file(${CMAKE_SOURCE_DIR}/packaging/tamrel.bash-completion
               ${CMAKE_BINARY_DIR}/packaging/completions/tamrel @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/completions/tamrel
        DESTINATION share/bash-completion/completions)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION share/doc/tamrel)

# Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tamrel maintainers <tamrel-maintainers@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "SPI NOR flash programmer for ByteBlaster and USB-Blaster cables")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "SPI NOR flash programmer for ByteBlaster and USB-Blaster cables
 tamrel identifies, erases, programs, verifies, dumps and unlocks serial NOR
 flash chips on a target board through an Altera ByteBlaster cable on the
 parallel port or a USB-Blaster cable. Chips are described in a text database.
 An emulated target board lets every operation run without hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Library dependencies come from dpkg-shlibdeps when it is there (dpkg-dev), else by hand.
find_program(TAMREL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TAMREL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(TAMREL_DEB_DEPENDS "libc6, libstdc++6, libgcc-s1")
  if(LIBFTDI1_FOUND)
    string(APPEND TAMREL_DEB_DEPENDS ", libftdi1-2")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${TAMREL_DEB_DEPENDS}")
endif()
# The parallel port group is lp; udev picks up the rules without maintainer scripts
# once the cable is plugged in again.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "udev")
# cpack installs into its staging folder through the same install script, which rewrites
# install_manifest.txt: keep the one of the last cmake --install.
set(CPACK_TAMREL_MANIFEST ${CMAKE_BINARY_DIR}/install_manifest.txt)
set(CPACK_INSTALL_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/cpack_manifest_keep.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/cpack_manifest_restore.cmake)
include(CPack)

# Install test: installs into a temporary prefix, runs the installed program, checks the
# manual page and the Debian package's contents.
if(TAMREL_TESTS)
  add_test(NAME packaging_completion
           COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/test_completion.sh
                   ${CMAKE_BINARY_DIR}/packaging/completions/tamrel)
  set_tests_properties(packaging_completion PROPERTIES TIMEOUT 60 LABELS packaging)
  add_test(NAME packaging_install
           COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/test_install.sh
                   ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${CMAKE_COMMAND} ${CMAKE_CPACK_COMMAND})
  set_tests_properties(packaging_install PROPERTIES TIMEOUT 300 LABELS packaging)
endif()

# The udev rules for TAMREL_UDEV_DIR=auto, run when installing: where udev reads them for the
# prefixes /usr and /usr/local; under any other prefix (an install without root) in
# PREFIX/lib/udev/rules.d, with the commands that put them where udev reads them.
string(REGEX REPLACE "/+$" "" prefix "${CMAKE_INSTALL_PREFIX}")
set(rules_dir /usr/lib/udev/rules.d)
if(NOT prefix STREQUAL "/usr" AND NOT prefix STREQUAL "/usr/local")
  set(rules_dir "${prefix}/lib/udev/rules.d")
endif()
file(INSTALL DESTINATION "${rules_dir}" TYPE FILE
     FILES "${CMAKE_CURRENT_LIST_DIR}/udev/60-tamrel.rules")
if(NOT rules_dir STREQUAL "/usr/lib/udev/rules.d")
  message(STATUS "udev does not read ${rules_dir}; to use the cables without root, run: "
                 "sudo cp ${rules_dir}/60-tamrel.rules /etc/udev/rules.d/ && "
                 "sudo udevadm control --reload-rules && sudo udevadm trigger")
endif()

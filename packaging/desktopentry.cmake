# SPDX-License-Identifier: GPL-3.0-or-later
# Run by `cmake --install` (and by cpack's staged install): writes the desktop
# entry for the prefix actually installed to, which may differ from the one
# configured (`cmake --install --prefix`). Expects quorvel_desktop_template,
# quorvel_launcher_rel (the launcher, relative to the prefix) and
# quorvel_applications_rel.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(LAUNCHER "${prefix}/${quorvel_launcher_rel}")
# Exec is quoted, and inside the quotes these characters would need escapes of
# their own; a prefix holding one is refused rather than written wrongly.
if(LAUNCHER MATCHES "[\"`$\\\\]")
  message(FATAL_ERROR "quorvel: the install prefix \"${prefix}\" holds one of \" ` $ \\, "
                      "which a desktop entry's command cannot carry; choose another prefix.")
endif()
set(entry "$ENV{DESTDIR}${prefix}/${quorvel_applications_rel}/quorvel.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${quorvel_desktop_template}" "${entry}" @ONLY)
file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")

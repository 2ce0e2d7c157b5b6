# SPDX-License-Identifier: GPL-3.0-or-later
# Run by `cmake --install` after zendrik is in place: grants zendrik the one
# capability it needs to open a raw ICMP socket, CAP_NET_RAW, as a permitted
# capability (zendrik raises it for that socket alone), so that users other
# than root can probe. Says plainly when it cannot. A staged install (DESTDIR,
# as cpack makes) is left alone: file capabilities do not survive packing, and
# the package grants the capability when it is installed.
# Expects quorvel_zendrik_rel (zendrik, relative to the prefix) and
# quorvel_configured_prefix.
set(zendrik "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${quorvel_zendrik_rel}")
set(fixes
    "Until it has it, every host looks silent to users other than root. Either grant it, "
    "as root:\n  setcap cap_net_raw+p ${zendrik}\nor allow every group to open ping sockets:\n"
    "  sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n(see quorvel(1), PRIVILEGES).")
string(CONCAT fixes ${fixes})

if(NOT "$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "quorvel: staged install (DESTDIR): zendrik's capability is granted when "
                 "the package is installed")
  return()
endif()

find_program(quorvel_setcap setcap PATHS /usr/sbin /sbin NO_CACHE)
if(NOT quorvel_setcap)
  message(WARNING "quorvel: zendrik was installed WITHOUT the capability to open ICMP "
                  "sockets: setcap (Debian package libcap2-bin) is not installed.\n${fixes}")
  return()
endif()
execute_process(COMMAND "${quorvel_setcap}" cap_net_raw+p "${zendrik}"
                RESULT_VARIABLE status ERROR_VARIABLE error OUTPUT_QUIET)
if(NOT status EQUAL 0)
  string(STRIP "${error}" error)
  message(WARNING "quorvel: zendrik was installed WITHOUT the capability to open ICMP "
                  "sockets: setcap failed (${error}); it needs root and a file system that "
                  "keeps file capabilities.\n${fixes}")
  return()
endif()
message(STATUS "quorvel: granted ${zendrik} cap_net_raw+p")

# With the capability the loader ignores $ORIGIN in zendrik's search path, so
# zendrik then finds its echo library only under the configured prefix.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL quorvel_configured_prefix)
  message(WARNING "quorvel: installed to ${CMAKE_INSTALL_PREFIX}, but configured for "
                  "${quorvel_configured_prefix}. With its capability zendrik looks for its "
                  "echo library only under the configured prefix, so for users other than root "
                  "it will end with exit code 3. Configure with "
                  "-DCMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX} and install again.")
endif()

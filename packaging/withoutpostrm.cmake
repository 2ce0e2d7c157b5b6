# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack once it has built the Debian package (CPACK_POST_BUILD_SCRIPTS):
# takes out the postrm that CPack wrote into it.
#
# CPack gives every package that holds a shared object in /usr/lib, or one
# directory below it, a postinst and a postrm that run ldconfig, and has no
# setting to stop it; only a script of the same name in
# CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA takes the place of its own. Our postinst
# does so. The echo library in /usr/lib/quorvel is private to zendrik, which
# loads it by path, so it is not in the linker's cache and there is nothing
# for a postrm to do: the package is unpacked and built again without it. Only
# CPack's postrm, word for word, is taken out; any other postrm stops the
# build, since it would be one of ours that the package needs.

set(cpackpostrm "#!/bin/sh\n\nset -e\n\nif [ \"$1\" = \"remove\" ]; then\n\tldconfig\nfi\n")

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${package}.withoutpostrm")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb could not unpack ${package}")
  endif()
  if(EXISTS "${tree}/DEBIAN/postrm")
    file(READ "${tree}/DEBIAN/postrm" postrm)
    if(NOT postrm STREQUAL cpackpostrm)
      message(FATAL_ERROR "${package} holds a postrm that is not CPack's ldconfig call:\n"
                          "${postrm}\npackaging/withoutpostrm.cmake would take it out.")
    endif()
    file(REMOVE "${tree}/DEBIAN/postrm")
    # The files belong to root in the package whoever builds it.
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
                    OUTPUT_QUIET RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "dpkg-deb could not build ${package} again without its postrm")
    endif()
    message(STATUS "${package}: without CPack's postrm (ldconfig)")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()

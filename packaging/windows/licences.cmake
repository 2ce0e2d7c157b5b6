# SPDX-License-Identifier: GPL-3.0-or-later
# At install time, after runtimedlls.cmake: gives the zip the licence texts of
# what it carries of other people's work, and README-windows.txt its list.
#
# Every DLL installed beside the programs is looked up in bundled.cmake; one
# that no entry names stops the install, so no DLL ships without its licence.
# The entries with no DLLs (the runtimes linked into the programs) are always
# shipped. Their texts, gathered at build time by collectlicences.cmake, go to
# licenses/<package>/; README-windows.txt is the one of the source tree with a
# section added that lists each part with its licence, the Debian package and
# version it was built from (from the GTK cache's manifest), our patches to it
# and the folder of its texts. Expects quorvellicences (the gathered texts),
# quorvelmanifest and quorvelreadme.

cmake_policy(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/bundled.cmake)
set(top "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
readmanifest("${quorvelmanifest}")
bundledpackages(known)

# The package of each DLL, by its name without regard to case, as Windows
# looks names up.
foreach(package IN LISTS known)
  bundledentry(${package} entry)
  foreach(dll IN LISTS entry_dlls)
    string(TOLOWER "${dll}.dll" lower)
    set(packageof_${lower} ${package})
  endforeach()
  set(shipped_${package} "")
endforeach()
file(GLOB dlls RELATIVE "${top}" "${top}/*.dll")
list(SORT dlls)
foreach(dll IN LISTS dlls)
  string(TOLOWER "${dll}" lower)
  if(NOT DEFINED packageof_${lower})
    message(FATAL_ERROR "${dll} would ship without a licence: packaging/windows/bundled.cmake "
                        "names no package that builds it")
  endif()
  list(APPEND shipped_${packageof_${lower}} ${dll})
endforeach()

file(REMOVE_RECURSE "${top}/licenses")
set(section "
Licences
--------
quorvel is free software: you may pass it on and change it under the GNU
General Public License, version 3 or later (GPL-3.0-or-later), whose text is
in COPYING.

The DLLs in this folder, and the runtime libraries linked into quorvel.exe
and zendrik.exe, are other people's work, passed on under their own
licences. Each is listed below with its licence, the Debian package and
version it was built from, and the folder under \"licenses\" that holds its
licence texts. Debian's archive (deb.debian.org, and snapshot.debian.org for
earlier versions) keeps the source of every one of those versions. The few
patches quorvel applies on top are in quorvel's source tree under
scripts/windows-gtk.d/patches/.
")
foreach(package IN LISTS known)
  bundledentry(${package} entry)
  if(NOT "${entry_dlls}" STREQUAL "" AND "${shipped_${package}}" STREQUAL "")
    continue()  # none of its DLLs is needed
  endif()
  set(version ${manifest_version_${package}})
  set(mode ${manifest_mode_${package}})
  if(NOT IS_DIRECTORY "${quorvellicences}/${package}")
    message(FATAL_ERROR "No licence texts of ${package} in ${quorvellicences}")
  endif()
  file(COPY "${quorvellicences}/${package}" DESTINATION "${top}/licenses")

  if(mode STREQUAL debian)
    set(origin "built from Debian's source package ${package} ${version}")
  elseif(mode STREQUAL upstream)
    set(origin "built from the upstream source of Debian's source package ${package}\n    ${version}, without Debian's changes")
  else()
    set(origin "comes with Debian's package ${package} ${version}")
  endif()
  set(patches "")
  foreach(patch IN LISTS manifest_patches)
    string(FIND "${patch}" "${package}-" at)
    if(at EQUAL 0)
      string(APPEND patches " ${patch}")
    endif()
  endforeach()
  if(NOT "${shipped_${package}}" STREQUAL "")
    list(JOIN shipped_${package} " " files)
  else()
    set(files "none (linked into quorvel.exe and zendrik.exe)")
  endif()
  string(APPEND section "\n${entry_name}: ${entry_licence}\n    ${origin}\n")
  if(patches)
    string(APPEND section "    patched with:${patches}\n")
  endif()
  string(APPEND section "    DLLs: ${files}\n    licence texts: licenses\\${package}\\\n")
endforeach()

file(READ "${quorvelreadme}" readme)
set(readmeout "${top}/README-windows.txt")
message(STATUS "Installing: ${readmeout} (with the list of licences)")
file(WRITE "${readmeout}" "${readme}${section}")
file(GLOB_RECURSE texts "${top}/licenses/*")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${readmeout}" ${texts})

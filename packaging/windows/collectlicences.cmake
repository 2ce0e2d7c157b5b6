# SPDX-License-Identifier: GPL-3.0-or-later
# Run at build time (cmake -P): gathers the licence texts of everything the
# Windows zip carries of other people's work into <out>/<package>/, from the
# very source packages that scripts/windows-gtk built the GTK prefix from, as
# its manifest names them, and for the cross compiler's parts from their
# Debian packages' copyright files.
#
#   cmake -Dmanifest=<key>/manifest -Dsources=<cache>/sources -Dgpl=COPYING
#         -Dout=<dir> -P collectlicences.cmake
#
# Each source package gives the upstream files that bundled.cmake names and,
# when it was built with Debian's changes, Debian's debian/copyright, which
# lists every copyright holder and the licence of every file.

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/bundled.cmake)
foreach(variable manifest sources gpl out)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "collectlicences.cmake needs -D${variable}=")
  endif()
endforeach()
readmanifest("${manifest}")
bundledpackages(known)
foreach(package IN LISTS manifest_packages)
  if(NOT package IN_LIST known)
    message(FATAL_ERROR "The GTK cache's manifest names ${package}, for which "
                        "packaging/windows/bundled.cmake has no entry: add its licence there")
  endif()
endforeach()

# `tar` on the sources' archives, quietly unless it fails.
function(untar archive into)
  file(MAKE_DIRECTORY "${into}")
  execute_process(COMMAND tar -x -f "${archive}" -C "${into}" ${ARGN}
                  RESULT_VARIABLE failed ERROR_VARIABLE error)
  if(failed)
    message(FATAL_ERROR "tar could not take ${ARGN} from ${archive}:\n${error}")
  endif()
endfunction()

# One file of the sources in the package's folder, under a name of its own.
function(keep from name dest)
  if(EXISTS "${dest}/${name}")
    message(FATAL_ERROR "Two licence texts named ${name} for ${dest}")
  endif()
  file(READ "${from}" text)
  if(text STREQUAL "")
    message(FATAL_ERROR "${from} is empty")
  endif()
  file(WRITE "${dest}/${name}" "${text}")
endfunction()

# Debian's debian/copyright of a source package built with Debian's changes:
# from its debian tarball, or for an old-style package from its diff, which
# dpkg-source applies.
function(debiancopyright package version dest scratch)
  string(REGEX REPLACE "^[0-9]+:" "" plain "${version}")
  set(dir "${sources}/${package}")
  file(GLOB debiantar "${dir}/${package}_${plain}.debian.tar.*")
  list(FILTER debiantar EXCLUDE REGEX "\\.asc$")
  if(debiantar)
    untar("${debiantar}" "${scratch}/debian" debian/copyright)
    keep("${scratch}/debian/debian/copyright" debian-copyright "${dest}")
    return()
  endif()
  if(NOT EXISTS "${dir}/${package}_${plain}.diff.gz")
    message(FATAL_ERROR "Neither a debian tarball nor a diff for ${package} ${version} in ${dir}")
  endif()
  # The files were checked against Debian's signed index when they were
  # fetched; the signature of the .dsc adds nothing here.
  execute_process(COMMAND dpkg-source --no-check -x "${dir}/${package}_${plain}.dsc"
                          "${scratch}/unpacked"
                  RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE error)
  if(failed)
    message(FATAL_ERROR "dpkg-source could not unpack ${package} ${version}:\n${error}")
  endif()
  keep("${scratch}/unpacked/debian/copyright" debian-copyright "${dest}")
endfunction()

# The upstream licence files of a source package, by the patterns of its entry.
function(upstreamtexts package version patterns dest scratch)
  string(REGEX REPLACE "^[0-9]+:" "" plain "${version}")
  string(REGEX REPLACE "-[^-]*$" "" upstream "${plain}")
  file(GLOB orig "${sources}/${package}/${package}_${upstream}.orig.tar.*")
  list(FILTER orig EXCLUDE REGEX "\\.asc$")
  list(LENGTH orig count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "Expected one upstream tarball of ${package} ${upstream} in "
                        "${sources}/${package}, found: ${orig}")
  endif()
  list(TRANSFORM patterns PREPEND "*/")
  untar("${orig}" "${scratch}/upstream" --wildcards --no-wildcards-match-slash
        --strip-components=1 ${patterns})
  file(GLOB_RECURSE found LIST_DIRECTORIES false "${scratch}/upstream/*")
  set(kept 0)
  foreach(path IN LISTS found)
    if(IS_SYMLINK "${path}")
      continue()
    endif()
    get_filename_component(name "${path}" NAME)
    keep("${path}" "${name}" "${dest}")
    math(EXPR kept "${kept} + 1")
  endforeach()
  if(kept EQUAL 0)
    message(FATAL_ERROR "No licence text of ${package} matched ${patterns}")
  endif()
endfunction()

# A cross compiler's part: its Debian package's copyright file. GCC's names
# the GCC Runtime Library Exception, under which its runtime may be linked
# into programs of any licence; it goes beside as a file of its own, with the
# GPL it is an exception to.
function(toolchaintexts package dest)
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT EXISTS "${copyright}")
    message(FATAL_ERROR "No ${copyright}: is ${package} installed (scripts/setup)?")
  endif()
  keep("${copyright}" debian-copyright "${dest}")
  file(READ "${copyright}" text)
  string(FIND "${text}" "GCC RUNTIME LIBRARY EXCEPTION" start)
  if(package MATCHES "^gcc-" AND start EQUAL -1)
    message(FATAL_ERROR "${copyright} does not hold the GCC Runtime Library Exception")
  endif()
  if(start GREATER -1)
    string(SUBSTRING "${text}" ${start} -1 text)
    set(last "requirements of the license of GCC.")
    string(FIND "${text}" "${last}" end)
    if(end EQUAL -1)
      message(FATAL_ERROR "The GCC Runtime Library Exception in ${copyright} has no end")
    endif()
    string(LENGTH "${last}" length)
    math(EXPR end "${end} + ${length}")
    string(SUBSTRING "${text}" 0 ${end} text)
    file(WRITE "${dest}/RUNTIME-LIBRARY-EXCEPTION" "${text}\n")
    keep("${gpl}" COPYING3 "${dest}")
  endif()
endfunction()

file(REMOVE_RECURSE "${out}" "${out}.scratch")
foreach(package IN LISTS known)
  if(NOT DEFINED manifest_version_${package})
    message(FATAL_ERROR "packaging/windows/bundled.cmake names ${package}, which the GTK "
                        "cache's manifest ${manifest} does not")
  endif()
  bundledentry(${package} entry)
  set(version ${manifest_version_${package}})
  set(mode ${manifest_mode_${package}})
  set(dest "${out}/${package}")
  set(scratch "${out}.scratch/${package}")
  file(MAKE_DIRECTORY "${dest}")
  if(mode STREQUAL toolchain)
    toolchaintexts(${package} "${dest}")
  else()
    upstreamtexts(${package} ${version} "${entry_texts}" "${dest}" "${scratch}")
    if(mode STREQUAL debian)
      debiancopyright(${package} ${version} "${dest}" "${scratch}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE "${out}.scratch")

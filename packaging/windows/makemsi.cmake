# SPDX-License-Identifier: GPL-3.0-or-later
# Builds quorvel-<version>-x64.msi with wixl, from the same install tree as
# the zip: the tree is staged, every file of it listed by wixl-heat into
# components of the programs' folder, and quorvel.wxs adds the host list and
# the Start-menu shortcut. Run as a script (cmake -P) by the msi target,
# through msisettings.cmake, which sets:
#   build       the build tree to install from
#   stage       an empty folder of its own for the staged tree (emptied first)
#   wxs         quorvel.wxs
#   version     the MSI's version (the project's; a test may ask for another)
#   out         the MSI to write
#   wixl, wixlheat, msiinfo, msibuild   the msitools programs

foreach(name build stage wxs version out wixl wixlheat msiinfo msibuild)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "makemsi.cmake: ${name} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE errors WORKING_DIRECTORY ${stage})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}: ${status}\n${output}${errors}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
run(${CMAKE_COMMAND} --install ${build} --prefix ${stage}/quorvel --strip)

# wixl takes the files' sources relative to the folder it runs in, so the
# list is made there and quorvel.wxs copied beside it.
file(GLOB_RECURSE files RELATIVE ${stage}/quorvel ${stage}/quorvel/*)
list(SORT files)
list(TRANSFORM files PREPEND "./")
list(JOIN files "\n" listing)
file(WRITE ${stage}/files.txt "${listing}\n")
execute_process(COMMAND ${wixlheat} --var var.SourceDir -p ./ --directory-ref INSTALLDIR
                        --component-group programfiles --win64
                INPUT_FILE ${stage}/files.txt OUTPUT_FILE ${stage}/files.wxs
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wixl-heat: ${status}")
endif()
file(COPY ${wxs} DESTINATION ${stage})
get_filename_component(wxsname ${wxs} NAME)
run(${wixl} -a x64 -D SourceDir=quorvel -D Version=${version} -D Win64=yes -o ${out}
    ${wxsname} files.wxs)

# wixl does not write a component's Permanent and NeverOverwrite attributes
# (it warns and drops them). Without the first an uninstall deletes the
# user's host list; without the second an upgrade puts the sample in its
# place whenever the file's times do not show an edit (under Wine they never
# do). So the bits (16 and 128) are set in the Component table afterwards:
# exported, changed in the host list's row, imported back.
run(${msiinfo} export ${out} Component)
string(REGEX MATCH "\nhostlist\t[^\t]*\t[^\t]*\t([0-9]+)\t" row "${output}")
if(NOT row)
  message(FATAL_ERROR "makemsi.cmake: no row for the host list in the Component table")
endif()
math(EXPR attributes "${CMAKE_MATCH_1} | 16 | 128")
string(REGEX REPLACE "(\nhostlist\t[^\t]*\t[^\t]*\t)[0-9]+\t" "\\1${attributes}\t" table
       "${output}")
file(WRITE ${stage}/Component.idt "${table}")
run(${msibuild} ${out} -i ${stage}/Component.idt)
run(${msiinfo} export ${out} Component)
if(NOT output MATCHES "\nhostlist\t[^\t]*\t[^\t]*\t${attributes}\t")
  message(FATAL_ERROR "makemsi.cmake: the host list's component did not become permanent and never-overwrite")
endif()
file(SIZE ${out} size)
message(STATUS "MSI: ${out} (${size} bytes)")

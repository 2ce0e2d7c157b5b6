# SPDX-License-Identifier: GPL-3.0-or-later
# At install time: copies, and strips, every DLL that the installed programs
# import, directly or through another DLL, from the directories of
# quorveldllsearch (the GTK prefix's bin directory, which scripts/windows-gtk
# has checked to import nothing from elsewhere but Windows itself). DLLs found
# in none of them are Windows' own and stay out. Expects quorveldllsearch,
# quorvelobjdump, quorvelstrip and quorvelprograms (file names in the
# installation's top directory).

set(top "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# The DLL names in the import table of `file`, as the file names them.
function(importsof file out)
  execute_process(COMMAND ${quorvelobjdump} -p ${file} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objdump could not read ${file}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
  list(TRANSFORM lines REPLACE "DLL Name: " "")
  set(${out} ${lines} PARENT_SCOPE)
endfunction()

# Windows looks DLL names up without regard to case; the prefix's names are
# the ones to copy.
foreach(directory IN LISTS quorveldllsearch)
  file(GLOB available ${directory}/*.dll)
  foreach(path IN LISTS available)
    get_filename_component(name ${path} NAME)
    string(TOLOWER ${name} lower)
    if(NOT DEFINED prefixdll_${lower})
      set(prefixdll_${lower} ${name})
      set(sourceof_${lower} ${path})
    endif()
  endforeach()
endforeach()

set(pending "")
foreach(program IN LISTS quorvelprograms)
  list(APPEND pending ${top}/${program})
endforeach()
set(copied "")
set(rounds 0)
while(pending AND rounds LESS 1000)
  math(EXPR rounds "${rounds} + 1")
  list(POP_FRONT pending file)
  importsof(${file} imports)
  foreach(import IN LISTS imports)
    string(TOLOWER ${import} lower)
    list(FIND copied ${lower} seen)
    if(NOT DEFINED prefixdll_${lower} OR seen GREATER -1)
      continue()
    endif()
    list(APPEND copied ${lower})
    file(COPY ${sourceof_${lower}} DESTINATION ${top})
    if(quorvelstrip)
      execute_process(COMMAND ${quorvelstrip} --strip-unneeded ${top}/${prefixdll_${lower}})
    endif()
    list(APPEND pending ${top}/${prefixdll_${lower}})
  endforeach()
endwhile()
list(LENGTH copied count)
message(STATUS "Runtime DLLs: ${count}, from ${quorveldllsearch}")

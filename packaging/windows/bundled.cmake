# SPDX-License-Identifier: GPL-3.0-or-later
# What the Windows zip carries of other people's work, and where each part's
# licence is written. Included by collectlicences.cmake (at build time) and
# licences.cmake (at install time).
#
# One entry a part: the package it comes from, as the GTK cache's manifest
# names it (a Debian source package that scripts/windows-gtk built, or for the
# parts that come with the cross compiler, the Debian package it installed);
# the part's name; its licence (SPDX where one expression says it; the full
# terms, with those of single files, are in the texts); its DLLs (none for the
# runtimes linked into the programs); and for a source package, the files of
# its upstream source, below the top directory, that hold the licence texts
# (tar wildcards; the cross compiler's parts have their Debian package's
# copyright file instead). Versions are not kept here: they are read from the
# manifest. A DLL in the zip that no entry names stops the build, and so does
# a package of the manifest without an entry.

set(bundled
  "gettext|libintl (GNU gettext)|LGPL-2.1-or-later|libintl-8|gettext-runtime/intl/COPYING.LIB"
  "libffi|libffi|MIT|libffi-8|LICENSE"
  "pcre2|PCRE2|BSD-3-Clause|libpcre2-8-0|LICENCE"
  "glib2.0|GLib|LGPL-2.1-or-later|libglib-2.0-0 libgobject-2.0-0 libgio-2.0-0 libgmodule-2.0-0|LICENSES/*.txt"
  "pixman|pixman|MIT|libpixman-1-0|COPYING"
  "libpng1.6|libpng|libpng-2.0|libpng16-16|LICENSE"
  "fribidi|GNU FriBidi|LGPL-2.1-or-later|libfribidi-0|COPYING"
  "harfbuzz|HarfBuzz|MIT|libharfbuzz-0|COPYING"
  "cairo|cairo|LGPL-2.1-only OR MPL-1.1|libcairo-2 libcairo-gobject-2|COPYING COPYING-LGPL-2.1 COPYING-MPL-1.1"
  "pango1.0|Pango|LGPL-2.0-or-later|libpango-1.0-0 libpangocairo-1.0-0 libpangowin32-1.0-0|COPYING"
  "gdk-pixbuf|GdkPixbuf|LGPL-2.1-or-later|libgdk_pixbuf-2.0-0|COPYING"
  "libepoxy|libepoxy|MIT|libepoxy-0|COPYING"
  "at-spi2-core|ATK|LGPL-2.1-or-later|libatk-1.0-0|COPYING"
  "gtk+3.0|GTK 3|LGPL-2.0-or-later|libgtk-3-0 libgdk-3-0|COPYING"
  "libz-mingw-w64-dev|zlib|Zlib|zlib1|"
  "gcc-mingw-w64-x86-64-posix|GCC's runtime libraries (libgcc, libstdc++)|GPL-3.0-or-later WITH GCC-exception-3.1||"
  "mingw-w64-x86-64-dev|MinGW-w64's runtime (C start-up code, winpthreads)|ZPL-2.1, MIT and others, file by file||"
)

# The fields of the entry for `package` into <prefix>_name, _licence, _dlls
# and _texts; <prefix>_name is left unset when there is no such entry.
function(bundledentry package prefix)
  unset(${prefix}_name PARENT_SCOPE)
  foreach(entry IN LISTS bundled)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    if(name STREQUAL package)
      list(GET fields 1 value)
      set(${prefix}_name "${value}" PARENT_SCOPE)
      list(GET fields 2 value)
      set(${prefix}_licence "${value}" PARENT_SCOPE)
      list(GET fields 3 value)
      separate_arguments(value UNIX_COMMAND "${value}")
      set(${prefix}_dlls "${value}" PARENT_SCOPE)
      list(GET fields 4 value)
      separate_arguments(value UNIX_COMMAND "${value}")
      set(${prefix}_texts "${value}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()

# Every package the entries name, in their order.
function(bundledpackages out)
  set(packages "")
  foreach(entry IN LISTS bundled)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    list(APPEND packages ${name})
  endforeach()
  set(${out} ${packages} PARENT_SCOPE)
endfunction()

# The manifest of the GTK cache, read into manifest_packages (source packages
# and toolchain packages, in its order), manifest_version_<package>,
# manifest_mode_<package> (debian, upstream or toolchain) and manifest_patches.
macro(readmanifest path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "No manifest at ${path}: the GTK prefix is not one that "
                        "scripts/windows-gtk built")
  endif()
  file(STRINGS "${path}" manifestlines)
  set(manifest_packages "")
  set(manifest_patches "")
  foreach(line IN LISTS manifestlines)
    if(line MATCHES "^source ([^ ]+) ([^ ]+) (debian|upstream)$")
      list(APPEND manifest_packages ${CMAKE_MATCH_1})
      set(manifest_version_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
      set(manifest_mode_${CMAKE_MATCH_1} ${CMAKE_MATCH_3})
    elseif(line MATCHES "^toolchain ([^ ]+) ([^ ]+)$")
      list(APPEND manifest_packages ${CMAKE_MATCH_1})
      set(manifest_version_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
      set(manifest_mode_${CMAKE_MATCH_1} toolchain)
    elseif(line MATCHES "^patch ([^ ]+)$")
      list(APPEND manifest_patches ${CMAKE_MATCH_1})
    endif()
  endforeach()
endmacro()

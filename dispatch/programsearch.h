// SPDX-License-Identifier: GPL-3.0-or-later
// How a probe command line becomes a program and its arguments on POSIX:
// used by process_posix.cpp, kept apart so that it can be tested on its own.
// The rules live in programsearch.cpp; the few facts they need from the
// system come from the platform's file (programsearch_linux.cpp). Windows
// keeps the same order of places in process_win32.cpp, in its own terms.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// Splits a command line into words at white space; a pair of double quotes
// groups what lies between them into one word and is itself dropped, so '""'
// is an empty word. Backslashes have no special meaning.
std::vector<std::string> splitcommandline(std::string_view commandline);

// The directories searched for a program named without a slash, in order: the
// directory of the monitor's own executable, then each absolute entry of the
// search path. The current directory is never searched, and neither is an
// empty or relative entry, which means it or a place below it: whoever
// started the monitor, or anyone who can write there, chose what it holds.
// An empty exedir is left out; a missing search path means the system's
// default one.
std::vector<std::string> programsearchdirs(std::string_view exedir, const char* searchpath);

// The same list for this process: its executable's directory and $PATH.
// From the platform's file.
std::vector<std::string> programsearchdirs();

// True when the path names a regular file that this process may run. From
// the platform's file.
bool isprogramfile(const std::string& path);

// The search path to use when $PATH is not set. From the platform's file.
std::string defaultsearchpath();

// The file that runs for a program word, or an empty string when there is
// none. A word with a slash is a path and is not searched for. A word ending
// in ".exe" also names the file without that ending, which is taken wherever
// no file of the full name exists (checked directory by directory, so an
// earlier directory's "zendrik" wins over a later one's "zendrik.exe"). Only
// executable regular files count, as for a shell's search.
std::string findprogram(std::string_view word, std::span<const std::string> dirs);

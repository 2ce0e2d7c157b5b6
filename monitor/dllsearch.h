// SPDX-License-Identifier: GPL-3.0-or-later
// Where the libraries that quorvel loads by name once it runs may come from.
#pragma once

// Limits the search for a library named without a path to the program's
// own folder and the system's: never the working directory or PATH, where
// another user may have left a file of that name. Called first thing in
// main, before anything loads a library: GTK's modules and the system's
// helper DLLs that it loads later are then found there or not at all. A
// no-op where the system searches no such place of its own accord.
void limitdllsearch();

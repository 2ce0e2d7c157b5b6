// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a shared library at run time and finding its entry points by name.
#pragma once

using dynlibhandle = void*;

// Loads the library with that file name: first from the directory that holds
// the running program, then wherever the system keeps libraries. nullptr when
// it is in neither place or cannot be loaded. A program that runs with more
// rights than its user looks only in the directory it was installed for, and
// takes the library only when no one but root can change it there.
dynlibhandle dynlibload(const char* filename);

// The entry point of that name, or nullptr.
void* dynlibsymbol(dynlibhandle library, const char* name);

bool dynlibfree(dynlibhandle library);

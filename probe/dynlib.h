// Loading a shared library at run time and finding its entry points by name.
#pragma once

using dynlibhandle = void*;

// Loads the library with that file name: first from the directory that holds
// the running program, then wherever the system keeps libraries. nullptr when
// it is in neither place or cannot be loaded.
dynlibhandle dynlibload(const char* filename);

// The entry point of that name, or nullptr.
void* dynlibsymbol(dynlibhandle library, const char* name);

bool dynlibfree(dynlibhandle library);

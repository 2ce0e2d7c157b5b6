// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic linker searches the working directory only where the one who
// started the program asked for it (an empty or relative entry of
// LD_LIBRARY_PATH, which a program with raised privileges ignores): nothing
// to limit here.
#include "dllsearch.h"

void limitdllsearch() {}

// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a file that must be a plain file, whatever the path turns out to
// name by the time it is opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads at most `most` bytes of the regular file at `path` (a symbolic link
// to one counts) into `content`. False when the path cannot be opened or
// names anything else: a FIFO, a device, a directory. The check is made on
// the file that was opened, so a file swapped in between cannot slip past it.
bool readregularfile(const char* path, std::size_t most, std::string& content);
// The same, and when it reads nothing, `why` says what kept it: the system's
// reason the path could not be opened or read, or "not a regular file".
bool readregularfile(const char* path, std::size_t most, std::string& content, std::string& why);

// The platform's part (regularfile_posix.cpp, regularfile_win32.cpp).
// Opens the path without waiting on it and returns the opened file when it
// is a regular file, else -1 and the reason in `why`.
std::intptr_t regularfileopen(const char* path, std::string& why);
// One read of at most count bytes: the number read, 0 at the end, -1 on error.
long regularfileread(std::intptr_t file, char* into, std::size_t count);
void regularfileclose(std::intptr_t file);

// Reading a file that must be a plain file, whatever the path turns out to
// name by the time it is opened.
#pragma once

#include <cstddef>
#include <string>

// Reads at most `most` bytes of the regular file at `path` (a symbolic link
// to one counts) into `content`. False when the path cannot be opened or
// names anything else: a FIFO, a device, a directory. The check is made on
// the file that was opened, so a file swapped in between cannot slip past it.
bool readregularfile(const char* path, std::size_t most, std::string& content);

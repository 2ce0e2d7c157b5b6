// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol.h"

#include <cstdio>

void formatprobecommand(int index, const char* address, int timeout,
                        char (&commandline)[protocoltextsize]) {
    std::snprintf(commandline, sizeof commandline, "%s -i %d -h %s -t %d", probeprogramword, index,
                  address, timeout);
    commandline[protocoltextsize - 1] = '\0';
}

void formatpipename(int index, char (&pipename)[protocoltextsize]) {
    std::snprintf(pipename, sizeof pipename, "\\\\.\\pipe\\mypipe%d", index);
    pipename[protocoltextsize - 1] = '\0';
}

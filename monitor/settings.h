// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's numeric settings and its command line.
#pragma once

#include <cstdint>
#include <span>

// Echo time-out in milliseconds, handed to every probe.
extern std::int32_t timeoutmsec;
// Pause in milliseconds after each probe start.
extern std::int32_t cpcintervalmsec;
// Accepted on the command line and kept for the receive loop of the probes.
extern std::int32_t onerecvmsec;
extern std::int32_t onerecvusec;
extern std::int32_t recvloops;
// Path of the host list, relative to the working directory.
extern char hostlistfile[20];
// 1 with "-n": changes of the hosts' verdicts are announced on the desktop.
extern std::int32_t notifychanges;

// Puts every setting back to its default.
void setdefaults();

// Reads the option words of a command line whose toolkit options have already
// been taken out; args[0] is the program name. Returns 0, or -1 when the
// command line is malformed. Never looks beyond the end of args.
int parsecommandline(std::span<char* const> args);

// Derives the settings that depend on others; called once after the command line.
void derivesettings();

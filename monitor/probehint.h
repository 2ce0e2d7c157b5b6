// SPDX-License-Identifier: GPL-3.0-or-later
// Advice for the user when the probes cannot do their work at all, written to
// standard error so that the trace on standard output stays as it is.
#pragma once

#include <cstdio>
#include <string>

// The exit code with which zendrik says that it could not open an ICMP socket.
inline constexpr long noicmpsocketexitcode = 5;

// After a cycle over `count` hosts: when one of its probes ended because it
// could not open an ICMP socket, writes a hint on the two ways to allow it to
// `out`, at most once in the life of the process. True when it wrote the hint
// now.
bool hintprobeprivileges(int count, std::FILE* out = stderr);

// What the user can do about it on this system, as whole lines that begin
// with "quorvel: ". From the platform's file.
std::string probeprivilegeadvice();

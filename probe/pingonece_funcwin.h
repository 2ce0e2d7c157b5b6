// SPDX-License-Identifier: GPL-3.0-or-later
// One ICMP echo request to one host and the verdict on it: alive or not.
#pragma once

#include <array>
#include <cstdint>

// The ping log: everything the echo step met, message by message. The
// verdict is read from it and from nothing else.
using pinglogbuffer = std::array<char, 4096>;

// 1 when the host is judged alive, else 0. With verbose non-zero two progress
// lines go to standard output. Ends the process itself when the echo cannot
// be set up (exit codes 1 to 5).
std::int32_t pingonece_funcwin(const char* hosttext, std::int32_t timeout, std::int32_t verbose);

// The echo step: writes into the ping log what happened. Always 0 when it
// returns.
std::int32_t icmp_funcwin(const char* hosttext, std::int32_t timeout, pinglogbuffer& pinglog);

// Appends the class of an error or status code: "err(301)" for the first 22
// IP status codes, "err(300)" for every other code.
void PIcmpErr(std::uint32_t code, pinglogbuffer& pinglog);

// Appends a formatted message after the log's current text, cut so that the
// log holds at most 4095 characters and its NUL.
void pinglogappend(pinglogbuffer& pinglog, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The verdict on a finished log: it holds the reply line that an alive host
// produces, and no word that marks a failure.
bool pinglogsaysalive(const pinglogbuffer& pinglog, const char* hosttext);

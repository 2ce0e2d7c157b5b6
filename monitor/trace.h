// SPDX-License-Identifier: GPL-3.0-or-later
// The trace on standard output.
#pragma once

// Makes standard output line-buffered (unbuffered where the C library has no
// line buffering), so that every trace line reaches a pipe or a file as soon
// as it is complete, in the order written, whether it came
// through the GLib print function or through formatted printing (both end up
// in the same stdio stream). Must run before anything is printed.
void linebufferedtrace();

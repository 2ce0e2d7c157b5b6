// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications of changes, through the desktop's notification
// service. Nothing here reaches standard output: the trace stays as it is.
#pragma once

// Shows one notification with this text. Returns at once; when the desktop
// has no notification service, one line says so on standard error, the
// first time only, and quorvel goes on without.
void notifydesktop(const char* text);

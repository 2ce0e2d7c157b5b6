// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications of changes, through the desktop's notification
// service. Nothing here reaches standard output: the trace stays as it is.
#pragma once

// Shows one notification with this text. Returns at once; when the desktop
// has no notification service, one line says so on standard error, the
// first time only, and quorvel goes on without.
void notifydesktop(const char* text);

// With "-n", once at start-up after the toolkit: where notifications go out
// through an icon of quorvel's own (Windows' notification area), the icon
// shows from now on and is taken away when quorvel ends. Where the desktop's
// service shows them, nothing to do.
void notifystart();

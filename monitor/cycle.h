// SPDX-License-Identifier: GPL-3.0-or-later
// The probe cycle, the two operating modes and the wake-up of a host: the
// handlers the window's buttons and the probe timer call.
#pragma once

#include "hostlist.h"
#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <gtk/gtk.h>

// 0 in automatic mode, 1 in manual mode.
extern std::int32_t breakauto;
// The estimated length of a cycle in seconds, shown in the title during a
// cycle started by UPDATE.
extern std::int32_t dispmaxintervalsec;

// Size of one probe command line, terminator included.
inline constexpr std::size_t probecommandsize = protocoltextsize;

// "clicked" handlers of the command buttons AUTOSTART, MANUAL and CLEAR.
void autostart(GtkWidget* button, gpointer data);
void manual(GtkWidget* button, gpointer data);
void clearstatus(GtkWidget* button, gpointer data);

// Entry of one probe cycle. flag 0: the UPDATE button was pressed; non-zero:
// a tick of the probe timer. TRUE when the mode is automatic afterwards.
gboolean updatestatus(GtkWidget* source, gpointer flag);

// One probe cycle over the whole host table; 1.
int doping();

// "clicked" handler of a host button; data is the host's row in the table.
// 1 when a magic packet was handed to the sender, 0 for an index that names
// no host.
int ponfunc(GtkWidget* button, gpointer data);

// Arms the periodic probe timer of automatic mode, unless one is armed already.
void armprobetimer();
bool probetimerarmed();

// The cycle length the title announces, in whole seconds.
int estimatecyclesec(int count, int pausemsec, int timeout);

// The command line that starts the probe of one host.
void formatprobecommand(int index, const HostEntry& host, int timeout,
                        char (&commandline)[probecommandsize]);

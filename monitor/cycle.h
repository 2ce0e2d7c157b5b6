// The probe cycle, the two operating modes and the wake-up of a host: the
// handlers the window's buttons and the probe timer call.
#pragma once

#include <cstdint>
#include <gtk/gtk.h>

// 0 in automatic mode, 1 in manual mode.
extern std::int32_t breakauto;

// "clicked" handlers of the command buttons AUTOSTART, MANUAL and CLEAR.
void autostart(GtkWidget* button, gpointer data);
void manual(GtkWidget* button, gpointer data);
void clearstatus(GtkWidget* button, gpointer data);

// Entry of one probe cycle. flag 0: the UPDATE button was pressed; non-zero:
// a tick of the probe timer. TRUE when the mode is automatic afterwards.
gboolean updatestatus(GtkWidget* source, gpointer flag);

// "clicked" handler of a host button; index is the host's row in the table.
void ponfunc(GtkWidget* button, gpointer index);

// Arms the periodic probe timer of automatic mode; called once at start-up.
void armprobetimer();

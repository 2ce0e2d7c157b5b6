// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's one window: a button per host in rows of eight, a spacer, and
// the row of five command buttons; and the operations that set their looks.
#pragma once

#include "hostlist.h"

#include <array>
#include <gtk/gtk.h>

extern GtkWidget* mywindow;
extern GtkWidget* vtop;
extern GtkWidget* h1;
extern GtkWidget* h2;
extern GtkWidget* h3;
extern GtkWidget* h4;
extern GtkWidget* hbottomsp;
extern GtkWidget* hbottom;
extern std::array<GtkWidget*, maxhosts> buttonhost;
extern std::array<GtkWidget*, maxhosts> buttonhostlabel;
extern GtkWidget* buttonautostart;
extern GtkWidget* buttonmanual;
extern GtkWidget* buttonupdatestatus;
extern GtkWidget* buttonclearstatus;
extern GtkWidget* buttonexit;
extern GtkWidget* buttonautostartlabel;
extern GtkWidget* buttonmanuallabel;
extern GtkWidget* buttonupdatestatuslabel;
extern GtkWidget* buttonclearstatuslabel;
extern GtkWidget* buttonexitlabel;

// One bit per command button in a command-button mask.
inline constexpr int bitautostart = 0x10;
inline constexpr int bitmanual = 0x08;
inline constexpr int bitupdate = 0x04;
inline constexpr int bitclear = 0x02;
inline constexpr int bitexit = 0x01;
// The buttons that can be clicked in automatic mode, in manual mode, and
// while a probe cycle runs.
inline constexpr int maskautomatic = bitmanual | bitexit;
inline constexpr int maskmanual = bitautostart | bitupdate | bitclear | bitexit;
inline constexpr int maskcycle = 0;

// Where the window icon is read from, relative to the working directory.
inline constexpr const char* iconfile = "./quorvel64.ico";

// Builds the whole widget tree, reading the host list on the way; shows nothing.
void buildwindow();

// Shows the window and everything in it, neither kept above nor below others.
void showwindow();

// Makes each command button sensitive exactly when its bit is set.
void setbuttonsensitve(int mask);

// Gives each command label the high style when its bit is set, else the low one.
void setbuttonlabelfonthighlow(int mask);

// Gives a host's label the high style (flag non-zero) or the low one. Does
// nothing for an index that names no host.
void sethostlabelfonthighlow(int index, int flag);

// The tooltip of a host button: its address and hardware address, and on a
// second line what the run's history says of it. An index that names no
// host changes nothing.
void sethosttooltip(int index);

// Loads an image from a regular file of at most a megabyte, without waiting
// on whatever else the path may name; on failure tells why on standard
// error, naming the file, and returns nullptr. The image is a new reference.
GdkPixbuf* create_pixbuf(const gchar* filename);

// A delete request for the window, and the EXIT button: end the main loop.
// Returns TRUE so that the window itself is not destroyed.
gboolean delete_event(GtkWidget* widget, GdkEvent* event, gpointer data);

// The window was destroyed after all: end the main loop.
void destroy(GtkWidget* widget, gpointer data);

// Placeholders. The probe cycle, the operating modes and the wake-up of a
// host are not built yet. Until they are, these handlers deliberately do
// nothing at all: no timer is armed, no probe is started, nothing is printed,
// and no button changes state, so the window never shows a verdict it did
// not get. The window is already wired to them, so filling in this file is
// all the probe cycle needs.
#include "cycle.h"

std::int32_t breakauto;

void autostart(GtkWidget* /*button*/, gpointer /*data*/) {}

void manual(GtkWidget* /*button*/, gpointer /*data*/) {}

void clearstatus(GtkWidget* /*button*/, gpointer /*data*/) {}

gboolean updatestatus(GtkWidget* /*source*/, gpointer /*flag*/) {
    return breakauto == 0;
}

void ponfunc(GtkWidget* /*button*/, gpointer /*index*/) {}

void armprobetimer() {}

// SPDX-License-Identifier: GPL-3.0-or-later
// The probe cycle and the two operating modes: automatic (a cycle every 20 s
// from the probe timer) and manual (a cycle when UPDATE is pressed), and the
// wake-up of a host that did not answer.
#include "cycle.h"

#include "history.h"
#include "hostlist.h"
#include "multiprcfuncwin.h"
#include "neighbours.h"
#include "notify.h"
#include "probehint.h"
#include "settings.h"
#include "udpmagicsend_funcwg.h"
#include "window.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <glib.h>
#include <span>
#include <string>
#include <vector>

std::int32_t breakauto;
std::int32_t dispmaxintervalsec;

namespace {

constexpr guint probetimerpriority = 300; // GLib's low priority
constexpr guint probetimerseconds = 20;

// The one armed probe timer, 0 when none is armed. Toggling MANUAL and
// AUTOSTART must not stack timers: each would run a cycle of its own until
// the window was blocked most of the time.
guint probetimer = 0;

// Set from the moment a cycle is entered: the pending-event loop that draws
// the window before the cycle blocks may dispatch a timer tick that falls due
// just then, and that tick must not run a second cycle inside the first.
bool cyclerunning = false;

gboolean probetimertick(gpointer flag) {
    const gboolean keep = updatestatus(nullptr, flag);
    if (!keep) {
        probetimer = 0; // returning FALSE removes the source
    }
    return keep;
}

void printhosttable() {
    for (int i = 0; i < hostnum; ++i) {
        const HostEntry& host = dolist[i];
        g_print("Index-%d hostname=%s ip=%d.%d.%d.%d  mac=%02x:%02x:%02x:%02x:%02x:%02x\n", i,
                host.hostname, host.ip[0], host.ip[1], host.ip[2], host.ip[3], host.mac[0],
                host.mac[1], host.mac[2], host.mac[3], host.mac[4], host.mac[5]);
    }
}

void showestimate() {
    dispmaxintervalsec = estimatecyclesec(hostnum, cpcintervalmsec, timeoutmsec);
    char title[64];
    std::snprintf(title, sizeof title, "Searching .......... (~ %dsec)", dispmaxintervalsec);
    title[63] = '\0';
    gtk_window_set_title(GTK_WINDOW(mywindow), title);
}

// Every host button greyed out, with no verdict shown.
void clearbuttons() {
    for (int i = 0; i < hostnum; ++i) {
        gtk_widget_set_sensitive(buttonhost[i], FALSE);
        sethostlabelfonthighlow(i, 0);
    }
}

// What the neighbour table says of the hosts after the cycle's echoes made
// the system resolve their addresses. Only read: no packet of our own, and
// nothing on standard output.
void lookatneighbours(std::span<const HostEntry> hosts, std::span<const int> verdicts,
                      std::time_t now) {
    hostinsight& insight = runhistory().insight();
    std::vector<neighbourentry> table;
    std::string why;
    if (!readneighbours(table, why) && insight.firsttablefailure()) {
        std::fprintf(stderr,
                     "quorvel: cannot read the neighbour table (%s); hosts that ignore ping "
                     "and wrong hardware addresses go unnoticed\n",
                     why.c_str());
    }
    insight.observe(hosts, verdicts, table, now);
    for (const std::string& line : insight.takewarnings(hosts)) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

// The cycle's verdicts into the run's history, the tooltips, and with "-n"
// one notification that names what changed.
void announcechanges(const int (&results)[maxhosts]) {
    const std::time_t now = std::time(nullptr);
    const auto verdicts = std::span(results).first(static_cast<std::size_t>(hostnum));
    const auto hosts = std::span(dolist).first(static_cast<std::size_t>(hostnum));
    std::vector<hostchange> changes = runhistory().record(verdicts, now);
    lookatneighbours(hosts, verdicts, now);
    for (int i = 0; i < hostnum; ++i) {
        sethosttooltip(i);
    }
    // Only the hosts the text names take their details: a detail said once
    // must not be spent on a host counted among "and 2 more".
    for (std::size_t k = 0; k < std::min(changes.size(), mostnamedchanges); ++k) {
        changes[k].detail = runhistory().insight().takenotificationdetail(changes[k].index);
    }
    if (notifychanges != 0 && !changes.empty()) {
        const std::string text = changesummary(changes, hosts);
        notifydesktop(text.c_str());
    }
}

// Draws the new title and button states before the cycle blocks the loop.
void drawpendingevents() {
    gtk_widget_show_now(mywindow);
    while (g_main_context_pending(nullptr)) {
        g_main_context_iteration(nullptr, FALSE);
    }
}

} // namespace

int estimatecyclesec(int count, int pausemsec, int timeout) {
    // In double precision from the start: the product of two option values
    // may not fit an int, and the result is clamped before it becomes one.
    const double seconds =
        (static_cast<double>(count) * pausemsec + static_cast<double>(timeout)) / 1000.0 + 0.5;
    const double clamped =
        std::clamp(seconds, static_cast<double>(INT_MIN) + 4.0, static_cast<double>(INT_MAX) - 4.0);
    return static_cast<int>(clamped) + 4;
}

void formatprobecommand(int index, const HostEntry& host, int timeout,
                        char (&commandline)[probecommandsize]) {
    formatprobecommand(index, addresstext(host.ip).c_str(), timeout, commandline);
}

void armprobetimer() {
    if (probetimer == 0) {
        probetimer = g_timeout_add_full(probetimerpriority, probetimerseconds * 1000,
                                        probetimertick, GINT_TO_POINTER(1), nullptr);
    }
}

bool probetimerarmed() {
    return probetimer != 0;
}

void autostart(GtkWidget* /*button*/, gpointer /*data*/) {
    breakauto = 0;
    // A timer still armed from before MANUAL goes on ticking now that the
    // mode is automatic again; a second one would double the cycles.
    armprobetimer();
    setbuttonsensitve(maskautomatic);
    setbuttonlabelfonthighlow(maskautomatic);
}

void manual(GtkWidget* /*button*/, gpointer /*data*/) {
    // The timer stays armed: its next tick runs one more cycle, finds manual
    // mode and removes itself.
    breakauto = 1;
    setbuttonsensitve(maskmanual);
    setbuttonlabelfonthighlow(maskmanual);
}

void clearstatus(GtkWidget* /*button*/, gpointer /*data*/) {
    clearbuttons();
    // With the verdicts off the buttons, the next cycle has nothing shown to
    // differ from: it announces nothing.
    runhistory().clear();
}

gboolean updatestatus(GtkWidget* /*source*/, gpointer flag) {
    if (cyclerunning) {
        // The cycle being prepared is the one this tick would have run; in
        // manual mode the tick ends its timer as after a cycle of its own.
        return breakauto == 0;
    }
    cyclerunning = true;
    if (flag == nullptr) {
        clearbuttons();
        printhosttable();
        showestimate();
        setbuttonlabelfonthighlow(0);
    }
    setbuttonsensitve(maskcycle);
    drawpendingevents();

    doping();
    cyclerunning = false;

    gtk_window_set_title(GTK_WINDOW(mywindow), "HOST STATUS");
    if (breakauto != 0) {
        setbuttonsensitve(maskmanual);
        setbuttonlabelfonthighlow(maskmanual);
        return FALSE;
    }
    setbuttonsensitve(maskautomatic);
    setbuttonlabelfonthighlow(maskautomatic);
    return TRUE;
}

int doping() {
    static char commandlines[maxhosts][probecommandsize];
    // Zero, not alive, is what a host keeps when the dispatcher returns
    // early without having read any verdict.
    int results[maxhosts] = {};
    for (int i = 0; i < hostnum; ++i) {
        formatprobecommand(i, dolist[i], timeoutmsec, commandlines[i]);
    }
    multiprcsetechotimeout(timeoutmsec);
    multiprcfuncwin(commandlines, cpcintervalmsec, hostnum, results);

    for (int i = 0; i < hostnum; ++i) {
        dolist[i].status = results[i] == 1 ? 1 : 0;
        g_print("%d:%d\n", i, dolist[i].status);
        gtk_widget_set_sensitive(buttonhost[i], dolist[i].status == 0);
        sethostlabelfonthighlow(i, dolist[i].status);
    }
    announcechanges(results);
    hintprobeprivileges(hostnum);
    return 1;
}

int ponfunc(GtkWidget* /*button*/, gpointer data) {
    const int index = GPOINTER_TO_INT(data);
    if (index < 0 || index >= hostnum) {
        return 0;
    }
    // Copies: the sender overwrites the last octet with 255, and the table
    // must go on holding the host's own address for the next cycle.
    unsigned char address[4];
    unsigned char hwaddress[6];
    std::copy(dolist[index].ip.begin(), dolist[index].ip.end(), address);
    std::copy(dolist[index].mac.begin(), dolist[index].mac.end(), hwaddress);
    udpmagicsend(address, hwaddress);
    runhistory().insight().wakesent(index, std::time(nullptr));
    sethosttooltip(index);
    return 1;
}

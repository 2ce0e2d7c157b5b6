// SPDX-License-Identifier: GPL-3.0-or-later
// quorvel: shows whether the hosts of a small network answer, one button per host.
#include "cycle.h"
#include "history.h"
#include "notify.h"
#include "priority.h"
#include "selfpath.h"
#include "settings.h"
#include "trace.h"
#include "window.h"

#include <cstddef>
#include <cstdlib>
#include <gtk/gtk.h>

namespace {

// A first start from the desktop shows a window without a host: say which
// file to fill, and what can fill it.
void tellwheretolisthosts() {
    gchar* directory = g_get_current_dir();
    gchar* file = g_build_filename(directory, "hostlist", nullptr);
    gchar* text = g_strdup_printf("No host in %s yet: add a line per host (label, address, "
                                  "hardware address), or let quorvel-scan find them: "
                                  "quorvel-scan >> hostlist",
                                  file);
    notifydesktop(text);
    g_free(text);
    g_free(file);
    g_free(directory);
}

} // namespace

int main(int argc, char** argv) {
    limitdllsearch();
    linebufferedtrace();
    setidlepriority();
    // GTK takes its own options out first. The display is opened only after
    // our options have been read, so that a malformed command line ends the
    // program with status 1 and no word printed, display or not.
    gtk_parse_args(&argc, &argv);
    setdefaults();
    if (parsecommandline({argv, static_cast<std::size_t>(argc)}) != 0) {
        return 1;
    }
    derivesettings();
    // A test of the whole program may shorten the quiet time between two
    // notifications naming one host; nothing else sets it.
    if (const char* quiet = g_getenv("QUORVEL_TEST_QUIET_SECONDS")) {
        runhistory().setquietseconds(std::atoi(quiet));
    }
    gtk_init(&argc, &argv);

    buildwindow();
    breakauto = 0;
    setbuttonlabelfonthighlow(maskautomatic);
    setbuttonsensitve(maskautomatic);
    showwindow();
    if (notifychanges != 0) {
        notifystart();
    }
    if (notifychanges != 0 && hostnum == 0) {
        tellwheretolisthosts();
    }
    armprobetimer();
    gtk_main();
    return 0;
}

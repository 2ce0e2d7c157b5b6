// SPDX-License-Identifier: GPL-3.0-or-later
#include "window.h"

#include "cycle.h"
#include "history.h"
#include "regularfile.h"

#include <algorithm>
#include <cstdio>
#include <string>

GtkWidget* mywindow;
GtkWidget* vtop;
GtkWidget* h1;
GtkWidget* h2;
GtkWidget* h3;
GtkWidget* h4;
GtkWidget* hbottomsp;
GtkWidget* hbottom;
std::array<GtkWidget*, maxhosts> buttonhost;
std::array<GtkWidget*, maxhosts> buttonhostlabel;
GtkWidget* buttonautostart;
GtkWidget* buttonmanual;
GtkWidget* buttonupdatestatus;
GtkWidget* buttonclearstatus;
GtkWidget* buttonexit;
GtkWidget* buttonautostartlabel;
GtkWidget* buttonmanuallabel;
GtkWidget* buttonupdatestatuslabel;
GtkWidget* buttonclearstatuslabel;
GtkWidget* buttonexitlabel;

namespace {

constexpr const char* stylecommandhigh = R"(<span foreground="#333333" font_desc="Sans bold 10">)";
constexpr const char* stylecommandlow = R"(<span foreground="#aaaaaa" font_desc="Sans 10">)";
constexpr const char* stylehosthigh = R"(<span foreground="#6622aa" font_desc="Sans bold 10">)";
constexpr const char* stylehostlow = R"(<span foreground="#888888" font_desc="Sans 10">)";

constexpr int spacing = 10;
constexpr int borderwidth = 20;
constexpr int hostsperrow = 8;
constexpr int commandwidth = 190;
constexpr int commandheight = 60;
constexpr int hostwidth = 120;
constexpr int hostheight = 60;
constexpr int spacerheight = 10;
constexpr std::size_t markupsize = 512;

// The button handlers live with the probe cycle; these adapters give GTK
// exactly the "clicked" signature it calls.
void autostartclicked(GtkButton* button, gpointer data) {
    autostart(GTK_WIDGET(button), data);
}
void manualclicked(GtkButton* button, gpointer data) {
    manual(GTK_WIDGET(button), data);
}
void updatestatusclicked(GtkButton* button, gpointer data) {
    updatestatus(GTK_WIDGET(button), data);
}
void clearstatusclicked(GtkButton* button, gpointer data) {
    clearstatus(GTK_WIDGET(button), data);
}
void exitclicked(GtkButton* button, gpointer data) {
    delete_event(GTK_WIDGET(button), nullptr, data);
}
void hostclicked(GtkButton* button, gpointer index) {
    ponfunc(GTK_WIDGET(button), index);
}

struct CommandButton {
    const char* word;
    int bit;
    GtkWidget** button;
    GtkWidget** label;
    void (*clicked)(GtkButton*, gpointer);
};

// In the order they stand in the window and are walked by every mask.
const std::array<CommandButton, 5> commandbuttons{{
    {"AUTOSTART", bitautostart, &buttonautostart, &buttonautostartlabel, autostartclicked},
    {"MANUAL", bitmanual, &buttonmanual, &buttonmanuallabel, manualclicked},
    {"UPDATE", bitupdate, &buttonupdatestatus, &buttonupdatestatuslabel, updatestatusclicked},
    {"CLEAR", bitclear, &buttonclearstatus, &buttonclearstatuslabel, clearstatusclicked},
    {"EXIT", bitexit, &buttonexit, &buttonexitlabel, exitclicked},
}};

// Marks UPDATE's press as a press and not a timer tick.
constexpr gpointer updatepressed = nullptr;

int shownhosts() {
    return std::clamp(hostnum, 0, maxhosts);
}

// A label as text GTK accepts: the table keeps the bytes of the file, and
// cutting a label to six bytes can split a multi-byte character.
struct DisplayLabel {
    explicit DisplayLabel(const char* bytes) : text(g_utf8_make_valid(bytes, -1)) {}
    ~DisplayLabel() { g_free(text); }
    DisplayLabel(const DisplayLabel&) = delete;
    DisplayLabel& operator=(const DisplayLabel&) = delete;
    gchar* text;
};

void setwindowicon() {
    GdkPixbuf* icon = create_pixbuf(iconfile);
    gtk_window_set_icon(GTK_WINDOW(mywindow), icon);
    if (icon != nullptr) {
        g_object_unref(icon); // the window holds its own reference
    }
}

void createwindow() {
    mywindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    setwindowicon();
    gtk_window_set_title(GTK_WINDOW(mywindow), "HOST STATUS");
    gtk_container_set_border_width(GTK_CONTAINER(mywindow), borderwidth);
    gtk_window_set_deletable(GTK_WINDOW(mywindow), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(mywindow), TRUE);
    gtk_window_set_position(GTK_WINDOW(mywindow), GTK_WIN_POS_CENTER);
    g_signal_connect(mywindow, "delete_event", G_CALLBACK(delete_event), nullptr);
    g_signal_connect(mywindow, "destroy", G_CALLBACK(destroy), nullptr);
    vtop = gtk_box_new(GTK_ORIENTATION_VERTICAL, spacing);
    gtk_container_add(GTK_CONTAINER(mywindow), vtop);
}

void createcommandbuttons() {
    for (const CommandButton& command : commandbuttons) {
        GtkWidget* button = gtk_button_new_with_label(command.word);
        gtk_widget_set_size_request(button, commandwidth, commandheight);
        const gpointer data = command.bit == bitupdate ? updatepressed : nullptr;
        g_signal_connect(button, "clicked", G_CALLBACK(command.clicked), data);
        *command.button = button;
        *command.label = gtk_bin_get_child(GTK_BIN(button));
    }
}

void createrows() {
    for (GtkWidget** row : {&h1, &h2, &h3, &h4}) {
        *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, spacing);
    }
    hbottomsp = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, spacing);
    gtk_widget_set_size_request(hbottomsp, 0, spacerheight);
    hbottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, spacing);
}

void createhostbuttons() {
    for (int i = 0; i < shownhosts(); ++i) {
        const DisplayLabel label(dolist[i].hostname);
        buttonhost[i] = gtk_button_new_with_label(label.text);
        gtk_widget_set_size_request(buttonhost[i], hostwidth, hostheight);
        g_signal_connect(buttonhost[i], "clicked", G_CALLBACK(hostclicked), GINT_TO_POINTER(i));
        buttonhostlabel[i] = gtk_bin_get_child(GTK_BIN(buttonhost[i]));
        gtk_widget_set_sensitive(buttonhost[i], FALSE);
        sethostlabelfonthighlow(i, 0);
        sethosttooltip(i);
    }
}

// A row that holds no host is never packed.
void packhostrows() {
    const std::array<GtkWidget*, 4> rows{h1, h2, h3, h4};
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const int first = r * hostsperrow;
        if (shownhosts() <= first) {
            break;
        }
        for (int i = first; i < std::min(shownhosts(), first + hostsperrow); ++i) {
            gtk_box_pack_start(GTK_BOX(rows[r]), buttonhost[i], FALSE, FALSE, 0);
        }
        gtk_box_pack_start(GTK_BOX(vtop), rows[r], FALSE, FALSE, 0);
    }
}

void packcommandrow() {
    gtk_box_pack_start(GTK_BOX(vtop), hbottomsp, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(vtop), hbottom, FALSE, FALSE, 0);
    for (const CommandButton& command : commandbuttons) {
        gtk_box_pack_start(GTK_BOX(hbottom), *command.button, TRUE, FALSE, 0);
    }
}

void setmarkup(GtkWidget* label, const char* style, const char* text) {
    char markup[markupsize];
    std::snprintf(markup, sizeof markup, "%s%s</span>", style, text);
    markup[sizeof markup - 1] = '\0';
    gtk_label_set_markup(GTK_LABEL(label), markup);
}

} // namespace

void buildwindow() {
    createwindow();
    createcommandbuttons();
    createrows();
    readlist();
    createhostbuttons();
    packhostrows();
    packcommandrow();
}

void showwindow() {
    gtk_widget_show_all(mywindow);
    gtk_window_set_keep_above(GTK_WINDOW(mywindow), FALSE);
    gtk_window_set_keep_below(GTK_WINDOW(mywindow), FALSE);
}

void setbuttonsensitve(int mask) {
    for (const CommandButton& command : commandbuttons) {
        gtk_widget_set_sensitive(*command.button, (mask & command.bit) != 0);
    }
}

void setbuttonlabelfonthighlow(int mask) {
    for (const CommandButton& command : commandbuttons) {
        const char* style = (mask & command.bit) != 0 ? stylecommandhigh : stylecommandlow;
        setmarkup(*command.label, style, command.word);
    }
}

void sethosttooltip(int index) {
    if (index < 0 || index >= hostnum) {
        return;
    }
    const HostEntry& host = dolist[index];
    std::string text = addresstext(host.ip) + "  " + hardwareaddresstext(host.mac) + "\n" +
                       runhistory().tooltipline(index);
    for (const std::string& line : runhistory().insight().tooltiplines(index)) {
        text += "\n" + line;
    }
    gtk_widget_set_tooltip_text(buttonhost[index], text.c_str());
}

void sethostlabelfonthighlow(int index, int flag) {
    if (index < 0 || index >= shownhosts()) {
        return;
    }
    // Escaped, because a label such as "R&D" or "<pc>" is no valid markup:
    // GTK would refuse it and the button would lose the look that shows its
    // host's state.
    const DisplayLabel label(dolist[index].hostname);
    gchar* escaped = g_markup_escape_text(label.text, -1);
    setmarkup(buttonhostlabel[index], flag != 0 ? stylehosthigh : stylehostlow, escaped);
    g_free(escaped);
}

GdkPixbuf* create_pixbuf(const gchar* filename) {
    // The icon is read by us, not by the loader from its path: opening a FIFO
    // in its place would wait for a writer for ever, and no window would come.
    // Ours, 64 pixels, takes 17 KB, and even one holding every size up to 256
    // pixels uncompressed stays under 400 KB: a file above a megabyte is no
    // icon, and reading no more keeps a huge or endless file from stalling
    // the start or filling memory. One byte beyond the limit tells such a
    // file.
    constexpr std::size_t mosticonbytes = 1 << 20;
    std::string content;
    std::string why;
    if (!readregularfile(filename, mosticonbytes + 1, content, why)) {
        std::fprintf(stderr, "%s: %s\n", filename, why.c_str());
        return nullptr;
    }
    if (content.size() > mosticonbytes) {
        std::fprintf(stderr, "%s: larger than %lu bytes\n", filename,
                     static_cast<unsigned long>(mosticonbytes));
        return nullptr;
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GError* error = nullptr;
    const bool written =
        gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(content.data()),
                                content.size(), &error) != FALSE;
    // Closed even after a failed write, which the loader expects before it
    // goes; that close's own complaint would only repeat the first.
    const bool closed = gdk_pixbuf_loader_close(loader, written ? &error : nullptr) != FALSE;
    GdkPixbuf* pixbuf = written && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf != nullptr) {
        g_object_ref(pixbuf); // the loader's own goes with it
    } else {
        std::fprintf(stderr, "%s: %s\n", filename,
                     error != nullptr ? error->message : "no image in it");
    }
    g_clear_error(&error);
    g_object_unref(loader);
    return pixbuf;
}

gboolean delete_event(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer /*data*/) {
    g_print("[parent process: %s] got a delete event from FrameWork.\n", "delete_event");
    g_print("[parent process: %s] so I'll call a main_quit.\n", "delete_event");
    gtk_main_quit();
    return TRUE;
}

void destroy(GtkWidget* /*widget*/, gpointer /*data*/) {
    g_print("[parent process: %s] destroyed by FrameWork.\n", "destroy");
    g_print("[parent process: %s] so I'll call a main_quit.\n", "destroy");
    gtk_main_quit();
}

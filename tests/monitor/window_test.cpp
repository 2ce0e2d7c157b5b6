// SPDX-License-Identifier: GPL-3.0-or-later
// The window, built in-process on a real (virtual) display.
#include "cycle.h"
#include "hostlist.h"
#include "settings.h"
#include "window.h"
#include "workdir.h"

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Warnings and criticals that GLib, GTK or Pango logged while a test ran.
std::vector<std::string> logged;

GLogWriterOutput recordwarnings(GLogLevelFlags level, const GLogField* fields, gsize count,
                                gpointer data) {
    if ((level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL)) != 0) {
        for (gsize i = 0; i < count; ++i) {
            if (std::string(fields[i].key) == "MESSAGE") {
                logged.emplace_back(static_cast<const char*>(fields[i].value));
            }
        }
    }
    return g_log_writer_default(level, fields, count, data);
}

std::vector<GtkWidget*> children(GtkWidget* container) {
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    std::vector<GtkWidget*> out;
    for (GList* l = list; l != nullptr; l = l->next) {
        out.push_back(GTK_WIDGET(l->data));
    }
    g_list_free(list);
    return out;
}

std::string labeltext(GtkWidget* label) {
    return gtk_label_get_text(GTK_LABEL(label));
}

std::string markup(GtkWidget* label) {
    return gtk_label_get_label(GTK_LABEL(label));
}

// How a label is drawn, as Pango understood its markup.
struct Look {
    unsigned colour = 0; // 0xRRGGBB
    bool bold = false;
    int points = 0;
    std::string family;
    bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Look& look) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%06x", look.colour);
    return os << colour << (look.bold ? " bold " : " normal ") << look.family << " " << look.points;
}

const Look commandhigh{0x333333, true, 10, "Sans"};
const Look commandlow{0xaaaaaa, false, 10, "Sans"};
const Look hosthigh{0x6622aa, true, 10, "Sans"};
const Look hostlow{0x888888, false, 10, "Sans"};

Look lookof(GtkWidget* label) {
    Look look;
    PangoAttrList* attrs = pango_layout_get_attributes(gtk_label_get_layout(GTK_LABEL(label)));
    if (attrs == nullptr) {
        return look;
    }
    GSList* all = pango_attr_list_get_attributes(attrs);
    for (GSList* l = all; l != nullptr; l = l->next) {
        const auto* attr = static_cast<PangoAttribute*>(l->data);
        if (attr->klass->type == PANGO_ATTR_FOREGROUND) {
            const PangoColor c = reinterpret_cast<const PangoAttrColor*>(attr)->color;
            look.colour = (c.red >> 8) << 16 | (c.green >> 8) << 8 | (c.blue >> 8);
        } else if (attr->klass->type == PANGO_ATTR_FONT_DESC) {
            const PangoFontDescription* font =
                reinterpret_cast<const PangoAttrFontDesc*>(attr)->desc;
            look.bold = pango_font_description_get_weight(font) == PANGO_WEIGHT_BOLD;
            look.points = pango_font_description_get_size(font) / PANGO_SCALE;
            look.family = pango_font_description_get_family(font);
        }
    }
    g_slist_free_full(all, reinterpret_cast<GDestroyNotify>(pango_attribute_destroy));
    return look;
}

struct Command {
    GtkWidget* button;
    GtkWidget* label;
    const char* word;
};

std::vector<Command> commands() {
    return {{buttonautostart, buttonautostartlabel, "AUTOSTART"},
            {buttonmanual, buttonmanuallabel, "MANUAL"},
            {buttonupdatestatus, buttonupdatestatuslabel, "UPDATE"},
            {buttonclearstatus, buttonclearstatuslabel, "CLEAR"},
            {buttonexit, buttonexitlabel, "EXIT"}};
}

void expectsize(GtkWidget* widget, int width, int height) {
    int w = 0;
    int h = 0;
    gtk_widget_get_size_request(widget, &w, &h);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
}

void expectpacking(GtkWidget* box, GtkWidget* child, bool expand) {
    gboolean e = TRUE;
    gboolean f = TRUE;
    guint padding = 1;
    gtk_container_child_get(GTK_CONTAINER(box), child, "expand", &e, "fill", &f, "padding",
                            &padding, nullptr);
    EXPECT_EQ(e != FALSE, expand);
    EXPECT_FALSE(f);
    EXPECT_EQ(padding, 0U);
}

// Each test builds the window in a directory of its own, which holds the
// icon and, where wanted, a host list.
class Window : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(QUORVEL_ICON, "quorvel64.ico");
        logged.clear();
    }

    void TearDown() override {
        destroywindow();
        EXPECT_EQ(logged, std::vector<std::string>{}) << "GTK complained";
    }

    static void writehostlist(const std::string& text) { std::ofstream("hostlist") << text; }

    // n host lines "h0" .. on loopback addresses.
    static void writehosts(int n) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += "h" + std::to_string(i) + " 127.0.0." + std::to_string(i + 1) +
                    " 02:00:00:00:00:01\n";
        }
        writehostlist(text);
    }

    // The build's own tree is process-wide; this releases it so that the
    // next test can build a fresh one.
    static void destroywindow() {
        if (mywindow == nullptr) {
            return;
        }
        g_signal_handlers_disconnect_by_func(mywindow, reinterpret_cast<gpointer>(destroy),
                                             nullptr);
        for (GtkWidget* row : {h1, h2, h3, h4}) {
            if (gtk_widget_get_parent(row) == nullptr) {
                g_object_ref_sink(row);
                gtk_widget_destroy(row);
                g_object_unref(row);
            }
        }
        gtk_widget_destroy(mywindow);
        mywindow = nullptr;
        buttonhost.fill(nullptr);
        buttonhostlabel.fill(nullptr);
    }

  private:
    workdir dir_;
};

TEST_F(Window, HasItsTitleAndCannotBeDeletedFromItsTitleBar) {
    buildwindow();
    GtkWindow* window = GTK_WINDOW(mywindow);
    EXPECT_STREQ(gtk_window_get_title(window), "HOST STATUS");
    EXPECT_FALSE(gtk_window_get_deletable(window));
    EXPECT_TRUE(gtk_window_get_resizable(window));
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(mywindow)), 20U);
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    g_object_get(mywindow, "window-position", &position, nullptr);
    EXPECT_EQ(position, GTK_WIN_POS_CENTER);
    EXPECT_EQ(children(mywindow), std::vector<GtkWidget*>{vtop});
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(vtop)), GTK_ORIENTATION_VERTICAL);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(vtop)), 10);
}

struct Rows {
    int hostlines;
    std::vector<int> buttonsperrow;
};

void PrintTo(const Rows& rows, std::ostream* os) {
    *os << rows.hostlines << " host lines";
}

class HostRows : public Window, public testing::WithParamInterface<Rows> {};

TEST_P(HostRows, HoldEightHostsEachAboveTheCommandRow) {
    writehosts(GetParam().hostlines);
    buildwindow();
    const std::vector<int>& perrow = GetParam().buttonsperrow;
    const std::array<GtkWidget*, 4> rows{h1, h2, h3, h4};
    const std::vector<GtkWidget*> expectedrows(rows.begin(), rows.begin() + perrow.size());
    std::vector<GtkWidget*> expected = expectedrows;
    expected.push_back(hbottomsp);
    expected.push_back(hbottom);
    ASSERT_EQ(children(vtop), expected);

    int host = 0;
    for (std::size_t r = 0; r < perrow.size(); ++r) {
        expectpacking(vtop, expectedrows[r], false);
        const std::vector<GtkWidget*> buttons = children(expectedrows[r]);
        ASSERT_EQ(static_cast<int>(buttons.size()), perrow[r]) << "row " << r;
        for (GtkWidget* button : buttons) {
            ASSERT_EQ(button, buttonhost[host]);
            EXPECT_EQ(gtk_bin_get_child(GTK_BIN(button)), buttonhostlabel[host]);
            EXPECT_EQ(labeltext(buttonhostlabel[host]), "h" + std::to_string(host));
            EXPECT_FALSE(gtk_widget_get_sensitive(button)) << "host " << host;
            EXPECT_EQ(lookof(buttonhostlabel[host]), hostlow) << "host " << host;
            expectsize(button, 120, 60);
            expectpacking(expectedrows[r], button, false);
            ++host;
        }
    }
    EXPECT_EQ(host, hostnum);

    // GTK 3 turns a requested width of 0 into 1, the smallest it allows.
    int width = -1;
    int height = -1;
    gtk_widget_get_size_request(hbottomsp, &width, &height);
    EXPECT_LE(width, 1);
    EXPECT_EQ(height, 10);
    EXPECT_TRUE(children(hbottomsp).empty());
    std::vector<GtkWidget*> commandbuttons;
    for (const Command& command : commands()) {
        commandbuttons.push_back(command.button);
        EXPECT_EQ(gtk_bin_get_child(GTK_BIN(command.button)), command.label);
        EXPECT_EQ(labeltext(command.label), command.word);
        expectsize(command.button, 190, 60);
        expectpacking(hbottom, command.button, true);
    }
    EXPECT_EQ(children(hbottom), commandbuttons);
}

INSTANTIATE_TEST_SUITE_P(HostCounts, HostRows,
                         testing::Values(Rows{0, {}}, Rows{1, {1}}, Rows{8, {8}}, Rows{9, {8, 1}},
                                         Rows{17, {8, 8, 1}}, Rows{32, {8, 8, 8, 8}},
                                         Rows{40, {8, 8, 8, 8}}));

TEST_F(Window, WithoutHostListHasNoHostRow) {
    buildwindow();
    EXPECT_EQ(hostnum, 0);
    EXPECT_EQ(children(vtop), (std::vector<GtkWidget*>{hbottomsp, hbottom}));
}

struct MaskCase {
    int mask;
    std::array<bool, 5> high; // AUTOSTART, MANUAL, UPDATE, CLEAR, EXIT
};

void PrintTo(const MaskCase& c, std::ostream* os) {
    *os << "mask " << c.mask;
}

class CommandMask : public Window, public testing::WithParamInterface<MaskCase> {};

TEST_P(CommandMask, SetsSensitivityAndLabelStyleOfEachButton) {
    buildwindow();
    setbuttonsensitve(GetParam().mask);
    setbuttonlabelfonthighlow(GetParam().mask);
    const std::vector<Command> all = commands();
    for (std::size_t i = 0; i < all.size(); ++i) {
        const bool high = GetParam().high[i];
        const std::string opening = high ? R"(<span foreground="#333333" font_desc="Sans bold 10">)"
                                         : R"(<span foreground="#aaaaaa" font_desc="Sans 10">)";
        EXPECT_EQ(gtk_widget_get_sensitive(all[i].button) != FALSE, high) << all[i].word;
        EXPECT_EQ(markup(all[i].label), opening + all[i].word + "</span>");
        EXPECT_EQ(lookof(all[i].label), high ? commandhigh : commandlow) << all[i].word;
        EXPECT_EQ(labeltext(all[i].label), all[i].word);
    }
}

// 9: automatic mode, 23: manual mode, 0: a probe cycle running.
INSTANTIATE_TEST_SUITE_P(Masks, CommandMask,
                         testing::Values(MaskCase{9, {false, true, false, false, true}},
                                         MaskCase{23, {true, false, true, true, true}},
                                         MaskCase{0, {false, false, false, false, false}},
                                         MaskCase{0x1f, {true, true, true, true, true}}));

TEST_F(Window, HostLabelTakesTheHighOrLowStyle) {
    writehosts(3);
    buildwindow();
    sethostlabelfonthighlow(1, 1);
    EXPECT_EQ(markup(buttonhostlabel[1]),
              R"(<span foreground="#6622aa" font_desc="Sans bold 10">h1</span>)");
    EXPECT_EQ(lookof(buttonhostlabel[1]), hosthigh);
    EXPECT_EQ(lookof(buttonhostlabel[0]), hostlow);
    EXPECT_EQ(lookof(buttonhostlabel[2]), hostlow);

    sethostlabelfonthighlow(1, 0);
    EXPECT_EQ(markup(buttonhostlabel[1]),
              R"(<span foreground="#888888" font_desc="Sans 10">h1</span>)");
    EXPECT_EQ(lookof(buttonhostlabel[1]), hostlow);

    sethostlabelfonthighlow(2, 7); // any non-zero flag
    EXPECT_EQ(lookof(buttonhostlabel[2]), hosthigh);
}

TEST_F(Window, HostLabelIndexOutsideTheTableChangesNothing) {
    writehosts(2);
    buildwindow();
    for (const int index : {-1, 2, 31, 32, 299, INT_MIN, INT_MAX}) {
        sethostlabelfonthighlow(index, 1);
    }
    EXPECT_EQ(lookof(buttonhostlabel[0]), hostlow);
    EXPECT_EQ(lookof(buttonhostlabel[1]), hostlow);
}

TEST_F(Window, HostLabelWithMarkupCharactersKeepsItsTextAndStyle) {
    const std::vector<std::string> labels{"R&D", "<pc>", "a\"'>&", "&amp;", "</span"};
    std::string text;
    for (std::size_t i = 0; i < labels.size(); ++i) {
        text += labels[i] + " 127.0.0." + std::to_string(i + 1) + " 02:00:00:00:00:01\n";
    }
    writehostlist(text);
    buildwindow();
    ASSERT_EQ(hostnum, static_cast<int>(labels.size()));
    for (int i = 0; i < hostnum; ++i) {
        EXPECT_EQ(labeltext(buttonhostlabel[i]), labels[i]);
        EXPECT_EQ(lookof(buttonhostlabel[i]), hostlow) << labels[i];
        sethostlabelfonthighlow(i, 1);
        EXPECT_EQ(labeltext(buttonhostlabel[i]), labels[i]);
        EXPECT_EQ(lookof(buttonhostlabel[i]), hosthigh) << labels[i];
    }
}

TEST_F(Window, LabelCutInsideACharacterIsStillShown) {
    // Six bytes of this label end in the middle of a two-byte character.
    writehostlist("a\xc3\x84\xc3\x96\xc3\x9c\xc3\x84 127.0.0.1 02:00:00:00:00:01\n");
    buildwindow();
    ASSERT_EQ(hostnum, 1);
    const std::string shown = labeltext(buttonhostlabel[0]);
    EXPECT_TRUE(g_utf8_validate(shown.c_str(), -1, nullptr));
    EXPECT_EQ(shown.rfind("a\xc3\x84\xc3\x96", 0), 0U) << shown;
    EXPECT_EQ(lookof(buttonhostlabel[0]), hostlow);
}

TEST_F(Window, HostButtonTooltipNamesAddressAndHardwareAddress) {
    writehostlist("pc 127.0.0.9 0A:1b:2C:3d:4E:5f\n"
                  "printer 127.1.2.254 00-11-22-33-44-55\n");
    buildwindow();
    ASSERT_EQ(hostnum, 2);
    gchar* first = gtk_widget_get_tooltip_text(buttonhost[0]);
    gchar* second = gtk_widget_get_tooltip_text(buttonhost[1]);
    // The second line is the run's history: no cycle has run yet.
    EXPECT_STREQ(first, "127.0.0.9  0a:1b:2c:3d:4e:5f\nnot probed yet");
    EXPECT_STREQ(second, "127.1.2.254  00:11:22:33:44:55\nnot probed yet");
    g_free(first);
    g_free(second);
}

TEST_F(Window, IconIsLoadedFromTheWorkingDirectory) {
    testing::internal::CaptureStderr();
    buildwindow();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    GdkPixbuf* icon = gtk_window_get_icon(GTK_WINDOW(mywindow));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 64);
    EXPECT_EQ(gdk_pixbuf_get_height(icon), 64);
}

TEST_F(Window, MissingIconIsReportedAndStartUpGoesOn) {
    std::filesystem::remove("quorvel64.ico");
    writehosts(2);
    testing::internal::CaptureStderr();
    buildwindow();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("quorvel64.ico"), std::string::npos) << err;
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), '\n');
    EXPECT_EQ(gtk_window_get_icon(GTK_WINDOW(mywindow)), nullptr);
    EXPECT_EQ(hostnum, 2);
    EXPECT_EQ(children(hbottom).size(), 5U);
}

TEST_F(Window, UnreadableIconIsReportedAndStartUpGoesOn) {
    std::ofstream("quorvel64.ico", std::ios::trunc) << "not an image";
    testing::internal::CaptureStderr();
    buildwindow();
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(gtk_window_get_icon(GTK_WINDOW(mywindow)), nullptr);
}

// Runs the main loop until something ends it, or fails after 20 seconds.
bool runmainloop(GSourceFunc action) {
    bool timedout = false;
    const guint guard = g_timeout_add_seconds(
        20,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            gtk_main_quit();
            return G_SOURCE_REMOVE;
        },
        &timedout);
    g_idle_add(action, nullptr);
    gtk_main();
    if (!timedout) {
        g_source_remove(guard);
    }
    return !timedout;
}

const std::string quittrace = "[parent process: delete_event] got a delete event from FrameWork.\n"
                              "[parent process: delete_event] so I'll call a main_quit.\n";

TEST_F(Window, DeleteRequestEndsTheMainLoopAndKeepsTheWindow) {
    buildwindow();
    showwindow();
    gpointer alive = mywindow;
    g_object_add_weak_pointer(G_OBJECT(mywindow), &alive);
    testing::internal::CaptureStdout();
    const bool ended = runmainloop([](gpointer) -> gboolean {
        GdkEvent* event = gdk_event_new(GDK_DELETE);
        event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(mywindow)));
        event->any.send_event = TRUE;
        gtk_main_do_event(event);
        gdk_event_free(event);
        return G_SOURCE_REMOVE;
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), quittrace);
    EXPECT_TRUE(ended) << "the delete request did not end the main loop";
    EXPECT_NE(alive, nullptr) << "the window was destroyed";
    if (alive != nullptr) {
        g_object_remove_weak_pointer(G_OBJECT(mywindow), &alive);
    }
}

TEST_F(Window, ExitButtonEndsTheMainLoop) {
    buildwindow();
    showwindow();
    setbuttonsensitve(9);
    testing::internal::CaptureStdout();
    const bool ended = runmainloop([](gpointer) -> gboolean {
        gtk_button_clicked(GTK_BUTTON(buttonexit));
        return G_SOURCE_REMOVE;
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), quittrace);
    EXPECT_TRUE(ended) << "EXIT did not end the main loop";
}

// The verdict lines "index:status" in a trace.
int verdictlines(const std::string& trace) {
    std::istringstream in(trace);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        const auto isnumber = [](std::string_view text) {
            return !text.empty() && text.find_first_not_of("0123456789") == text.npos;
        };
        if (colon != line.npos && isnumber(std::string_view(line).substr(0, colon)) &&
            isnumber(std::string_view(line).substr(colon + 1))) {
            ++count;
        }
    }
    return count;
}

struct Tick {
    int runs = 0;
    gboolean kept = TRUE;
};

// A tick of the probe timer, as the timer's own callback delivers it.
gboolean probetick(gpointer data) {
    auto* tick = static_cast<Tick*>(data);
    ++tick->runs;
    tick->kept = updatestatus(nullptr, GINT_TO_POINTER(1));
    return tick->kept;
}

// The window is drawn by a pending-event loop before the cycle blocks; a tick
// of the probe timer that falls due just then is dispatched by that loop and
// must not run a second cycle inside the one UPDATE started. The one host is
// this machine's loopback address, probed by the zendrik built beside the tests.
TEST_F(Window, TimerTickDueWhenUpdateIsPressedRunsNoCycleOfItsOwn) {
    writehostlist("lo 127.0.0.1 02:00:00:00:00:01\n");
    buildwindow();
    showwindow();
    breakauto = 1; // manual mode, with the timer from automatic mode still armed
    Tick tick;
    const guint timer = g_timeout_add_full(300, 0, probetick, &tick, nullptr);
    g_usleep(20000); // the tick is due
    testing::internal::CaptureStdout();
    updatestatus(nullptr, nullptr);
    const std::string trace = testing::internal::GetCapturedStdout();
    if (tick.runs == 0 || tick.kept) {
        g_source_remove(timer);
    }
    EXPECT_EQ(tick.runs, 1) << "the pending-event loop did not deliver the due tick";
    EXPECT_FALSE(tick.kept) << "a tick in manual mode must end its timer";
    EXPECT_EQ(verdictlines(trace), 1) << trace;
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(mywindow)), "HOST STATUS");
    breakauto = 0;
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    g_log_set_writer_func(recordwarnings, nullptr, nullptr);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr,
                     "window tests: no display to open (DISPLAY=%s); run them under "
                     "scripts/with-xvfb\n",
                     g_getenv("DISPLAY") != nullptr ? g_getenv("DISPLAY") : "");
        return 1;
    }
    return RUN_ALL_TESTS();
}

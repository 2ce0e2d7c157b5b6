// SPDX-License-Identifier: GPL-3.0-or-later
// The run's history of verdicts: the tooltip's second line and the changes a
// notification announces, cycle by cycle, with times chosen here.
#include "history.h"
#include "notify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A moment of local time today, so that the expected texts hold in any zone.
std::time_t at(int hour, int minute, int second) {
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

struct step {
    std::vector<int> verdicts; // empty: CLEAR
    std::time_t when;
    std::string announced;             // the notification's text, "" for none
    std::vector<std::string> tooltips; // second lines for hosts 0, 1, 2
};

std::vector<HostEntry> hosts(std::initializer_list<const char*> labels) {
    std::vector<HostEntry> rows;
    for (const char* label : labels) {
        HostEntry row{};
        std::strncpy(row.hostname, label, sizeof row.hostname - 1);
        rows.push_back(row);
    }
    return rows;
}

TEST(History, TooltipsAndAnnouncementsCycleByCycle) {
    const std::vector<HostEntry> table = hosts({"nas", "printe.", "tv"});
    const std::vector<step> steps = {
        {{}, at(13, 0, 0), "", {"not probed yet", "not probed yet", "not probed yet"}},
        // The first cycle of a run announces nothing: there is nothing to differ from.
        {{1, 0, 1},
         at(13, 40, 0),
         "",
         {"answered 13:40:00", "never answered", "answered 13:40:00"}},
        {{0, 0, 1},
         at(13, 40, 20),
         "nas is silent",
         {"silent since 13:40:20", "never answered", "answered 13:40:20"}},
        // Silent since the first cycle of the run of silence, not the last.
        {{0, 0, 1},
         at(13, 40, 40),
         "",
         {"silent since 13:40:20", "never answered", "answered 13:40:40"}},
        {{0, 1, 0},
         at(13, 41, 0),
         "printe. answers again, tv is silent",
         {"silent since 13:40:20", "answered 13:41:00", "silent since 13:41:00"}},
        // nas changes after its last announcement long enough ago; tv
        // changes back within a minute of its own: it flaps and stays quiet.
        {{1, 1, 1},
         at(13, 41, 20),
         "nas answers again",
         {"answered 13:41:20", "answered 13:41:20", "answered 13:41:20"}},
        {{1, 1, 0},
         at(13, 42, 1),
         "tv is silent",
         {"answered 13:42:01", "answered 13:42:01", "silent since 13:42:01"}},
        // CLEAR keeps the times; the cycle after it announces nothing.
        {{},
         at(13, 43, 0),
         "",
         {"answered 13:42:01", "answered 13:42:01", "silent since 13:42:01"}},
        {{0, 1, 1},
         at(13, 44, 0),
         "",
         {"silent since 13:44:00", "answered 13:44:00", "answered 13:44:00"}},
        {{0, 1, 1},
         at(13, 44, 20),
         "",
         {"silent since 13:44:00", "answered 13:44:20", "answered 13:44:20"}},
        {{1, 0, 0},
         at(13, 46, 0),
         "nas answers again, printe. is silent, tv is silent",
         {"answered 13:46:00", "silent since 13:46:00", "silent since 13:46:00"}},
    };
    cyclehistory history;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const step& s = steps[k];
        std::string announced;
        if (s.verdicts.empty()) {
            history.clear();
        } else {
            announced = changesummary(history.record(s.verdicts, s.when), table);
        }
        EXPECT_EQ(s.announced, announced) << "step " << k;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(s.tooltips[static_cast<std::size_t>(i)], history.tooltipline(i))
                << "step " << k << ", host " << i;
        }
    }
}

TEST(History, SummaryNamesAtMostThreeAndCountsTheRest) {
    const std::vector<HostEntry> table = hosts({"a", "b", "c", "d", "e"});
    const std::vector<hostchange> all = {
        {0, false, ""}, {1, true, ""}, {2, false, ""}, {3, true, ""}, {4, false, ""}};
    struct shown {
        std::size_t changes;
        const char* text;
    };
    for (const shown c :
         {shown{1, "a is silent"}, shown{3, "a is silent, b answers again, c is silent"},
          shown{5, "5 hosts changed: a is silent, b answers again, c is silent and 2 more"}}) {
        EXPECT_EQ(c.text, changesummary(std::span(all).first(c.changes), table));
    }
}

neighbourentry entry(std::array<std::uint8_t, 6> mac, neighbourstate state, long confirmedago) {
    neighbourentry e;
    e.ip = {192, 0, 2, 10};
    e.mac = mac;
    e.hasmac = true;
    e.state = state;
    e.confirmedago = confirmedago;
    return e;
}

// What the neighbour table read after a cycle adds to a host's tooltip:
// Linux gives the confirmation's age; Windows gives none (-1), where only a
// reachable entry counts, as confirmed when read.
TEST(Insight, NeighbourEntryAfterOneCycle) {
    const std::array<std::uint8_t, 6> listed{0x02, 0, 0, 0, 0, 0x0a};
    const std::array<std::uint8_t, 6> other{0x52, 0x54, 0, 0x12, 0x34, 0x57};
    const std::string card = "its network card answered 13:59:59, ping did not: a firewall?";
    const std::string cardnow = "its network card answered 14:00:00, ping did not: a firewall?";
    const std::string wrong = "52:54:00:12:34:57 answers for it; a wake goes to 02:00:00:00:00:0a "
                              "(the list's)";
    struct row {
        const char* what;
        int verdict;
        std::vector<neighbourentry> table;
        std::vector<std::string> lines;
    };
    neighbourentry nomac = entry(listed, neighbourstate::incomplete, 0);
    nomac.hasmac = false;
    neighbourentry elsewhere = entry(listed, neighbourstate::reachable, 1);
    elsewhere.ip = {192, 0, 2, 11};
    const std::vector<row> rows = {
        {"answers, its own card", 1, {entry(listed, neighbourstate::reachable, 1)}, {}},
        {"ignores ping", 0, {entry(listed, neighbourstate::reachable, 1)}, {card}},
        {"ignores ping, seen last 89 s ago",
         0,
         {entry(listed, neighbourstate::delay, 89)},
         {"its network card answered 13:58:31, ping did not: a firewall?"}},
        {"switched off a while ago", 0, {entry(listed, neighbourstate::stale, 91)}, {}},
        {"nobody holds the address", 0, {entry(listed, neighbourstate::failed, 0), nomac}, {}},
        {"an entry set by hand is no answer", 0, {entry(listed, neighbourstate::permanent, 1)}, {}},
        {"another host's entry", 0, {elsewhere}, {}},
        {"Windows: reachable, no age",
         0,
         {entry(listed, neighbourstate::reachable, -1)},
         {cardnow}},
        {"Windows: stale, no age", 0, {entry(listed, neighbourstate::stale, -1)}, {}},
        {"answers with another card", 1, {entry(other, neighbourstate::reachable, 1)}, {wrong}},
        {"two interfaces: the fresher entry counts",
         0,
         {entry(listed, neighbourstate::stale, 300), entry(other, neighbourstate::reachable, 1)},
         {card, wrong}},
    };
    HostEntry host{};
    std::strncpy(host.hostname, "nas", sizeof host.hostname - 1);
    host.ip = {192, 0, 2, 10};
    host.mac = listed;
    for (const row& r : rows) {
        hostinsight insight;
        const int verdicts[] = {r.verdict};
        insight.observe(std::span(&host, 1), verdicts, r.table, at(14, 0, 0));
        EXPECT_EQ(r.lines, insight.tooltiplines(0)) << r.what;
    }
}

// A wrong hardware address is told on standard error once per run and in
// the host's next notification once; a wake's story ends in its tooltip and
// its notification, and is over once the host goes silent again.
TEST(Insight, MismatchAndWakeAreToldOnce) {
    std::vector<HostEntry> table = hosts({"nas"});
    table[0].ip = {192, 0, 2, 10};
    table[0].mac = {0x02, 0, 0, 0, 0, 0x0a};
    const std::vector<neighbourentry> seen = {
        entry({0x52, 0x54, 0, 0x12, 0x34, 0x57}, neighbourstate::reachable, 0)};
    hostinsight insight;
    const int silent[] = {0};
    const int answers[] = {1};

    insight.observe(table, silent, seen, at(14, 0, 0));
    EXPECT_EQ(std::vector<std::string>{"quorvel: nas (192.0.2.10): 52:54:00:12:34:57 answers for "
                                       "its address, but the host list says 02:00:00:00:00:0a; a "
                                       "wake goes to the list's"},
              insight.takewarnings(table));
    insight.wakesent(0, at(14, 0, 5));
    EXPECT_EQ("wake sent 14:00:05", insight.tooltiplines(0).back());
    insight.observe(table, silent, {}, at(14, 0, 20));
    EXPECT_TRUE(insight.takewarnings(table).empty());
    EXPECT_EQ("wake sent 14:00:05", insight.tooltiplines(0).back());
    insight.observe(table, answers, {}, at(14, 0, 47));
    EXPECT_EQ("answers again, 42 s after its wake", insight.tooltiplines(0).back());
    std::vector<hostchange> changes = {{0, true, insight.takenotificationdetail(0)}};
    EXPECT_EQ("nas answers again, 42 s after its wake (52:54:00:12:34:57 answers for it, not the "
              "list's 02:00:00:00:00:0a)",
              changesummary(changes, table));
    EXPECT_EQ("", insight.takenotificationdetail(0));
    // Silent again, with a confirmation from before its last answer: no
    // claim that its card answered, and the wake is forgotten.
    insight.observe(table, silent, std::vector{entry(seen[0].mac, neighbourstate::reachable, 25)},
                    at(14, 1, 7));
    EXPECT_EQ(1U, insight.tooltiplines(0).size()) << "only the wrong address is left";
    EXPECT_EQ("", insight.takenotificationdetail(0));
}

// Without a session bus there is no service to notify: quorvel says so on
// standard error once, however many notifications it would send, and goes on.
TEST(Notify, WithoutAServiceOneLineOnStandardErrorOnce) {
    int out[2];
    ASSERT_EQ(0, pipe(out));
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDERR_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel-test-bus", 1);
        notifydesktop("nas is silent");
        notifydesktop("nas answers again");
        _exit(0);
    }
    close(out[1]);
    std::string printed;
    char chunk[256];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) {
        printed.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(0, printed.rfind("quorvel: no desktop notification service (", 0)) << printed;
    EXPECT_EQ(1, std::count(printed.begin(), printed.end(), '\n')) << printed;
}

} // namespace

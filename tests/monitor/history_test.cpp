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
    const std::vector<hostchange> all = {{0, false}, {1, true}, {2, false}, {3, true}, {4, false}};
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

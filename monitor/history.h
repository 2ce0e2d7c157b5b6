// SPDX-License-Identifier: GPL-3.0-or-later
// What each host did across the probe cycles of this run: when it last
// answered, since when it has been silent, and which changes are worth a
// desktop notification. Nothing here touches the window or the bus, so the
// rules can be tried cycle by cycle with times chosen by a test.
#pragma once

#include "hostlist.h"
#include "insight.h"

#include <array>
#include <ctime>
#include <span>
#include <string>
#include <vector>

struct hostchange {
    int index = 0;
    bool answers = false; // true: it answers again; false: it has gone silent
    std::string detail;   // appended to the host's part of the text
};

// A notification names this many hosts at most; the rest are counted.
inline constexpr std::size_t mostnamedchanges = 3;

class cyclehistory {
  public:
    // A host named in a notification is not named again for this many
    // seconds, however often it changes meanwhile.
    static constexpr int defaultquietseconds = 60;
    explicit cyclehistory(int quietseconds = defaultquietseconds);

    // Takes the verdicts of one cycle (1 answered, anything else did not)
    // that ended at `now`, and returns the changes to announce: hosts whose
    // verdict differs from the previous cycle's and that were not announced
    // within the quiet time. The first cycle of a run and the first after
    // clear() have no previous cycle to differ from.
    std::vector<hostchange> record(std::span<const int> verdicts, std::time_t now);

    // CLEAR: the buttons lose their verdicts, so the next cycle is compared
    // with nothing. The times that the tooltips show stay.
    void clear();

    // For tests of the whole program, which cannot wait a minute between
    // the changes they make.
    void setquietseconds(int seconds);

    // The tooltip's second line for a host: "answered 14:02:33", "silent
    // since 13:40:12", "never answered" or "not probed yet" (local time).
    std::string tooltipline(int index) const;

    // What the neighbour table and the wakes of this run add.
    hostinsight& insight() { return insight_; }
    const hostinsight& insight() const { return insight_; }

  private:
    struct host {
        bool probed = false;
        bool answered = false; // in the last cycle
        bool everanswered = false;
        std::time_t answeredat = 0;
        std::time_t silentsince = 0;
        bool announced = false;
        std::time_t announcedat = 0;
    };
    std::array<host, maxhosts> hosts_{};
    bool compared_ = false; // a previous cycle is there to compare with
    int quietseconds_;
    hostinsight insight_;
};

// This run's history, the one that the window shows and the cycle writes.
cyclehistory& runhistory();

// The text of one notification for these changes, each host by its label:
// "nas is silent", "nas is silent, printer answers again", and for more than
// three, "5 hosts changed: nas is silent, printer answers again, tv is silent
// and 2 more". A change's detail follows its host's words.
std::string changesummary(std::span<const hostchange> changes, std::span<const HostEntry> hosts);

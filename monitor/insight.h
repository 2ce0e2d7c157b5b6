// SPDX-License-Identifier: GPL-3.0-or-later
// What the neighbour table and the user's wakes add to the echo's verdict,
// host by host: a network card that answered when ping did not (a firewall
// dropping echo requests, most likely), a card that answers for a host's
// address with another hardware address than the list's (a wake to the
// list's would reach nobody), and how a wake went. It only adds words to the
// tooltips, the notifications and standard error: a button's look stays the
// echo's verdict, since an ARP answer says a card is powered, not that the
// host is at work.
#pragma once

#include "hostlist.h"
#include "neighbours.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

class hostinsight {
  public:
    // A confirmation this recent still counts as the card having answered,
    // if it came after the host last answered an echo: one from before says
    // nothing about a host that has just been switched off.
    // The system does not confirm a reachable entry again on every cycle: a
    // host that ignores ping is confirmed at least about once a minute while
    // it is probed every 20 s, and a host switched off stops being so within
    // about a minute. The tooltip gives the confirmation's own time, so a
    // wider window never claims more than the system knows.
    static constexpr long recentseconds = 90;

    // Takes one cycle's verdicts (1 answered) and the neighbour table read
    // right after it, at `now`. Hosts and verdicts are index for index.
    void observe(std::span<const HostEntry> hosts, std::span<const int> verdicts,
                 std::span<const neighbourentry> table, std::time_t now);

    // A magic packet went to this host at `now`.
    void wakesent(int index, std::time_t now);

    // The lines the host's tooltip gets beyond its address and its history.
    std::vector<std::string> tooltiplines(int index) const;

    // For standard error, once per host and run: the hosts whose address
    // another hardware address answers for, one line each.
    std::vector<std::string> takewarnings(std::span<const HostEntry> hosts);

    // Words to append to the host's part of a notification of this cycle's
    // change: how long after its wake it answered, and, once per run, the
    // hardware address that answers in its place. "" when none.
    std::string takenotificationdetail(int index);

    // True the first time only: the caller says once that the table could
    // not be read.
    bool firsttablefailure();

  private:
    struct host {
        std::time_t cardansweredat = 0; // while the echo goes unanswered
        std::time_t lastanswer = 0;     // the end of the last cycle it answered
        bool mismatch = false;
        std::array<std::uint8_t, 6> listedmac{};
        std::array<std::uint8_t, 6> seenmac{};
        bool warned = false;
        bool mismatchannounced = false;
        std::time_t wakeat = 0; // 0: no wake pending or answered
        bool wakeanswered = false;
        long wakedelay = 0;
        bool wakenews = false; // it answered its wake in the last cycle
    };
    host* find(int index);
    const host* find(int index) const;

    std::array<host, maxhosts> hosts_{};
    bool tablefailed_ = false;
};

// "14:02:33": local wall-clock time, as the user reads it on the desktop's
// clock; the tooltips give every time so.
std::string clocktime(std::time_t when);

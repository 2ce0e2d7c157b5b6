// SPDX-License-Identifier: GPL-3.0-or-later
#include "insight.h"

#include <algorithm>
#include <cstdio>

namespace {

// States in which the entry's hardware address answered for the address at
// some time. Incomplete and failed ones never did, or no longer do.
bool holdsanswer(const neighbourentry& entry) {
    switch (entry.state) {
    case neighbourstate::reachable:
    case neighbourstate::stale:
    case neighbourstate::delay:
    case neighbourstate::probe:
    case neighbourstate::permanent:
        return entry.hasmac;
    default:
        return false;
    }
}

// When the card last answered, or 0 when not recently. An entry set by hand
// says nothing about the card; where the system gives no age, only a
// reachable entry counts, as confirmed now.
std::time_t recentanswer(const neighbourentry& entry, std::time_t now) {
    if (!holdsanswer(entry) || entry.state == neighbourstate::permanent) {
        return 0;
    }
    if (entry.confirmedago >= 0) {
        return entry.confirmedago <= hostinsight::recentseconds ? now - entry.confirmedago : 0;
    }
    return entry.state == neighbourstate::reachable ? now : 0;
}

// The host's entry: of several (one per interface), the one confirmed last.
const neighbourentry* entryfor(const HostEntry& host, std::span<const neighbourentry> table) {
    const neighbourentry* best = nullptr;
    for (const neighbourentry& entry : table) {
        if (entry.ip != host.ip || !holdsanswer(entry)) {
            continue;
        }
        const auto age = [](const neighbourentry* e) {
            return e->confirmedago < 0 ? 0x7fffffffL : e->confirmedago;
        };
        if (best == nullptr || age(&entry) < age(best)) {
            best = &entry;
        }
    }
    return best;
}

} // namespace

std::string clocktime(std::time_t when) {
    char text[16] = "??:??:??";
    if (const std::tm* local = std::localtime(&when)) {
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    }
    return text;
}

hostinsight::host* hostinsight::find(int index) {
    return index >= 0 && index < maxhosts ? &hosts_[static_cast<std::size_t>(index)] : nullptr;
}

const hostinsight::host* hostinsight::find(int index) const {
    return index >= 0 && index < maxhosts ? &hosts_[static_cast<std::size_t>(index)] : nullptr;
}

void hostinsight::observe(std::span<const HostEntry> hosts, std::span<const int> verdicts,
                          std::span<const neighbourentry> table, std::time_t now) {
    const std::size_t count = std::min({hosts.size(), verdicts.size(), hosts_.size()});
    for (std::size_t i = 0; i < count; ++i) {
        host& h = hosts_[i];
        const bool answers = verdicts[i] == 1;
        const neighbourentry* entry = entryfor(hosts[i], table);
        h.cardansweredat = !answers && entry != nullptr ? recentanswer(*entry, now) : 0;
        if (h.cardansweredat <= h.lastanswer) {
            h.cardansweredat = 0;
        }
        if (answers) {
            h.lastanswer = now;
        }
        h.listedmac = hosts[i].mac;
        // A host whose entry has gone keeps what was last seen of it: the
        // list's address is no less wrong for the table having forgotten.
        if (entry != nullptr) {
            h.mismatch = entry->mac != hosts[i].mac;
            h.seenmac = entry->mac;
        }
        h.wakenews = false;
        if (h.wakeat != 0 && answers && !h.wakeanswered) {
            h.wakeanswered = true;
            h.wakedelay = static_cast<long>(std::max<std::time_t>(now - h.wakeat, 0));
            h.wakenews = true;
        } else if (h.wakeanswered && !answers) {
            h.wakeat = 0; // silent again: that wake's story is over
            h.wakeanswered = false;
        }
    }
}

void hostinsight::wakesent(int index, std::time_t now) {
    if (host* h = find(index)) {
        h->wakeat = now;
        h->wakeanswered = false;
        h->wakenews = false;
    }
}

std::vector<std::string> hostinsight::tooltiplines(int index) const {
    std::vector<std::string> lines;
    const host* h = find(index);
    if (h == nullptr) {
        return lines;
    }
    if (h->cardansweredat != 0) {
        lines.push_back("its network card answered " + clocktime(h->cardansweredat) +
                        ", ping did not: a firewall?");
    }
    if (h->mismatch) {
        lines.push_back(hardwareaddresstext(h->seenmac) + " answers for it; a wake goes to " +
                        hardwareaddresstext(h->listedmac) + " (the list's)");
    }
    if (h->wakeanswered) {
        lines.push_back("answers again, " + std::to_string(h->wakedelay) + " s after its wake");
    } else if (h->wakeat != 0) {
        lines.push_back("wake sent " + clocktime(h->wakeat));
    }
    return lines;
}

std::vector<std::string> hostinsight::takewarnings(std::span<const HostEntry> hosts) {
    std::vector<std::string> lines;
    const std::size_t count = std::min(hosts.size(), hosts_.size());
    for (std::size_t i = 0; i < count; ++i) {
        host& h = hosts_[i];
        if (!h.mismatch || h.warned) {
            continue;
        }
        h.warned = true;
        lines.push_back("quorvel: " + std::string(hosts[i].hostname) + " (" +
                        addresstext(hosts[i].ip) + "): " + hardwareaddresstext(h.seenmac) +
                        " answers for its address, but the host list says " +
                        hardwareaddresstext(h.listedmac) + "; a wake goes to the list's");
    }
    return lines;
}

std::string hostinsight::takenotificationdetail(int index) {
    host* h = find(index);
    if (h == nullptr) {
        return {};
    }
    std::string detail;
    if (h->wakenews) {
        h->wakenews = false;
        detail += ", " + std::to_string(h->wakedelay) + " s after its wake";
    }
    if (h->mismatch && !h->mismatchannounced) {
        h->mismatchannounced = true;
        detail += " (" + hardwareaddresstext(h->seenmac) + " answers for it, not the list's " +
                  hardwareaddresstext(h->listedmac) + ")";
    }
    return detail;
}

bool hostinsight::firsttablefailure() {
    const bool first = !tablefailed_;
    tablefailed_ = true;
    return first;
}

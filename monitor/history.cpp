// SPDX-License-Identifier: GPL-3.0-or-later
#include "history.h"

#include <algorithm>
#include <cstdio>

cyclehistory::cyclehistory(int quietseconds) : quietseconds_(std::max(quietseconds, 0)) {}

std::vector<hostchange> cyclehistory::record(std::span<const int> verdicts, std::time_t now) {
    std::vector<hostchange> changes;
    const std::size_t count = std::min(verdicts.size(), hosts_.size());
    for (std::size_t i = 0; i < count; ++i) {
        host& h = hosts_[i];
        const bool answers = verdicts[i] == 1;
        const bool changed = h.probed && answers != h.answered;
        if (answers) {
            h.answeredat = now;
            h.everanswered = true;
        } else if (!h.probed || h.answered) {
            h.silentsince = now;
        }
        // A change is announced unless the host was announced within the
        // quiet time: one that flaps would otherwise fill the desktop.
        if (compared_ && changed &&
            (!h.announced || now - h.announcedat >= static_cast<std::time_t>(quietseconds_))) {
            changes.push_back({static_cast<int>(i), answers, {}});
            h.announced = true;
            h.announcedat = now;
        }
        h.probed = true;
        h.answered = answers;
    }
    compared_ = true;
    return changes;
}

void cyclehistory::setquietseconds(int seconds) {
    quietseconds_ = std::max(seconds, 0);
}

cyclehistory& runhistory() {
    static cyclehistory history;
    return history;
}

void cyclehistory::clear() {
    compared_ = false;
}

std::string cyclehistory::tooltipline(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= hosts_.size()) {
        return {};
    }
    const host& h = hosts_[static_cast<std::size_t>(index)];
    if (!h.probed) {
        return "not probed yet";
    }
    if (h.answered) {
        return "answered " + clocktime(h.answeredat);
    }
    if (h.everanswered) {
        return "silent since " + clocktime(h.silentsince);
    }
    return "never answered";
}

std::string changesummary(std::span<const hostchange> changes, std::span<const HostEntry> hosts) {
    std::string text;
    if (changes.size() > mostnamedchanges) {
        text = std::to_string(changes.size()) + " hosts changed: ";
    }
    const std::size_t named = std::min(changes.size(), mostnamedchanges);
    for (std::size_t k = 0; k < named; ++k) {
        const hostchange& change = changes[k];
        if (k > 0) {
            text += ", ";
        }
        const bool known =
            change.index >= 0 && static_cast<std::size_t>(change.index) < hosts.size();
        text += known ? hosts[static_cast<std::size_t>(change.index)].hostname : "?";
        text += change.answers ? " answers again" : " is silent";
        text += change.detail;
    }
    if (changes.size() > mostnamedchanges) {
        text += " and " + std::to_string(changes.size() - mostnamedchanges) + " more";
    }
    return text;
}

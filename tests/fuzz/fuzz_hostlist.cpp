// SPDX-License-Identifier: GPL-3.0-or-later
// The host list reader on whole files of any bytes.
#include "fuzzcheck.h"
#include "hostlist.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

namespace {

void cleartable() {
    for (HostEntry& row : dolist) {
        row = HostEntry{};
    }
    hostnum = 0;
}

// A row as the window and the probe cycle rely on it: a label of 1 to 7
// bytes without blanks, cut ones ending in a dot, taken from the file; status
// untouched.
void checkrow(const HostEntry& row, std::string_view file) {
    const std::size_t length = strnlen(row.hostname, sizeof row.hostname);
    FUZZCHECK(length >= 1 && length <= 7);
    const std::string_view label(row.hostname, length);
    FUZZCHECK(label.find_first_of(" \t") == std::string_view::npos);
    const std::string_view kept = length == 7 ? label.substr(0, 6) : label;
    FUZZCHECK(length < 7 || label[6] == '.');
    FUZZCHECK(file.find(kept) != std::string_view::npos);
    FUZZCHECK(row.status == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    cleartable();
    std::istringstream in(file);
    FUZZCHECK(readlistfrom(in) == 1);
    FUZZCHECK(hostnum >= 0 && hostnum <= maxhosts);
    for (int i = 0; i < hostnum; ++i) {
        checkrow(dolist[i], file);
    }
    // Reading is repeatable: the same bytes give the same table.
    static HostEntry first[maxhosts];
    const int firstcount = hostnum;
    std::copy_n(dolist, maxhosts, first);
    cleartable();
    std::istringstream again(file);
    readlistfrom(again);
    FUZZCHECK(hostnum == firstcount);
    for (int i = 0; i < hostnum; ++i) {
        FUZZCHECK(std::strcmp(first[i].hostname, dolist[i].hostname) == 0);
        FUZZCHECK(first[i].ip == dolist[i].ip && first[i].mac == dolist[i].mac);
    }
    // The whole input taken as one line never reads past its end either.
    HostEntry row{};
    parsehostline(file, row);
    FUZZCHECK(row.hostname[sizeof row.hostname - 1] == '\0');
    return 0;
}

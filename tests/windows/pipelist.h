// SPDX-License-Identifier: GPL-3.0-or-later
// What every local user can learn of the pipes that exist: their names, and
// with them the secrets in quorvel's names. Windows lists the pipes under
// \\.\pipe\; Wine lists none (FindFirstFileA fails there with
// ERROR_BAD_DEV_TYPE), so a test hands its attacker what a listing would
// show: the secrets, one a line, in a file that it names to the attacker.
#pragma once

#include <windows.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

inline bool pipelistsecret(std::string_view text) {
    if (text.size() != 32) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// The secrets of the quorvel pipes listed now ("quorvel-SECRET-NAME"), then
// those in the file `handed` (none when it is nullptr or cannot be read).
inline std::vector<std::string> pipelistsecrets(const char* handed) {
    std::vector<std::string> secrets;
    WIN32_FIND_DATAA entry{};
    const HANDLE listing = FindFirstFileA("\\\\.\\pipe\\*", &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            const std::string_view name = entry.cFileName;
            constexpr std::string_view prefix = "quorvel-";
            if (name.starts_with(prefix) && name.size() > prefix.size() + 33 &&
                pipelistsecret(name.substr(prefix.size(), 32))) {
                secrets.emplace_back(name.substr(prefix.size(), 32));
            }
        } while (FindNextFileA(listing, &entry) != FALSE);
        FindClose(listing);
    }
    if (handed != nullptr) {
        std::ifstream file(handed);
        for (std::string line; std::getline(file, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (pipelistsecret(line)) {
                secrets.push_back(line);
            }
        }
    }
    return secrets;
}

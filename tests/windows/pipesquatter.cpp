// SPDX-License-Identifier: GPL-3.0-or-later
// A local user's program that takes quorvel's pipe names before the monitor
// makes them:
//
//   pipesquatter LISTFILE ACKFILE [one]
//
// It watches the pipe list and the file LISTFILE (pipelist.h: where Wine
// lists no pipes, its test hands it there what a listing would show) and,
// for every quorvel secret it sees, creates the pipe of every index 0 to 31
// with that secret whose name is still free, and holds it: with room for any
// number of instances (which Wine lets a later FILE_FLAG_FIRST_PIPE_INSTANCE
// join), or with "one" a single instance. A cycle makes its pipes in index
// order, so the later indices are the ones that matter; the others cost
// nothing to take. It appends each secret it has dealt with to ACKFILE, one
// a line, and ends after 60 s at the latest.
#include "pipelist.h"
#include "pipepath.h"
#include "protocol.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pipesquatter LISTFILE ACKFILE [one]\n");
        return 2;
    }
    const DWORD instances =
        argc > 3 && std::string(argv[3]) == "one" ? 1 : PIPE_UNLIMITED_INSTANCES;
    std::set<std::string> dealt;
    std::vector<HANDLE> held;
    const ULONGLONG until = GetTickCount64() + 60000;
    while (GetTickCount64() < until) {
        for (const std::string& secret : pipelistsecrets(argv[1])) {
            if (!dealt.insert(secret).second) {
                continue;
            }
            for (int index = 0; index < 32; ++index) {
                char name[protocoltextsize];
                formatpipename(index, name);
                std::array<char, protocoltextsize> full{};
                if (!pipefullname(secret.c_str(), name, full)) {
                    continue;
                }
                const HANDLE pipe =
                    CreateNamedPipeA(full.data(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, instances,
                                     512, 512, 0, nullptr);
                if (pipe != INVALID_HANDLE_VALUE) {
                    held.push_back(pipe);
                }
            }
            if (std::FILE* ack = std::fopen(argv[2], "a")) {
                std::fprintf(ack, "%s\n", secret.c_str());
                std::fclose(ack);
            }
        }
        Sleep(1);
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The result pipe on Windows is a named pipe that the monitor created; the
// probe opens it with CreateFileA and writes its word with WriteFile.
//
// Pipe names are seen by every local user, so a name formed from "-i" alone
// could be created first, opened or flooded by anyone. Each of the monitor's
// names therefore holds a secret of 128 random bits of its own, which reaches
// that pipe's probe alone in its environment, QUORVEL_PIPES, never on a
// command line; the name rule is the protocol's (pipepath.h). A probe started
// by hand has no such variable, and one whose pipe could not be made is told
// an empty one: it finds no pipe and ends with exit code 1.
//
// The probe trusts the other end only when it is its own parent
// (GetNamedPipeServerProcessId): whoever else set the variable or made a pipe
// of that name hears nothing. The server may only identify the probe, never
// act in its name (SECURITY_IDENTIFICATION). Bytes written before the monitor
// reads stay in the pipe even after the probe has ended.
#include "parentprocess_win32.h"
#include "pipepath.h"
#include "resultpipe.h"

#include <windows.h>

#include <array>
#include <cstdlib>

namespace {

HANDLE handleof(pipehandle pipe) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(pipe);
}

} // namespace

pipehandle pipeclientopen(const char* pipename, int waitmsec) {
    std::array<char, 256> full{};
    if (!pipefullname(std::getenv(pipeenvironmentname), pipename, full)) {
        return invalidpipehandle;
    }
    const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(waitmsec > 0 ? waitmsec : 0);
    for (;;) {
        const HANDLE pipe =
            CreateFileA(full.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            ULONG server = 0;
            const unsigned long parent = parentprocessid();
            if (GetNamedPipeServerProcessId(pipe, &server) == FALSE || parent == 0 ||
                server != parent) {
                CloseHandle(pipe);
                return invalidpipehandle;
            }
            return reinterpret_cast<pipehandle>(pipe);
        }
        // Busy: another process holds the pipe's one instance until the
        // monitor refuses it. Anything else (no such pipe) fails at once.
        const ULONGLONG now = GetTickCount64();
        if (GetLastError() != ERROR_PIPE_BUSY || now >= until) {
            return invalidpipehandle;
        }
        // WaitNamedPipe returns at once for a name that has gone, so the loop
        // ends with the next CreateFileA.
        const auto left = static_cast<DWORD>(until - now);
        if (WaitNamedPipeA(full.data(), left) == FALSE && GetLastError() != ERROR_SEM_TIMEOUT) {
            Sleep(1);
        }
    }
}

long pipeclientwrite(pipehandle pipe, const void* bytes, std::size_t count) {
    DWORD written = 0;
    if (WriteFile(handleof(pipe), bytes, static_cast<DWORD>(count), &written, nullptr) == FALSE) {
        return -1;
    }
    return static_cast<long>(written);
}

bool pipeclientclose(pipehandle pipe) {
    return CloseHandle(handleof(pipe)) != FALSE;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The result pipe on Windows is a named pipe of one instance, in byte mode.
//
// Why these settings: pipe names are seen by every local user, and the first
// to create a name owns it. Each pipe therefore holds a secret of 128 random
// bits (BCryptGenRandom) of its own in its name, drawn when the pipe is
// made, and passed to its probe alone in the probe's environment
// (pipeserverenvironment), never on a command line; the name rule is the
// protocol's (pipepath.h). Whoever lists the pipes learns the secrets of
// the pipes that exist, and nothing of the names still to come: no pipe of a
// cycle can be taken before the monitor makes it. FILE_FLAG_FIRST_PIPE_INSTANCE
// makes the creation fail rather than join a pipe that someone made first
// (Wine joins all the same: the pipe's count of instances tells); such a name
// is drawn anew a few times, and then the host goes without a verdict rather
// than the whole cycle. The security descriptor lets only this user open a
// pipe, and PIPE_REJECT_REMOTE_CLIENTS keeps other machines out. Within the
// user, GetNamedPipeClientProcessId tells who connected, and only the probe
// started for a host is heard (pipeacceptable): any other client is
// disconnected unread, and the pipe listens again. With one instance, a
// connected client keeps every other out until the monitor refuses it.
//
// The connect is overlapped, so that the wait for a probe that has not opened
// its pipe yet can also end with the probe or at the cycle's deadline. Bytes
// written before the monitor reads stay in the pipe after the probe has ended.
#include "pipeserver_win32.h"

#include "pipeaccept.h"
#include "pipepath.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace {

// The most pipes one guard watches: a cycle's (and within what one wait takes).
constexpr std::size_t guardedpipes = 32;

// The identity that pipeacceptable compares: the security descriptor lets
// only this user open a pipe, so every client that got in is this user.
constexpr long thisuser = 0;

// Where the secrets come from: the system's random generator, unless a test
// has put a source of its own in its place.
pipesecretdraw drawsecret = pipeserverrandomsecret;

// One pipe: its handle, the event of its overlapped connect, and what its
// probe is told. A pipe whose name could not be had has no handle: it never
// listens, and its probe is told a secret that names nothing.
struct pipestate {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    bool listening = false; // a connect is pending or has completed unread
    bool broken = false;
    std::string secret;
    std::string environment;
};

pipestate* stateof(pipehandle pipe) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<pipestate*>(pipe);
}

HANDLE handleof(pipehandle connection) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(connection);
}

// Whether the error of a failed creation says that the name exists already:
// ERROR_ACCESS_DENIED for FILE_FLAG_FIRST_PIPE_INSTANCE, ERROR_PIPE_BUSY for
// a name whose instances are all made.
bool nametaken(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
}

// Whether the pipe just made is the only instance of its name. Wine lets
// FILE_FLAG_FIRST_PIPE_INSTANCE join a pipe that someone else made with room
// for more instances; a client could then reach the stranger's instance.
bool alone(HANDLE pipe) {
    DWORD instances = 0;
    return GetNamedPipeHandleStateA(pipe, nullptr, &instances, nullptr, nullptr, nullptr, 0) !=
               FALSE &&
           instances == 1;
}

// A descriptor whose access list lets the user of this process in, and no
// one else. Its parts live as long as the descriptor.
class owneronly {
  public:
    owneronly() {
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) {
            return;
        }
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool known =
            size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size) != FALSE;
        CloseHandle(token);
        if (!known) {
            return;
        }
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        ready_ =
            InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) != FALSE &&
            AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) != FALSE &&
            InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) != FALSE &&
            SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) != FALSE;
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    owneronly(const owneronly&) = delete;
    owneronly& operator=(const owneronly&) = delete;
    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

  private:
    std::vector<unsigned char> user_;
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

// Starts an overlapped connect. A client that connected between the pipe's
// creation (or the last disconnect) and this call completes it at once.
void listen(pipestate& state) {
    state.overlapped = OVERLAPPED{};
    state.overlapped.hEvent = state.event;
    ResetEvent(state.event);
    if (ConnectNamedPipe(state.pipe, &state.overlapped) != FALSE) {
        state.listening = true;
        SetEvent(state.event);
        return;
    }
    switch (GetLastError()) {
    case ERROR_IO_PENDING:
        state.listening = true;
        break;
    case ERROR_PIPE_CONNECTED:
        state.listening = true;
        SetEvent(state.event);
        break;
    default:
        state.listening = false;
        state.broken = true;
        break;
    }
}

bool connected(pipestate& state) {
    if (!state.listening || WaitForSingleObject(state.event, 0) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD ignored = 0;
    if (GetOverlappedResult(state.pipe, &state.overlapped, &ignored, FALSE) == FALSE &&
        GetLastError() != ERROR_PIPE_CONNECTED) {
        // A client that came and went before the connect was looked at; the
        // pipe listens again.
        DisconnectNamedPipe(state.pipe);
        listen(state);
        return false;
    }
    return true;
}

// When a client has connected: the connection for a host whose probe is
// `probepid` when pipeacceptable takes it, else the client is refused and the
// pipe listens again. invalidpipehandle when none is taken.
pipehandle takeclient(pipestate& state, long probepid, bool taken) {
    if (!connected(state)) {
        return invalidpipehandle;
    }
    state.listening = false;
    ULONG client = 0;
    const bool known = GetNamedPipeClientProcessId(state.pipe, &client) != FALSE;
    if (known && pipeacceptable({static_cast<long>(client), thisuser}, probepid, thisuser, taken)) {
        HANDLE connection = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), state.pipe, GetCurrentProcess(), &connection, 0,
                            FALSE, DUPLICATE_SAME_ACCESS) != FALSE) {
            return reinterpret_cast<pipehandle>(connection);
        }
    }
    DisconnectNamedPipe(state.pipe);
    listen(state);
    return invalidpipehandle;
}

// Ends a pending connect before its pipe goes, so that nothing completes into
// a released OVERLAPPED.
void stoplistening(pipestate& state) {
    if (state.listening && WaitForSingleObject(state.event, 0) != WAIT_OBJECT_0) {
        CancelIoEx(state.pipe, &state.overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(state.pipe, &state.overlapped, &ignored, TRUE);
    }
    state.listening = false;
}

} // namespace

bool pipeserverrandomsecret(std::array<char, pipesecretlength + 1>& secret) {
    std::array<unsigned char, pipesecretlength / 2> bytes{};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return false;
    }
    constexpr char digits[] = "0123456789abcdef";
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        secret[2 * k] = digits[bytes[k] >> 4];
        secret[2 * k + 1] = digits[bytes[k] & 0xf];
    }
    secret[pipesecretlength] = '\0';
    return true;
}

void pipeserversetsecretdraw(pipesecretdraw draw) {
    drawsecret = draw != nullptr ? draw : pipeserverrandomsecret;
}

const char* pipeserversecret(pipehandle pipe) {
    if (pipe == invalidpipehandle || stateof(pipe)->secret.empty()) {
        return nullptr;
    }
    return stateof(pipe)->secret.c_str();
}

const char* pipeserverenvironment(pipehandle pipe) {
    return pipe != invalidpipehandle ? stateof(pipe)->environment.c_str() : nullptr;
}

pipehandle pipeservercreate(const char* pipename) {
    owneronly security;
    if (security.attributes() == nullptr) {
        return invalidpipehandle;
    }
    auto state = std::make_unique<pipestate>();
    for (int attempt = 0; attempt < pipecreateattempts; ++attempt) {
        std::array<char, pipesecretlength + 1> secret{};
        std::array<char, protocoltextsize> full{};
        if (!drawsecret(secret) || !pipefullname(secret.data(), pipename, full)) {
            return invalidpipehandle;
        }
        const HANDLE pipe = CreateNamedPipeA(
            full.data(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 512,
            512, 0, security.attributes());
        if (pipe == INVALID_HANDLE_VALUE) {
            if (nametaken(GetLastError())) {
                continue;
            }
            return invalidpipehandle;
        }
        if (!alone(pipe)) {
            CloseHandle(pipe);
            continue;
        }
        state->pipe = pipe;
        state->secret = secret.data();
        break;
    }
    state->event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (state->event == nullptr) {
        if (state->pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(state->pipe);
        }
        return invalidpipehandle;
    }
    // An empty secret is no secret at all to the probe: it finds no pipe,
    // whatever name anyone holds, and ends with exit code 1.
    state->environment = std::string(pipeenvironmentname) + "=" + state->secret;
    if (state->pipe != INVALID_HANDLE_VALUE) {
        listen(*state);
    }
    return reinterpret_cast<pipehandle>(state.release());
}

void pipeserverclose(pipehandle pipe) {
    if (pipe == invalidpipehandle) {
        return;
    }
    pipestate* state = stateof(pipe);
    stoplistening(*state);
    if (state->pipe != INVALID_HANDLE_VALUE) {
        DisconnectNamedPipe(state->pipe);
        CloseHandle(state->pipe);
    }
    CloseHandle(state->event);
    delete state;
}

pipehandle pipeserverawaitclient(pipehandle pipe, const childprocess& client, deadline until) {
    if (pipe == invalidpipehandle || client.empty()) {
        return invalidpipehandle;
    }
    pipestate& state = *stateof(pipe);
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    const auto process = reinterpret_cast<HANDLE>(client.waitable());
    for (;;) {
        // The probe's end is looked at before the pipe: a probe that has
        // connected, written and ended by now is then still heard.
        const bool ended = processended(client);
        const pipehandle connection = takeclient(state, client.id(), false);
        if (connection != invalidpipehandle) {
            return connection;
        }
        const int left = msecuntil(until);
        if (ended || state.broken || !state.listening || left == 0) {
            return invalidpipehandle;
        }
        const std::array<HANDLE, 2> events{state.event, process};
        WaitForMultipleObjects(2, events.data(), FALSE, static_cast<DWORD>(left));
    }
}

long pipeserverread(pipehandle connection, void* bytes, std::size_t count, deadline until) {
    if (connection == invalidpipehandle) {
        return 0;
    }
    const HANDLE pipe = handleof(connection);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return 0;
    }
    DWORD received = 0;
    const auto most = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
    bool done = ReadFile(pipe, bytes, most, &received, &overlapped) != FALSE;
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(msecuntil(until))) !=
            WAIT_OBJECT_0) {
            CancelIoEx(pipe, &overlapped);
        }
        // Waits for the cancelled read too: its OVERLAPPED lives on this stack.
        done = GetOverlappedResult(pipe, &overlapped, &received, TRUE) != FALSE;
    }
    CloseHandle(overlapped.hEvent);
    return done ? static_cast<long>(received) : 0;
}

void pipeserverdisconnect(pipehandle connection) {
    if (connection != invalidpipehandle) {
        DisconnectNamedPipe(handleof(connection));
        CloseHandle(handleof(connection));
    }
}

void pipeserverguard(std::span<const pipeslot> pipes, std::span<const childprocess> clients,
                     std::span<pipeconnection> taken, deadline until) {
    const std::size_t count = std::min({pipes.size(), clients.size(), taken.size(), guardedpipes});
    for (int left = msecuntil(until); left > 0; left = msecuntil(until)) {
        std::array<HANDLE, guardedpipes> events{};
        DWORD watched = 0;
        for (std::size_t k = 0; k < count; ++k) {
            if (pipes[k].get() == invalidpipehandle) {
                continue;
            }
            pipestate& state = *stateof(pipes[k].get());
            const pipehandle connection =
                takeclient(state, clients[k].id(), taken[k].get() != invalidpipehandle);
            if (connection != invalidpipehandle) {
                taken[k].reset(connection);
            }
            if (state.listening) {
                events[watched++] = state.event;
            }
        }
        if (watched == 0) {
            processsleepuntil(until);
            return;
        }
        WaitForMultipleObjects(watched, events.data(), FALSE, static_cast<DWORD>(left));
    }
}

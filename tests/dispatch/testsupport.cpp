#include "testsupport.h"

#include "multiprcfuncwin.h"
#include "pipeserver_linux.h"

#include <array>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

std::string standin(int index, std::string_view behaviour) {
    return "dispatchstandin.exe -i " + std::to_string(index) + " " + std::string(behaviour);
}

std::string capturestdout(const std::function<void()>& run) {
    std::fflush(stdout);
    const int saved = dup(1);
    const int sink = memfd_create("trace", MFD_CLOEXEC);
    dup2(sink, 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    char chunk[4096];
    lseek(sink, 0, SEEK_SET);
    for (ssize_t n; (n = read(sink, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(sink);
    return text;
}

cycleoutcome runcycle(const std::vector<std::string>& commandlines, int pause, int count) {
    std::vector<std::array<char, 256>> slots(std::max<std::size_t>(commandlines.size(), 1));
    for (std::size_t i = 0; i < commandlines.size(); ++i) {
        std::snprintf(slots[i].data(), 256, "%s", commandlines[i].c_str());
    }
    cycleoutcome outcome;
    outcome.results.assign(commandlines.size() + 1, 7);
    const auto* lines = reinterpret_cast<const char(*)[256]>(slots.data());
    const std::string raw = capturestdout(
        [&] { outcome.returned = multiprcfuncwin(lines, pause, count, outcome.results.data()); });
    outcome.results.pop_back();
    for (std::size_t i = 0; i < commandlines.size(); ++i) {
        outcome.exitcodes.push_back(multiprclastexitcode(static_cast<int>(i)));
    }
    const std::regex pid("child processId=([0-9]+)\n");
    for (std::sregex_iterator m(raw.begin(), raw.end(), pid), end; m != end; ++m) {
        outcome.pids.push_back(std::stol((*m)[1]));
    }
    outcome.trace = std::regex_replace(raw, pid, "child processId=<pid>\n");
    return outcome;
}

int countdescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n - 1; // the iterator's own descriptor
}

int countchildren() {
    int n = 0;
    const std::string me = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...: comm may hold spaces, so start after ')'.
        const auto close = line.rfind(')');
        char state = 0;
        long ppid = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 &&
            std::to_string(ppid) == me) {
            ++n;
        }
    }
    return n;
}

bool processexists(long pid) {
    return std::filesystem::exists("/proc/" + std::to_string(pid));
}

tempdir::tempdir() {
    char pattern[] = "/tmp/quorvel-dispatch-XXXXXX";
    path_ = mkdtemp(pattern) != nullptr ? pattern : "";
}

tempdir::~tempdir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string tempdir::file(std::string_view name, std::string_view content, unsigned mode) const {
    std::string path = path_ + "/" + std::string(name);
    std::ofstream(path) << content;
    chmod(path.c_str(), mode);
    return path;
}

long startforger(int index, std::string_view word) {
    char name[256];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\mypipe%d", index);
    sockaddr_un address;
    const char* directory = pipeserverdirectory();
    const socklen_t length =
        directory != nullptr ? pipeserveraddress(directory, name, &address) : 0;
    const std::string bytes(word);
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    for (int attempt = 0; attempt < 3000; ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            // The monitor may refuse the stranger before its word is sent;
            // either way the forger did get through to the pipe.
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            close(fd);
            _exit(0);
        }
        close(fd);
        usleep(1000);
    }
    _exit(1);
}

int forgerexitcode(long pid) {
    int status = 0;
    if (waitpid(static_cast<pid_t>(pid), &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

pinnedpipes::pinnedpipes() : pipe_(pipeservercreate("\\\\.\\pipe\\mypipe31")) {}

pinnedpipes::~pinnedpipes() {
    pipeserverclose(pipe_);
}

std::string pinnedpipes::directory() const {
    const char* directory = pipeserverdirectory();
    return directory != nullptr ? directory : "";
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The helpers that work alike on every platform; the rest are in the
// testsupport file of the platform.
#include "testsupport.h"

#include "multiprcfuncwin.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

std::string standin(int index, std::string_view behaviour) {
    return "dispatchstandin.exe -i " + std::to_string(index) + " " + std::string(behaviour);
}

std::string capturestdout(const std::function<void()>& run) {
    std::fflush(stdout);
    const int saved = dup(1);
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "no temporary file for the trace";
        run();
        return {};
    }
    const int sink = fileno(file);
    dup2(sink, 1);
    run();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    char chunk[4096];
    lseek(sink, 0, SEEK_SET);
    for (long n; (n = read(sink, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    std::fclose(file);
    // A Windows program's standard output ends its lines with CR LF; the
    // trace is compared by its lines.
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) {
        text.erase(at, 1);
    }
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

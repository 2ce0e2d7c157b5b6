// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target once over every file of the corpus directories (or the
// files) given, without libFuzzer: so that every build, whatever its
// compiler, tries the seeds and every input that ever made a target fail.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs(const char* where) {
    std::vector<std::filesystem::path> found;
    if (!std::filesystem::is_directory(where)) {
        found.emplace_back(where);
        return found;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(where)) {
        if (entry.is_regular_file()) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

int main(int argc, char** argv) {
    int count = 0;
    for (int k = 1; k < argc; ++k) {
        for (const auto& path : inputs(argv[k])) {
            std::ifstream file(path, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
            std::fprintf(stderr, "%s\n", path.string().c_str());
            // As libFuzzer does, an empty input still comes at a valid address.
            static const std::uint8_t none = 0;
            LLVMFuzzerTestOneInput(
                bytes.empty() ? &none : reinterpret_cast<const std::uint8_t*>(bytes.data()),
                bytes.size());
            ++count;
        }
    }
    std::printf("replayed %d inputs\n", count);
    // An empty corpus would let this test pass while trying nothing.
    return count > 0 ? 0 : 1;
}

#include "pipeverdict.h"

#include <cstring>

int pipeverdict(char (&text)[pipereadsize + 1], long received) {
    if (received < 0 || received > static_cast<long>(pipereadsize)) {
        received = 0;
    }
    text[received] = '\0';
    // The word's terminating zero is compared too: six bytes in all.
    constexpr char alive[] = "alive";
    return std::memcmp(text, alive, sizeof alive) == 0 ? 1 : 0;
}

// The name that the monitor gives result pipe `index` and that the probe
// opens; pipename_test holds the two programs' own copies of this rule
// together, the other tests take it from here.
#pragma once

#include <string>

inline std::string resultpipename(int index) {
    return "\\\\.\\pipe\\mypipe" + std::to_string(index);
}

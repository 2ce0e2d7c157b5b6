#include "trace.h"

#include <cstdio>

void linebufferedtrace() {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

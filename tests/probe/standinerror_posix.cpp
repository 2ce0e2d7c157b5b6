#include "standinerror.h"

#include <cerrno>

void standinseterror(long code) {
    errno = static_cast<int>(code);
}

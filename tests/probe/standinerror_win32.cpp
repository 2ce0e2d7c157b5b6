#include "standinerror.h"

#include <windows.h>

void standinseterror(long code) {
    SetLastError(static_cast<DWORD>(code));
}

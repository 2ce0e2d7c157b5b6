// SPDX-License-Identifier: GPL-3.0-or-later
// Where the stand-in echo library leaves its error code: where zendrik's
// lasterror() reads it on the platform, errno on Linux and the thread's last
// error on Windows, as the real library of each platform does.
#pragma once

void standinseterror(long code);

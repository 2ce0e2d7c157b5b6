// SPDX-License-Identifier: GPL-3.0-or-later
// The probe's parent on Windows, which the result pipe and the parent watch
// both need to know.
#pragma once

// The process id of the process that started this one, or 0 when it cannot
// be found.
unsigned long parentprocessid();

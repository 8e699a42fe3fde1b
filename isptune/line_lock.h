// SPDX-License-Identifier: MIT
// Exclusive use of the module's serial line between processes: an flock on
// the device node, which the kernel drops however the holder ends, so a
// killed run never leaves the line locked.
#pragma once

#include <sys/types.h>

// Opens `path` without touching the line's settings or its pending input and
// takes it for this process, waiting at most `wait_ms` for another holder to
// let it go. The descriptor to keep for the run, or -1 with errno: EBUSY
// when the line stayed taken, else why the node cannot be opened.
int lineTake(const char* path, int wait_ms);
// The process that holds `path` now, where the kernel's lock table tells;
// 0 when it does not.
pid_t lineHolder(const char* path);
// Lets the next user have the line.
void lineGive(int fd);

// SPDX-License-Identifier: MIT
// vshare -passwd USER: sets one login's password from a line of input.
#pragma once

// Reads the password, one line, from `input_fd` (with the echo off and a
// prompt when that is a terminal) and sets it for `user` in `users_path`.
// The exit status: 0, or 1 after a message on standard error.
int run_passwd(const char* users_path, const char* user, int input_fd);

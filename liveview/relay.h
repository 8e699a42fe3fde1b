// SPDX-License-Identifier: MIT
// vshare -relay: what a CGI script execs. It sends the request line to the
// server and copies the server's whole response to standard output; HEAD
// gets the head alone, other methods 405, and neither asks for frames.
#pragma once

#include "vshare_options.h"

// Returns the exit status: 0 when the response was copied to its end (or
// the reader went away, or only a head or a refusal was asked for), 1 when
// no server could be reached or the reader took nothing for the drop time.
int run_relay(const vshare_options& options);

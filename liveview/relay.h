// vshare -relay: what a CGI script execs. It sends the request line to the
// server and copies the server's whole response to standard output.
#pragma once

#include "vshare_options.h"

// Returns the exit status: 0 when the response was copied to its end (or
// the reader went away), 1 when no server could be reached.
int run_relay(const vshare_options& options);

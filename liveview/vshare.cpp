// SPDX-License-Identifier: MIT
// vshare: one capture, many viewers. The server runs vcapture as its
// buffer hand-off peer and serves every viewer from the mapped capture
// buffers; the relay is what a CGI script runs to reach it; -passwd sets a
// login.
#include <error.h>

#include <unistd.h>

#include "passwd_command.h"
#include "relay.h"
#include "server.h"
#include "vshare_options.h"

int main(int argc, char* argv[]) {
    vshare_options options;
    switch (parse_vshare_options(argc, argv, &options)) {
        case parse_outcome::help:
            print_vshare_usage(argv[0]);
            return 0;
        case parse_outcome::refused:
            return 1;
        case parse_outcome::run:
            break;
    }
    if (options.mode == vshare_mode::relay) {
        return run_relay(options);
    }
    if (options.mode == vshare_mode::passwd) {
        return run_passwd(options.users, options.passwd_user, STDIN_FILENO);
    }
    vshare_server server(options);
    return server.run();
}

// SPDX-License-Identifier: MIT
// vshare's HTTP listeners: an address of its own (-listen [ADDR]:PORT) or
// the sockets systemd passes on (socket activation), and the words for
// the addresses of both ends.
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

#include "unique_fd.h"

// "[ADDR]:PORT": an IPv4 address, an IPv6 one in brackets, or none (every
// IPv4 address); the port 0 to 65535. False when the text is none of these.
bool parse_listen_address(const char* text, sockaddr_storage* address, socklen_t* length);

// Listens on `text` (parsed as above), non-blocking, with a backlog that
// takes many viewers connecting at once. Invalid (reported) on failure.
unique_fd listen_tcp(const char* text);

// The listening sockets systemd passed to this process (none when it was
// not socket-activated), non-blocking and closed on exec; the variables
// that passed them are removed so that vcapture does not see them.
std::vector<unique_fd> take_activated_sockets();

// "127.0.0.1:8080", "[::1]:8080"; "local" for anything else.
std::string describe_address(const sockaddr_storage& address);
// The address alone, without the port: what a client is known by.
std::string describe_host(const sockaddr_storage& address);

// The local address of a socket, described.
std::string describe_local(int fd);

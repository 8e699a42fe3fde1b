# SPDX-License-Identifier: MIT
"""A site on this machine's loopback, seen as a plain HTTP/1.0 client sees
it: whether it accepts connections, and one whole response."""

import socket


def accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def get(port, path, timeout=60, request=None):
    """One whole response: status line, head fields (as sent) and body; to a
    plain HTTP/1.0 GET of `path`, or to `request` as given."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request or f"GET {path} HTTP/1.0\r\n\r\n".encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    status, *fields = head.decode().split("\r\n")
    return status, dict(f.split(": ", 1) for f in fields), body


def free_port():
    """A loopback port free at the moment of asking."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

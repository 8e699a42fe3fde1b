// SPDX-License-Identifier: MIT
// cssl: a small serial-port library. It opens and configures tty devices
// with termios, keeps the open ports in a list, reads and writes them, and
// for ports opened with a receive callback delivers input on a real-time
// signal. All errors go to one process-wide error code with a fixed message
// table.
#pragma once

#include <termios.h>

using cssl_callback = int (*)(int id, unsigned char* buffer, int count);

struct cssl_port {
    unsigned char buffer[256];  // filled by the receive handler
    int fd;
    termios settings;        // what this library applies
    termios saved_settings;  // the device's settings when it was opened
    cssl_callback callback;  // none: blocking mode
    int id;                  // passed back to the callback
    cssl_port* next;
};

enum cssl_error {
    CSSL_OK = 0,
    CSSL_NO_FREE_SIGNAL = 1,
    CSSL_NOT_STARTED = 2,
    CSSL_NULL_POINTER = 3,
    CSSL_OOPS = 4,
    CSSL_OUT_OF_MEMORY = 5,
    CSSL_CANNOT_OPEN = 6,
};

// Claims the first free real-time signal for the receive handler.
void cssl_start();
// Note the order: parity before bits.
cssl_port* cssl_open(const char* path, cssl_callback callback, int id, int baud, int parity,
                     int bits, int stop);
void cssl_close(cssl_port* port);
void cssl_setup(cssl_port* port, int baud, int bits, int parity, int stop);
int cssl_put_data(cssl_port* port, const void* data, int length);
int cssl_get_data(cssl_port* port, void* buffer, int size);
const char* cssl_error_message();
int cssl_geterror();

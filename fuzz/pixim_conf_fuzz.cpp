// SPDX-License-Identifier: MIT
// isptune's loading of a saved configuration: the input is the file's
// content. The file is served from memory through the wrapped fopen(), the
// module link is a socket pair whose far end has an acknowledgement ready
// for every property. What reaches the module must be one well-formed
// SetProperty packet per leading number line (nineteen at most), in the
// rows' order, each carrying the number as the file format defines it.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comm.h"
#include "config_files.h"
#include "params.h"
#include "pixim_commands.h"

extern "C" {
FILE* __real_fopen(const char* path, const char* mode);
FILE* __wrap_fopen(const char* path, const char* mode);
int __wrap__Z8commInitv();
void __wrap__Z9commClosev();
}

namespace {

std::string file_content;
cssl_port port;
int module_end = -1;

// The leading number of one line as read: blanks, a sign, decimal digits,
// within int; anything after it ignored.
bool leading_number(const std::string& line, int64_t* out) {
    const char* p = line.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        return false;
    }
    int64_t n = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        n = n * 10 + (*p - '0');
        if (n > int64_t{INT32_MAX} + 1) {
            return false;
        }
    }
    *out = negative ? -n : n;
    return *out >= INT32_MIN && *out <= INT32_MAX;
}

// The numbers as fgets() with a 100-byte buffer hands the lines over: a
// longer line arrives in pieces of 99 bytes.
std::vector<int64_t> leading_numbers(const std::string& text) {
    std::vector<int64_t> numbers;
    size_t at = 0;
    while (at < text.size() && numbers.size() < 20) {
        const size_t newline = text.find('\n', at);
        size_t piece = (newline == std::string::npos ? text.size() : newline + 1) - at;
        piece = piece > 99 ? 99 : piece;
        int64_t n = 0;
        if (!leading_number(text.substr(at, piece), &n)) {
            break;
        }
        numbers.push_back(n);
        at += piece;
    }
    return numbers;
}

// The number of row i as it travels, at the row's width.
uint32_t wire_value(const PixParam& p, int64_t n) {
    int64_t v = n;
    if (p.type == PixTypeS16) {
        v = n & 0xFFFF;
        if (p.offset_encoded) {
            v = static_cast<int16_t>(v);
            v = v > 100 ? 100 - v : v;
        }
    } else if (p.offset_encoded) {
        v = n > 100 ? 100 - n : n;
    }
    const int width = valueWidth(p.type);
    return static_cast<uint32_t>(v) & (width == 4 ? 0xFFFFFFFFU : (1U << (8 * width)) - 1);
}

std::vector<uint8_t> expected_packets(const std::vector<int64_t>& numbers) {
    std::vector<uint8_t> wire;
    for (size_t i = 0; i < numbers.size() && i < kParamCount; ++i) {
        const PixParam& p = kParams[i];
        const int width = valueWidth(p.type);
        const uint32_t v = wire_value(p, numbers[i]);
        const size_t begin = wire.size();
        wire.insert(wire.end(), {0x02, static_cast<uint8_t>(2 + width),
                                 static_cast<uint8_t>(p.id >> 8), static_cast<uint8_t>(p.id)});
        for (int b = width - 1; b >= 0; --b) {
            wire.push_back(static_cast<uint8_t>(v >> (8 * b)));
        }
        uint8_t sum = 0;
        for (size_t k = begin; k < wire.size(); ++k) {
            sum = static_cast<uint8_t>(sum + wire[k]);
        }
        wire.push_back(static_cast<uint8_t>(~sum));
    }
    return wire;
}

std::vector<uint8_t> drain(int fd) {
    std::vector<uint8_t> bytes;
    uint8_t scratch[512];
    ssize_t n;
    while ((n = read(fd, scratch, sizeof scratch)) > 0) {
        bytes.insert(bytes.end(), scratch, scratch + n);
    }
    return bytes;
}

}  // namespace

FILE* __wrap_fopen(const char* path, const char* mode) {
    if (std::strcmp(path, kConfPath) != 0 || std::strcmp(mode, "r") != 0) {
        return __real_fopen(path, mode);
    }
    if (file_content.empty()) {
        return __real_fopen("/dev/null", mode);  // fmemopen() wants at least one byte
    }
    return fmemopen(file_content.data(), file_content.size(), mode);
}

// The link as commInit() leaves it, on a socket pair instead of the UART.
int __wrap__Z8commInitv() {
    cssl_start();
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::abort();
    }
    const uint8_t acks[kParamCount] = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                                       0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
    if (write(ends[1], acks, sizeof acks) != static_cast<ssize_t>(sizeof acks)) {
        std::abort();
    }
    port = cssl_port{};
    port.fd = ends[0];
    modulePort = &port;
    module_end = ends[1];
    return 0;
}

void __wrap__Z9commClosev() {
    close(port.fd);
    modulePort = nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) {
        return 0;
    }
    file_content.assign(reinterpret_cast<const char*>(data), size);
    module_end = -1;
    writeConf(false);
    if (module_end < 0 || modulePort != nullptr) {
        std::abort();  // the link was opened and closed again
    }
    const std::vector<uint8_t> sent = drain(module_end);
    close(module_end);
    if (sent != expected_packets(leading_numbers(file_content))) {
        std::abort();
    }
    return 0;
}

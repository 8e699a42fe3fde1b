// SPDX-License-Identifier: MIT
// The module link: the Pixim module on the board's third UART, 38400 baud,
// 8 data bits, no parity, 1 stop bit. The link owns the line for its whole
// life: one isptune at a time talks to the module.
#pragma once

#include <cstdint>

#include "cssl/cssl.h"

inline constexpr const char* kModulePortPath = "/dev/ttymxc2";
// How long the module may keep us waiting for any byte of an answer.
inline constexpr int kByteTimeoutMs = 1000;
// How long a run waits for another isptune to give the line up: a few times
// the length of a whole --readconf against a prompt module.
inline constexpr int kLineWaitMs = 5000;
// After a time-out the line must be quiet for a whole answer time before
// anything else happens on it; a line that never falls quiet is waited for
// at most this long.
inline constexpr int kQuietLimitMs = 2 * kByteTimeoutMs;

extern cssl_port* modulePort;
// Set when an answer was lost to a time-out: the module may still send it,
// and it must not be taken for the next request's answer. A new link starts
// clear, since opening the port drops all pending input.
extern bool moduleAnswerLost;

// Takes the line (waiting at most kLineWaitMs for another user to give it up)
// and sets it up; 0, or -1 after saying why on standard output (the port
// cannot be opened) or standard error (another process keeps the line).
int commInit();
// Says that commInit failed: "commInit  Error" on standard output, where
// scripts read it, then which line and why on standard error (unless another
// process keeps the line: commInit has said so already).
void commInitFailed();
// Waits for a late answer to pass when one was lost, then gives the line its
// settings back and lets the next user have it.
void commClose();
// Reads exactly `count` bytes unless the module falls silent for
// `kByteTimeoutMs`; returns how many arrived.
int commRead(uint8_t* buffer, uint16_t count);
// The same with a time-out of the caller's choice.
int commReadWithin(uint8_t* buffer, uint16_t count, int timeout_ms);
// Reads and drops input until the line has been quiet for `quiet_ms`; a line
// that keeps sending is given up on after `limit_ms`. True when it went quiet.
bool commDiscardUntilQuiet(int quiet_ms, int limit_ms);
// Drops whatever has arrived and not been read.
void commDiscardPending();
int commWrite(const uint8_t* data, uint16_t count);

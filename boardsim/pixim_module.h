// SPDX-License-Identifier: MIT
// The Pixim module's side of its framed protocol: its properties (kept in
// $BOARDSIM_DIR/pixim.state between runs), the answer to each request, and
// the faulty answers BOARDSIM_PIXIM_FAULT asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pixim {

// BOARDSIM_PIXIM_FAULT: kind[:code[:badsum]][@id].
struct fault {
    std::string kind;
    int code = 0;
    bool badsum = false;
    long id = -1;  // -1: every request
};
fault parse_fault(const char* text);

// How an answer leaves, as the fault wants it.
struct delivery {
    bool silent = false;
    bool split = false;
    bool noise = false;
    long late_ms = 0;
};

void load_properties(const std::string& dir);
// The complement of the bytes' sum, as the frames carry it.
uint8_t complement_sum(const std::vector<uint8_t>& bytes);
// The answer to one well-formed request, with the fault `f` where it applies.
std::vector<uint8_t> answer(const std::vector<uint8_t>& request, const fault& f, delivery* how);

}  // namespace pixim

// SPDX-License-Identifier: MIT
#include "pixim_module.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "pixim_line.h"

namespace pixim {

namespace {

constexpr long kLateMsDefault = 1500;  // past isptune's wait of a second for an answer

std::string g_state_path;

std::map<unsigned, int32_t> g_properties = {
    {0x2E, 1},  {0x2F, 60}, {0x1A, 1},    {0x1B, 18}, {0x8F, 0}, {0x30, 1}, {0x33, 0},
    {0x22, 2},  {0x23, 1},  {0x25, 5600}, {0x26, 0},  {0x27, 0}, {0x12, 1}, {0x15, 128},
    {0x16, 10}, {0x75, 0},  {0x38, 0},    {0x0C, 1},  {0x0F, 0},
};

// Property widths on the wire, as the module defines its properties.
int width_of(unsigned id) {
    switch (id) {
        case 0x25:
        case 0x26:
        case 0x27:
            return 2;
        case 0x75:
        case 0x38:
            return 4;
        default:
            return 1;
    }
}

void save_properties() {
    const std::string fresh = g_state_path + ".new";
    FILE* f = std::fopen(fresh.c_str(), "w");
    if (f == nullptr) {
        return;
    }
    for (const auto& [id, value] : g_properties) {
        std::fprintf(f, "0x%02X %d\n", id, value);
    }
    std::fclose(f);
    std::rename(fresh.c_str(), g_state_path.c_str());
}

// SetProperty: id, value at the property's width, big-endian. Only the
// one-byte property 0x0F is signed.
std::vector<uint8_t> set_property(const std::vector<uint8_t>& request, unsigned id) {
    int32_t value = 0;
    const int width = request[1] - 2;  // none for a length under 2
    for (int i = 0; i < width; ++i) {
        value = static_cast<int32_t>(static_cast<uint32_t>(value) << 8 |
                                     request[4 + static_cast<size_t>(i)]);
    }
    if (width == 1) {
        value = id == 0x0F ? static_cast<int8_t>(value) : value & 0xFF;
    } else if (width == 2) {
        value = static_cast<int16_t>(value);
    }
    g_properties[id] = value;
    save_properties();
    return {0x01};
}

// GetProperty: a data answer at the property's width, or with the faults
// of a data answer (a wrong count, a wrong checksum).
std::vector<uint8_t> get_property(unsigned id, const std::string& kind) {
    const int width = width_of(id);
    const auto found = g_properties.find(id);
    const auto value = static_cast<uint32_t>(found != g_properties.end() ? found->second : 0);
    std::vector<uint8_t> d = {0x02, static_cast<uint8_t>(width + (kind == "count" ? 1 : 0))};
    for (int i = width - 1; i >= 0; --i) {
        d.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    if (kind == "count") {
        d.push_back(0x00);
    }
    d.push_back(static_cast<uint8_t>(complement_sum(d) + (kind == "datasum" ? 1 : 0)));
    return d;
}

// The fault's kind when it applies to this request; "" otherwise. A fault
// limited to one property leaves the text commands alone.
std::string fault_kind(const fault& f, uint8_t command, unsigned id) {
    const bool faulty =
        !f.kind.empty() && (f.id < 0 || (command != 0x44 && f.id == static_cast<long>(id)));
    return faulty ? f.kind : "";
}

}  // namespace

fault parse_fault(const char* text) {
    fault f;
    if (text == nullptr || *text == '\0') {
        return f;
    }
    std::string s = text;
    const size_t at = s.find('@');
    if (at != std::string::npos) {
        f.id = std::strtol(s.c_str() + at + 1, nullptr, 0);
        s = s.substr(0, at);
    }
    const size_t colon = s.find(':');
    f.kind = s.substr(0, colon);
    if (colon != std::string::npos) {
        f.code = static_cast<int>(std::strtol(s.c_str() + colon + 1, nullptr, 0));
        f.badsum = s.find(":badsum") != std::string::npos;
    }
    return f;
}

void load_properties(const std::string& dir) {
    g_state_path = dir + "/pixim.state";
    FILE* f = std::fopen(g_state_path.c_str(), "r");
    if (f == nullptr) {
        return;
    }
    unsigned id = 0;
    int value = 0;
    while (std::fscanf(f, "%x %d", &id, &value) == 2) {
        g_properties[id] = value;
    }
    std::fclose(f);
}

uint8_t complement_sum(const std::vector<uint8_t>& bytes) {
    unsigned sum = 0;
    for (const uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<uint8_t>(~sum & 0xFF);
}

std::vector<uint8_t> answer(const std::vector<uint8_t>& request, const fault& f, delivery* how) {
    const uint8_t command = request[0];
    const unsigned id = request[1] >= 2 ? unsigned{request[2]} << 8 | request[3] : 0;
    const std::string kind = fault_kind(f, command, id);
    how->silent = kind == "silent";
    how->split = kind == "split";
    how->noise = kind == "noise";
    how->late_ms = kind != "late" ? 0 : f.code > 0 ? f.code : kLateMsDefault;
    if (kind == "nak") {
        return {0x03};
    }
    if (kind == "error") {
        std::vector<uint8_t> e = {0x04, static_cast<uint8_t>(f.code)};
        e.push_back(static_cast<uint8_t>(complement_sum(e) + (f.badsum ? 1 : 0)));
        return e;
    }
    if (kind == "stray") {
        return {0x07, 0xAA, 0x55, 0x00, 0xFF, 0x12};
    }
    switch (command) {
        case 0x02:
            return set_property(request, id);
        case 0x03:
            return get_property(id, kind);
        case 0x44:  // OsdClearText
            log_line("pixim osd clear " + std::to_string(request[2]));
            return {0x01};
        default:
            return {0x04, 0x01, 0xFA};  // unknown command
    }
}

}  // namespace pixim

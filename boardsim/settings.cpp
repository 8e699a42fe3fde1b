// SPDX-License-Identifier: MIT
#include "settings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "trace_file.h"

namespace boardsim {

namespace {

struct errno_entry {
    const char* name;
    int value;
};

constexpr errno_entry kErrnos[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},         {"EIO", EIO},
    {"ENXIO", ENXIO},   {"EBADF", EBADF},   {"EAGAIN", EAGAIN},       {"ENOMEM", ENOMEM},
    {"EACCES", EACCES}, {"EFAULT", EFAULT}, {"EBUSY", EBUSY},         {"ENODEV", ENODEV},
    {"EINVAL", EINVAL}, {"ENOTTY", ENOTTY}, {"ENOSPC", ENOSPC},       {"EPIPE", EPIPE},
    {"ERANGE", ERANGE}, {"ENOSYS", ENOSYS}, {"ETIMEDOUT", ETIMEDOUT}, {"EREMOTEIO", EREMOTEIO},
    {"EMFILE", EMFILE}, {"EROFS", EROFS},   {"EBADR", EBADR},
};

// The first setting found unusable: the simulator refuses to run with it.
std::string g_refusal;

void refuse(const char* name, const std::string& text, const std::string& expected) {
    if (g_refusal.empty()) {
        g_refusal = std::string(name) + "=" + text + ": " + expected;
    }
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// A whole number in [0, max], decimal or 0x hexadecimal.
bool parse_number(const std::string& text, uint32_t max, uint32_t* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || n > max) {
        return false;
    }
    *out = static_cast<uint32_t>(n);
    return true;
}

uint32_t env_number(const char* name, uint32_t fallback, uint32_t max = UINT32_MAX) {
    const std::string text = env(name);
    uint32_t n = fallback;
    if (!text.empty() && !parse_number(text, max, &n)) {
        refuse(name, text, "expected a number from 0 to " + std::to_string(max));
        return fallback;
    }
    return n;
}

// An error number by name ("EINVAL") or value; 0 (and a refusal) if neither.
int env_errno(const char* name, const std::string& text) {
    const int error = parse_errno(text);
    if (!text.empty() && error <= 0) {
        refuse(name, text, "expected an error name (like EINVAL) or number");
        return 0;
    }
    return error;
}

int env_errno(const char* name) {
    return env_errno(name, env(name));
}

std::string env_choice(const char* name, std::initializer_list<const char*> choices) {
    std::string text = env(name);
    if (text.empty() || std::find(choices.begin(), choices.end(), text) != choices.end()) {
        return text;
    }
    std::string expected = "expected one of";
    for (const char* choice : choices) {
        expected += std::string(" ") + choice;
    }
    refuse(name, text, expected);
    return {};
}

// The items of a comma-separated list.
std::vector<std::string> split_list(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

// "EINTR:2,EAGAIN:1" -> EINTR, EINTR, EAGAIN
std::vector<int> parse_burst(const char* name, const std::string& text) {
    constexpr uint32_t kMaxBurst = 1000;
    std::vector<int> errors;
    for (const std::string& item : split_list(text)) {
        const size_t colon = item.find(':');
        const int error = env_errno(name, item.substr(0, colon));
        uint32_t count = 1;
        if (colon != std::string::npos &&
            !parse_number(item.substr(colon + 1), kMaxBurst, &count)) {
            refuse(name, text, "expected counts from 0 to " + std::to_string(kMaxBurst));
            return {};
        }
        errors.insert(errors.end(), error != 0 ? count : 0, error);
    }
    return errors;
}

// "page:reg[:errno]"
register_fault parse_register_fault(const std::string& text) {
    register_fault fault;
    if (text.empty()) {
        return fault;
    }
    char* end = nullptr;
    fault.page = static_cast<unsigned>(std::strtoul(text.c_str(), &end, 0));
    if (*end != ':') {
        return fault;
    }
    fault.reg = static_cast<unsigned>(std::strtoul(end + 1, &end, 0));
    fault.error = *end == ':' ? env_errno("BOARDSIM_FAIL_READ", end + 1) : EIO;
    fault.active = fault.error != 0;
    return fault;
}

// "NAME:ERRNO[:N],..."
std::vector<settings::request_fault> parse_request_faults(const std::string& text) {
    std::vector<settings::request_fault> faults;
    for (const std::string& item : split_list(text)) {
        const size_t first = item.find(':');
        if (first == std::string::npos) {
            continue;
        }
        settings::request_fault fault;
        fault.name = item.substr(0, first);
        const size_t second = item.find(':', first + 1);
        fault.error = env_errno("BOARDSIM_FAIL", item.substr(first + 1, second - first - 1));
        fault.nth = second == std::string::npos ? 0 : std::atoi(item.c_str() + second + 1);
        if (fault.error != 0) {
            faults.push_back(fault);
        }
    }
    return faults;
}

std::vector<uint32_t> parse_numbers(const std::string& text) {
    std::vector<uint32_t> numbers;
    const char* p = text.c_str();
    while (*p != '\0') {
        char* end = nullptr;
        const unsigned long n = std::strtoul(p, &end, 0);
        if (end == p) {
            ++p;
            continue;
        }
        numbers.push_back(static_cast<uint32_t>(n));
        p = end;
    }
    return numbers;
}

// The largest JPEG the driver could deliver: a full-size frame's buffer.
constexpr uint32_t kMaxJpegSize = 1600 * 1200 + 4096;

void read_register_settings(settings* s) {
    const std::string forms = env_choice("BOARDSIM_REG_FORMS", {"both", "dbg", "private", "none"});
    int refusal = env_errno("BOARDSIM_REG_ERRNO");
    if (refusal == 0) {
        refusal = ENOTTY;  // what a kernel answers for a request it does not know
    }
    if (forms == "private" || forms == "none") {
        s->dbg_errno = refusal;
    }
    if (forms == "dbg" || forms == "none") {
        s->priv_errno = refusal;
    }
    if (const int e = env_errno("BOARDSIM_DBG_ERRNO"); e != 0) {
        s->dbg_errno = e;
    }
    if (const int e = env_errno("BOARDSIM_PRIV_ERRNO"); e != 0) {
        s->priv_errno = e;
    }
    s->reads_leave_value = env("BOARDSIM_REG_NOVALUE") == "1";
    s->read_fault = parse_register_fault(env("BOARDSIM_FAIL_READ"));
    s->chip_version =
        static_cast<uint16_t>(env_number("BOARDSIM_CHIP_VERSION", s->chip_version, 0xFFFF));
}

void read_stream_settings(settings* s) {
    s->unpaced = env("BOARDSIM_UNPACED") == "1";
    s->max_bufs = env_number("BOARDSIM_MAX_BUFS", s->max_bufs, 1000);
    s->trace_max = env_number("BOARDSIM_TRACE_MAX", kTraceMaxDefault);
    s->reqbufs_count = env_number("BOARDSIM_REQBUFS_COUNT", s->reqbufs_count);
    s->field = env("BOARDSIM_FIELD").empty()
                   ? -1
                   : static_cast<int32_t>(env_number("BOARDSIM_FIELD", 0, INT32_MAX));
    s->frame_fault = env_choice("BOARDSIM_FRAME_FAULT", {"empty", "nosoi", "noeoi", "twoeoi",
                                                         "pastused", "overlong", "badindex"});
    s->fault_seqs = parse_numbers(env("BOARDSIM_FAULT_SEQS"));
    s->jpeg_size = env_number("BOARDSIM_JPEG_SIZE", 0, kMaxJpegSize);
    s->poll_fault = env("BOARDSIM_POLL_FAULT");
    if (s->poll_fault.rfind("error:", 0) == 0) {
        env_errno("BOARDSIM_POLL_FAULT", s->poll_fault.substr(6));
    } else {
        s->poll_fault =
            env_choice("BOARDSIM_POLL_FAULT", {"timeout", "many", "err", "nval", "hup", "noin"});
    }
}

settings read_settings() {
    settings s;
    s.dir = env("BOARDSIM_DIR");
    s.open_errno = env_errno("BOARDSIM_OPEN_ERRNO");
    s.noatime_eperm = env("BOARDSIM_NOATIME_EPERM") == "1";
    s.burst = parse_burst("BOARDSIM_BURST", env("BOARDSIM_BURST"));
    s.querycap_errno = env_errno("BOARDSIM_QUERYCAP_ERRNO");
    if (const std::string driver = env("BOARDSIM_DRIVER"); !driver.empty()) {
        s.driver = driver;
    }
    s.version = env_number("BOARDSIM_VERSION", s.version);
    s.capabilities = env_number("BOARDSIM_CAPS", s.capabilities);
    read_register_settings(&s);
    s.request_faults = parse_request_faults(env("BOARDSIM_FAIL"));
    read_stream_settings(&s);
    return s;
}

}  // namespace

const settings& get_settings() {
    static const settings s = [] {
        settings read = read_settings();
        if (!g_refusal.empty() && !read.dir.empty()) {
            // A simulator that cannot be what its settings ask for must not
            // pretend to be: the run stops before any program sees it.
            const std::string message = "boardsim: refused setting " + g_refusal + "\n";
            [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, message.data(), message.size());
            _exit(125);
        }
        return read;
    }();
    return s;
}

int parse_errno(const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    for (const auto& entry : kErrnos) {
        if (text == entry.name) {
            return entry.value;
        }
    }
    uint32_t number = 0;
    return parse_number(text, 4095, &number) ? static_cast<int>(number) : 0;
}

const char* errno_name(int error) {
    for (const auto& entry : kErrnos) {
        if (entry.value == error) {
            return entry.name;
        }
    }
    return "E?";
}

}  // namespace boardsim

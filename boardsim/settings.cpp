#include "settings.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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
    {"EMFILE", EMFILE}, {"EROFS", EROFS},
};

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

uint32_t env_number(const char* name, uint32_t fallback) {
    const std::string text = env(name);
    return text.empty() ? fallback : static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
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
std::vector<int> parse_burst(const std::string& text) {
    std::vector<int> errors;
    for (const std::string& item : split_list(text)) {
        const size_t colon = item.find(':');
        const int error = parse_errno(item.substr(0, colon));
        const int count = colon == std::string::npos ? 1 : std::atoi(item.c_str() + colon + 1);
        for (int i = 0; i < count && error != 0; ++i) {
            errors.push_back(error);
        }
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
    fault.error = *end == ':' ? parse_errno(end + 1) : EIO;
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
        fault.error = parse_errno(item.substr(first + 1, second - first - 1));
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

settings read_settings() {
    settings s;
    s.dir = env("BOARDSIM_DIR");
    s.open_errno = parse_errno(env("BOARDSIM_OPEN_ERRNO"));
    s.noatime_eperm = env("BOARDSIM_NOATIME_EPERM") == "1";
    s.burst = parse_burst(env("BOARDSIM_BURST"));
    s.querycap_errno = parse_errno(env("BOARDSIM_QUERYCAP_ERRNO"));
    if (const std::string driver = env("BOARDSIM_DRIVER"); !driver.empty()) {
        s.driver = driver;
    }
    s.version = env_number("BOARDSIM_VERSION", s.version);
    s.capabilities = env_number("BOARDSIM_CAPS", s.capabilities);

    const std::string forms = env("BOARDSIM_REG_FORMS");
    int refusal = parse_errno(env("BOARDSIM_REG_ERRNO"));
    if (refusal == 0) {
        refusal = ENOTTY;  // what a kernel answers for a request it does not know
    }
    if (forms == "private" || forms == "none") {
        s.dbg_errno = refusal;
    }
    if (forms == "dbg" || forms == "none") {
        s.priv_errno = refusal;
    }
    if (const int e = parse_errno(env("BOARDSIM_DBG_ERRNO")); e != 0) {
        s.dbg_errno = e;
    }
    if (const int e = parse_errno(env("BOARDSIM_PRIV_ERRNO")); e != 0) {
        s.priv_errno = e;
    }
    s.reads_leave_value = env("BOARDSIM_REG_NOVALUE") == "1";
    s.read_fault = parse_register_fault(env("BOARDSIM_FAIL_READ"));
    s.chip_version = static_cast<uint16_t>(env_number("BOARDSIM_CHIP_VERSION", s.chip_version));
    s.request_faults = parse_request_faults(env("BOARDSIM_FAIL"));
    s.unpaced = env("BOARDSIM_UNPACED") == "1";
    s.max_bufs = env_number("BOARDSIM_MAX_BUFS", s.max_bufs);
    s.reqbufs_count = env_number("BOARDSIM_REQBUFS_COUNT", s.reqbufs_count);
    s.field =
        env("BOARDSIM_FIELD").empty() ? -1 : static_cast<int32_t>(env_number("BOARDSIM_FIELD", 0));
    s.frame_fault = env("BOARDSIM_FRAME_FAULT");
    s.fault_seqs = parse_numbers(env("BOARDSIM_FAULT_SEQS"));
    s.jpeg_size = env_number("BOARDSIM_JPEG_SIZE", 0);
    s.poll_fault = env("BOARDSIM_POLL_FAULT");
    return s;
}

}  // namespace

const settings& get_settings() {
    static const settings s = read_settings();
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
    return std::atoi(text.c_str());
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

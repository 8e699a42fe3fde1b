// SPDX-License-Identifier: MIT
#include "capture_messages.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

size_t keep(std::string_view text, char* into, size_t room) {
    const size_t length = std::min(text.size(), room);
    std::copy_n(text.data(), length, into);
    return length;
}

// "vcapture: message" without the name; a line that starts with a blank
// (a report written without it) stays as it is.
std::string_view without_program_name(std::string_view line) {
    const size_t colon = line.find(": ");
    if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' ||
        line.substr(0, colon).find(' ') != std::string_view::npos) {
        return line;
    }
    return line.substr(colon + 2);
}

std::string_view trimmed_front(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

}  // namespace

bool capture_messages::take(int fd) {
    char chunk[512];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            return true;
        }
        if (got <= 0) {
            take_line({pending_, pending_length_});  // a last line without its end
            pending_length_ = 0;
            return false;
        }
        for (const char byte : std::string_view(chunk, static_cast<size_t>(got))) {
            if (byte != '\n' && pending_length_ < sizeof pending_) {
                pending_[pending_length_++] = byte;
                continue;
            }
            take_line({pending_, pending_length_});  // an overlong line goes in pieces
            pending_length_ = 0;
            if (byte != '\n') {
                pending_[pending_length_++] = byte;
            }
        }
    }
}

void capture_messages::restart(bool quiet) {
    pending_length_ = 0;
    drop_length_ = 0;
    message_length_ = 0;
    drops_ = 0;
    quiet_ = quiet;
    drop_told_ = false;
}

void capture_messages::take_line(std::string_view line) {
    while (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    // vcapture sets its reports apart from the statistics line with an
    // empty line, which tells nothing here.
    if (trimmed_front(line).empty()) {
        return;
    }
    const std::string_view text = without_program_name(line);
    const std::string_view report = trimmed_front(text);
    constexpr std::string_view kSkip = "skip frame";
    if (report.starts_with("seq:") && report.ends_with(kSkip)) {
        // " seq:    12, JPEG frame size  1234 < 5000, skip frame"
        ++drops_;
        std::string_view why = report.substr(0, report.size() - kSkip.size());
        const size_t comma = why.find(", ");
        why = comma == std::string_view::npos ? std::string_view() : why.substr(comma + 2);
        if (why.ends_with(", ")) {
            why.remove_suffix(2);
        }
        drop_length_ = keep(why, drop_, sizeof drop_);
        if (!drop_told_) {
            pass_on(line);
            drop_told_ = true;
        }
        return;
    }
    message_length_ = keep(text, message_, sizeof message_);
    pass_on(line);
}

void capture_messages::pass_on(std::string_view line) const {
    if (quiet_) {
        return;
    }
    iovec pieces[2] = {{const_cast<char*>(line.data()), line.size()}, {const_cast<char*>("\n"), 1}};
    [[maybe_unused]] const ssize_t written = writev(2, pieces, 2);
}

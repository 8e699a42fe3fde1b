// SPDX-License-Identifier: MIT
#include "capture_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>

namespace {

// The name vcapture reports under: its file name, as from a shell.
char* program_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return const_cast<char*>(slash != nullptr ? slash + 1 : path);
}

// The command line vshare runs vcapture with: JPEG frames, no statistics,
// no output of its own, the buffers handed to vshare.
struct capture_command {
    const char* path;
    std::string width, height, qscale, fps, base;
    char* argv[15];

    capture_command(const vshare_options& options, std::string handoff_base)
        : path(options.vcapture),
          width(std::to_string(options.width)),
          height(std::to_string(options.height)),
          qscale(std::to_string(options.qscale)),
          fps(std::to_string(options.fps)),
          base(std::move(handoff_base)),
          argv{program_name(options.vcapture),
               width.data(),
               height.data(),
               const_cast<char*>("-format"),
               const_cast<char*>("jpeg"),
               const_cast<char*>("-qscale"),
               qscale.data(),
               const_cast<char*>("-fps"),
               fps.data(),
               const_cast<char*>("-pipe"),
               base.data(),
               const_cast<char*>("-quiet"),
               const_cast<char*>("-device"),
               const_cast<char*>(options.device),
               nullptr} {}
    // argv points into the strings above.
    capture_command(const capture_command&) = delete;
    capture_command& operator=(const capture_command&) = delete;
};

// vcapture starts with the signal dispositions and mask of a plain
// process, its input from /dev/null, its standard output `output` and its
// standard error `messages`.
int spawn(const capture_command& command, int output, int messages, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, messages, 2);
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int sig : {SIGTERM, SIGINT, SIGCHLD, SIGPIPE}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int result = posix_spawn(pid, command.path, &actions, &attributes, command.argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

}  // namespace

capture_process::~capture_process() {
    if (running()) {
        signal(SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

namespace {

// A pipe from vcapture: vshare's end does not block, vcapture's is closed
// once vcapture has it.
struct pipe_from_child {
    unique_fd ours;
    unique_fd theirs;

    bool open() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        ours.reset(ends[0]);
        theirs.reset(ends[1]);
        fcntl(ours.get(), F_SETFL, O_NONBLOCK);
        return true;
    }
};

}  // namespace

std::string capture_process::start(const vshare_options& options, const std::string& handoff_base) {
    pipe_from_child output;
    pipe_from_child messages;
    if (!output.open() || !messages.open()) {
        return std::string("can't create a pipe for vcapture: ") + strerror(errno);
    }
    const capture_command command(options, handoff_base);
    if (const int failed = spawn(command, output.theirs.get(), messages.theirs.get(), &pid_);
        failed != 0) {
        pid_ = -1;
        return std::string("can't run ") + options.vcapture + ": " + strerror(failed);
    }
    output_ = std::move(output.ours);
    messages_ = std::move(messages.ours);
    return {};
}

void capture_process::signal(int sig) const {
    if (running()) {
        kill(pid_, sig);
    }
}

bool capture_process::reap(int* status) {
    if (!running() || waitpid(pid_, status, WNOHANG) != pid_) {
        return false;
    }
    pid_ = -1;
    output_.reset();
    return true;  // the rest of its messages is still to be read
}

std::string describe_wait_status(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("signal ") + strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// SPDX-License-Identifier: MIT
// A file's new content, written beside it and renamed over it only when
// complete, so that a failure leaves the old file as it was.
#pragma once

#include <cstdio>
#include <string>

// Where the content of `path` lives: symbolic links are followed, a dangling
// last one included, so that replacing the file keeps the links and changes
// their target. False for a loop of links or a link that cannot be read.
bool resolveLinks(const char* path, std::string* resolved);

class ReplacementFile {
  public:
    // Creates a temporary file of its own beside the file `path` resolves to,
    // exclusively and under a name no other run picks, with that
    // file's mode and owner when it exists. file() is nullptr on failure.
    explicit ReplacementFile(const char* path);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    [[nodiscard]] FILE* file() const { return file_; }
    // Makes the content durable and renames it over the target. False: the
    // old file stays and the temporary file is gone.
    bool commit();

  private:
    bool open();
    void discard();

    std::string target_;
    std::string temporary_;
    FILE* file_ = nullptr;
};

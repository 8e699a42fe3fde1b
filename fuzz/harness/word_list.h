// SPDX-License-Identifier: MIT
// A command line from fuzz input: one argument per line, after a fixed
// program name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class word_list {
  public:
    // Every '\n' ends a word (so a trailing newline adds no empty word); a
    // NUL inside a line ends that argument early, as it would in argv.
    word_list(const char* program, const uint8_t* data, size_t size, size_t max_words);

    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    // NULL-terminated; the words stay put while the list lives.
    char** argv() { return pointers_.data(); }

  private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

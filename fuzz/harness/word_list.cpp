// SPDX-License-Identifier: MIT
#include "word_list.h"

word_list::word_list(const char* program, const uint8_t* data, size_t size, size_t max_words) {
    words_.emplace_back(program);
    size_t begin = 0;
    while (begin < size && words_.size() <= max_words) {
        size_t end = begin;
        while (end < size && data[end] != '\n') {
            ++end;
        }
        words_.emplace_back(reinterpret_cast<const char*>(data + begin), end - begin);
        begin = end + 1;
    }
    for (auto& word : words_) {
        pointers_.push_back(word.data());
    }
    pointers_.push_back(nullptr);
}

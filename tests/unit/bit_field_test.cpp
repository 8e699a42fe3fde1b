// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "bit_field.h"
#include "board_number.h"

namespace {

bit_field_word parse(const char* word, bit_field* field) {
    return parse_bit_field(word, field);
}

TEST(BitFieldWord, DigitsColonDigits) {
    bit_field f{};
    EXPECT_EQ(parse("15:13", &f), bit_field_word::field);
    EXPECT_EQ(f.msb, 15);
    EXPECT_EQ(f.lsb, 13);
    EXPECT_EQ(parse("3:3", &f), bit_field_word::field);
    EXPECT_EQ(parse("9:8junk", &f), bit_field_word::field);  // trailing text ignored
    EXPECT_EQ(f.lsb, 8);
}

TEST(BitFieldWord, WithoutColonItIsNoFieldWord) {
    bit_field f{0, 0};
    EXPECT_EQ(parse("7", &f), bit_field_word::absent);
    EXPECT_EQ(f.msb, -1);
    EXPECT_EQ(f.lsb, -1);
    EXPECT_EQ(parse(nullptr, &f), bit_field_word::absent);
}

TEST(BitFieldWord, MalformedWords) {
    bit_field f{};
    for (const char* word : {"3:", ":3", "a:b", "3:5", " 3:1", "-1:0", "1:-1", "x3:1", ":"}) {
        EXPECT_EQ(parse(word, &f), bit_field_word::malformed) << word;
    }
}

TEST(BitFieldWord, HugePositionsSaturateAsOnTheBoard) {
    bit_field f{};
    EXPECT_EQ(parse("99999999999:0", &f), bit_field_word::field);
    EXPECT_EQ(f.msb, INT32_MAX);
    EXPECT_EQ(parse("1:99999999999", &f), bit_field_word::malformed);
}

TEST(BitFieldValue, ExtractShiftsTheFieldDown) {
    EXPECT_EQ(extract_bit_field(0xA000, {15, 13}), 5);
    EXPECT_EQ(extract_bit_field(0x1234, {15, 0}), 0x1234);
    EXPECT_EQ(extract_bit_field(0x1234, {7, 4}), 0x3);
    EXPECT_EQ(extract_bit_field(0x8000, {20, 15}), 1);  // bits above 15 read as 0
    EXPECT_EQ(extract_bit_field(0xFFFF, {40, 16}), 0);
    EXPECT_EQ(extract_bit_field(0xFFFF, {INT32_MAX, 0}), 0xFFFF);
}

TEST(BitFieldValue, InsertKeepsTheOtherBits) {
    EXPECT_EQ(insert_bit_field(0x0300, 3, {9, 8}), 0x0300);
    EXPECT_EQ(insert_bit_field(0x0000, 3, {9, 8}), 0x0300);
    EXPECT_EQ(insert_bit_field(0xFFFF, 0, {9, 8}), 0xFCFF);
    EXPECT_EQ(insert_bit_field(0x0000, 7, {1, 0}), 0x0003);  // value cut to the field
    EXPECT_EQ(insert_bit_field(0x1234, 0xBEEF, {15, 0}), 0xBEEF);
    EXPECT_EQ(insert_bit_field(0x0000, 0xF, {17, 14}), 0xC000);  // bits past 15 dropped
    EXPECT_EQ(insert_bit_field(0x1234, 0xF, {20, 16}), 0x1234);
}

TEST(BoardNumber, StrtolBaseZeroIn32Bits) {
    EXPECT_EQ(board_strtol("0x20"), 0x20);
    EXPECT_EQ(board_strtol("010"), 8);
    EXPECT_EQ(board_strtol("  -5xyz"), -5);
    EXPECT_EQ(board_strtol(""), 0);
    EXPECT_EQ(board_strtol("4294967296"), INT32_MAX);
    EXPECT_EQ(board_strtol("-4294967296"), INT32_MIN);
    EXPECT_EQ(board_unsigned("-1"), 4294967295u);
}

TEST(BoardNumber, WholeWordsOnly) {
    int32_t value = 7;
    EXPECT_TRUE(board_number_word(" 0x20", &value));
    EXPECT_EQ(value, 0x20);
    EXPECT_TRUE(board_number_word("0xFFFFFFFFF", &value));
    EXPECT_EQ(value, INT32_MAX);
    for (const char* word : {"", " ", "zero", "1junk", "0x", "1 "}) {
        EXPECT_FALSE(board_number_word(word, &value)) << word;
    }
    EXPECT_EQ(value, INT32_MAX);  // left alone by a refusal
}

}  // namespace

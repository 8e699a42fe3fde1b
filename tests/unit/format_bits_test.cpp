// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "format_bits.h"
#include "mt9d131_variables.h"

namespace {

std::string bits(uint16_t value, unsigned count, char separator) {
    char out[40];
    EXPECT_EQ(format_bits(value, count, separator, out), value);
    return out;
}

TEST(FormatBits, GroupsOfFourCountFromTheLeastSignificantBit) {
    EXPECT_EQ(bits(0x1234, 16, ','), "0001,0010,0011,0100");
    EXPECT_EQ(bits(0x1803, 16, ','), "0001,1000,0000,0011");
    EXPECT_EQ(bits(0xA5, 8, ','), "1010,0101");
    EXPECT_EQ(bits(0xF0, 8, ','), "1111,0000");
    EXPECT_EQ(bits(0x1F, 5, ','), "1,1111");
    EXPECT_EQ(bits(0x3F, 6, ':'), "11:1111");
}

TEST(FormatBits, NoSeparatorAfterTheLastGroup) {
    EXPECT_EQ(bits(5, 4, ','), "0101");
    EXPECT_EQ(bits(1, 1, ','), "1");
}

TEST(FormatBits, NulSeparatorWritesNone) {
    EXPECT_EQ(bits(0xFFFF, 16, '\0'), "1111111111111111");
    EXPECT_EQ(bits(0x8001, 16, '\0'), "1000000000000001");
}

TEST(FormatBits, OnlyTheLowBitsAreWritten) {
    EXPECT_EQ(bits(0xFFF0, 4, ','), "0000");
    EXPECT_EQ(bits(0x1234, 0, ','), "");
}

TEST(FormatBits, FitsTheToolsBuffer) {
    char out[22];
    format_bits(0xFFFF, 16, ',', out);
    EXPECT_EQ(std::string(out).size(), 19u);
}

TEST(VariableAddress, LogicalWordCarriesIdOffsetAndWidth) {
    EXPECT_EQ(mt9d131_log_var_address(2, 0x0A, 16), 0x220A);
    EXPECT_EQ(mt9d131_log_var_address(2, 0x0A, 8), 0xA20A);
    EXPECT_EQ(mt9d131_log_var_address(0, 4, 8), 0xA004);
    EXPECT_EQ(mt9d131_log_var_address(0, 4, 16), 0x2004);
    EXPECT_EQ(mt9d131_log_var_address(31, 0xFF, 16), 0x3FFF);
}

TEST(VariableAddress, PhysicalWordIsTheAddressWithTheByteFlag) {
    EXPECT_EQ(mt9d131_phys_var_address(0x0123, 8), 0x8123);
    EXPECT_EQ(mt9d131_phys_var_address(0x0123, 16), 0x0123);
    EXPECT_EQ(mt9d131_phys_var_address(0x1FFF, 8), 0x9FFF);
}

TEST(VariableChecksDeathTest, RefusalsNameTheCheckAndTheValue) {
    EXPECT_EXIT(mt9d131_log_var_check_args(32, 16, 0), testing::ExitedWithCode(1),
                "mt9d131_log_var_check_args\\(\\): Wrong id \\(> 31\\): 32\n");
    EXPECT_EXIT(mt9d131_phys_var_check_args(0x2000, 8, 0), testing::ExitedWithCode(1),
                "mt9d131_phys_var_check_args\\(\\): Wrong address \\(> 0x1fff\\): 8192\n");
    EXPECT_EXIT(mt9d131_phys_var_check_args(0, 12, 0), testing::ExitedWithCode(1),
                "mt9d131_phys_var_check_args\\(\\): Wrong width \\(!8 && !16\\): 12\n");
    EXPECT_EXIT(mt9d131_log_var_check_args(0, 8, 256), testing::ExitedWithCode(1),
                "mt9d131_log_var_check_args\\(\\): Wrong value \\(> 255\\): 256\n");
}

// A check that accepts returns; one that refuses ends the process. So each
// limit runs in a child that must come back from the call, which shows that
// nothing was refused and nothing was printed; the value just past each limit
// must end the child with its message.
#define EXPECT_RETURNS(call)                      \
    EXPECT_EXIT(                                  \
        {                                         \
            call;                                 \
            std::fputs("returned", stderr);       \
            std::exit(0);                         \
        },                                        \
        testing::ExitedWithCode(0), "^returned$") \
        << #call

TEST(VariableChecks, LimitsAreAccepted) {
    EXPECT_RETURNS(mt9d131_log_var_check_args(31, 16, 0));
    EXPECT_RETURNS(mt9d131_log_var_check_args(0, 8, 255));
    EXPECT_RETURNS(mt9d131_log_var_check_args(0, 16, 0xFFFF));
    EXPECT_RETURNS(mt9d131_phys_var_check_args(0x1FFF, 16, 0));
    EXPECT_RETURNS(mt9d131_phys_var_check_args(0, 8, 255));
    EXPECT_RETURNS(mt9d131_phys_var_check_args(0, 16, 0xFFFF));

    EXPECT_EXIT(mt9d131_log_var_check_args(32, 16, 0), testing::ExitedWithCode(1),
                "Wrong id \\(> 31\\): 32\n");
    EXPECT_EXIT(mt9d131_log_var_check_args(0, 8, 256), testing::ExitedWithCode(1),
                "Wrong value \\(> 255\\): 256\n");
    EXPECT_EXIT(mt9d131_phys_var_check_args(0x2000, 16, 0), testing::ExitedWithCode(1),
                "Wrong address \\(> 0x1fff\\): 8192\n");
    EXPECT_EXIT(mt9d131_phys_var_check_args(0, 8, 256), testing::ExitedWithCode(1),
                "Wrong value \\(> 255\\): 256\n");
}

TEST(VariableChecks, OnlyWidthsEightAndSixteenAreAccepted) {
    for (const int width : {0, 7, 9, 15, 17, 255}) {
        EXPECT_EXIT(mt9d131_log_var_check_args(0, static_cast<uint8_t>(width), 0),
                    testing::ExitedWithCode(1),
                    "mt9d131_log_var_check_args\\(\\): Wrong width \\(!8 && !16\\): " +
                        std::to_string(width) + "\n");
    }
}

}  // namespace

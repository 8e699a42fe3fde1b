// SPDX-License-Identifier: MIT
// The Pixim framing, commands and value conversions, with the module link
// on a real pseudo-terminal whose master side plays the module.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "comm.h"
#include "command_line.h"
#include "help_text.h"
#include "params.h"
#include "pixim_commands.h"
#include "pixim_packet.h"

namespace {

using bytes = std::vector<uint8_t>;

// What the last parse() printed.
std::string echoed;

class ModuleLink : public testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        cssl_start();
        modulePort = cssl_open(ptsname(master_), nullptr, 0, 38400, 0, 8, 1);
        moduleAnswerLost = false;  // as commInit leaves a new link
        ASSERT_NE(modulePort, nullptr);
    }
    void TearDown() override {
        if (player_.joinable()) {
            player_.join();
        }
        commClose();
        close(master_);
    }

    // Up to n bytes from the module's side, waiting at most a few seconds.
    bytes receive(size_t n) {
        bytes out;
        uint8_t buffer[512];
        pollfd p{master_, POLLIN, 0};
        while (out.size() < n && poll(&p, 1, 5000) == 1) {
            const ssize_t got = read(master_, buffer, std::min(n - out.size(), sizeof buffer));
            if (got <= 0) {
                break;
            }
            out.insert(out.end(), buffer, buffer + got);
        }
        return out;
    }

    // One whole request frame as the module receives it.
    bytes request() {
        bytes frame = receive(2);
        if (frame.size() == 2) {
            const bytes rest = receive(frame[1] + 1u);
            frame.insert(frame.end(), rest.begin(), rest.end());
        }
        return frame;
    }

    void answer(const bytes& reply) {
        ASSERT_EQ(write(master_, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    }

    // Plays the module in a thread of its own: each reply answers the next
    // request once it has arrived whole, as a module does.
    void play(std::vector<bytes> replies) {
        player_ = std::thread([this, replies = std::move(replies)] {
            for (const bytes& reply : replies) {
                const bytes frame = request();
                received_.insert(received_.end(), frame.begin(), frame.end());
                answer(reply);
            }
        });
    }

    // The requests the module received since the last call.
    bytes sent() {
        if (player_.joinable()) {
            player_.join();
        }
        bytes out;
        out.swap(received_);
        return out;
    }

    // Runs an exchange and returns its result with what it printed.
    template <typename F>
    std::pair<int, std::string> printed(F exchange) {
        testing::internal::CaptureStdout();
        const int result = exchange();
        std::fflush(stdout);
        return {result, testing::internal::GetCapturedStdout()};
    }

    int master_ = -1;
    std::thread player_;
    bytes received_;
};

TEST_F(ModuleLink, RequestFramesOnTheWire) {
    play({{0x01}});
    EXPECT_EQ(OsdClearText(0), 0);
    EXPECT_EQ(sent(), (bytes{0x44, 0x01, 0x00, 0xBA}));
    play({{0x01}});
    OsdClearText(1);
    EXPECT_EQ(sent(), (bytes{0x44, 0x01, 0x01, 0xB9}));

    struct {
        uint16_t id;
        int32_t value;
        bytes wire;
    } const cases[] = {
        {0x2E, 1, {0x02, 0x03, 0x00, 0x2E, 0x01, 0xCB}},
        {0x25, 6500, {0x02, 0x04, 0x00, 0x25, 0x19, 0x64, 0x57}},
        {0x0F, -6, {0x02, 0x03, 0x00, 0x0F, 0xFA, 0xF1}},
        {0x75, -2, {0x02, 0x06, 0x00, 0x75, 0xFF, 0xFF, 0xFF, 0xFE, 0x87}},
    };
    for (const auto& c : cases) {
        uint8_t buffer[4] = {};
        valueToBuffer(c.value, paramTypeOf(c.id), buffer);
        play({{0x01}});
        EXPECT_EQ(SetProperty(c.id, paramTypeOf(c.id), buffer), 0);
        EXPECT_EQ(sent(), c.wire);
    }
}

TEST_F(ModuleLink, GetPropertyUnpacksTheAnswer) {
    uint8_t value[4] = {};
    play({{0x02, 0x01, 0x01, 0xFB},
          {0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xF8, 0x04},
          {0x02, 0x02, 0x2A, 0xF8, 0xD9}});
    EXPECT_EQ(GetProperty(0x2E, PixTypeU8, value), 0);
    EXPECT_EQ(bufferToValue(PixTypeU8, value), 1);

    EXPECT_EQ(GetProperty(0x75, PixTypeS32, value), 0);
    EXPECT_EQ(bufferToValue(PixTypeS32, value), -8);

    EXPECT_EQ(GetProperty(0x25, PixTypeS16, value), 0);
    EXPECT_EQ(bufferToValue(PixTypeS16, value), 11000);
    EXPECT_EQ(sent(), (bytes{0x03, 0x02, 0x00, 0x2E, 0xCC, 0x03, 0x02, 0x00, 0x75, 0x85, 0x03, 0x02,
                             0x00, 0x25, 0xD5}));
}

TEST_F(ModuleLink, AnErrorAnswerLeavesTheValueAlone) {
    uint8_t value[4] = {0x5A, 0, 0, 0};
    play({{0x04, 0x07, 0xF4}});
    EXPECT_EQ(printed([&] { return GetProperty(0x2E, PixTypeU8, value); }),
              std::make_pair(7, std::string("ec2 = 7\n")));
    EXPECT_EQ(value[0], 0x5A);
}

TEST_F(ModuleLink, ResponseForms) {
    answer({0x01});
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }), std::make_pair(0, std::string()));
    answer({0x02, 0x00, 0xFD});
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }), std::make_pair(0, std::string()));
    answer({0x04, 0x09, 0xF2});
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }),
              std::make_pair(9, std::string("ec2 = 9\n")));
    answer({0x04, 0x09, 0xF3});
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }),
              std::make_pair(2, std::string("errChksum PixErrorCodeInternalError\nec1 = 2\n")));
    uint8_t data[4] = {};
    answer({0x02, 0x01, 0x01, 0xFA});
    EXPECT_EQ(printed([&] { return recvResponse(data, 1); }),
              std::make_pair(2, std::string("recvChksum PixErrorCodeInternalError\n")));
    answer({0x03});
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }),
              std::make_pair(2, std::string("NAK PixErrorCodeInternalError\n")));
}

TEST_F(ModuleLink, StrayBytesAfterAnUnknownTypeAreDiscarded) {
    answer({0x00, 0x11, 0x22, 0x33});
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }),
              std::make_pair(2, std::string("default PixErrorCodeInternalError\n")));
    EXPECT_FALSE(exchangeTimedOut());  // the line fell quiet
    answer({0x01});                    // the next exchange starts clean
    EXPECT_EQ(recvResponse(nullptr, 0), 0);
}

TEST_F(ModuleLink, AnAnswerOfAnotherSizeFailsAndIsConsumedWhole) {
    uint8_t data[4] = {};
    answer({0x02, 0x02, 0x01, 0x02, 0xFA});
    EXPECT_EQ(printed([&] { return recvResponse(data, 1); }), std::make_pair(2, std::string()));
    answer({0x01});
    EXPECT_EQ(recvResponse(nullptr, 0), 0);
}

TEST_F(ModuleLink, AnAnswerInPiecesIsGathered) {
    uint8_t data[4] = {};
    answer({0x02, 0x04});
    answer({0x00, 0x00});
    answer({0x00, 0x05, 0xF4});
    EXPECT_EQ(recvResponse(data, 4), 0);
    EXPECT_EQ(data[3], 5);
}

TEST_F(ModuleLink, ASilentModuleTimesOut) {
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }),
              std::make_pair(2, std::string("timeout PixErrorCodeInternalError\n")));
    EXPECT_TRUE(exchangeTimedOut());
    answer({0x02});  // and one that stops in mid-answer
    EXPECT_EQ(printed([] { return recvResponse(nullptr, 0); }),
              std::make_pair(2, std::string("timeout PixErrorCodeInternalError\n")));
}

TEST_F(ModuleLink, ALineThatNeverGoesQuietTimesOut) {
    std::atomic<bool> stop{false};
    player_ = std::thread([&] {
        // Bytes of no known type for up to 20 s, kept well ahead of the
        // reader, so that a pause of this thread leaves no quiet on the line.
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        bytes noise(4096);
        for (size_t i = 0; i < noise.size(); ++i) {
            noise[i] = i % 2 == 0 ? 0xAA : 0x55;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop && std::chrono::steady_clock::now() < end) {
            [[maybe_unused]] const ssize_t n = write(master_, noise.data(), noise.size());
            usleep(1000);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const auto result = printed([] { return recvResponse(nullptr, 0); });
    const auto took = std::chrono::steady_clock::now() - start;
    stop = true;
    sent();
    // Without the bound the exchange would last as long as the noise (20 s).
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(result.first, 2);
    if (result.second != "default PixErrorCodeInternalError\n") {
        // The usual case; only a loaded machine that holds the noise back
        // for 100 ms leaves the quiet that ends the discard early instead.
        EXPECT_EQ(result.second, "timeout PixErrorCodeInternalError\n");
        EXPECT_TRUE(exchangeTimedOut());
    }
}

TEST_F(ModuleLink, InputBeforeARequestIsNotItsAnswer) {
    answer({0x01});  // a stray acknowledge, or the late answer to an earlier request
    play({{0x04, 0x07, 0xF4}});
    uint8_t value[4] = {};
    EXPECT_EQ(printed([&] { return GetProperty(0x2E, PixTypeU8, value); }),
              std::make_pair(7, std::string("ec2 = 7\n")));
    EXPECT_EQ(sent(), (bytes{0x03, 0x02, 0x00, 0x2E, 0xCC}));
}

TEST_F(ModuleLink, ALateAnswerIsNotTakenForTheNextRequest) {
    std::atomic<bool> gave_up{false};
    player_ = std::thread([&] {
        received_ = request();
        for (int waited = 0; !gave_up && waited < 10000; ++waited) {
            usleep(1000);
        }
        answer({0x02, 0x01, 0x07, 0xF5});  // the first request's answer, too late
        const bytes next = request();
        received_.insert(received_.end(), next.begin(), next.end());
        answer({0x02, 0x01, 0x09, 0xF3});
    });
    uint8_t value[4] = {};
    EXPECT_EQ(printed([&] { return GetProperty(0x2E, PixTypeU8, value); }),
              std::make_pair(2, std::string("timeout PixErrorCodeInternalError\n")));
    EXPECT_TRUE(exchangeTimedOut());
    gave_up = true;
    EXPECT_EQ(GetProperty(0x2F, PixTypeU8, value), 0);
    EXPECT_EQ(value[0], 9);
    EXPECT_FALSE(exchangeTimedOut());
    EXPECT_EQ(sent(), (bytes{0x03, 0x02, 0x00, 0x2E, 0xCC, 0x03, 0x02, 0x00, 0x2F, 0xCB}));
}

TEST_F(ModuleLink, PortSettingsAreRawAt38400EightNoneOne) {
    termios t{};
    ASSERT_EQ(tcgetattr(modulePort->fd, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B38400));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD | CLOCAL), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(Cssl, SetupTable) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    cssl_start();
    cssl_port* port = cssl_open(ptsname(master), nullptr, 0, 9600, 0, 8, 1);
    ASSERT_NE(port, nullptr);
    struct {
        int baud, bits, parity, stop;
        speed_t speed;
        tcflag_t flags;
    } const cases[] = {
        {134, 8, 0, 1, B9600, CS8},
        {1800, 5, 3, 0, B9600, CS8},
        {115200, 7, 1, 2, B115200, CS7 | PARENB | PARODD | CSTOPB},
        {57600, 6, 2, 1, B57600, CS8 | PARENB},
        {75, 8, 8, 3, B75, CS8},
    };
    for (const auto& c : cases) {
        cssl_setup(port, c.baud, c.bits, c.parity, c.stop);
        // A pseudo-terminal keeps the speed but forces 8 bits without parity,
        // so the size and parity are read from what the library applied.
        termios t{};
        tcgetattr(port->fd, &t);
        EXPECT_EQ(cfgetispeed(&t), c.speed) << c.baud;
        EXPECT_EQ(port->settings.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), c.flags) << c.baud;
        EXPECT_EQ(port->settings.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
        EXPECT_EQ(cssl_geterror(), CSSL_OK);
    }
    cssl_close(port);
    EXPECT_STREQ(cssl_error_message(), "cssl: OK");
    close(master);
}

// Signal-driven reception: what arrives is handed to the port's callback.
volatile int g_callback_id = -1;
volatile int g_callback_count = 0;
unsigned char g_callback_bytes[8];

int on_receive(int id, unsigned char* buffer, int count) {
    g_callback_id = id;
    for (int i = 0; i < count && i < 8; ++i) {
        g_callback_bytes[i] = buffer[i];
    }
    g_callback_count = count;
    return 0;
}

TEST(Cssl, CallbackReceivesWhatArrives) {
    if (std::getenv("CAMBOARD_EMULATED") != nullptr) {
        GTEST_SKIP() << "qemu-user delivers no SIGIO for a target's descriptors";
    }
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    cssl_start();
    cssl_port* port = cssl_open(ptsname(master), on_receive, 7, 38400, 0, 8, 1);
    ASSERT_NE(port, nullptr);
    const unsigned char incoming[] = {0x01, 0x02, 0xFF};
    ASSERT_EQ(write(master, incoming, sizeof incoming), 3);
    for (int waited = 0; waited < 2000 && g_callback_count == 0; waited += 10) {
        usleep(10000);  // the signal interrupts the sleep
    }
    EXPECT_EQ(g_callback_id, 7);
    ASSERT_EQ(g_callback_count, 3);
    EXPECT_EQ(g_callback_bytes[2], 0xFF);
    cssl_close(port);
    close(master);
}

TEST(CsslDeathTest, StartAndOpenFailures) {
    // Each in a fresh process: starting the library cannot be undone.
    EXPECT_EXIT(
        {
            std::exit(cssl_open("/dev/null", nullptr, 0, 38400, 0, 8, 1) == nullptr &&
                              std::string(cssl_error_message()) == "cssl: not started"
                          ? 0
                          : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            cssl_start();
            const bool missing =
                cssl_open("/no/such/port", nullptr, 0, 38400, 0, 8, 1) == nullptr &&
                std::string(cssl_error_message()) == "cssl: cannot open file";
            cssl_close(nullptr);
            std::exit(missing && std::string(cssl_error_message()) == "cssl: null pointer" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            // Every real-time signal taken: the library cannot start.
            for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
                signal(sig, SIG_IGN);
            }
            cssl_start();
            const bool no_signal =
                std::string(cssl_error_message()) == "cssl: there's no free signal";
            testing::internal::CaptureStdout();
            const int result = commInit();
            const std::string out = testing::internal::GetCapturedStdout();
            std::exit(no_signal && result == -1 && out == "!!!cssl: not started\n" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(Params, TypeRule) {
    EXPECT_EQ(paramTypeOf(0x38), PixTypeS32);
    EXPECT_EQ(paramTypeOf(0x75), PixTypeS32);
    EXPECT_EQ(paramTypeOf(0x25), PixTypeS16);
    EXPECT_EQ(paramTypeOf(0x27), PixTypeS16);
    EXPECT_EQ(paramTypeOf(0x0F), PixTypeS8);
    EXPECT_EQ(paramTypeOf(0x00), PixTypeU8);
    EXPECT_EQ(paramTypeOf(0x8F), PixTypeU8);
    for (const PixParam& p : kParams) {
        EXPECT_EQ(paramTypeOf(p.id), p.type) << p.option;
    }
}

TEST(Params, ValuesRoundTripAtTheirWidth) {
    struct {
        int type;
        int32_t in;
        int32_t out;
    } const cases[] = {
        {PixTypeS8, -42, -42},      {PixTypeU8, -42, 0xD6},
        {PixTypeU8, 300, 44},       {PixTypeS16, -20, -20},
        {PixTypeS16, 11000, 11000}, {PixTypeS16, 70000, 4464},
        {PixTypeS32, -8, -8},       {PixTypeS32, INT32_MIN, INT32_MIN},
    };
    for (const auto& c : cases) {
        uint8_t buffer[4] = {};
        valueToBuffer(c.in, c.type, buffer);
        EXPECT_EQ(bufferToValue(c.type, buffer), c.out) << c.type << " " << c.in;
    }
}

// The help text is written out by hand; each option of the table must have
// one line there, and the values that line names must be the range the
// option accepts.
TEST(Params, TheHelpNamesEachOptionWithItsRange) {
    const std::regex range("(-?[0-9]+)\\.\\.(-?[0-9]+) step 1");
    const std::regex choice("(^|[;,] )(-?[0-9]+) - ");
    for (const PixParam& p : kParams) {
        std::string text;
        int lines = 0;
        for (const std::string line : helpLines()) {
            if (line.starts_with("  " + std::string(p.option) + " ")) {
                ++lines;
                text = line.substr(18);
            }
        }
        ASSERT_EQ(lines, 1) << p.option;
        std::smatch m;
        std::vector<int> values;
        if (std::regex_match(text, m, range)) {
            values = {std::stoi(m[1]), std::stoi(m[2])};
        }
        for (auto it = std::sregex_iterator(text.begin(), text.end(), choice);
             it != std::sregex_iterator(); ++it) {
            values.push_back(std::stoi((*it)[2]));
        }
        ASSERT_FALSE(values.empty()) << text;
        EXPECT_EQ(values.front(), p.min) << p.option;
        EXPECT_EQ(values.back(), p.max) << p.option;
    }
}

CommandLine parse(std::vector<const char*> words) {
    words.insert(words.begin(), "isptune");
    testing::internal::CaptureStdout();
    const CommandLine line =
        parseCommandLine(static_cast<int>(words.size()), const_cast<char**>(words.data()));
    echoed = testing::internal::GetCapturedStdout();
    return line;
}

TEST(CommandLine, WordsActInTheirOrder) {
    CommandLine line = parse({"--write", "--gamma", "1", "--read"});
    EXPECT_EQ(line.mode, Mode::read);
    EXPECT_EQ(line.propertyId, 0x2E);
    EXPECT_EQ(line.value, 1);
    EXPECT_EQ(echoed, "gamma mode = 1\n");

    line = parse({"--gamma", "1", "--write"});  // the 1 came before write mode
    EXPECT_EQ(line.mode, Mode::write);
    EXPECT_EQ(line.value, 0);
    EXPECT_EQ(echoed, "");

    line = parse({"--write", "--gamma", "--read", "--osddisable", "stray"});
    EXPECT_EQ(line.mode, Mode::write);  // --read was the value, read as 0
    EXPECT_EQ(line.value, 0);
    EXPECT_TRUE(line.clearOsd);

    line = parse({"--write", "--gamma", "2", "--gainvalue", "-42"});
    EXPECT_EQ(line.propertyId, 0x0F);
    EXPECT_EQ(line.value, -42);
    EXPECT_EQ(echoed, "gamma mode = 2\ngain value = -42\n");

    line = parse({});
    EXPECT_EQ(line.mode, Mode::none);
    EXPECT_EQ(line.propertyId, 0);
    EXPECT_FALSE(line.clearOsd);
}

TEST(CommandLineDeathTest, OutOfRangeAndHelpEndTheProgram) {
    const auto exits_with = [](std::vector<const char*> words) {
        parse(std::move(words));
        std::exit(2);  // not reached when the words end the program
    };
    EXPECT_EXIT(exits_with({"--write", "--gainvalue", "-43"}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exits_with({"--write", "--gainvalue"}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exits_with({"--help", "--write"}), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exits_with({"--write", "--gamma", "2147483648"}), testing::ExitedWithCode(0), "");
}

}  // namespace

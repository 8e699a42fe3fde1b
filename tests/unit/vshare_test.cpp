// SPDX-License-Identifier: MIT
// vshare's pieces over socket pairs: what a viewer's socket does not take
// is copied and sent later in order, a viewer with a rest misses frames and
// resumes at a part's start, the request line, and each kind of viewer's
// share of a frame.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "frame_fanout.h"
#include "responses.h"
#include "viewer.h"
#include "viewer_output.h"

namespace {

// The server's end (non-blocking, with a small send buffer, so that a
// large part does not fit) and the client's.
struct socket_pair {
    unique_fd server;
    unique_fd client;

    socket_pair() {
        int ends[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        server.reset(ends[0]);
        client.reset(ends[1]);
        const int small = 4096;
        setsockopt(server.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        fcntl(server.get(), F_SETFL, O_NONBLOCK);
        fcntl(client.get(), F_SETFL, O_NONBLOCK);
    }
};

// Everything the client can read now.
std::string drain(int fd) {
    std::string got;
    char chunk[65536];
    ssize_t n = 0;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) {
        got.append(chunk, static_cast<size_t>(n));
    }
    return got;
}

iovec piece(const std::string& text) {
    return {const_cast<char*>(text.data()), text.size()};
}

std::string pattern(size_t size, char seed) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>(seed + static_cast<char>(i % 23));
    }
    return text;
}

TEST(ViewerOutput, AViewerThatKeepsUpCostsNoCopy) {
    socket_pair sockets;
    viewer_output out(std::move(sockets.server), 0);
    const std::string head = "head\r\n";
    const std::string body = pattern(1000, 'a');
    const std::array<iovec, 2> pieces{piece(head), piece(body)};
    EXPECT_EQ(out.send(pieces, 10), send_result::done);
    EXPECT_FALSE(out.busy());
    EXPECT_EQ(out.copied(), 0U);
    EXPECT_EQ(drain(sockets.client.get()), head + body);
}

TEST(ViewerOutput, TheRestIsCopiedAndSentInOrderAsTheSocketDrains) {
    socket_pair sockets;
    viewer_output out(std::move(sockets.server), 0);
    const std::string head = "--frame\r\n";
    const std::string image = pattern(200000, 'A');
    const std::array<iovec, 2> part{piece(head), piece(image)};
    ASSERT_EQ(out.send(part, 5), send_result::pending);
    EXPECT_TRUE(out.busy());
    std::string received = drain(sockets.client.get());
    ASSERT_LT(received.size(), head.size() + image.size());
    // Only what the socket did not take was copied.
    EXPECT_EQ(out.copied(), head.size() + image.size() - received.size());
    // Behind the rest, a whole message is copied and kept after it.
    const std::string closing = "--frame--\r\n\r\n";
    const iovec last = piece(closing);
    EXPECT_EQ(out.send({&last, 1}, 6), send_result::pending);
    EXPECT_EQ(out.copied(), head.size() + image.size() - received.size() + closing.size());
    for (int round = 0; out.busy() && round < 10000; ++round) {
        EXPECT_NE(out.flush(7), send_result::gone);
        received += drain(sockets.client.get());
    }
    received += drain(sockets.client.get());
    EXPECT_FALSE(out.busy());
    EXPECT_EQ(received, head + image + closing);
}

TEST(ViewerOutput, TheStallIsTimedFromTheLastByteTaken) {
    socket_pair sockets;
    viewer_output out(std::move(sockets.server), 0);
    const std::string big = pattern(300000, '0');
    const iovec part = piece(big);
    ASSERT_EQ(out.send({&part, 1}, 100), send_result::pending);
    EXPECT_EQ(out.last_progress_ms(), 100);
    EXPECT_EQ(out.flush(200), send_result::pending);  // nothing read: no progress
    EXPECT_EQ(out.last_progress_ms(), 100);
    drain(sockets.client.get());
    EXPECT_NE(out.flush(300), send_result::gone);
    EXPECT_EQ(out.last_progress_ms(), 300);
}

TEST(ViewerOutput, AGoneClientIsReportedWithoutASignal) {
    socket_pair sockets;
    viewer_output out(std::move(sockets.server), 0);
    sockets.client.reset();
    const std::string text = "x";
    const iovec part = piece(text);
    EXPECT_EQ(out.send({&part, 1}, 1), send_result::gone);  // EPIPE, not SIGPIPE
}

// Whether a TCP viewer's next part would wait behind older bytes.
struct backlog_case {
    const char* name;
    socket_backlog backlog;
    bool old_bytes;
};

class OldBytes : public testing::TestWithParam<backlog_case> {};

TEST_P(OldBytes, DecideWhetherTheNextPartWaits) {
    EXPECT_EQ(holds_old_bytes(GetParam().backlog), GetParam().old_bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Backlogs, OldBytes,
    testing::Values(backlog_case{"AllOutWindowWide", {0, 0, 65536, 65536, 0}, false},
                    backlog_case{"AHeadStillUnsent", {300, 0, 65536, 65536, 0}, false},
                    backlog_case{"APartUnsent", {40000, 0, 65536, 65536, 1000}, true},
                    backlog_case{"APartUnackedOnASlowLink", {0, 30000, 65536, 65536, 1000}, true},
                    backlog_case{"APeerWithAFullBuffer", {0, 0, 0, 16384, 1000}, true},
                    backlog_case{"AHalfOpenWindowJustAfterAPart", {0, 0, 40000, 65536, 100}, true},
                    backlog_case{
                        "AHalfOpenWindowLongAfterAPart", {0, 0, 40000, 65536, 1000}, false},
                    backlog_case{"ANarrowWindowLongAfterAPart", {0, 0, 20000, 65536, 5000}, true}),
    [](const testing::TestParamInfo<backlog_case>& each) { return each.param.name; });

TEST(ViewerOutput, AUnixSocketIsNeverHeldBack) {
    socket_pair sockets;
    viewer_output out(std::move(sockets.server), 0);
    const std::string big = pattern(300000, '0');
    const iovec part = piece(big);
    ASSERT_EQ(out.send({&part, 1}, 100), send_result::pending);
    EXPECT_TRUE(out.drained(200));
}

// --- the request line ---------------------------------------------------------

struct client_viewer {
    socket_pair sockets;
    viewer one{std::move(sockets.server), 0};

    void say(const std::string& text) {
        ASSERT_EQ(write(sockets.client.get(), text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
        one.read_input(1);
    }
};

TEST(ViewerRequest, StreamAndSnapshotLinesEvenInPieces) {
    client_viewer stream;
    stream.say("str");
    EXPECT_EQ(stream.one.phase, viewer_phase::request);
    stream.say("eam\n");
    EXPECT_EQ(stream.one.phase, viewer_phase::waiting);
    EXPECT_EQ(stream.one.wants, viewer_request::stream);
    client_viewer snapshot;
    snapshot.say("snapshot\n");
    EXPECT_EQ(snapshot.one.phase, viewer_phase::waiting);
    EXPECT_EQ(snapshot.one.wants, viewer_request::snapshot);
    EXPECT_EQ(drain(snapshot.sockets.client.get()), "");
}

TEST(ViewerRequest, AnUnknownOrEndlessLineIsRefused) {
    for (const std::string& line :
         std::vector<std::string>{"stream \n", "STREAM\n", "\n", std::string(20, 's')}) {
        client_viewer bad;
        bad.say(line);
        EXPECT_EQ(bad.one.phase, viewer_phase::done) << line;
        EXPECT_EQ(drain(bad.sockets.client.get()), kBadRequest) << line;
    }
}

TEST(ViewerRequest, AClientThatLeavesEndsTheViewer) {
    client_viewer gone;
    gone.sockets.client.reset();
    gone.one.read_input(1);
    EXPECT_EQ(gone.one.phase, viewer_phase::done);
}

// --- one frame to every kind of viewer ------------------------------------------

class Fanout : public testing::Test {
  protected:
    void add(const std::string& request) {
        clients_.emplace_back();
        socket_pair& pair = clients_.back();
        viewers_.emplace_back(std::move(pair.server), 0);
        ASSERT_EQ(write(pair.client.get(), request.data(), request.size()),
                  static_cast<ssize_t>(request.size()));
        viewers_.back().read_input(0);
    }
    std::string received(size_t i) { return drain(clients_[i].client.get()); }

    std::vector<socket_pair> clients_;
    std::vector<viewer> viewers_;
    frame_fanout fanout_;

    void SetUp() override { clients_.reserve(8); }
};

std::string part_of(const std::string& image, int64_t t_usec) {
    char header[256];
    const size_t length = format_part_header(header, sizeof header, "frame", image.size(), t_usec);
    return std::string(header, length) + image + "\r\n";
}

TEST_F(Fanout, HeadFirstPartsThenAPictureAndTheEnds) {
    add("stream\n");
    add("snapshot\n");
    const std::string image = "\xFF\xD8" + pattern(100, 'j') + "\xFF\xD9";
    const shared_frame frame{reinterpret_cast<const uint8_t*>(image.data()),
                             static_cast<uint32_t>(image.size()), 1700000000000005};
    EXPECT_EQ(fanout_.deliver(viewers_, frame, 1), 2U);
    EXPECT_EQ(received(0), std::string(kStreamHead) + part_of(image, 1700000000000005));
    EXPECT_EQ(received(1),
              "Content-Type: image/jpeg\r\nContent-Length: 104\r\n"
              "Cache-Control: no-cache\r\n\r\n" +
                  image);
    EXPECT_EQ(viewers_[1].phase, viewer_phase::done);  // a picture, then closed
    EXPECT_EQ(fanout_.deliver(viewers_, frame, 2), 1U);
    EXPECT_EQ(received(0), part_of(image, 1700000000000005));
    fanout_.end_all(viewers_, 3);
    EXPECT_EQ(received(0), "--frame--\r\n\r\n");
    EXPECT_EQ(viewers_[0].phase, viewer_phase::done);
}

TEST_F(Fanout, AViewerWithARestMissesFramesAndResumesAtAPartsStart) {
    add("stream\n");
    add("stream\n");
    const std::string big = "\xFF\xD8" + pattern(200000, 'b') + "\xFF\xD9";
    const std::string small = "\xFF\xD8" + pattern(50, 's') + "\xFF\xD9";
    const auto frame_of = [](const std::string& image, int64_t t_usec) {
        return shared_frame{reinterpret_cast<const uint8_t*>(image.data()),
                            static_cast<uint32_t>(image.size()), t_usec};
    };
    // Viewer 0 reads along, viewer 1 reads nothing until the end.
    EXPECT_EQ(fanout_.deliver(viewers_, frame_of(big, 1), 1), 2U);
    std::string seen0 = received(0);
    while (viewers_[0].out.busy()) {
        viewers_[0].flush(1);
        seen0 += received(0);
    }
    EXPECT_TRUE(viewers_[1].out.busy());
    EXPECT_EQ(fanout_.deliver(viewers_, frame_of(small, 2), 2), 1U);  // viewer 1 misses it
    seen0 += received(0);
    std::string seen1;
    while (viewers_[1].out.busy()) {
        viewers_[1].flush(3);
        seen1 += received(1);
    }
    EXPECT_EQ(fanout_.deliver(viewers_, frame_of(small, 3), 3), 2U);
    seen0 += received(0);
    seen1 += received(1);
    const std::string head(kStreamHead);
    EXPECT_EQ(seen0, head + part_of(big, 1) + part_of(small, 2) + part_of(small, 3));
    EXPECT_EQ(seen1, head + part_of(big, 1) + part_of(small, 3));
}

TEST_F(Fanout, ViewersWaitingForTheirFirstFrameAreRefused) {
    add("stream\n");
    add("snapshot\n");
    add("str");  // has not asked yet: not answered
    frame_fanout::refuse_waiting(viewers_, 1);
    EXPECT_EQ(received(0), kUnavailable);
    EXPECT_EQ(received(1), kUnavailable);
    EXPECT_EQ(received(2), "");
    EXPECT_EQ(viewers_[2].phase, viewer_phase::request);
}

// A viewer's own pace: of a second of frames at 30 a second, the number it
// gets for the rate it asked for.
struct pace_case {
    unsigned asked;
    size_t parts;
};

class FanoutPace : public Fanout, public testing::WithParamInterface<pace_case> {};

TEST_P(FanoutPace, AViewerGetsTheRateItAskedFor) {
    frame_fanout fanout(30);
    add("stream\n");
    viewers_[0].terms.fps = GetParam().asked;
    viewers_[0].terms.period_usec = 1000000 / GetParam().asked;
    const std::string image = "\xFF\xD8" + pattern(64, 'p') + "\xFF\xD9";
    uint64_t parts = 0;
    for (int64_t i = 0; i < 30; ++i) {
        const shared_frame frame{reinterpret_cast<const uint8_t*>(image.data()),
                                 static_cast<uint32_t>(image.size()), 1700000000000000 + i * 33333};
        parts += fanout.deliver(viewers_, frame, i);
        received(0);
    }
    EXPECT_EQ(parts, GetParam().parts);
    EXPECT_EQ(viewers_[0].counts.sent, GetParam().parts);
    EXPECT_EQ(viewers_[0].counts.skipped, 0U);  // its pace is not a skip
}

INSTANTIATE_TEST_SUITE_P(Rates, FanoutPace,
                         testing::Values(pace_case{30, 30}, pace_case{12, 12}, pace_case{10, 10},
                                         pace_case{7, 7}, pace_case{1, 1}),
                         [](const testing::TestParamInfo<pace_case>& row) {
                             return std::to_string(row.param.asked) + "fps";
                         });

}  // namespace

// SPDX-License-Identifier: MIT
// One client of the server: the request it sends, where it stands in its
// response, and its output. A local client (the unix socket) sends one
// request line and gets a CGI response; an HTTP client sends request heads,
// several on one connection when it keeps it alive.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "viewer_output.h"

enum class viewer_phase {
    request,     // reading the request
    waiting,     // for the next frame (the first, for a stream)
    streaming,   // has the stream's head; gets a part of every frame it keeps up with
    responding,  // a response's last bytes are going out, then the next request
    closing,     // its last bytes are going out, then it is closed
    done,        // to be closed
};

enum class viewer_request { none, stream, snapshot };

enum class viewer_protocol { local, http };

// How an HTTP viewer asked for the stream or the picture.
struct viewer_terms {
    bool advance_headers = false;  // each next part's head right after the image
    bool head_only = false;        // HEAD: the head, not the picture
    bool keep_alive = false;
    int minor_version = 1;
    int64_t period_usec = 0;  // at most a frame this often; 0: every frame
    unsigned fps = 0;         // as asked; 0: the capture's
};

// What a streaming viewer has had.
struct viewer_counts {
    uint64_t sent = 0;
    uint64_t skipped = 0;         // frames missed while a part was still going out
    int64_t last_frame_usec = 0;  // wall-clock time of the last frame sent
    int64_t next_due_usec = 0;    // when its next frame is due, at its own pace
};

class viewer {
  public:
    viewer(unique_fd socket, int64_t now_ms, viewer_protocol protocol_of = viewer_protocol::local,
           const sockaddr_storage* peer_address = nullptr);

    viewer_output out;
    viewer_phase phase = viewer_phase::request;
    viewer_request wants = viewer_request::none;
    viewer_protocol protocol;
    viewer_terms terms;
    viewer_counts counts;
    sockaddr_storage peer{};

    // Reads what the client sent. A local client's request line is taken
    // here (a bad one is answered); an HTTP client's bytes are kept for
    // request() until a head is whole. A streaming viewer's input is read
    // and dropped up to a small bound, then no longer watched. The end of
    // its input ends the viewer.
    void read_input(int64_t now_ms);
    // Whether its input is to be watched.
    [[nodiscard]] bool wants_input() const;
    // The HTTP bytes received and not yet taken as a request.
    [[nodiscard]] std::string_view request_bytes() const {
        return {request_.data(), request_.size()};
    }
    // The first `length` bytes were a request, now answered or under way.
    void take_request(size_t length);
    // Sends `pieces` as the viewer's last bytes; it is closed once they
    // are out.
    void finish(std::span<const iovec> pieces, int64_t now_ms);
    void finish(std::string_view text, int64_t now_ms);
    // Sends a whole response; the connection then waits for the next
    // request if it is kept alive, or is closed.
    void respond(std::span<const iovec> pieces, int64_t now_ms);
    void respond(std::string_view text, int64_t now_ms);
    // Sends what waits; a viewer that is closing ends when it is all out.
    void flush(int64_t now_ms);
    // A part of the stream (or its head and first part): a viewer that
    // cannot take it whole misses frames until the rest is out.
    void send_part(std::span<const iovec> pieces, int64_t now_ms);
    // Reads and drops what the client sent and nobody read: closing a unix
    // socket with unread input would reset the client's connection, and
    // it could lose the end of its response.
    void discard_input() const;
    // Whether the viewer wants frames from the capture.
    [[nodiscard]] bool wants_frames() const {
        return phase == viewer_phase::waiting || phase == viewer_phase::streaming;
    }
    // Since when it has stood still: its request unread, or its output not
    // taken (a rest waiting, or older bytes its peer does not read).
    [[nodiscard]] int64_t stalled_since_ms() const;
    // Whether it has been answered before (an idle kept-alive connection).
    [[nodiscard]] bool answered_before() const { return answered_; }

  private:
    void take_request_line(std::string_view line, int64_t now_ms);
    void back_to_request(int64_t now_ms);

    char line_[16] = {};
    size_t line_used_ = 0;
    std::vector<char> request_;
    size_t ignored_ = 0;  // bytes read and dropped while streaming
    int64_t since_ms_;
    bool answered_ = false;
};

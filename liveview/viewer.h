// One client of the server: the request line it sends, where it stands in
// its response, and its output.
#pragma once

#include <cstdint>
#include <string_view>

#include "viewer_output.h"

enum class viewer_phase {
    request,    // reading the request line
    waiting,    // for the next frame (the first, for a stream)
    streaming,  // has the stream's head; gets a part of every frame it keeps up with
    closing,    // its last bytes are going out, then it is closed
    done,       // to be closed
};

enum class viewer_request { none, stream, snapshot };

class viewer {
  public:
    viewer(unique_fd socket, int64_t now_ms) : out(std::move(socket), now_ms), since_ms_(now_ms) {}

    viewer_output out;
    viewer_phase phase = viewer_phase::request;
    viewer_request wants = viewer_request::none;

    // Reads what the client sent: the request line first (a bad one is
    // answered), anything later is ignored. The end of its input ends the
    // viewer.
    void read_input(int64_t now_ms);
    // Sends `pieces` as the viewer's last bytes; it is closed once they
    // are out.
    void finish(std::span<const iovec> pieces, int64_t now_ms);
    void finish(std::string_view text, int64_t now_ms);
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
    // taken.
    [[nodiscard]] int64_t stalled_since_ms() const;

  private:
    void take_request_line(std::string_view line, int64_t now_ms);

    char line_[16] = {};
    size_t line_used_ = 0;
    int64_t since_ms_;
};

# SPDX-License-Identifier: MIT
"""vcapture sharing its buffers with a peer process: the one-byte messages,
the buffers the peer sees, and how the peer's answers steer the loop."""

import os
import subprocess
import threading
import time

import pytest

from test_vcapture_stream import board_command, lines, stop_bound, wait_until_blocked


def handoff(board, tmp_path, vcapture_args, peer_args=(), settings=None, stop=None):
    """Runs vcapture with its standard output piped into the test peer."""
    base = str(tmp_path / "peer")
    settings = {"unpaced": 1, **(settings or {})}
    args, kwargs = board_command(board, "vcapture", *vcapture_args, "-pipe", base,
                                 settings=settings)
    capture = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    pargs, pkwargs = board_command(board, "handoff_peer", base, *peer_args, settings=settings)
    peer = subprocess.Popen(*pargs, **pkwargs, stdin=capture.stdout, stderr=subprocess.PIPE)
    capture.stdout.close()
    if stop is not None:
        stop(capture)
    err = capture.stderr.read()
    status = capture.wait(timeout=120)
    peer.wait(timeout=60)  # it ends with its input
    return status, err


def peer_lines(board):
    return [l for l in board.trace() if l.startswith("peer ")]


def test_map_requests_then_frames_each_requeued_after_its_echo(board, tmp_path):
    status, err = handoff(board, tmp_path, ["64", "48", "-count", "5", "-quiet"])
    assert status == 0
    out = lines(err)
    at = out.index("vcapture: sending map request for buffer 0 ...")
    assert out[at - 1] == "vcapture: stream buffer 0 with length 8192 mapped"
    assert out[at + 1:at + 3] == ["vcapture: stream buffer 1 with length 8192 mapped",
                                  "vcapture: sending map request for buffer 1 ..."]
    trace = board.trace()
    assert peer_lines(board)[:2] == ["peer map 0", "peer map 1"]
    # Each frame: dequeued, seen by the peer with the pixels the driver put
    # there, answered, and only then queued again.
    dq = [i for i, l in enumerate(trace) if l.startswith("VIDIOC_DQBUF index")]
    assert len(dq) == 5
    for n, i in enumerate(dq):
        index, seq = trace[i].split()[1], trace[i].split()[2]
        k = trace.index(f"peer frame {index[6:]} seq={seq[9:]}", i)
        answer = trace.index(f"peer answer {index[6:]}", k)
        assert trace.index(f"VIDIOC_QBUF {index} = 0", i) > answer


def test_jpeg_buffers_are_readable_by_the_peer(board, tmp_path):
    status, _ = handoff(board, tmp_path, ["320", "240", "-format", "jpeg", "-count", "3", "-quiet"])
    assert status == 0
    assert [l for l in peer_lines(board) if l.startswith("peer frame")] == [
        "peer frame 0 seq=0", "peer frame 1 seq=1", "peer frame 0 seq=2"]


def test_the_peer_queries_the_frame_the_driver_filled(board, tmp_path):
    # A peer learns a frame's size and time stamp by querying its buffer:
    # the query reports what vcapture's dequeue of that buffer reported.
    status, _ = handoff(board, tmp_path, ["320", "240", "-format", "jpeg", "-count", "4", "-quiet"])
    assert status == 0
    trace = board.trace()
    dequeued = [l.split()[1:4] for l in trace if l.startswith("VIDIOC_DQBUF index")]
    queried = [l.split()[2:5] for l in trace if l.startswith("peer query")]
    assert [[f"index={q[0]}", q[1], q[2]] for q in queried] == dequeued
    stamps = [float(l.split()[-1][5:]) for l in trace if l.startswith("peer query")]
    assert all(s > 0 for s in stamps) and stamps == sorted(stamps)


def test_skipped_frames_are_not_handed_over(board, tmp_path):
    status, _ = handoff(board, tmp_path, ["64", "48", "-count", "5", "-skip", "2", "-quiet"])
    assert status == 0
    frames = [l.split()[3] for l in peer_lines(board) if l.startswith("peer frame")]
    assert frames == ["seq=0", "seq=2", "seq=4"]


@pytest.mark.parametrize("stop_byte", ["0x40", "0x41"])
def test_stop_byte_ends_the_capture_in_order(board, tmp_path, stop_byte):
    status, err = handoff(board, tmp_path, ["64", "48", "-quiet"],
                          ["--stop-after", "3", "--stop-byte", stop_byte])
    assert status == 0
    out = lines(err)
    assert "vcapture: Stop signal 'Unknown signal 0' received" in out
    assert "vcapture: Error happened, stop" not in out
    trace = board.trace()
    # The buffer the peer stopped on is not queued again.
    last = [l for l in trace if l.startswith("VIDIOC_DQBUF index")][-1].split()[1]
    after = trace[trace.index("peer answer %d" % int(stop_byte, 0)):]
    assert f"VIDIOC_QBUF {last} = 0" not in after
    assert "VIDIOC_STREAMOFF = 0" in after


def test_wrong_index_is_fatal(board, tmp_path):
    status, err = handoff(board, tmp_path, ["64", "48", "-quiet"], ["--wrong-index-at", "1"])
    assert status == 1
    assert lines(err)[-2] == "vcapture: wrong buf index 0 from in pipe"


def test_stop_signal_while_waiting_for_the_peer(board, tmp_path):
    def stop(capture):
        deadline = time.time() + 60
        while "peer silent" not in board.trace() and time.time() < deadline:
            time.sleep(0.05)
        time.sleep(0.2)
        capture.terminate()

    status, err = handoff(board, tmp_path, ["64", "48", "-quiet"], ["--silent-after", "2"],
                          stop=stop)
    assert status == 0
    out = lines(err)
    i = out.index("vcapture: can't read from pipe: Interrupted system call")
    assert out[i + 1:i + 4] == ["", "vcapture: Error happened, stop",
                                "vcapture: Stop signal 'Terminated' received"]


def test_more_buffers_than_the_hand_off_can_name(board, tmp_path):
    status, err = handoff(board, tmp_path, ["64", "48", "-bufs", "65", "-quiet"],
                          settings={"max_bufs": 80})
    assert status == 1
    assert lines(err)[-2] == ("vcapture: 65 stream buffers cannot be shared with a peer: "
                              "at most 64 fit the hand-off")


def test_map_request_that_cannot_be_written_ends_the_set_up(board, tmp_path):
    read_end, write_end = os.pipe()
    os.close(read_end)  # nobody will ever read vcapture's messages
    args, kwargs = board_command(board, "vcapture", "64", "48", "-pipe", str(tmp_path / "peer"),
                                 settings={"unpaced": 1})
    result = subprocess.run(*args, **kwargs, stdout=write_end, stderr=subprocess.PIPE, timeout=60)
    os.close(write_end)
    assert result.returncode == 1
    assert lines(result.stderr)[-3:] == ["vcapture: sending map request for buffer 0 ...",
                                         "vcapture: can't write to pipe: Broken pipe", ""]
    assert "VIDIOC_STREAMON = 0" not in board.trace()


def test_stop_with_a_stalled_output_and_a_peer(board, tmp_path):
    fifo = tmp_path / "out.fifo"
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # there, but takes nothing
    stopped = []

    def stop(capture):
        wait_until_blocked(board)
        stopped.append(time.monotonic())
        capture.terminate()
        # Fail rather than hang when the stop is not taken.
        watchdog = threading.Timer(60, capture.kill)
        watchdog.daemon = True
        watchdog.start()

    try:
        status, err = handoff(board, tmp_path, ["64", "48", "-out", str(fifo), "-quiet"],
                              stop=stop)
    finally:
        os.close(reader)
    assert status == 0
    assert 1.0 <= time.monotonic() - stopped[0] < stop_bound(board)
    # The peer had answered: only the write failed, and the buffer went back.
    out = lines(err)
    assert out[out.index("vcapture: Main frames loop ..."):] == [
        "vcapture: Main frames loop ...",
        f"vcapture: Can't write to {fifo}: Interrupted system call", "",
        "vcapture: Error happened, stop", "vcapture: Stop signal 'Terminated' received", ""]


def test_a_peer_that_is_gone_ends_the_capture(board, tmp_path):
    args, kwargs = board_command(board, "vcapture", "64", "48", "-pipe", str(tmp_path / "peer"),
                                 "-quiet", settings={"unpaced": 1})
    capture = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        # Like `vcapture ... | head -c 3`: two map requests and a frame, then gone.
        first = capture.stdout.read(3)
        capture.stdout.close()
        status = capture.wait(timeout=60)
    finally:
        capture.kill()
    assert first == b"\x80\x81\x00"
    assert status == 0
    assert lines(capture.stderr.read())[-4:] == [
        "vcapture: output pipe closed", "", "vcapture: Error happened, stop", ""]
    # The buffer the peer took along is not queued again.
    trace = board.trace()
    assert trace.index("VIDIOC_STREAMOFF = 0") > trace.index("VIDIOC_DQBUF index=0 sequence=0 "
                                                             "bytesused=4608 = 0")
    assert "VIDIOC_QBUF index=0 = 0" not in trace[trace.index("VIDIOC_STREAMON = 0"):]


def test_an_answer_left_by_an_earlier_run_is_not_taken(board, tmp_path):
    fifo = str(tmp_path / "peer") + "_r"
    os.mkfifo(fifo, 0o660)
    # The earlier run's peer, still there, answered after that run stopped.
    earlier_peer = os.open(fifo, os.O_RDWR)
    os.write(earlier_peer, b"\x00")
    try:
        status, err = handoff(board, tmp_path, ["64", "48", "-count", "4", "-quiet"],
                              ["--delay-ms", "50"])
    finally:
        os.close(earlier_peer)
    assert status == 0, lines(err)[-2]
    trace = board.trace()
    for i, l in enumerate(trace):
        if l.startswith("VIDIOC_DQBUF index"):
            index, seq = l.split()[1], l.split()[2]
            answer = trace.index(f"peer answer {index[6:]}",
                                 trace.index(f"peer frame {index[6:]} seq={seq[9:]}", i))
            assert trace.index(f"VIDIOC_QBUF {index} = 0", i) > answer

# SPDX-License-Identifier: MIT
"""What the simulator draws into its pictures, read back from decoded
frames: the frame number in the top band, and a picture's size."""

import subprocess


def band_row(height):
    band = 16 if height >= 64 else max(height // 4, 1)
    return band // 2


def sequences_in_gray(data, width, height):
    """The sequence numbers the simulator drew into each grey frame."""
    size = width * height
    block = max(width // 32, 1)
    row = band_row(height)
    seqs = []
    for f in range(len(data) // size):
        base = f * size + row * width
        seq = 0
        for bit in range(32):
            seq = seq << 1 | (data[base + bit * block + block // 2] > 128)
        seqs.append(seq)
    return seqs


def ffmpeg_gray(args, path):
    """Frames of a file decoded by ffmpeg, as grey pixels."""
    result = subprocess.run(["ffmpeg", "-v", "error", *args, "-i", str(path), "-f", "rawvideo",
                             "-pix_fmt", "gray", "-"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120)
    assert result.returncode == 0, result.stderr.decode()
    return result.stdout


def picture_size(jpeg, tmp_path):
    """Width and height of a JPEG picture as ffprobe decodes it ("640,480")."""
    path = tmp_path / "picture.jpg"
    path.write_bytes(jpeg)
    result = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height",
                             "-of", "csv=p=0", str(path)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=60)
    assert result.returncode == 0 and result.stderr == b"", result.stderr.decode()
    return result.stdout.decode().strip()

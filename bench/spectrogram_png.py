"""Spectrogram pictures of a short stretch of audio, drawn with NumPy and written as PNG
without an imaging library. ffmpeg's showspectrumpic steps its analysis to fill the picture's
width, which over a fraction of a second smears an onset into stripes; here the analysis is
short (256 points, 5.8 ms at 44.1 kHz) and finely stepped, so pre-echo ahead of a click
shows as what it is.
"""
import struct
import zlib

import numpy as np

WINDOW, HOP = 256, 16
FLOOR_DB = -90.0  # the darkest shade: this far below the loudest cell of the reference
GAP = 6  # white columns between panels


def power(frames, channels, start, stop):
    """Power spectrogram (bins x columns, low bins first) of frames[start:stop], the two
    channels' powers added, analysed with a Hann window centred on each column."""
    x = np.asarray(frames, dtype=np.float64)
    x = x[:len(x) // channels * channels].reshape(-1, channels)
    pad = np.zeros((WINDOW // 2, channels))
    x = np.concatenate((pad, x, pad))
    win = np.hanning(WINDOW)
    cols = range(start, stop, HOP)
    out = np.zeros((WINDOW // 2 + 1, len(cols)))
    for j, i in enumerate(cols):
        seg = x[i:i + WINDOW]
        if len(seg) < WINDOW:
            seg = np.concatenate((seg, np.zeros((WINDOW - len(seg), channels))))
        out[:, j] = (np.abs(np.fft.rfft(seg * win[:, None], axis=0)) ** 2).sum(axis=1)
    return out


def shade(db):
    """Heat colours for levels FLOOR_DB..0 dB: black, blue, red, yellow, white."""
    v = np.clip((db - FLOOR_DB) / -FLOOR_DB, 0, 1)
    stops = np.array([[0, 0, 0], [30, 20, 140], [200, 30, 40], [250, 200, 20], [255, 255, 255]], dtype=np.float64)
    pos = v * (len(stops) - 1)
    k = np.minimum(pos.astype(int), len(stops) - 2)
    f = (pos - k)[..., None]
    return (stops[k] * (1 - f) + stops[k + 1] * f).astype(np.uint8)


def write_png(path, rgb):
    """rgb: height x width x 3 uint8."""
    h, w, _ = rgb.shape
    raw = b"".join(b"\x00" + rgb[y].tobytes() for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def picture(path, panels, channels, start, stop, mark=None):
    """Panels (interleaved frames each, the first the reference) side by side over frames
    start..stop, every panel shaded against the reference's loudest cell; mark: a frame to
    draw a grey tick for above and below each panel."""
    specs = [power(p, channels, start, stop) for p in panels]
    ref = max(specs[0].max(), 1e-30)
    height = 2 * specs[0].shape[0]
    tick = 6
    out = []
    for s in specs:
        img = shade(10 * np.log10(np.maximum(s, 1e-30) / ref))[::-1].repeat(2, axis=0)
        frame = np.full((height + 2 * tick, img.shape[1], 3), 255, dtype=np.uint8)
        frame[tick:tick + height] = img
        if mark is not None and start <= mark < stop:
            c = (mark - start) // HOP
            frame[:tick, c] = frame[tick + height:, c] = 128
        out.append(frame)
        out.append(np.full((height + 2 * tick, GAP, 3), 255, dtype=np.uint8))
    write_png(path, np.concatenate(out[:-1], axis=1))

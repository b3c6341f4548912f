#!/usr/bin/env python3
"""WMA through flthost, vell_wma.flt and bin/wmaudsdk.dll (our encoder, FFmpeg's muxer
and decoder, under wine).

Export: every row of the plug-in's format table, four seconds of a 997 Hz sine that
starts after a silence. ffprobe must see ASF with WMA at the row's rate and channels and
the row's bit rate in the header, and the packets must carry it: their bits before the
last one over the time they span within 2 % of the row's. ffmpeg's decode must line up
with the input (lag 0: the sine starts within half a frame of where it started, where a
fault of the framing would put it whole frames off, and the best correlation is exact)
and reach 20 dB SNR from 64 kbps up; our import must give back exactly the input's sample
count and match ffmpeg's decode within 1 LSB.

Import: files made by ffmpeg (wmav1 and wmav2, mono and stereo, 8 to 48 kHz) must come
back as ffmpeg's own decode, within 1 LSB and with the same sample count, with flthost
exiting 0 (the announced size kept).

Odd files: ffmpeg-made files cut at several points end with the error status (flthost 9,
the plug-in's "Unknown error." answered); a copy of our file re-encoded by ffmpeg at
another rate, which keeps our sample-count tag, imports at its real length; a file with
a content encryption object is refused (flthost 6), also behind 1.1 MB of padding or an
ID3v2 tag; files whose header gives no duration (written by ffmpeg to a pipe, or behind an
ID3v2 tag) import whole with exit 0; an 8 kHz file cut by a tenth ends with exit 9.

Every failure names flthost's exit code and carries its output, wine's included.

  flthost_wma_test.py --bin BUILD/bin --winerun scripts/winerun.sh
"""
import argparse
import array
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

# The plug-in's 34 rows: kbps, sampling rate, channels.
ROWS = [(5, 8000, 1), (6, 8000, 1), (8, 8000, 1), (8, 11025, 1), (10, 11025, 1), (10, 16000, 1),
        (12, 8000, 2), (12, 16000, 1), (16, 16000, 1), (16, 16000, 2), (16, 22050, 1),
        (20, 16000, 2), (20, 22050, 1), (20, 22050, 2), (20, 32000, 1), (22, 22050, 2),
        (22, 32000, 2), (32, 22050, 2), (32, 32000, 1), (32, 32000, 2), (32, 44100, 1),
        (36, 32000, 2), (40, 32000, 2), (44, 32000, 2), (48, 32000, 2), (48, 44100, 2),
        (64, 32000, 2), (64, 44100, 2), (80, 44100, 2), (96, 44100, 2), (128, 44100, 2),
        (128, 48000, 2), (160, 44100, 2), (160, 48000, 2)]
SECONDS = 4  # long enough for the packets' average rate to settle within 2 %
FFMPEG_MADE = [("wmav1", 8000, 1), ("wmav1", 11025, 2), ("wmav1", 22050, 1), ("wmav1", 44100, 2),
               ("wmav1", 48000, 1), ("wmav2", 8000, 2), ("wmav2", 16000, 1), ("wmav2", 32000, 2),
               ("wmav2", 44100, 1), ("wmav2", 48000, 2)]


def write_wav(path, rate, channels, samples):
    data = samples.tobytes()
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * 2 * channels, 2 * channels, 16)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<I", 16)
                + fmt + b"data" + struct.pack("<I", len(data)) + data)


def read_wav_pcm(path):
    data = open(path, "rb").read()
    at = data.find(b"data")
    return array.array("h", data[at + 8:at + 8 + struct.unpack_from("<I", data, at + 4)[0]])


def sine_with_onset(rate, channels, seconds=0.5):
    """Silence for the first 50 ms, then a 997 Hz sine."""
    frames, start = int(rate * seconds), rate // 20
    out = array.array("h")
    for i in range(frames):
        v = 0 if i < start else int(round(16000 * math.sin(2 * math.pi * 997 * (i - start) / rate)))
        out.extend([v] * channels)
    return out


def onset(samples, channels, level=8000):
    for i in range(0, len(samples), channels):
        if abs(samples[i]) > level:
            return i // channels
    return -1


def fine_lag(ref, got, channels, reach=3):
    """The shift within +-reach samples at which got best matches ref (first channel)."""
    a, b = ref[::channels], got[::channels]
    n = min(len(a), len(b)) - reach
    return max(range(-reach, reach + 1),
               key=lambda lag: sum(a[i] * b[i + lag] for i in range(reach, n)))


def frame_length(rate):
    """The WMA frame (the decoder's unit) at this rate."""
    return 512 if rate <= 16000 else 1024 if rate <= 22050 else 2048


def packet_bit_rate(path):
    """The bits of every packet but the last over the time from the first one's start to
    the last one's: the stream's average rate, the padded last packet left out."""
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                          "packet=pts_time,size", "-of", "csv=p=0", path],
                         capture_output=True, text=True, check=True).stdout
    packets = [line.split(",") for line in out.split()]
    times, sizes = [float(p[0]) for p in packets], [int(p[1]) for p in packets]
    return 8 * sum(sizes[:-1]) / (times[-1] - times[0])


def snr_db(ref, got):
    signal = sum(x * x for x in ref)
    noise = sum((x - y) * (x - y) for x, y in zip(ref, got))
    return 10 * math.log10(signal / max(noise, 1e-9))


def ffprobe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format",
                          "-show_streams", path], capture_output=True, text=True, check=True).stdout
    return json.loads(out)


def ffmpeg_decode(path):
    out = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-"],
                         capture_output=True, check=True).stdout
    return array.array("h", out)


class Host:
    def __init__(self, bin_dir, winerun, work):
        self.bin, self.winerun, self.work = bin_dir, winerun, work

    def run(self, *args):
        """flthost's exit code; its output goes through files (wine may hold pipes open).
        Wine's own reports (a crash's backtrace) arrive on the same stderr."""
        out, err = os.path.join(self.work, "out"), os.path.join(self.work, "err")
        # Wine's error channel on, so that a process that dies without a word of its own
        # (once seen: exit code 1 and nothing printed) leaves wine's account of it.
        env = dict(os.environ, WINEDEBUG="-all,err+all")
        with open(out, "w") as o, open(err, "w") as e:
            rc = subprocess.run([self.winerun, os.path.join(self.bin, "flthost.exe"), *args,
                                 "--quiet", "--close-messages"], stdout=o, stderr=e, timeout=120,
                                env=env).returncode
        self.output = f"exit code {rc}: " + (open(out).read() + open(err).read()).strip()
        return rc

    def export(self, wav, wma, row):
        return self.run("export", os.path.join(self.bin, "vell_wma.flt"), wav, wma, "--options", str(row))

    def import_(self, wma, wav):
        return self.run("import", os.path.join(self.bin, "vell_wma.flt"), wma, wav)


def check_export(host, failures):
    for row, (kbps, rate, channels) in enumerate(ROWS, start=1):
        def fail(what):
            failures.append(f"row {row} ({kbps} kbps, {rate} Hz, {channels} ch): {what}")
        wav, wma, back = (os.path.join(host.work, n) for n in ("in.wav", "out.wma", "back.wav"))
        pcm = sine_with_onset(rate, channels, SECONDS)
        frames = len(pcm) // channels
        write_wav(wav, rate, channels, pcm)
        if host.export(wav, wma, row) != 0:
            fail("export failed: " + host.output)
            continue
        probe = ffprobe(wma)
        stream = probe["streams"][0]
        seen = (probe["format"]["format_name"], stream["codec_name"], int(stream["sample_rate"]),
                stream["channels"], int(stream["bit_rate"]))
        wanted = ("asf", "wmav2", rate, channels, kbps * 1000)
        if seen != wanted:
            fail(f"ffprobe sees {seen}, wanted {wanted}")
        carried = packet_bit_rate(wma)
        if abs(carried / (kbps * 1000) - 1) > 0.02:
            fail(f"the packets carry {carried:.0f} bit/s")
        theirs = ffmpeg_decode(wma)
        # ffmpeg decodes whole frames: the input, then at most two frames of padding.
        if not frames <= len(theirs) // channels <= frames + 2 * 2048:
            fail(f"ffmpeg decodes {len(theirs) // channels} frames of {frames}")
        # The sine's start places the decode within half a frame (at low rates the onset is
        # smeared over a block), the correlation exactly.
        lag = onset(theirs, channels) - onset(pcm, channels)
        if abs(lag) < frame_length(rate) // 2:
            lag = fine_lag(pcm, theirs, channels)
        if lag != 0:
            fail(f"ffmpeg's decode is {lag} samples off the input")
        snr = snr_db(pcm, theirs[:len(pcm)])
        if kbps >= 64 and snr < 20:
            fail(f"SNR {snr:.1f} dB")
        if host.import_(wma, back) != 0:
            fail("import failed: " + host.output)
            continue
        ours = read_wav_pcm(back)
        if len(ours) != len(pcm):
            fail(f"import gives {len(ours) // channels} frames of {frames}")
        elif max(abs(a - b) for a, b in zip(ours, theirs)) > 1:
            fail("import differs from ffmpeg's decode by more than 1 LSB")
        print(f"row {row:2}: {kbps:3} kbps {rate:5} Hz {channels} ch -> {seen[4]} bit/s "
              f"({carried / (kbps * 1000) - 1:+.2%} carried), "
              f"{len(ours) // channels}/{frames} frames, lag {lag}, SNR {snr:.1f} dB")


def check_import(host, failures):
    for codec, rate, channels in FFMPEG_MADE:
        wma, back = os.path.join(host.work, "theirs.wma"), os.path.join(host.work, "back.wav")
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"sine=f=997:r={rate}:d=0.7",
                        "-ac", str(channels), "-c:a", codec, "-b:a", "48k", "-y", wma], check=True)
        theirs = ffmpeg_decode(wma)
        what = f"{codec} {rate} Hz {channels} ch"
        if host.import_(wma, back) != 0:
            failures.append(f"{what}: import failed: {host.output}")
            continue
        ours = read_wav_pcm(back)
        worst = max((abs(a - b) for a, b in zip(ours, theirs)), default=0)
        if len(ours) != len(theirs) or worst > 1:
            failures.append(f"{what}: {len(ours)} samples of {len(theirs)}, worst difference {worst}")
        print(f"{what}: {len(ours) // channels} frames as ffmpeg's, worst difference {worst}")


def check_odd_files(host, failures):
    wma, back = os.path.join(host.work, "odd.wma"), os.path.join(host.work, "back.wav")
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=997:r=44100:d=3", "-ac", "2",
                    "-c:a", "wmav2", "-b:a", "64k", "-y", wma], check=True)
    whole = open(wma, "rb").read()
    for share in (35, 60, 85):
        open(wma, "wb").write(whole[:len(whole) * share // 100])
        rc = host.import_(wma, back)
        said = "Unknown error." in host.output
        if rc != 9 or not said:
            failures.append(f"ffmpeg-made file cut at {share}%: wanted exit 9 and the error message, "
                            f"got {host.output}")
        print(f"cut at {share}%: exit {rc}, {len(read_wav_pcm(back)) // 2} frames")

    # Our file, re-encoded by ffmpeg from 22.05 to 44.1 kHz: it keeps our tag.
    wav, ours, copy = (os.path.join(host.work, n) for n in ("in.wav", "ours.wma", "copy.wma"))
    write_wav(wav, 22050, 1, sine_with_onset(22050, 1))
    host.export(wav, ours, 16)
    subprocess.run(["ffmpeg", "-v", "error", "-i", ours, "-ar", "44100", "-c:a", "wmav2", "-b:a", "64k",
                    "-y", copy], check=True)
    theirs = ffmpeg_decode(copy)
    rc = host.import_(copy, back)
    got = len(read_wav_pcm(back)) if rc == 0 else 0
    if rc != 0 or got != len(theirs):
        failures.append(f"re-encoded copy: {got} samples of {len(theirs)}, {host.output}")
    print(f"re-encoded copy: exit {rc}, {got} samples of {len(theirs)}")

    # A content encryption object (empty fields) put into the header.
    clear = bytearray(open(ours, "rb").read())
    guid = bytes([0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E])
    obj = guid + struct.pack("<Q", 40) + bytes(16)
    size, count = struct.unpack_from("<QI", clear, 16)
    struct.pack_into("<QI", clear, 16, size + len(obj), count + 1)
    open(wma, "wb").write(bytes(clear[:30]) + obj + bytes(clear[30:]))
    rc = host.import_(wma, back)
    if rc != 6:
        failures.append(f"protected file: wanted exit 6, got {host.output}")
    print(f"protected file: exit {rc}")
    check_hidden_and_unmeasured(host, failures, bytes(clear))


def with_children(asf, objects):
    """The objects put first among the header's children, its size and count kept true."""
    size, count = struct.unpack_from("<QI", asf, 16)
    added = b"".join(objects)
    head = bytearray(asf[:30])
    struct.pack_into("<QI", head, 16, size + len(added), count + len(objects))
    return bytes(head) + added + asf[30:]


def asf_object(guid, size):
    return guid + struct.pack("<Q", size) + bytes(size - 24)


def id3v2(body):
    return b"ID3\x04\x00\x00" + bytes([body >> 21 & 0x7F, body >> 14 & 0x7F, body >> 7 & 0x7F, body & 0x7F]) + bytes(body)


def check_hidden_and_unmeasured(host, failures, clear):
    """Protection behind a large header or an ID3v2 tag is refused; files whose header
    gives no duration (written to a pipe, or behind a tag) import whole; a cut 8 kHz
    file ends with the error status."""
    wma, back = os.path.join(host.work, "hidden.wma"), os.path.join(host.work, "back.wav")
    encryption = bytes([0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55,
                        0xFC, 0x6E])
    padding = bytes([0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45, 0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96,
                     0xAA, 0xE8])
    locked = with_children(clear, [asf_object(encryption, 40)])
    for what, data in (("behind 1.1 MB of padding",
                        with_children(clear, [asf_object(padding, 1100000), asf_object(encryption, 40)])),
                       ("behind an ID3v2 tag", id3v2(1000) + locked)):
        open(wma, "wb").write(data)
        rc = host.import_(wma, back)
        if rc != 6:
            failures.append(f"protected file {what}: wanted exit 6, got {host.output}")
        print(f"protected file {what}: exit {rc}")

    piped = os.path.join(host.work, "piped.wma")
    with open(piped, "wb") as out:
        subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=997:r=44100:d=10.8", "-ac", "2",
                        "-c:a", "wmav2", "-b:a", "128k", "-f", "asf", "pipe:1"], stdout=out, check=True)
    for what, data in (("written to a pipe", open(piped, "rb").read()),
                       ("behind an ID3v2 tag", id3v2(2000) + open(piped, "rb").read())):
        open(wma, "wb").write(data)
        theirs = ffmpeg_decode(wma)
        rc = host.import_(wma, back)
        got = len(read_wav_pcm(back)) if rc == 0 else 0
        if rc != 0 or got != len(theirs):
            failures.append(f"file {what}: {got} samples of {len(theirs)}, {host.output}")
        print(f"file {what}: exit {rc}, {got // 2} frames of {len(theirs) // 2}")

    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=f=440:r=8000:d=10", "-c:a", "wmav2",
                    "-b:a", "24k", "-y", wma], check=True)
    whole = open(wma, "rb").read()
    open(wma, "wb").write(whole[:len(whole) * 9 // 10])
    rc = host.import_(wma, back)
    if rc != 9 or "Unknown error." not in host.output:
        failures.append(f"8 kHz file cut at 90%: wanted exit 9 and the error message, got {host.output}")
    print(f"8 kHz file cut at 90%: exit {rc}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--winerun", required=True)
    ap.add_argument("--odd-only", action="store_true", help="only the cut, protected and odd files")
    args = ap.parse_args()
    failures = []
    with tempfile.TemporaryDirectory(prefix="wmasdk-") as work:
        host = Host(os.path.abspath(args.bin), args.winerun, work)
        if not args.odd_only:
            check_export(host, failures)
            check_import(host, failures)
        check_odd_files(host, failures)
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

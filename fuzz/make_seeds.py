#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Run again after changing an input layout; the seeds are committed, so this is rarely needed.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(6)


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(bytes(data))


def tail(values):
    """Bytes that the fuzz input reader takes from the end: a count (1 byte), then each
    request size (3 bytes, most significant consumed first, that is last in the file)."""
    out = bytearray()
    for v in reversed(values):
        out += bytes([v & 0xFF, (v >> 8) & 0xFF, 0])
    out.append(len(values))
    return out


def chunk(samples, code=None, ident=0xDEAF, code_bytes=None):
    n = (samples + 1) // 2 if code_bytes is None else code_bytes
    codes = bytes(rng.randrange(256) for _ in range(n)) if code is None else code
    return struct.pack("<HHI", len(codes), 2 * samples, ident) + codes


def aud(chunks, rate=22050):
    body = b"".join(chunks)
    return struct.pack("<HIIBB", rate, len(body), 0, 2, 99) + body


# AUD import: the file first, then the request sizes.
put("aud_import", "three_chunks", aud([chunk(1024), chunk(476), chunk(3)]) + tail([30720]))
put("aud_import", "wide_chunk_odd_requests", aud([chunk(2048), chunk(5)]) + tail([1000, 3, 2050, 0]))
put("aud_import", "foreign_id_midway", aud([chunk(100), chunk(10, ident=0x1234), chunk(20)]) + tail([64, 30720]))
put("aud_import", "truncated", aud([chunk(600)])[:200] + tail([30720, 2]))
put("aud_import", "more_announced_than_coded", aud([chunk(300, code_bytes=20), chunk(0)]) + tail([30720]))

# AUD export: the front holds samples; block sizes and the sink's room come from the end.
for i, size in enumerate((600, 2500, 5000)):
    put("aud_export", "random_%d" % i, bytes(rng.randrange(256) for _ in range(size)))


# VQF header: records of [op][length][bytes] (op meanings in vqf_header_fuzzer.cpp).
def rec(op, data=b""):
    data = bytes(data)
    return bytes([op, len(data)]) + data


MAIN = ["TRAC", "YEAR", "ENCD", "GUID", "ISRC", "ALBM", "LYRC", "WORD", "MUSC", "ARNG",
        "PROD", "REMX", "CDCT", "SING", "LABL", "NOTE", "PRSN", "BAND"]
put("vqf_header", "no_directory", rec(46))
put("vqf_header", "numbers", rec(0, b"7\n") + rec(1, b"2001 5") + rec(2, b"1\n2\n3\n4\n5\n6\n")
    + rec(5, b"abc\n") + rec(18))
put("vqf_header", "bad_numbers_and_texts", rec(0, b"word") + rec(1, b"2001") + rec(2, b"-99999999999 3")
    + rec(39, b"a name") + rec(41, b"me") + rec(44, b"\x00A") + rec(45, struct.pack("<5i", 1, 96, 44, 0, 1000)))
put("vqf_header", "every_file", b"".join(rec(i, b"x%d" % i) for i in range(35)) + rec(38, b"TWIN97012000ABCDEFGH"))
put("vqf_header", "directories", rec(35, b"\x05") + rec(35, b"\x00") + rec(36, b"\x03") + rec(20, b"c"))
put("vqf_header", "scnd_is_a_file", rec(37) + rec(19, b"lost") + rec(3, bytes(range(256))[:200]))

# VQF import: [whole file?][mode][block size][bytes]. Frame records of random bytes after a
# header of a mode, and whole files (a header and records).
vqf_rng = random.Random(19)


def vqf_file(channels, kbps_total, khz, records):
    body = b"COMM" + struct.pack(">IIII", 12, channels - 1, kbps_total, khz)
    return b"TWIN97012000" + struct.pack(">I", len(body)) + body + b"DATA" + records


put("vqf_import", "records_44_48_stereo", bytes([0, 17, 7]) + bytes(vqf_rng.randrange(256) for _ in range(3000)))
put("vqf_import", "records_8_8_mono", bytes([0, 0, 100]) + bytes(vqf_rng.randrange(256) for _ in range(700)))
put("vqf_import", "whole_22_24_mono", bytes([1, 0, 33]) + vqf_file(1, 24, 22, bytes(vqf_rng.randrange(256) for _ in range(1500))))
put("vqf_import", "whole_not_vqf", bytes([1, 0, 1]) + b"RIFF" + bytes(60))

# VQF frame record and WMA hand-off: structured by the fuzzers from any bytes.
for target, sizes in (("vqf_frame", (200, 800, 2000)), ("wma_handoff", (40, 120, 300))):
    for i, size in enumerate(sizes):
        put(target, "random_%d" % i, bytes(rng.randrange(256) for _ in range(size)))

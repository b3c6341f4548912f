#!/usr/bin/env python3
"""flthost driving the AUD plug-in and two test plug-ins under wine: its commands, and the
exit code and message of each failure it tells apart."""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavtools  # noqa: E402


def aud_bytes(samples, write_block=65536):
    """Size of the AUD file the plug-in writes when fed `samples` in blocks of write_block bytes."""
    size, left = 12, samples * 2
    while left:
        block = min(left, write_block)
        full, rest = divmod(block, 2048)
        size += full * (8 + 512) + ((8 + (rest // 2 + 1) // 2) if rest else 0)
        left -= block
    return size


class FlthostTest(wavtools.HostTestCase):
    def wav(self, name, count, rate=22050, channels=1):
        p = self.path(name)
        wavtools.write_wav(p, wavtools.test_signal(count * channels, rate), rate, channels)
        return p

    def assertFails(self, code, text, *args, **kw):
        rc, out, err = self.host.run(*args, **kw)
        self.assertEqual(rc, code, f"{args}: {out}{err}")
        self.assertRegex(err, text)
        self.assertEqual(len(err.strip().splitlines()), 1, err)  # one clear line
        return out, err

    def test_help_and_usage(self):
        rc, out, _ = self.host.run("--help")
        self.assertEqual(rc, 0)
        self.assertIn("exit codes", out)
        self.assertFails(2, "no command")
        self.assertFails(2, "unknown command frob", "frob", self.aud)

    def test_info_shows_what_the_plugin_wrote(self):
        rc, out, _ = self.host.run("info", self.aud)
        self.assertEqual(rc, 0, out)
        self.assertIn("name:          C&C soundtrack files", out)
        self.assertIn("flags:         0x006 FILTER_CAN_WRITE FILTER_CAN_READ\n", out)
        self.assertIn("block size:    2048", out)
        self.assertIn("capability words: - - - - - - - - - - 4 - - -", out)
        self.assertIn("extension2:    (not set)", out)
        self.assertIn("suggested:     22050 Hz, 16-bit, 1 channel", out)
        self.assertEqual(re.findall(r"^  (\w+) +no$", out, re.M), [])
        rc, out, _ = self.host.run("info", self.host.plugin("short_writer_filter.flt"))
        self.assertEqual(rc, 0, out)
        self.assertRegex(out, r"(?m)^  FilterGetOptions +no$")
        self.assertRegex(out, r"(?m)^  OpenFilterOutput +yes$")

    def test_round_trip_through_the_aud_plugin(self):
        count = 3 * 22050 + 100  # ends with a part-filled chunk
        source = self.wav("in.wav", count)
        aud, back = self.path("out.aud"), self.path("back.wav")
        rc, out, err = self.host.run("export", self.aud, source, aud, "--time")
        self.assertEqual((rc, err), (0, ""), out)  # no progress bar: stderr is not a terminal
        self.assertRegex(out, r"(?m)^plugin-seconds: \d+\.\d{6}$")
        self.assertEqual(os.path.getsize(aud), aud_bytes(count))
        rc, out, err = self.host.run("import", self.aud, aud, back, "--time", "--quiet")
        self.assertEqual((rc, err), (0, ""), out)
        self.assertIn('"Westwood Studios AUD format"', out)
        self.assertIn(f"announced {2 * count}", out)
        rate, channels, decoded = wavtools.read_wav(back)
        self.assertEqual((rate, channels, len(decoded)), (22050, 1, count))
        self.assertGreater(wavtools.snr_db(wavtools.read_wav(source)[2], decoded), 25)
        rc, out, _ = self.host.run("options", self.aud, "--options", "7")
        self.assertEqual((rc, out), (0, "options: 0\n"))

    def test_plugin_that_will_not_load(self):
        self.assertFails(3, r"nothing\.flt not found", "info", self.path("nothing.flt"))
        self.assertFails(3, r"needs_absent_filter\.flt needs absent_dependency\.dll, which was not found",
                         "info", self.host.plugin("needs_absent_filter.flt"))
        self.assertFails(3, r"needs_middle_filter\.flt needs absent_dependency\.dll \(imported by "
                            r"middle_dependency\.dll\), which was not found",
                         "info", self.host.plugin("needs_middle_filter.flt"))
        self.assertFails(3, "not a Windows module", "info", self.wav("fake.flt", 10))

    def test_missing_entry_points(self):
        writer = self.host.plugin("short_writer_filter.flt")
        self.wav("in.aud", 10)
        self.assertFails(4, "does not export OpenFilterInput", "import", writer, self.path("in.aud"),
                         self.path("x.wav"))
        self.assertFails(4, "does not export FilterGetOptions", "options", writer)

    def test_refused_inputs(self):
        stereo = self.wav("stereo.wav", 4410, rate=44100, channels=2)
        self.assertFails(5, "refused 44100 Hz, 16-bit, 2 channels", "export", self.aud, stereo,
                         self.path("x.aud"))
        self.assertFalse(os.path.exists(self.path("x.aud")))
        self.assertFails(6, "does not understand", "import", self.aud, stereo, self.path("x.wav"))

    def test_bad_wavs(self):
        garbage, deep, cut = self.path("garbage.wav"), self.path("24bit.wav"), self.path("cut.wav")
        with open(garbage, "wb") as f:
            f.write(b"RIFX" + bytes(100))
        wavtools.write_wav(deep, bytes(30), width=3)
        with open(self.wav("whole.wav", 1000), "rb") as f:
            whole = f.read()
        with open(cut, "wb") as f:
            f.write(whole[:1000])
        self.assertFails(7, "not a RIFF WAVE file", "export", self.aud, garbage, self.path("x.aud"))
        self.assertFails(7, "24-bit samples", "export", self.aud, deep, self.path("x.aud"))
        self.assertFails(7, "announces 2000 bytes but the file holds 956", "export", self.aud, cut,
                         self.path("x.aud"))
        self.assertFails(1, "cannot open", "export", self.aud, self.path("none.wav"), self.path("x.aud"))

    def test_short_writes(self):
        source = self.wav("in.wav", 22050)
        self.assertFails(8, r"short write: the plug-in consumed 500 of 1000 bytes at byte 0",
                         "export", self.host.plugin("short_writer_filter.flt"), source, self.path("x.raw"))
        # A full disk under the AUD plug-in: the write fails, the plug-in says so, flthost too.
        self.assertFails(8, r"short write: the plug-in consumed \d+ of 44100 bytes .*/out\.aud is incomplete",
                         "export", self.aud, source, self.path("out.aud"), file_limit=5000)

    def test_short_read_against_the_announced_size(self):
        """The announced size is the plug-in's estimate: a read that ends within 100 ms of
        audio of it is a normal end; a larger shortfall is exit 9. Both keep every sample."""
        source, aud, back = self.wav("in.wav", 5000), self.path("in.aud"), self.path("back.wav")
        self.assertEqual(self.host.run("export", self.aud, source, aud)[0], 0)
        for rate, announced, code in ((22050, 10000 + 4410, 0),   # 2205 frames short: 100 ms
                                      (22050, 10000 + 4412, 9),
                                      (8000, 10000 + 1600, 0),
                                      (8000, 10000 + 1602, 9),
                                      (22050, 40000, 9)):
            with open(aud, "r+b") as f:  # announce more samples than the chunks hold
                f.write(struct.pack("<H", rate))
                f.seek(6)
                f.write(struct.pack("<I", announced))
            counts = f"delivered 10000 of the {announced} bytes"
            if code:
                self.assertFails(9, f"short read: the plug-in {counts}", "import", self.aud, aud, back)
            else:
                rc, out, err = self.host.run("import", self.aud, aud, back)
                self.assertEqual(rc, 0, out + err)
                self.assertIn(f"end:    the plug-in {counts} it announced, within 100 ms of audio", out)
                self.assertEqual(err.strip(), "")
            self.assertEqual(len(wavtools.read_wav(back)[2]), 5000, (rate, announced))

if __name__ == "__main__":
    wavtools.run_tests()

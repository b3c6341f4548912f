#!/usr/bin/env python3
"""ffmpeg as an independent peer of the AUD plug-in: it reads the files we write, and we read
the files its wsaud muxer writes (2048-sample chunks) with the same sample count. Its IMA
decoder rounds differently from ours, so decoded values are compared by SNR, not exactly."""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wavtools  # noqa: E402


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args], check=True, stdin=subprocess.DEVNULL)


class AudPeersTest(wavtools.HostTestCase):
    def source(self, count):
        p = self.path("source.wav")
        wavtools.write_wav(p, wavtools.test_signal(count))
        return p, wavtools.read_wav(p)[2]

    def ffmpeg_decode(self, aud):
        out = self.path("ffmpeg-decoded.wav")
        ffmpeg("-i", aud, "-c:a", "pcm_s16le", out)
        return wavtools.read_wav(out)

    def test_ffprobe_reads_our_files(self):
        count = 2 * 22050 + 300  # even, and the last chunk is part-filled
        wav, samples = self.source(count)
        aud = self.path("ours.aud")
        rc, out, err = self.host.run("export", self.aud, wav, aud)
        self.assertEqual(rc, 0, out + err)
        probe = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-of", "json", "-show_streams", "-show_frames",
             "-show_entries", "stream=codec_name,sample_rate,channels:frame=nb_samples", aud],
            check=True, capture_output=True, text=True, stdin=subprocess.DEVNULL).stdout)
        stream = probe["streams"][0]
        self.assertEqual((stream["codec_name"], stream["sample_rate"], stream["channels"]),
                         ("adpcm_ima_ws", "22050", 1))
        self.assertEqual(sum(f["nb_samples"] for f in probe["frames"]), count)
        rate, _, decoded = self.ffmpeg_decode(aud)
        self.assertEqual((rate, len(decoded)), (22050, count))
        self.assertGreater(wavtools.snr_db(samples, decoded), 25)

    def test_we_read_files_of_the_wsaud_muxer(self):
        count = 3 * 22050 + 777  # not a whole number of ffmpeg's 2048-sample chunks
        wav, samples = self.source(count)
        aud, ours = self.path("ffmpeg.aud"), self.path("ours.wav")
        ffmpeg("-i", wav, "-c:a", "adpcm_ima_ws", "-f", "wsaud", aud)
        _, _, theirs = self.ffmpeg_decode(aud)
        rc, out, err = self.host.run("import", self.aud, aud, ours)
        self.assertEqual((rc, err), (0, ""), out)
        rate, channels, decoded = wavtools.read_wav(ours)
        self.assertEqual((rate, channels, len(decoded)), (22050, 1, len(theirs)))
        self.assertGreater(wavtools.snr_db(theirs, decoded), 25)
        self.assertGreater(wavtools.snr_db(samples, decoded), 25)


if __name__ == "__main__":
    wavtools.run_tests()

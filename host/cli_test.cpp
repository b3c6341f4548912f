#include "cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Parse(std::vector<const char*> words, flthost::Arguments& args) {
  words.insert(words.begin(), "flthost");
  return flthost::ParseArguments(int(words.size()), words.data(), args);
}

TEST(FlthostArguments, CommandsTakeTheirFilesAndFlags) {
  flthost::Arguments a;
  EXPECT_EQ(Parse({"export", "p.flt", "in.wav", "out.aud", "--options", "0x22", "--time", "-q", "--close-messages"}, a), "");
  EXPECT_EQ(a.command, flthost::Command::Export);
  EXPECT_EQ(a.filter, "p.flt");
  EXPECT_EQ(a.input, "in.wav");
  EXPECT_EQ(a.output, "out.aud");
  EXPECT_EQ(a.options, 34u);
  EXPECT_TRUE(a.time && a.quiet && a.closeMessages);

  flthost::Arguments o;
  EXPECT_EQ(Parse({"--options", "4294967295", "options", "p.flt"}, o), "");
  EXPECT_EQ(o.command, flthost::Command::Options);
  EXPECT_EQ(o.options, 4294967295u);

  flthost::Arguments h;
  EXPECT_EQ(Parse({"import", "--help"}, h), "");
  EXPECT_EQ(h.command, flthost::Command::Help);
}

TEST(FlthostArguments, RejectsMalformedLines) {
  const std::vector<std::vector<const char*>> bad = {
      {},
      {"convert", "p.flt"},
      {"info"},
      {"import", "p.flt", "in.aud"},
      {"info", "p.flt", "--options", "3"},
      {"export", "p.flt", "a", "b", "--options"},
      {"export", "p.flt", "a", "b", "--options", "-1"},
      {"export", "p.flt", "a", "b", "--options", "4294967296"},
      {"export", "p.flt", "a", "b", "--options", "12abc"},
      {"info", "p.flt", "--verbose"},
  };
  for (const auto& words : bad) {
    flthost::Arguments a;
    EXPECT_NE(Parse(words, a), "") << (words.empty() ? "(empty)" : words[0]);
  }
}

TEST(FlthostArguments, HelpListsEveryExitCode) {
  const std::string usage = flthost::UsageText();
  for (int code = flthost::kExitOk; code <= flthost::kExitContract; ++code)
    EXPECT_NE(usage.find("\n  " + std::to_string(code) + " "), std::string::npos) << code;
}

TEST(FlthostShortRead, UpTo100MillisecondsOfAudioShortIsANormalEnd) {
  struct Case {
    uint64_t delivered, announced;
    uint32_t rate, frameBytes;
    bool normal;
  };
  for (const Case& c : {Case{12000, 12000, 22050, 2, true},         // all of it
                        Case{12000, 10000, 22050, 2, true},         // more than announced
                        Case{100000, 104410, 22050, 2, true},       // 2205 frames: exactly 100 ms
                        Case{100000, 104412, 22050, 2, false},      // one frame more
                        Case{0, 17640, 44100, 4, true},             // 100 ms of 16-bit stereo
                        Case{0, 17644, 44100, 4, false},
                        Case{5000, 5800, 8000, 1, true},            // 800 frames of 8-bit mono
                        Case{5000, 5801, 8000, 1, false},
                        Case{0, uint64_t(1) << 40, 48000, 4, false}}) {
    EXPECT_EQ(flthost::ShortReadIsNormalEnd(c.delivered, c.announced, c.rate, c.frameBytes), c.normal)
        << c.delivered << " of " << c.announced << " at " << c.rate << " Hz, " << c.frameBytes << " bytes a frame";
  }
}

}  // namespace

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
  EXPECT_EQ(Parse({"export", "p.flt", "in.wav", "out.aud", "--options", "0x22", "--time", "-q"}, a), "");
  EXPECT_EQ(a.command, flthost::Command::Export);
  EXPECT_EQ(a.filter, "p.flt");
  EXPECT_EQ(a.input, "in.wav");
  EXPECT_EQ(a.output, "out.aud");
  EXPECT_EQ(a.options, 34u);
  EXPECT_TRUE(a.time && a.quiet);

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

}  // namespace

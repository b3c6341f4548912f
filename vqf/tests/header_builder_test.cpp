// The header as written to a file: the default 44 bytes, the readers of "header_info",
// the text and size chunks and the "SCND" rules.
#include "header_builder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_files.h"

namespace {

using Payload = std::vector<uint8_t>;

HeaderInfo DefaultInfo() {
  HeaderInfo info;
  std::memset(&info, 0, sizeof info);
  std::strcpy(info.versionId, "TWIN97012000");
  info.channelMode = 1;
  info.bitRate = 48;
  info.samplingRate = 44;
  return info;
}

// Builds the header with "header_info" in the current directory and writes it to a file.
std::vector<uint8_t> WrittenHeader(const HeaderInfo& info) {
  std::unique_ptr<CChunk> root = BuildHeader(info, "header_info");
  EXPECT_TRUE(root);
  BitFile* file = OpenBitFile("out.vqf", "wb");
  EXPECT_NE(file, nullptr);
  WriteHeader(file, *root);
  EXPECT_TRUE(CloseBitFile(file));
  return ReadFileBytes("out.vqf");
}

struct Record {
  std::string id;
  Payload payload;
};

// The records after "COMM", checking the framing on the way: the root's size field and
// the closing "DATA" marker.
std::vector<Record> OptionalRecords(const std::vector<uint8_t>& file) {
  std::vector<Record> records;
  EXPECT_GE(file.size(), 44u);
  if (file.size() < 44) return records;
  const uint32_t size = BitReader(file, 12).Read(32);
  EXPECT_EQ(size + 20, file.size());
  EXPECT_EQ(std::string(file.end() - 4, file.end()), "DATA");
  size_t at = 40;
  while (at + 8 <= file.size() - 4) {
    Record r;
    r.id.assign(file.begin() + at, file.begin() + at + 4);
    const uint32_t length = BitReader(file, at + 4).Read(32);
    r.payload.assign(file.begin() + at + 8, file.begin() + at + 8 + length);
    records.push_back(r);
    at += 8 + length;
  }
  EXPECT_EQ(at, file.size() - 4);
  return records;
}

std::vector<std::string> Ids(const std::vector<Record>& records) {
  std::vector<std::string> ids;
  for (const Record& r : records) ids.push_back(r.id);
  return ids;
}

Payload OnlyPayload(const std::string& file, const std::string& content) {
  WriteTextFile(std::filesystem::path("header_info") / file, content);
  const std::vector<Record> records = OptionalRecords(WrittenHeader(DefaultInfo()));
  EXPECT_EQ(records.size(), 1u) << file;
  return records.empty() ? Payload{} : records[0].payload;
}

}  // namespace

TEST(HeaderBuilder, DefaultHeaderIsTheFortyFourBytes) {
  ScratchDirectory dir("vqf_header_default");
  const Payload expected = {0x54, 0x57, 0x49, 0x4E, 0x39, 0x37, 0x30, 0x31, 0x32, 0x30, 0x30, 0x30,
                            0, 0, 0, 0x18, 0x43, 0x4F, 0x4D, 0x4D, 0, 0, 0, 0x10,
                            0, 0, 0, 1, 0, 0, 0, 0x30, 0, 0, 0, 0x2C, 0, 0, 0, 0,
                            0x44, 0x41, 0x54, 0x41};
  EXPECT_EQ(WrittenHeader(DefaultInfo()), expected);
}

TEST(HeaderBuilder, NumberReadersParseLikeScanfAndCutToTheirWidths) {
  ScratchDirectory dir("vqf_header_numbers");
  struct Case {
    const char* file;
    const char* content;
    Payload payload;
  } cases[] = {
      {"TRAC", "7\n", {0x00, 0x07}},
      {"TRAC", "seven", {0x00, 0x00}},
      {"TRAC", "", {0x00, 0x00}},
      {"TRAC", "-2 trailing", {0xFF, 0xFE}},
      {"TRAC", "70000", {0x11, 0x70}},
      {"YEAR", "2001 5", {0x07, 0xD1, 0x05}},
      {"YEAR", "2001", {0x07, 0xD1, 0x00}},
      {"YEAR", "2001 x 5", {0x07, 0xD1, 0x00}},
      {"YEAR", "2001\n300\n", {0x07, 0xD1, 0x2C}},
      {"ENCD", "1\n2\n3\n4\n5\n6\n", {0, 1, 2, 3, 4, 5, 6}},
      {"ENCD", "1 2 three 4", {0, 1, 2, 0, 0, 0, 0}},
      {"ENCD", "", {0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OnlyPayload(c.file, c.content), c.payload) << c.file << " holding '" << c.content << "'";
    std::filesystem::remove_all("header_info");
  }
}

TEST(HeaderBuilder, RawFilesAreCopiedWhole) {
  ScratchDirectory dir("vqf_header_raw");
  EXPECT_EQ(OnlyPayload("ALBM", "abc\n"), Bytes("abc\n"));
  std::filesystem::remove_all("header_info");
  EXPECT_EQ(OnlyPayload("NOTE", std::string("\0\xFF\r\n", 4)), Bytes(std::string("\0\xFF\r\n", 4)));
  std::filesystem::remove_all("header_info");
  EXPECT_EQ(OnlyPayload("GUID", ""), Payload{});
}

TEST(HeaderBuilder, TextChunksAndDataSize) {
  ScratchDirectory dir("vqf_header_texts");
  HeaderInfo info = DefaultInfo();
  std::memset(info.name, 'n', 511);
  std::strcpy(info.author, "A");
  std::strcpy(info.file, "f.wav");
  info.dataSize = 1000;
  std::vector<Record> records = OptionalRecords(WrittenHeader(info));
  ASSERT_EQ(Ids(records), (std::vector<std::string>{"NAME", "AUTH", "FILE", "DSIZ"}));
  EXPECT_EQ(records[0].payload.size(), 511u);
  EXPECT_EQ(records[3].payload, (Payload{0, 0, 0x03, 0xE8}));

  info.dataSize = -5;
  std::strcpy(info.comment, "c");
  std::strcpy(info.rights, "r");
  records = OptionalRecords(WrittenHeader(info));
  EXPECT_EQ(Ids(records), (std::vector<std::string>{"NAME", "COMT", "AUTH", "(c) ", "FILE"}));

  // A text field without a terminator ends at its field's end, not in the next field.
  std::memset(info.name, 'n', sizeof info.name);
  records = OptionalRecords(WrittenHeader(info));
  EXPECT_EQ(records[0].payload.size(), 512u);
}

TEST(HeaderBuilder, SecondaryChunkOnlyWhenOneOfItsFilesOpens) {
  ScratchDirectory dir("vqf_header_scnd");
  WriteTextFile("header_info/SCND/OTHER", "x");
  EXPECT_TRUE(OptionalRecords(WrittenHeader(DefaultInfo())).empty());

  WriteTextFile("header_info/SCND/NAME", "");
  const std::vector<uint8_t> file = WrittenHeader(DefaultInfo());
  const Payload scnd = {0x53, 0x43, 0x4E, 0x44, 0, 0, 0, 0x08, 0x4E, 0x41, 0x4D, 0x45, 0, 0, 0, 0};
  ASSERT_EQ(file.size(), 44u + scnd.size());
  EXPECT_TRUE(std::equal(scnd.begin(), scnd.end(), file.end() - 4 - scnd.size()));
}

// Every file of both tables present: the whole header, byte for byte. The ids and their
// order are written out here, not taken from the tables under test.
TEST(HeaderBuilder, FullDirectoryGivesExactlyTheseBytes) {
  const char* const mainIds[18] = {"TRAC", "YEAR", "ENCD", "GUID", "ISRC", "ALBM",
                                   "LYRC", "WORD", "MUSC", "ARNG", "PROD", "REMX",
                                   "CDCT", "SING", "LABL", "NOTE", "PRSN", "BAND"};
  const char* const secondIds[17] = {"NAME", "AUTH", "COMT", "(c) ", "ALBM", "LYRC",
                                     "WORD", "MUSC", "ARNG", "PROD", "REMX", "CDCT",
                                     "SING", "LABL", "NOTE", "PRSN", "BAND"};
  ScratchDirectory dir("vqf_header_all");
  // Created last to first, so the order on disk cannot supply the table order.
  for (int i = 16; i >= 0; --i)
    WriteTextFile(std::filesystem::path("header_info/SCND") / secondIds[i], std::string("s") + secondIds[i]);
  for (int i = 17; i >= 0; --i)
    WriteTextFile(std::filesystem::path("header_info") / mainIds[i], "300 2 3 4 5 6");
  HeaderInfo info = DefaultInfo();
  info.dataSize = 1000;

  // id, 4-byte big-endian size, payload.
  auto record = [](const std::string& id, const std::string& payload) {
    const size_t n = payload.size();
    return id + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + payload;
  };
  std::string body = record("COMM", std::string("\0\0\0\1" "\0\0\0\x30" "\0\0\0\x2C" "\0\0\0\0", 16));
  body += record("DSIZ", std::string("\0\0\x03\xE8", 4));
  body += record("TRAC", std::string("\x01\x2C", 2));                      // 300, 16 bits
  body += record("YEAR", std::string("\x01\x2C\x02", 3));                  // 300, then 2
  body += record("ENCD", std::string("\x01\x2C\x02\x03\x04\x05\x06", 7));  // 300, then 2..6
  for (const char* id : {"GUID", "ISRC", "ALBM", "LYRC", "WORD", "MUSC", "ARNG", "PROD", "REMX",
                         "CDCT", "SING", "LABL", "NOTE", "PRSN", "BAND"})
    body += record(id, "300 2 3 4 5 6");  // raw: the file's bytes
  std::string second;
  for (const char* id : {"NAME", "AUTH", "COMT", "(c) ", "ALBM", "LYRC", "WORD", "MUSC", "ARNG",
                         "PROD", "REMX", "CDCT", "SING", "LABL", "NOTE", "PRSN", "BAND"})
    second += record(id, std::string("s") + id);
  body += record("SCND", second);
  const std::string expected = record("TWIN97012000", body) + "DATA";

  const std::vector<uint8_t> written = WrittenHeader(info);
  EXPECT_EQ(std::string(written.begin(), written.end()), expected);
  // The tables themselves: the ids above, in this order, and nothing more.
  for (int i = 0; i < 18; ++i) EXPECT_STREQ(MainHeaderFiles[i].id, mainIds[i]) << "row " << i;
  EXPECT_EQ(MainHeaderFiles[18].id, nullptr);
  for (int i = 0; i < 17; ++i) EXPECT_STREQ(SecondHeaderFiles[i].id, secondIds[i]) << "row " << i;
  EXPECT_EQ(SecondHeaderFiles[17].id, nullptr);
}

TEST(HeaderBuilder, DirectoryIndexAboveOneReadsNothing) {
  ScratchDirectory dir("vqf_header_index");
  WriteTextFile("header_info/TRAC", "1");
  CContainerChunk target("T");
  EXPECT_EQ(ReadHeaderDirectory(MainHeaderFiles, target, 2, "header_info"), 1);
  EXPECT_TRUE(target.Payload().empty());
  EXPECT_EQ(ReadHeaderDirectory(MainHeaderFiles, target, 0, "header_info"), 0);
  EXPECT_EQ(target.Payload().size(), 10u);
}

// The bit writer: bit order, overflow results, the 1024-byte flushes, the close's padding,
// the slot table and remembered write failures.
#include "bit_file.h"

#include <gtest/gtest.h>

#include "test_files.h"

using Payload = std::vector<uint8_t>;

TEST(BitFile, PutBitsWritesMostSignificantFirstAndReportsOverflow) {
  ScratchDirectory dir("vqf_bits_put");
  BitFile* file = OpenBitFile("bits", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(PutBits(5, 3, file), 0);   // 101
  EXPECT_EQ(PutBits(8, 3, file), 1);   // 000: the low bits all the same
  EXPECT_EQ(PutBits(-1, 8, file), 0);  // negatives are never reported
  EXPECT_EQ(PutBits(7, 0, file), 1);   // writes nothing
  EXPECT_EQ(PutBits(1023, 10, file), 0);
  EXPECT_EQ(PutBits(1024, 10, file), 1);
  EXPECT_EQ(file->bitCount, 3 + 3 + 8 + 10 + 10);
  EXPECT_TRUE(CloseBitFile(file));
  // 101 000 11111111 1111111111 0000000000, padded with zero bits.
  EXPECT_EQ(ReadFileBytes("bits"), (Payload{0xA3, 0xFF, 0xFF, 0x00, 0x00}));
}

TEST(BitFile, PutBitArrayTakesTheLowestBitAtEachStride) {
  ScratchDirectory dir("vqf_bits_array");
  BitFile* file = OpenBitFile("bits", "wb");
  const uint8_t bits[] = {1, 0xFE, 3, 0xFF, 0, 0xFF, 1, 0xFF};
  PutBitArray(bits, 2, 4, file);  // 1, 1, 0, 1
  EXPECT_TRUE(CloseBitFile(file));
  EXPECT_EQ(ReadFileBytes("bits"), (Payload{0xD0}));
}

TEST(BitFile, PutBitsPlacesTheSameBitsAsSingleBitWritesAtEveryWidthAndAlignment) {
  ScratchDirectory dir("vqf_bits_widths");
  BitFile* whole = OpenBitFile("whole", "wb");
  BitFile* single = OpenBitFile("single", "wb");
  ASSERT_NE(whole, nullptr);
  ASSERT_NE(single, nullptr);
  uint32_t seed = 12345;
  // Enough fields to cross several 1024-byte flushes at every bit offset.
  for (int n = 0; n < 6000; ++n) {
    seed = seed * 1664525u + 1013904223u;
    const int32_t width = static_cast<int32_t>(seed >> 27) + (n % 2);  // 0..32
    const int32_t value = static_cast<int32_t>(seed * 2654435761u);
    PutBits(value, width, whole);
    for (int32_t i = width - 1; i >= 0; --i) {
      const uint8_t bit = static_cast<uint8_t>((static_cast<uint32_t>(value) >> i) & 1u);
      PutBitArray(&bit, 1, 1, single);
    }
    ASSERT_EQ(whole->bitCount, single->bitCount);
  }
  EXPECT_TRUE(CloseBitFile(whole));
  EXPECT_TRUE(CloseBitFile(single));
  const Payload written = ReadFileBytes("whole");
  EXPECT_GT(written.size(), 3u * 1024u);
  EXPECT_EQ(written, ReadFileBytes("single"));
}

TEST(BitFile, FullBufferIsWrittenAtOnceAndCloseAddsOnlyThePartialByte) {
  ScratchDirectory dir("vqf_bits_flush");
  BitFile* file = OpenBitFile("bits", "wb");
  for (int i = 0; i < 8192 / 32; ++i) PutBits(i, 32, file);
  EXPECT_EQ(file->bitCount, 0);
  EXPECT_TRUE(CloseBitFile(file));
  const std::vector<uint8_t> bytes = ReadFileBytes("bits");
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(BitReader(bytes, 1020).Read(32), 255u);

  file = OpenBitFile("one", "wb");
  PutBits(1, 1, file);
  EXPECT_TRUE(CloseBitFile(file));
  EXPECT_EQ(ReadFileBytes("one"), (Payload{0x80}));

  file = OpenBitFile("none", "wb");
  EXPECT_TRUE(CloseBitFile(file));
  EXPECT_TRUE(ReadFileBytes("none").empty());

  file = OpenBitFile("one", "rb");  // read mode: the close writes nothing
  ASSERT_NE(file, nullptr);
  PutBits(0, 8, file);
  EXPECT_TRUE(CloseBitFile(file));
  EXPECT_EQ(ReadFileBytes("one"), (Payload{0x80}));
}

TEST(BitFile, FiftyOneFilesFailTheLastWithoutEndingTheProcess) {
  ScratchDirectory dir("vqf_bits_slots");
  EXPECT_EQ(OpenBitFile("missing/dir/file", "wb"), nullptr);
  BitFile* files[kBitFileSlots];
  for (int i = 0; i < kBitFileSlots; ++i) {
    files[i] = OpenBitFile(("f" + std::to_string(i)).c_str(), "wb");
    ASSERT_NE(files[i], nullptr);
    EXPECT_EQ(files[i]->slot, i);  // the failed open gave its slot back
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(OpenBitFile("f50", "wb"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "tealloc(): File number exceeds upper limit.\n");
  EXPECT_FALSE(std::filesystem::exists("f50"));

  CloseBitFile(files[17]);
  BitFile* reused = OpenBitFile("f50", "wb");
  ASSERT_NE(reused, nullptr);
  EXPECT_EQ(reused->slot, 17);
  files[17] = reused;
  for (BitFile* file : files) EXPECT_TRUE(CloseBitFile(file));
}

#if defined(__linux__)
// Every write to /dev/full fails with "no space left on device".
TEST(BitFile, FailedWritesAreRemembered) {
  BitFile* file = OpenBitFile("/dev/full", "wb");
  ASSERT_NE(file, nullptr);
  PutBits(0x41, 8, file);
  EXPECT_FALSE(BitFileWriteFailed(file));  // nothing has reached the stream yet
  EXPECT_FALSE(CloseBitFile(file));

  file = OpenBitFile("/dev/full", "wb");
  for (int i = 0; i < 8192 / 32 - 1; ++i) PutBits(i, 32, file);
  EXPECT_FALSE(BitFileWriteFailed(file));
  PutBits(1, 32, file);  // the buffer's first 1024-byte write fails, and says so at once
  EXPECT_TRUE(BitFileWriteFailed(file));
  EXPECT_FALSE(CloseBitFile(file));
}
#endif

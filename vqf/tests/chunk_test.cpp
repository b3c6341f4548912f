// Chunk payloads, records and the integer puts.
#include "chunk.h"

#include <gtest/gtest.h>

#include <memory>

#include "test_files.h"

using Payload = std::vector<uint8_t>;

TEST(Chunk, PutIntegerWritesLowBytesBigEndianAndRefusesWidthsAboveFour) {
  CChunk chunk("TEST");
  chunk.PutInteger(static_cast<uint32_t>(-2), 1);
  chunk.PutInteger(static_cast<uint32_t>(-1), 2);
  chunk.PutInteger(44100, 4);
  chunk.PutInteger(0x12345678, 0);
  EXPECT_EQ(chunk.Payload(), (Payload{0xFE, 0xFF, 0xFF, 0x00, 0x00, 0xAC, 0x44}));
  EXPECT_THROW(chunk.PutInteger(1, 5), CChunk::err_FailPut);
  EXPECT_THROW(chunk.PutInteger(1, -1), CChunk::err_FailPut);
  EXPECT_EQ(chunk.Payload().size(), 7u);
}

TEST(Chunk, AppendBytesIgnoresCountsOfZeroOrLess) {
  CChunk chunk("TEST");
  const uint8_t bytes[] = {1, 2, 3};
  chunk.AppendBytes(0, bytes);
  chunk.AppendBytes(-3, bytes);
  chunk.AppendBytes(2, bytes);
  chunk.AppendBytes(Payload{9});
  EXPECT_EQ(chunk.Payload(), (Payload{1, 2, 9}));
}

TEST(Chunk, TypedConstructorsFillTheirPayloads) {
  CCommChunk comm(1, 48, 44, 0, "TWIN97012000");
  EXPECT_EQ(comm.Id(), "COMM");
  EXPECT_EQ(comm.Payload(), (Payload{0, 0, 0, 1, 0, 0, 0, 0x30, 0, 0, 0, 0x2C, 0, 0, 0, 0}));
  EXPECT_EQ(CEncdChunk("ENCD", 1, 2, 3, 4, 5, 6).Payload(), (Payload{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(CYearChunk("YEAR", 2001, 5).Payload(), (Payload{0x07, 0xD1, 0x05}));
  EXPECT_EQ(CYearChunk("YEAR", -1, -1).Payload(), (Payload{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(CIntegerChunk<int16_t>("TRAC", static_cast<int16_t>(70000)).Payload(), (Payload{0x11, 0x70}));
  EXPECT_EQ(CIntegerChunk<int32_t>("DSIZ", 1000).Payload(), (Payload{0, 0, 0x03, 0xE8}));
  EXPECT_TRUE(CStringChunk("NAME", "").Payload().empty());
  EXPECT_EQ(CStringChunk("NAME", "ab").Payload(), Bytes("ab"));
}

TEST(Chunk, RecordsNestByValue) {
  CContainerChunk root("TWIN97012000");
  CContainerChunk inner("SCND");
  inner.AppendChunk(CChunk("NAME"));
  EXPECT_EQ(inner.Payload(), Bytes(std::string("NAME\0\0\0\0", 8)));
  root.AppendChunk(inner);
  EXPECT_EQ(root.Payload().size(), 4u + 4u + 8u);
  EXPECT_EQ(root.Payload(), Bytes(std::string("SCND\0\0\0\x08NAME\0\0\0\0", 16)));
  // Later growth of the child does not reach the parent's copy.
  inner.AppendString("x");
  EXPECT_EQ(root.Payload().size(), 16u);

  CChunk longId("LONGID");
  CChunk emptyId("");
  emptyId.AppendString("z");
  CContainerChunk parent("P");
  parent.AppendChunk(longId);
  parent.AppendChunk(emptyId);
  EXPECT_EQ(parent.Payload(), Bytes(std::string("LONGID\0\0\0\0\0\0\0\x01z", 15)));
}

TEST(Chunk, TypeNamesThroughTheBase) {
  std::unique_ptr<CChunk> chunks[] = {
      std::make_unique<CChunk>("X"), std::make_unique<CContainerChunk>("X"),
      std::make_unique<CStringChunk>("X", "t"), std::make_unique<CCommChunk>(0, 8, 8, 0, "v"),
      std::make_unique<CEncdChunk>("X", 0, 0, 0, 0, 0, 0), std::make_unique<CYearChunk>("X", 0, 0),
      std::make_unique<CIntegerChunk<int16_t>>("X", 0), std::make_unique<CIntegerChunk<int32_t>>("X", 0)};
  const char* names[] = {"Raw", "Chunk", "String", "COMM", "ENCD", "YEAR", "Integer, size=2", "Integer, size=4"};
  for (size_t i = 0; i < std::size(chunks); ++i) EXPECT_EQ(chunks[i]->TypeName(), names[i]);
}

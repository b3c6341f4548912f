#include "wav.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Tag(Bytes& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(tag[i]));
}

Bytes FmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t blockAlign) {
  Bytes b;
  Tag(b, "fmt ");
  Put32(b, 16);
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * blockAlign);
  Put16(b, blockAlign);
  Put16(b, bits);
  return b;
}

Bytes Wave(const std::vector<Bytes>& chunks) {
  Bytes b;
  Tag(b, "RIFF");
  Put32(b, 0);  // readers must not rely on the RIFF size
  Tag(b, "WAVE");
  for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
  return b;
}

Bytes DataChunk(uint32_t announced, size_t present) {
  Bytes b;
  Tag(b, "data");
  Put32(b, announced);
  for (size_t i = 0; i < present; ++i) b.push_back(uint8_t(i));
  return b;
}

class WavFile : public ::testing::Test {
 protected:
  std::string path_ = ::testing::TempDir() + "flthost_wav_test_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav";
  void TearDown() override { std::remove(path_.c_str()); }
  void Save(const Bytes& bytes) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    ASSERT_TRUE(f);
    if (!bytes.empty()) {
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
  }
  wav::Status OpenWith(const Bytes& bytes, wav::Reader& reader) {
    Save(bytes);
    return reader.Open(path_);
  }
};

TEST_F(WavFile, WriterOutputReadsBackWithCanonicalHeader) {
  const wav::Format format{22050, 16, 1};
  const int16_t samples[] = {0, 1000, -1000, 32767, -32768};
  {
    wav::Writer writer;
    ASSERT_EQ(writer.Open(path_, format), wav::Status::Ok);
    ASSERT_EQ(writer.Write(samples, 4), wav::Status::Ok);
    ASSERT_EQ(writer.Write(reinterpret_cast<const uint8_t*>(samples) + 4, 6), wav::Status::Ok);
    ASSERT_EQ(writer.Finish(), wav::Status::Ok);
  }
  wav::Reader reader;
  ASSERT_EQ(reader.Open(path_), wav::Status::Ok);
  EXPECT_EQ(reader.format().sampleRate, 22050u);
  EXPECT_EQ(reader.format().bitsPerSample, 16);
  EXPECT_EQ(reader.format().channels, 1);
  EXPECT_EQ(reader.DataBytes(), 10u);
  int16_t back[8] = {};
  EXPECT_EQ(reader.Read(back, sizeof back), 10u);
  EXPECT_EQ(std::memcmp(back, samples, 10), 0);
  EXPECT_EQ(reader.Read(back, sizeof back), 0u);
  EXPECT_TRUE(reader.Error().empty());
}

TEST_F(WavFile, OddDataIsPaddedAndSizesPatched) {
  {
    wav::Writer writer;
    ASSERT_EQ(writer.Open(path_, wav::Format{8000, 8, 1}), wav::Status::Ok);
    const uint8_t three[3] = {128, 129, 130};
    ASSERT_EQ(writer.Write(three, 3), wav::Status::Ok);
    ASSERT_EQ(writer.Finish(), wav::Status::Ok);
  }
  std::FILE* f = std::fopen(path_.c_str(), "rb");
  ASSERT_TRUE(f);
  uint8_t bytes[64];
  const size_t n = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  ASSERT_EQ(n, 48u);  // 44-byte header, 3 bytes of data, 1 pad byte
  EXPECT_EQ(bytes[4], 40);
  EXPECT_EQ(bytes[40], 3);
  EXPECT_EQ(bytes[47], 0);
}

TEST_F(WavFile, SkipsOtherChunksAndAcceptsExtensiblePcm) {
  Bytes list;
  Tag(list, "LIST");
  Put32(list, 5);
  list.insert(list.end(), {'I', 'N', 'F', 'O', 'x', 0});  // odd size, one pad byte
  Bytes ext;
  Tag(ext, "fmt ");
  Put32(ext, 40);
  Put16(ext, 0xFFFE);
  Put16(ext, 2);
  Put32(ext, 44100);
  Put32(ext, 44100 * 4);
  Put16(ext, 4);
  Put16(ext, 16);
  Put16(ext, 22);
  Put16(ext, 16);
  Put32(ext, 3);
  Put16(ext, 1);  // sub-format GUID begins with the PCM tag
  ext.insert(ext.end(), 14, 0);
  wav::Reader reader;
  ASSERT_EQ(OpenWith(Wave({list, ext, DataChunk(8, 8)}), reader), wav::Status::Ok) << reader.Error();
  EXPECT_EQ(reader.format().channels, 2);
  EXPECT_EQ(reader.DataBytes(), 8u);
}

TEST_F(WavFile, PartialFrameAndStreamedSize) {
  wav::Reader partial;
  ASSERT_EQ(OpenWith(Wave({FmtChunk(1, 2, 8000, 16, 4), DataChunk(10, 10)}), partial), wav::Status::Ok);
  EXPECT_EQ(partial.DataBytes(), 8u);
  EXPECT_EQ(partial.DroppedBytes(), 2u);

  wav::Reader streamed;
  ASSERT_EQ(OpenWith(Wave({FmtChunk(1, 1, 8000, 16, 2), DataChunk(0xFFFFFFFFu, 6)}), streamed), wav::Status::Ok);
  EXPECT_EQ(streamed.DataBytes(), 6u);
}

TEST_F(WavFile, RejectsBrokenAndUnsupportedFiles) {
  const struct {
    const char* what;
    Bytes bytes;
    wav::Status expected;
  } cases[] = {
      {"empty", {}, wav::Status::NotWave},
      {"not riff", Bytes(64, 'x'), wav::Status::NotWave},
      {"no data", Wave({FmtChunk(1, 1, 8000, 16, 2)}), wav::Status::NotWave},
      {"data first", Wave({DataChunk(4, 4), FmtChunk(1, 1, 8000, 16, 2)}), wav::Status::NotWave},
      {"no channels", Wave({FmtChunk(1, 0, 8000, 16, 0), DataChunk(4, 4)}), wav::Status::NotWave},
      {"bad align", Wave({FmtChunk(1, 2, 8000, 16, 2), DataChunk(4, 4)}), wav::Status::NotWave},
      {"float", Wave({FmtChunk(3, 1, 8000, 32, 4), DataChunk(4, 4)}), wav::Status::Unsupported},
      {"24-bit", Wave({FmtChunk(1, 1, 8000, 24, 3), DataChunk(3, 3)}), wav::Status::Unsupported},
      {"cut short", Wave({FmtChunk(1, 1, 8000, 16, 2), DataChunk(100, 10)}), wav::Status::Truncated},
      {"huge chunk", Wave({Bytes{'J', 'U', 'N', 'K', 0xF0, 0xFF, 0xFF, 0xFF}}), wav::Status::NotWave},
  };
  for (const auto& c : cases) {
    wav::Reader reader;
    EXPECT_EQ(OpenWith(c.bytes, reader), c.expected) << c.what;
    EXPECT_FALSE(reader.Error().empty()) << c.what;
  }
  wav::Reader missing;
  EXPECT_EQ(missing.Open(path_ + ".absent"), wav::Status::CannotOpen);
}

}  // namespace

// Helpers of the VQF core tests: temporary directories, whole-file reads and an
// independent MSB-first bit reader to check what the writers produced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A fresh directory under the system's temporary directory; the test chdirs into it,
// and it is removed (with the previous current directory restored) at the end.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& name) : previous_(std::filesystem::current_path()) {
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

inline void WriteTextFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& bytes, size_t startByte = 0)
      : bytes_(bytes), position_(startByte * 8) {}
  uint32_t Read(int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i, ++position_) {
      const uint8_t byte = position_ / 8 < bytes_.size() ? bytes_[position_ / 8] : 0;
      value = (value << 1) | ((byte >> (7 - position_ % 8)) & 1u);
    }
    return value;
  }
  size_t Position() const { return position_; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t position_;
};

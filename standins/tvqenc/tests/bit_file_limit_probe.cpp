// Run under a file-size limit: writes 64 KiB through a BitFile and exits 0 only when the
// failed writes were noticed (the flag while writing and the close's result).
#include <cstdio>

#include "bit_file.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  BitFile* file = OpenBitFile(argv[1], "wb");
  if (!file) return 2;
  for (int i = 0; i < 64 * 1024 / 4; ++i) PutBits(i, 32, file);
  const bool noticedWhileWriting = BitFileWriteFailed(file);
  const bool closedWhole = CloseBitFile(file);
  std::printf("noticed while writing: %d, close reported success: %d\n", noticedWhileWriting, closedWhole);
  return noticedWhileWriting && !closedWhole ? 0 : 1;
}

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Crc32.h"

namespace {

struct Vector {
  const char* text;
  uint32_t crc;
};

// Published check values of CRC-32/IEEE 802.3.
TEST(Crc32, KnownValues) {
  const Vector vectors[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  CCRC32 crc32;
  for (const Vector& v : vectors) EXPECT_EQ(crc32.FullCRC(v.text, std::strlen(v.text)), v.crc) << v.text;
}

// A running value carried over any split of the bytes gives the CRC of the whole.
TEST(Crc32, PartialRangesEqualWhole) {
  static const char kBytes[] = "user\x00name\xff\x80 and more";
  const std::string text(kBytes, sizeof(kBytes) - 1);
  CCRC32 crc32;
  const uint32_t whole = crc32.FullCRC(text.data(), text.size());
  for (size_t split = 0; split <= text.size(); ++split) {
    uint32_t running = CCRC32::kInitial;
    crc32.PartialCRC(&running, text.data(), split);
    crc32.PartialCRC(&running, text.data() + split, text.size() - split);
    EXPECT_EQ(CCRC32::Finish(running), whole) << split;
  }
}

}  // namespace

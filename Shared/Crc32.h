// CRC-32 of IEEE 802.3 (polynomial 0x04C11DB7, bit-reflected), the identity hash
// of both agents. A running value starts at kInitial, is advanced over byte ranges
// with PartialCRC and ends with Finish (the final complement).
#pragma once

#include <cstddef>
#include <cstdint>

class CCRC32 {
 public:
  static constexpr uint32_t kInitial = 0xFFFFFFFFu;

  CCRC32() { Initialize(); }

  // Builds the 256-entry table.
  void Initialize();

  // Advances the running value over length bytes.
  void PartialCRC(uint32_t* crc, const void* data, size_t length) const;

  static constexpr uint32_t Finish(uint32_t crc) { return ~crc; }

  // The whole CRC of one byte range.
  uint32_t FullCRC(const void* data, size_t length) const {
    uint32_t crc = kInitial;
    PartialCRC(&crc, data, length);
    return Finish(crc);
  }

 private:
  uint32_t table_[256] = {};
};

#include "Crc32.h"

namespace {
constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;  // 0x04C11DB7 bit-reversed
}

void CCRC32::Initialize() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ kReflectedPolynomial : value >> 1;
    table_[i] = value;
  }
}

void CCRC32::PartialCRC(uint32_t* crc, const void* data, size_t length) const {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t value = *crc;
  for (size_t i = 0; i < length; ++i) value = (value >> 8) ^ table_[(value ^ bytes[i]) & 0xFFu];
  *crc = value;
}

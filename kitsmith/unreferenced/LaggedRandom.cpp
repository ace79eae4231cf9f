#include "unreferenced/LaggedRandom.h"

#include <cstring>

namespace {

constexpr int kLag = 96;
constexpr int kTail = 7;  // words 0..6 mirrored behind the lag so W[i + 7] stays in range
constexpr int kWarmUp = 6048;

uint32_t g_words[kLag + kTail];
int g_position = 0;

uint16_t Step(uint16_t a) { return static_cast<uint16_t>(a * 20077u + 11u); }

}  // namespace

uint32_t LaggedRandomNext() {
  if (--g_position < 0) {
    g_position = kLag - 1;
    std::memcpy(&g_words[kLag], &g_words[0], kTail * sizeof(uint32_t));
  }
  uint32_t* w = &g_words[g_position];
  w[0] += w[7] ^ w[6] ^ w[4] ^ w[3] ^ w[2];
  return w[0];
}

void LaggedRandomSeed(size_t count, const uint8_t* bytes) {
  std::memset(g_words, 0, sizeof(g_words));
  g_position = 0;
  if (count > 0) {
    uint16_t a = static_cast<uint16_t>(static_cast<int8_t>(bytes[0]));
    for (size_t k = 4 * count; k-- > 0;) {
      a = Step(a);
      if (!(bytes[k / 4] >> (k % 4) & 1)) continue;
      for (int flip = 0; flip < 5; ++flip) {
        a = Step(a);
        g_words[a % kLag] ^= 1;
      }
    }
  }
  for (int i = 0; i < kWarmUp; ++i) LaggedRandomNext();
}

#include "LogonRetryCalculator.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

// Repeated squaring over the whole exponent.
double Power(double base, int32_t exponent) {
  double result = 1.0;
  while (exponent > 0) {
    if (exponent & 1) result *= base;
    base *= base;
    exponent >>= 1;
  }
  return result;
}

}  // namespace

int32_t LogonRetryCalculator::WindowSize() {
  if (retries < 1) retries = 1;
  if (retries > kMaxRetries) retries = kMaxRetries;
  if (window < kMinWindow) window = kMinWindow;
  if (window > kMaxWindow) window = kMaxWindow;

  // Without a usable factor the window stays as configured instead of
  // collapsing to zero or going negative.
  const double f = (std::isfinite(factor) && factor > 0.0) ? factor : 1.0;
  double size = static_cast<double>(window) * Power(f, retries - 1);
  if (size < 1.0) size = 1.0;
  if (size > kMaxWindow) size = kMaxWindow;
  return static_cast<int32_t>(size);
}

int32_t LogonRetryCalculator::GetRetryTimerSeconds(const RandomSource& rnd) {
  const uint32_t size = static_cast<uint32_t>(WindowSize());
  return static_cast<int32_t>(rnd() % size + 1);
}

uint32_t SeededRand() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  return static_cast<uint32_t>(std::rand());
}

// Random retry delay with a window that grows per failed attempt.
#pragma once

#include <cstdint>
#include <functional>

class LogonRetryCalculator {
 public:
  // Source of pseudo-random numbers (non-negative); the agents pass SeededRand.
  using RandomSource = std::function<uint32_t()>;

  static constexpr int32_t kMinWindow = 40;
  static constexpr int32_t kMaxWindow = 240;
  static constexpr int32_t kMaxRetries = 7;

  LogonRetryCalculator(int32_t windowSeconds, double factor)
      : window(windowSeconds), factor(factor) {}

  // Clamps retries into 1..7 and the window into 40..240 (both stored back) and
  // returns window x factor^(retries - 1), limited to 1..240. A factor that is
  // not a finite positive number counts as 1.0.
  int32_t WindowSize();

  // A delay of 1..WindowSize() whole seconds drawn from rnd.
  int32_t GetRetryTimerSeconds(const RandomSource& rnd);

  // Counts one more failed attempt; the count stops at 8.
  void CountFailure() {
    if (retries <= kMaxRetries) ++retries;
  }

  // An accepted logon starts the growth over.
  void Reset() { retries = 0; }

  int32_t window;  // seconds
  double factor;
  int32_t retries = 0;
};

// The runtime's generator, seeded with the current time in seconds before each draw.
uint32_t SeededRand();

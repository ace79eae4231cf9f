#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "LogonRetryCalculator.h"

namespace {

// Window sizes seen by successive failures, counted the way the clients count them.
std::vector<int32_t> WindowsOverFailures(int32_t window, double factor, int count) {
  LogonRetryCalculator calc(window, factor);
  std::vector<int32_t> sizes;
  for (int i = 0; i < count; ++i) {
    sizes.push_back(calc.WindowSize());
    calc.CountFailure();
  }
  return sizes;
}

TEST(LogonRetryCalculator, WindowGrowthAndClamps) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    int32_t window;
    double factor;
    std::vector<int32_t> sizes;  // over nine failures
  } cases[] = {
      {"defaults", 60, 2.0, {60, 120, 240, 240, 240, 240, 240, 240, 240}},
      {"window below 40", 1, 2.0, {40, 80, 160, 240, 240, 240, 240, 240, 240}},
      {"window zero", 0, 1.0, {40, 40, 40, 40, 40, 40, 40, 40, 40}},
      {"negative window", -5, 2.0, {40, 80, 160, 240, 240, 240, 240, 240, 240}},
      {"window above 240", 600, 2.0, {240, 240, 240, 240, 240, 240, 240, 240, 240}},
      {"fraction truncated", 60, 1.5, {60, 90, 135, 202, 240, 240, 240, 240, 240}},
      {"slow growth stops at seventh", 40, 1.1, {40, 44, 48, 53, 58, 64, 70, 70, 70}},
      {"factor one", 100, 1.0, {100, 100, 100, 100, 100, 100, 100, 100, 100}},
      {"shrinking factor floors at 1", 40, 0.01, {40, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"huge factor", 40, 1e300, {40, 240, 240, 240, 240, 240, 240, 240, 240}},
      // Factors without a defined meaning keep the window constant.
      {"factor zero", 60, 0.0, {60, 60, 60, 60, 60, 60, 60, 60, 60}},
      {"negative factor", 60, -2.0, {60, 60, 60, 60, 60, 60, 60, 60, 60}},
      {"infinite factor", 60, inf, {60, 60, 60, 60, 60, 60, 60, 60, 60}},
      {"NaN factor", 60, nan, {60, 60, 60, 60, 60, 60, 60, 60, 60}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowsOverFailures(c.window, c.factor, 9), c.sizes) << c.what;
  }
}

TEST(LogonRetryCalculator, ClampsAreStoredBack) {
  LogonRetryCalculator calc(1, 2.0);
  EXPECT_EQ(calc.WindowSize(), 40);
  EXPECT_EQ(calc.window, 40);
  EXPECT_EQ(calc.retries, 1);

  calc.retries = 8;
  EXPECT_EQ(calc.WindowSize(), 240);  // 40 x 2^6 capped
  EXPECT_EQ(calc.retries, 7);

  LogonRetryCalculator big(1000000, 2.0);
  big.WindowSize();
  EXPECT_EQ(big.window, 240);
}

TEST(LogonRetryCalculator, DelayIsRandomModuloSizePlusOne) {
  struct Case {
    uint32_t random;
    int32_t delay;  // window 60, first attempt
  } cases[] = {
      {0, 1}, {59, 60}, {60, 1}, {61, 2}, {32767, 32767 % 60 + 1}, {0xFFFFFFFFu, 0xFFFFFFFFu % 60 + 1},
  };
  for (const auto& c : cases) {
    LogonRetryCalculator calc(60, 2.0);
    EXPECT_EQ(calc.GetRetryTimerSeconds([&] { return c.random; }), c.delay) << c.random;
  }
  // A window that collapsed to one second always gives one second.
  LogonRetryCalculator tiny(40, 1e-9);
  tiny.retries = 3;
  EXPECT_EQ(tiny.GetRetryTimerSeconds([] { return 12345u; }), 1);
}

TEST(LogonRetryCalculator, CountingAndReset) {
  LogonRetryCalculator calc(60, 2.0);
  for (int i = 0; i < 20; ++i) calc.CountFailure();
  EXPECT_EQ(calc.retries, 8);
  calc.Reset();
  EXPECT_EQ(calc.retries, 0);
  EXPECT_EQ(calc.WindowSize(), 60);
}

TEST(LogonRetryCalculator, SeededRandStaysInsideTheWindow) {
  LogonRetryCalculator calc(60, 2.0);
  for (int i = 0; i < 200; ++i) {
    const int32_t size = calc.WindowSize();
    const int32_t delay = calc.GetRetryTimerSeconds(SeededRand);
    EXPECT_GE(delay, 1);
    EXPECT_LE(delay, size);
    if (i % 20 == 19) calc.CountFailure();
  }
}

}  // namespace

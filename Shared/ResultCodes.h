// 32-bit result codes in the Windows result style, shared by both agents.
// Negative means failure; plain integers so this header carries no Win32 types.
#pragma once

#include <cstdint>

constexpr int32_t kResultOk = 0;
constexpr int32_t kResultFail = static_cast<int32_t>(0x80004005u);       // general failure
constexpr int32_t kResultMalformed = static_cast<int32_t>(0x8007273Au);  // malformed payload

constexpr bool ResultFailed(int32_t result) { return result < 0; }

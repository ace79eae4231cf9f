// Shared by the three stand-in libraries. The fixture is the process environment:
//   NOVELLFAKE_WHOAMI   name answered by NWDSWhoAmI (unset: the call fails)
//   NOVELLFAKE_DN, NOVELLFAKE_PARENT, NOVELLFAKE_GROUP
//                       answers of NWDSGetDSIInfo for 0x2000, 0x8000, 0x20000 (unset: fails)
//   NOVELLFAKE_FAIL     name of one entry point that answers failure
// The libraries keep the balance of what was set up and not yet taken down in
// NOVELLFAKE_LIVE_CALLS, NOVELLFAKE_LIVE_TABLES and NOVELLFAKE_LIVE_CONTEXTS, and refuse
// calls made with other context flags or values than the agent is meant to pass.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "identity/NovellClientApi.h"

#define NOVELLFAKE_EXPORT extern "C" __declspec(dllexport)

constexpr NWStatus kFakeFailure = -1;
constexpr int32_t kFakeCountry = 49;
constexpr int32_t kFakeCodePage = 850;

inline bool FakeEnv(const wchar_t* name, std::wstring& value) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  if (length == 0 || length >= 4096) return false;
  value.assign(buffer, length);
  return true;
}

inline bool FakeFails(const wchar_t* entryPoint) {
  std::wstring failing;
  return FakeEnv(L"NOVELLFAKE_FAIL", failing) && failing == entryPoint;
}

inline void FakeAdjust(const wchar_t* counter, int delta) {
  std::wstring text;
  const int value = (FakeEnv(counter, text) ? _wtoi(text.c_str()) : 0) + delta;
  SetEnvironmentVariableW(counter, std::to_wstring(value).c_str());
}

// Copies a fixture text into a client name buffer of kNWNameBuffer characters.
inline void FakeCopyName(const std::wstring& text, wchar_t* out) {
  const size_t length = text.size() < kNWNameBuffer - 1 ? text.size() : kNWNameBuffer - 1;
  wmemcpy(out, text.data(), length);
  out[length] = L'\0';
}

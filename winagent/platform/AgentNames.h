// The names by which other programs, and other parts of the agent, find the agent.
#pragma once

#include <cwchar>

inline constexpr wchar_t kServiceName[] = L"Qel_Auth";
inline constexpr wchar_t kServiceSwitch[] = L"-service";
inline constexpr wchar_t kMainWindowClass[] = L"TavoAuthClass";
inline constexpr wchar_t kMainWindowName[] = L"TavoAuthWnd";
inline constexpr wchar_t kShutdownEventName[] = L"Qel_Identra";

// Where the command line holds the service switch, or null.
inline const wchar_t* FindServiceSwitch(const wchar_t* commandLine) {
  return commandLine ? std::wcsstr(commandLine, kServiceSwitch) : nullptr;
}

// Finds a top-level window by its class and posts or sends it one message, so that tests
// can deliver what the system never sends under test (session changes, power events, ...).
//
//   postmsg CLASS post MESSAGE [WPARAM [LPARAM]]
//   postmsg CLASS send MESSAGE [WPARAM [LPARAM [TIMEOUT_MS]]]
//
// Numbers are decimal or 0x hexadecimal. Prints "posted" or "answer=0x%X" and exits 0;
// 2 when no such window exists, 3 when posting or sending failed, 1 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

bool ReadNumber(const wchar_t* text, unsigned long long& value) {
  wchar_t* end = nullptr;
  value = wcstoull(text, &end, 0);
  return end != text && *end == L'\0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fwprintf(stderr, L"usage: postmsg CLASS post|send MESSAGE [WPARAM [LPARAM [TIMEOUT_MS]]]\n");
    return 1;
  }
  const bool send = wcscmp(argv[2], L"send") == 0;
  if (!send && wcscmp(argv[2], L"post") != 0) return 1;
  unsigned long long numbers[4] = {0, 0, 0, 10000};
  for (int i = 3; i < argc && i < 7; ++i)
    if (!ReadNumber(argv[i], numbers[i - 3])) {
      fwprintf(stderr, L"postmsg: not a number: %ls\n", argv[i]);
      return 1;
    }
  const UINT message = static_cast<UINT>(numbers[0]);
  const WPARAM wParam = static_cast<WPARAM>(numbers[1]);
  const LPARAM lParam = static_cast<LPARAM>(numbers[2]);

  HWND window = FindWindowW(argv[1], nullptr);
  if (!window) {
    wprintf(L"no window\n");
    return 2;
  }
  if (!send) {
    if (!PostMessageW(window, message, wParam, lParam)) {
      wprintf(L"post failed %lu\n", GetLastError());
      return 3;
    }
    wprintf(L"posted\n");
    return 0;
  }
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, static_cast<UINT>(numbers[3]),
                           &answer)) {
    wprintf(L"send failed %lu\n", GetLastError());
    return 3;
  }
  wprintf(L"answer=0x%llX\n", static_cast<unsigned long long>(answer));
  return 0;
}

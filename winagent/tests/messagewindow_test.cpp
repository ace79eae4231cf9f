#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/MessageWindow.h"
#include "support/Utilities.h"

namespace {

constexpr UINT kThrow = WM_APP + 1;
constexpr UINT kCount = WM_APP + 2;

TEST(MessageWindow, HandlerDecidesOnTheDefaultProcedureAndSurvivesExceptions) {
  bool passOn = true;
  int counted = 0;
  MessageWindow window;
  ASSERT_TRUE(window.Create(L"MessageWindowTest", L"first",
                            [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
                              if (message == kThrow) throw std::runtime_error("handler failure");
                              if (message == kCount) ++counted;
                              return passOn ? std::nullopt : std::optional<LRESULT>(0);
                            }));
  ASSERT_NE(window.Handle(), nullptr);
  EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"MessageWindowTest", L"first"), window.Handle());

  // The default procedure answers the window text only when the handler lets it.
  wchar_t text[16] = {};
  EXPECT_EQ(SendMessageW(window.Handle(), WM_GETTEXT, 16, reinterpret_cast<LPARAM>(text)), 5);
  EXPECT_STREQ(text, L"first");
  passOn = false;
  text[0] = L'\0';
  EXPECT_EQ(SendMessageW(window.Handle(), WM_GETTEXT, 16, reinterpret_cast<LPARAM>(text)), 0);
  EXPECT_STREQ(text, L"");
  passOn = true;

  // An escaping exception is caught; the window goes on working.
  SendMessageW(window.Handle(), kThrow, 0, 0);
  SendMessageW(window.Handle(), kCount, 0, 0);
  EXPECT_EQ(counted, 1);

  // A second holder of the same class in the same process.
  MessageWindow second;
  ASSERT_TRUE(second.Create(L"MessageWindowTest", L"second", [](HWND, UINT, WPARAM, LPARAM) { return std::optional<LRESULT>(); }));
  EXPECT_NE(second.Handle(), window.Handle());

  window.Destroy();
  EXPECT_EQ(window.Handle(), nullptr);
  EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"MessageWindowTest", L"first"), nullptr);
}

TEST(MessageWindow, PumpDispatchesUntilQuitOrWindowGone) {
  std::vector<WPARAM> seen;
  MessageWindow window;
  ASSERT_TRUE(window.Create(L"MessageWindowPump", L"pump", [&](HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == kCount) seen.push_back(wParam);
    return std::optional<LRESULT>();
  }));

  const DWORD start = GetTickCount();
  EXPECT_EQ(window.Pump(200), MessageWindow::PumpResult::Slice);
  EXPECT_GE(GetTickCount() - start, 150u);

  PostMessageW(window.Handle(), kCount, 1, 0);
  PostMessageW(window.Handle(), kCount, 2, 0);
  EXPECT_EQ(window.Pump(300), MessageWindow::PumpResult::Slice);
  EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2}));

  PostQuitMessage(0);
  EXPECT_EQ(window.Pump(5000), MessageWindow::PumpResult::Quit);

  DestroyWindow(window.Handle());
  EXPECT_EQ(window.Pump(5000), MessageWindow::PumpResult::WindowGone);
}

// Without a time limit the pump sleeps until a message or one of its events wakes it:
// messages first, then the event that another thread sets.
TEST(MessageWindow, PumpWakesForMessagesAndEvents) {
  std::vector<WPARAM> seen;
  MessageWindow window;
  ASSERT_TRUE(window.Create(L"MessageWindowWake", L"wake", [&](HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == kCount) seen.push_back(wParam);
    return std::optional<LRESULT>();
  }));
  HandleHolder event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE events[1] = {event.Get()};
  const HWND handle = window.Handle();
  std::thread other([&] {
    Sleep(100);
    PostMessageW(handle, kCount, 7, 0);
    Sleep(100);
    SetEvent(event.Get());
  });
  EXPECT_EQ(window.Pump(INFINITE, events), MessageWindow::PumpResult::Event);
  other.join();
  EXPECT_EQ(seen, (std::vector<WPARAM>{7}));

  ResetEvent(event.Get());
  PostQuitMessage(0);
  EXPECT_EQ(window.Pump(INFINITE, events), MessageWindow::PumpResult::Quit);
}

}  // namespace

#pragma once
// What the grid's window tests share: an owner window that records the grid's
// notifications and answers them, and a grid of known geometry inside it.

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <vector>

#include "GridCtrl.h"
#include "RenderProbe.h"
#include "WindowInput.h"

struct Notification {
  int code;
  int row;
  int column;
  bool operator==(const Notification& other) const {
    return code == other.code && row == other.row && column == other.column;
  }
};

inline std::ostream& operator<<(std::ostream& out, const Notification& n) {
  return out << "{" << n.code << ", " << n.row << ", " << n.column << "}";
}

// A top-level window that owns the grid: it records every WM_NOTIFY from it and
// answers from a table of results by code (0 when absent).
class RecordingOwner : public CWnd {
 public:
  RecordingOwner() {
    static const bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = DefWindowProcA;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "GridTestOwner";
      return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    CreateEx(0, "GridTestOwner", "grid test", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr, nullptr);
  }

  std::vector<Notification> notifications;
  std::vector<WPARAM> commands;
  std::map<int, LRESULT> answers;
  // Text of the edited cell when the owner is asked about an end of edit.
  std::vector<CString> endEditTexts;
  CGridCtrl* grid = nullptr;

  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const Notification& n : notifications) codes.push_back(n.code);
    return codes;
  }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NOTIFY) {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      const int code = static_cast<int>(header->code);
      if (code == GridCode::CacheHint || code == GridCode::DisplayRequest) return CWnd::WindowProc(message, wParam, lParam);
      const auto* notify = reinterpret_cast<const GridNotify*>(lParam);
      notifications.push_back({code, notify->row, notify->column});
      if (code == GridCode::EndEdit && grid) endEditTexts.push_back(grid->GetItemText(notify->row, notify->column));
      auto answer = answers.find(code);
      return answer == answers.end() ? 0 : answer->second;
    }
    if (message == WM_COMMAND) commands.push_back(wParam);
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

// A dialog template in memory holding one custom control of the grid's class.
inline std::vector<WORD> GridDialogTemplate(WORD id) {
  std::vector<WORD> words;
  auto put32 = [&](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  auto putText = [&](const char* text) {
    for (; *text; ++text) words.push_back(static_cast<WORD>(*text));
    words.push_back(0);
  };
  put32(WS_POPUP | WS_VISIBLE | DS_SETFONT);
  put32(0);
  for (WORD value : {1, 0, 0, 220, 120, 0, 0}) words.push_back(value);
  putText("options");
  words.push_back(8);
  putText("MS Shell Dlg");
  if (words.size() % 2) words.push_back(0);
  put32(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER);
  put32(0);
  for (WORD value : {WORD(5), WORD(5), WORD(200), WORD(100), id}) words.push_back(value);
  putText("MFCGridCtrl");
  words.push_back(0);
  words.push_back(0);
  return words;
}

inline CRect ClientOf(const CWnd& wnd) {
  CRect rect;
  wnd.GetClientRect(&rect);
  return rect;
}

// Gives the grid a client area of exactly width x height pixels.
// Scroll bars may come or go with the size, so it is set until it holds.
inline void SizeClient(CGridCtrl& grid, int width, int height) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    CRect window;
    grid.GetWindowRect(&window);
    const CRect client = ClientOf(grid);
    grid.MoveWindow(0, 0, width + window.Width() - client.Width(), height + window.Height() - client.Height());
  }
  EXPECT_EQ(ClientOf(grid).Width(), width);
  EXPECT_EQ(ClientOf(grid).Height(), height);
}

// Makes `grid` a rows x columns grid with the given fixed rows and columns, every
// column `width` and every row `height` pixels, a child of `owner` (its window is
// made when it has none yet). False when the window cannot be made.
inline bool MakeGrid(CGridCtrl& grid, CWnd& owner, int rows, int columns, int width, int height, int fixedRows = 1,
                     int fixedColumns = 1) {
  grid.SetRowCount(rows);
  grid.SetColumnCount(columns);
  grid.SetFixedRowCount(fixedRows);
  grid.SetFixedColumnCount(fixedColumns);
  if (!grid.GetSafeHwnd() && !grid.Create(CRect(0, 0, 300, 200), &owner, 100, WS_CHILD | WS_VISIBLE)) return false;
  for (int column = 0; column < columns; ++column) grid.SetColumnWidth(column, width);
  for (int row = 0; row < rows; ++row) grid.SetRowHeight(row, height);
  return true;
}

// A fixture holding a grid made inside a recording owner that hears of its edits.
class OwnedGridTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(grid.Create(CRect(0, 0, 300, 200), &owner, 100, WS_CHILD | WS_VISIBLE));
    owner.grid = &grid;
  }

  RecordingOwner owner;
  CGridCtrl grid;
};

// Writes the README's pictures of the grid: grid.png (a header row, long texts, a
// selection and the focus cell), grid-editing.png (a cell edited in place and a
// title tip over a long text) and grid-print.png (a printed page), in the folder
// given as the only argument. Run by `make screenshots` under Xvfb.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "GridCtrl.h"
#include "RenderProbe.h"
#include "WindowInput.h"

namespace {

void Pump() {
  for (int round = 0; round < 5; ++round) {
    wftest::DispatchPosted();
    Sleep(50);
  }
}

// The screen inside a rectangle, windows on top included.
bool SaveScreen(const RECT& area, const std::string& path) {
  RenderProbe probe(area.right - area.left, area.bottom - area.top);
  HDC screen = GetDC(nullptr);
  BitBlt(probe.Dc().m_hDC, 0, 0, probe.Width(), probe.Height(), screen, area.left, area.top, SRCCOPY);
  ReleaseDC(nullptr, screen);
  return probe.SavePng(path.c_str());
}

// A page of paper drawn into a bitmap: the printer the grid prints to here.
class PaperDC : public CDC {
 public:
  PaperDC(RenderProbe& probe) : width_(probe.Width()), height_(probe.Height()) {
    AttachTemporary(probe.Dc().m_hDC);
    m_bPrinting = TRUE;
  }
  int GetDeviceCaps(int index) const override {
    if (index == HORZRES) return width_;
    if (index == VERTRES) return height_;
    return CDC::GetDeviceCaps(index);
  }

 private:
  int width_;
  int height_;
};

const char* const kRows[][4] = {
    {"RP", "139", "Basic", "Port of the web filter appliance"},
    {"RH", "60000", "Advanced", "Heartbeat interval in milliseconds, sent while the connection lasts"},
    {"RX", "10000", "Advanced", "Time to wait for the appliance's answer to a logon"},
    {"RW", "60000", "Advanced", "Retry window"},
    {"RM", "2.0", "Advanced", "Growth of the retry window after each failed attempt"},
    {"LF", "idagent.log", "Basic", "Log file"},
    {"LL", "2", "Advanced", "Log level from 0 (errors only) to 4 (every detail of every exchange)"},
    {"WI", "1", "Basic", "Identify the user through WMI"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: grid_screenshots OUTPUT-FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];

  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "GridSample";
  RegisterClassA(&wc);
  CWnd frame;
  frame.CreateEx(0, "GridSample", "Grid control", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 40, 40, 560, 250, nullptr,
                 nullptr);

  CGridCtrl grid(1, 5, 1, 1);
  CRect client;
  frame.GetClientRect(&client);
  client.DeflateRect(8, 8);
  grid.Create(client, &frame, 1);
  const char* const headings[] = {"", "Name", "Value", "Class", "Description"};
  const int widths[] = {24, 50, 90, 70, 270};
  for (int column = 0; column < 5; ++column) {
    grid.SetItemText(0, column, headings[column]);
    grid.SetColumnWidth(column, widths[column]);
  }
  for (const auto& row : kRows) {
    const int index = grid.InsertRow("");
    grid.SetItemTextFormatted(index, 0, "%d", index);
    for (int column = 0; column < 4; ++column) grid.SetItemText(index, column + 1, row[column]);
    grid.SetItemState(index, 1, grid.GetItemState(index, 1) | GridState::ReadOnly);
  }
  grid.SetItemBackColour(4, 3, RGB(255, 255, 200));

  ::SetForegroundWindow(frame.GetSafeHwnd());
  grid.SetFocus();
  grid.SelectRange(2, 1, 4, 3);
  grid.SetFocusCell(6, 2);
  Pump();
  const std::string plain = folder + "\\grid.png";
  const bool plainSaved = RenderProbe::CaptureWindow(frame.GetSafeHwnd())->SavePng(plain.c_str());
  printf("%s %s\n", plainSaved ? "wrote" : "could not write", plain.c_str());

  // Typing on a value cell opens the editor; the mouse over a long description shows its tip.
  grid.SelectRange(-1, -1, -1, -1);
  grid.SetFocusCell(6, 2);
  grid.SendMessage(WM_CHAR, 'u');
  Pump();
  const HWND editor = ::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId);
  for (const char* typed = "pdated-identity-agent.log"; *typed; ++typed) ::SendMessageA(editor, WM_CHAR, *typed, 0);
  CRect tipCell;
  grid.CellRectangle(7, 4, &tipCell);
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(tipCell.left + 20, tipCell.top + 5));
  Pump();
  CRect area;
  frame.GetWindowRect(&area);
  if (grid.GetTitleTip().GetSafeHwnd() && grid.GetTitleTip().IsWindowVisible()) {
    CRect tip;
    grid.GetTitleTip().GetWindowRect(&tip);
    area.UnionRect(&area, &tip);
  }
  const std::string editing = folder + "\\grid-editing.png";
  const bool editingSaved = SaveScreen(area, editing);
  printf("%s %s\n", editingSaved ? "wrote" : "could not write", editing.c_str());

  // The first printed page, as a printer would get it.
  ::SendMessageA(editor, WM_CHAR, VK_ESCAPE, 0);
  Pump();
  RenderProbe paper(620, 800);
  PaperDC printer(paper);
  CPrintInfo info;
  grid.OnBeginPrinting(&printer, &info);
  info.m_nCurPage = 1;
  grid.OnPrint(&printer, &info);
  grid.OnEndPrinting(&printer, &info);
  const std::string printed = folder + "\\grid-print.png";
  const bool printedSaved = paper.SavePng(printed.c_str());
  printf("%s %s\n", printedSaved ? "wrote" : "could not write", printed.c_str());
  return plainSaved && editingSaved && printedSaved ? 0 : 1;
}

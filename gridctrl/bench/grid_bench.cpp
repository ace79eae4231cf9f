// Speed and size of the grid: filling, finding cells, and painting what is in view.
// Prints one line per measurement; run by `make bench` under Wine.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "GridCtrl.h"

// Every allocation of the program is counted, with its size kept in front of it.
static long long g_liveBytes = 0;

void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
  if (!block) throw std::bad_alloc();
  *block = size;
  g_liveBytes += static_cast<long long>(size);
  return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}

void operator delete(void* pointer) noexcept {
  if (!pointer) return;
  auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::max_align_t));
  g_liveBytes -= static_cast<long long>(*block);
  std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept { operator delete(pointer); }

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsPer(int repeats, const std::function<void()>& work) {
  const auto start = Clock::now();
  for (int i = 0; i < repeats; ++i) work();
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / repeats;
}

class OwnerWindow : public CWnd {
 public:
  OwnerWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "GridBenchOwner";
    RegisterClassA(&wc);
    CreateEx(0, "GridBenchOwner", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 820, 620, nullptr, nullptr);
  }
};

void Fill(int rows) {
  CGridCtrl grid;
  grid.SetColumnCount(10);
  const long long before = g_liveBytes;
  const auto start = Clock::now();
  grid.SetRowCount(rows);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  const double perCell = static_cast<double>(g_liveBytes - before) / (rows * 10.0);
  std::printf("SetRowCount(%d) of 10 columns: %.2f ms, %.0f bytes per cell\n", rows, ms, perCell);
}

void Lookups(OwnerWindow& owner) {
  CGridCtrl grid(100000, 10, 1, 1);
  grid.Create(CRect(0, 0, 800, 600), &owner, 1);
  for (int column = 0; column < 10; ++column) grid.SetColumnWidth(column, 60);
  struct Place {
    const char* name;
    UINT code;
  };
  for (const Place& place : {Place{"top", SB_TOP}, Place{"bottom", SB_BOTTOM}}) {
    grid.SendMessage(WM_VSCROLL, place.code);
    const int row = grid.FirstScrollableCell().row + 2;
    CPoint origin;
    const double originUs = MicrosecondsPer(1000, [&] { grid.CellOrigin(row, 5, &origin); });
    const CPoint inside(origin.x + 5, origin.y + 5);
    const double pointUs = MicrosecondsPer(1000, [&] { grid.CellAtPoint(inside); });
    std::printf("100000 rows, %s (row %d): CellOrigin %.3f us, CellAtPoint %.3f us\n", place.name, row, originUs,
                pointUs);
  }
}

// The same length of text in every grid, so that only the row count differs.
constexpr char kCellText[] = "%07d:%d";

BOOL VirtualText(CGridCtrl*, GridDisplayInfo* info, LPARAM) {
  info->item.text.Format(kCellText, info->item.row, info->item.column);
  return TRUE;
}

double PaintTime(OwnerWindow& owner, int rows, bool virtualMode) {
  CGridCtrl grid;
  grid.Create(CRect(0, 0, 800, 600), &owner, 1);
  if (virtualMode) {
    grid.SetVirtualMode(TRUE);
    grid.SetDisplayCallback(VirtualText);
  }
  grid.SetRowCount(rows);
  grid.SetColumnCount(10);
  grid.SetFixedRowCount(1);
  grid.SetFixedColumnCount(1);
  if (!virtualMode)
    for (int row = 0; row < rows; ++row)
      for (int column = 0; column < 10; ++column) grid.SetItemTextFormatted(row, column, kCellText, row, column);
  grid.SetScrollPosition(SB_VERT, grid.GetScrollMax(SB_VERT) / 2);

  CRect client;
  grid.GetClientRect(&client);
  CClientDC screen(&grid);
  CDC memory;
  memory.CreateCompatibleDC(&screen);
  CBitmap bitmap;
  bitmap.CreateCompatibleBitmap(&screen, client.Width(), client.Height());
  CBitmap* old = memory.SelectObject(&bitmap);
  grid.OnDraw(&memory);  // warm-up: fonts and caches
  const double us = MicrosecondsPer(20, [&] { grid.OnDraw(&memory); });
  memory.SelectObject(old);
  return us / 1000.0;
}

// A delimited file of a heading line and `rows` lines of `columns` fields.
std::string WriteDelimited(int rows, int columns) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  char name[MAX_PATH] = {};
  GetTempFileNameA(folder, "gbn", 0, name);
  std::ofstream out(name, std::ios::trunc);
  for (int row = 0; row <= rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      char text[32];
      std::snprintf(text, sizeof(text), kCellText, row, column);
      out << (column ? "," : "") << text;
    }
    out << '\n';
  }
  return name;
}

double MillisecondsOf(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Loading a file into a grid window beside filling a grid window with the same texts.
void LoadBesideFill(OwnerWindow& owner, int rows, int columns) {
  const std::string path = WriteDelimited(rows, columns);
  CGridCtrl loaded;
  loaded.Create(CRect(0, 0, 800, 600), &owner, 1);
  const double load = MillisecondsOf([&] { loaded.LoadDelimitedText(path.c_str(), ','); });
  DeleteFileA(path.c_str());

  CGridCtrl filled;
  filled.Create(CRect(0, 0, 800, 600), &owner, 2);
  const double fill = MillisecondsOf([&] {
    filled.SetColumnCount(columns);
    filled.SetRowCount(rows + 1);
    for (int row = 0; row <= rows; ++row)
      for (int column = 0; column < columns; ++column) filled.SetItemTextFormatted(row, column, kCellText, row, column);
  });
  std::printf("%d rows x %d columns: LoadDelimitedText %.0f ms (%.1f us a row), SetRowCount + SetItemText %.0f ms "
              "(%.1f us a row): load %.2fx fill\n",
              rows, columns, load, load * 1000 / rows, fill, fill * 1000 / rows, load / fill);
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  Fill(1000);
  Fill(100000);
  OwnerWindow owner;
  Lookups(owner);
  const double small = PaintTime(owner, 100, false);
  const double large = PaintTime(owner, 100000, false);
  const double huge = PaintTime(owner, 1000000, true);
  std::printf("full paint of the visible area: 100 rows %.2f ms, 100000 rows %.2f ms (%.2fx), "
              "1000000 virtual rows %.2f ms (%.2fx)\n",
              small, large, large / small, huge, huge / small);
  LoadBesideFill(owner, 10000, 5);
  LoadBesideFill(owner, 100000, 5);
  LoadBesideFill(owner, 1, 4000);  // one line of many fields
  return 0;
}

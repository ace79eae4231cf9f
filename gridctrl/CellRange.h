#pragma once
// Cell addresses, ranges and the records the grid exchanges with its owner.

#include <windows.h>

#include <cstdint>

#include "WfString.h"

class CCellID {
 public:
  int row = -1;
  int col = -1;

  CCellID(int r = -1, int c = -1) : row(r), col(c) {}
  bool IsValid() const { return row >= 0 && col >= 0; }
  bool operator==(const CCellID& other) const { return row == other.row && col == other.col; }
  bool operator!=(const CCellID& other) const { return !(*this == other); }
};

class CellRange {
 public:
  int minRow = -1;
  int minCol = -1;
  int maxRow = -1;
  int maxCol = -1;

  CellRange(int r1 = -1, int c1 = -1, int r2 = -1, int c2 = -1) : minRow(r1), minCol(c1), maxRow(r2), maxCol(c2) {}
  void Reset() { *this = CellRange(); }
  bool IsValid() const {
    return minRow >= 0 && minCol >= 0 && maxRow >= 0 && maxCol >= 0 && minRow <= maxRow && minCol <= maxCol;
  }
  bool InRange(int row, int col) const { return minRow <= row && row <= maxRow && minCol <= col && col <= maxCol; }
  bool InRange(const CCellID& cell) const { return InRange(cell.row, cell.col); }
  CCellID GetTopLeft() const { return CCellID(minRow, minCol); }
  CellRange Intersect(const CellRange& other) const {
    return CellRange(max(minRow, other.minRow), max(minCol, other.minCol), min(maxRow, other.maxRow),
                     min(maxCol, other.maxCol));
  }
  bool operator==(const CellRange& o) const {
    return minRow == o.minRow && minCol == o.minCol && maxRow == o.maxRow && maxCol == o.maxCol;
  }

 private:
  static int max(int a, int b) { return a > b ? a : b; }
  static int min(int a, int b) { return a < b ? a : b; }
};

// Cell state bits.
namespace GridState {
constexpr UINT Focused = 0x01;
constexpr UINT Selected = 0x02;
constexpr UINT DropHighlighted = 0x04;
constexpr UINT ReadOnly = 0x08;
constexpr UINT Fixed = 0x10;
constexpr UINT FixedRow = 0x20;
constexpr UINT FixedColumn = 0x40;
constexpr UINT Modified = 0x80;
}  // namespace GridState

// Which fields of an item record are meant.
namespace GridMask {
constexpr UINT Text = 0x01;
constexpr UINT Image = 0x02;
constexpr UINT Data = 0x04;
constexpr UINT State = 0x08;
constexpr UINT BackColour = 0x10;
constexpr UINT TextColour = 0x20;
constexpr UINT Format = 0x40;
constexpr UINT Font = 0x80;
constexpr UINT Margin = 0x100;
constexpr UINT All = 0xFFFFFFFF;
}  // namespace GridMask

// Codes of the notifications sent to the owner.
namespace GridCode {
constexpr int Click = -2;
constexpr int DoubleClick = -3;
constexpr int RightClick = -5;
constexpr int SelChanging = -100;
constexpr int SelChanged = -101;
constexpr int BeginEdit = -105;
constexpr int EndEdit = -106;
constexpr int BeginDrag = -109;
constexpr int CacheHint = -113;
constexpr int DisplayRequest = -150;
}  // namespace GridCode

// A colour that leaves the default cell's colour in force.
constexpr COLORREF kDefaultColour = 0xFF000000;

struct GridItem {
  int row = 0;
  int column = 0;
  UINT mask = 0;
  UINT state = 0;
  UINT format = 0;
  int image = -1;
  COLORREF backColour = kDefaultColour;
  COLORREF textColour = kDefaultColour;
  LPARAM data = 0;
  LOGFONTA font{};
  UINT margin = 0;
  CString text;
};

struct GridNotify {
  NMHDR hdr;
  int row;
  int column;
};

struct GridDisplayInfo {
  NMHDR hdr;
  GridItem item;
};

struct GridCacheHint {
  NMHDR hdr;
  CellRange range;
};

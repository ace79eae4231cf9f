// Sorting the scrolling rows by one column, and saving and loading delimited text.
#include <mbstring.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "GridCtrl.h"
#include "WfFile.h"
#include "WfGdi.h"

int CGridCtrl::CompareTexts(const CGridCellBase* first, const CGridCellBase* second, LPARAM) {
  if (!first || !second) return 0;
  return _mbscmp(reinterpret_cast<const unsigned char*>(first->GetText()),
                 reinterpret_cast<const unsigned char*>(second->GetText()));
}

int CGridCtrl::CompareNumbers(const CGridCellBase* first, const CGridCellBase* second, LPARAM) {
  if (!first || !second) return 0;
  const long a = std::atol(first->GetText());
  const long b = std::atol(second->GetText());
  return a < b ? -1 : a > b ? 1 : 0;
}

BOOL CGridCtrl::SortByColumn(int column, BOOL ascending, LPARAM data) {
  return SortRows(compareFunction_ ? compareFunction_ : CompareTexts, column, ascending, data);
}

BOOL CGridCtrl::SortByText(int column, BOOL ascending, LPARAM data) {
  return SortRows(CompareTexts, column, ascending, data);
}

BOOL CGridCtrl::SortRows(GridCompareFunction compare, int column, BOOL ascending, LPARAM data) {
  // No cells to move in virtual mode: the owner keeps the order.
  if (virtualMode_) return FALSE;
  StopEditing();
  SetSortColumn(column);
  sortAscending_ = ascending;
  ClearSelection();
  return QuickSortRows(compare, column, ascending, data, fixedRowCount_, rowCount_ - 1);
}

void CGridCtrl::SwapRows(int first, int second) {
  std::swap(rows_[first], rows_[second]);
  std::swap(rowHeights_[first], rowHeights_[second]);
  for (int column = 0; column < columnCount_; ++column) {
    if (CGridCellBase* cell = (*rows_[first])[column]) cell->SetCellPosition(first, column);
    if (CGridCellBase* cell = (*rows_[second])[column]) cell->SetCellPosition(second, column);
  }
}

BOOL CGridCtrl::QuickSortRows(GridCompareFunction compare, int column, BOOL ascending, LPARAM data, int low,
                              int high) {
  if (column < 0 || column >= columnCount_ || low >= high) return FALSE;
  // The pivot is the cell object itself, wherever its row moves.
  const CGridCellBase* pivot = GetCell((low + high) / 2, column);
  const int sign = ascending ? 1 : -1;
  int lo = low;
  int hi = high;
  while (hi >= lo) {
    while (lo < high && sign * compare(GetCell(lo, column), pivot, data) < 0) ++lo;
    while (hi > low && sign * compare(GetCell(hi, column), pivot, data) > 0) --hi;
    if (hi >= lo) {
      if (compare(GetCell(lo, column), GetCell(hi, column), data) != 0) SwapRows(lo, hi);
      ++lo;
      --hi;
    }
  }
  if (low < hi) QuickSortRows(compare, column, ascending, data, low, hi);
  if (lo < high) QuickSortRows(compare, column, ascending, data, lo, high);
  return TRUE;
}

// ---- delimited text ----

BOOL CGridCtrl::SaveAsDelimitedText(LPCSTR fileName, char delimiter) {
  CStdioFile file;
  CFileException error;
  if (!file.Open(fileName, CStdioFile::modeWrite | CStdioFile::modeCreate | CStdioFile::typeText, &error)) {
    error.ReportError();
    return FALSE;
  }
  try {
    const char separator[2] = {delimiter, 0};
    for (int row = 0; row < rowCount_; ++row)
      for (int column = 0; column < columnCount_; ++column) {
        file.WriteString(GetItemText(row, column));
        file.WriteString(column + 1 < columnCount_ ? separator : "\n");
      }
    file.Close();
  } catch (const CFileException&) {
    AfxMessageBox("Unable to save grid list");
    return FALSE;
  }
  return TRUE;
}

namespace {

// The tokens of a line: each ends at the delimiter or at the end of the line, so a line
// holds one token more than delimiters, empty ones included (the last one too, so that
// an empty last cell saved comes back).
std::vector<std::string> Tokens(const std::string& line, char delimiter) {
  std::vector<std::string> tokens;
  size_t start = 0;
  for (size_t end; (end = line.find(delimiter, start)) != std::string::npos; start = end + 1)
    tokens.push_back(line.substr(start, end - start));
  tokens.push_back(line.substr(start));
  return tokens;
}

// Makes room for one more element, growing by half again as much, so that the push that
// follows cannot fail.
template <class Vector>
void RoomForOne(Vector& v) {
  if (v.size() == v.capacity()) v.reserve(v.capacity() + v.capacity() / 2 + 16);
}

}  // namespace

// The grid a load builds is the one that appending a column per heading and a row per
// line would give (texts, formats, modified marks, sizes), made in one pass: the
// selection, the scroll bars and the window are dealt with once at the end.
BOOL CGridCtrl::LoadDelimitedText(LPCSTR fileName, char delimiter) {
  if (virtualMode_) return FALSE;
  CStdioFile file;
  CFileException error;
  if (!file.Open(fileName, CStdioFile::modeRead | CStdioFile::typeText, &error)) {
    error.ReportError();
    return FALSE;
  }
  DeleteAllItems();
  std::unique_ptr<CClientDC> dc;
  if (GetSafeHwnd()) {
    try {
      dc = std::make_unique<CClientDC>(this);
    } catch (const CResourceException&) {
      // the cells measure with a DC of their own
    }
  }
  BOOL loaded = TRUE;
  try {
    CString line;
    if (file.ReadString(line)) {
      LoadHeadings(Tokens(line.Str(), delimiter), dc.get());
      while (file.ReadString(line)) AppendLoadedRow(Tokens(line.Str(), delimiter), dc.get());
    }
    file.Close();
  } catch (const CFileException&) {
    AfxMessageBox("Unable to load grid data");
    loaded = FALSE;
  } catch (const std::bad_alloc&) {
    loaded = FALSE;  // the rows made so far stay
  }
  dc.reset();
  SetModified();
  if (loaded)
    FitAllColumnsToContents(fitStyle_);
  else
    ResetScrollBars();
  Refresh();
  return loaded;
}

// Row 0 holds the headings, one column each, centred on a single line.
void CGridCtrl::LoadHeadings(const std::vector<std::string>& headings, CDC* dc) {
  RoomForOne(rows_);
  RoomForOne(rowHeights_);
  rows_.push_back(std::make_unique<GridRow>());
  rowHeights_.push_back(NormalDefault()->GetHeight());
  rowCount_ = 1;
  const int columns = static_cast<int>(headings.size());
  if (!AppendRowCells(*rows_[0], 0, 0, columns)) throw std::bad_alloc();
  columnWidths_.assign(columns, 0);
  columnCount_ = columns;
  for (int column = 0; column < columns; ++column) {
    SetItemText(0, column, headings[column].c_str());
    SetItemFormat(0, column, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (CGridCellBase* cell = GetCell(0, column))
      columnWidths_[column] = cell->GetTextExtent(headings[column].c_str(), dc).cx;
  }
}

// A row for one line: its first token is the row's heading; tokens beyond the last
// column have no cell and are dropped.
void CGridCtrl::AppendLoadedRow(const std::vector<std::string>& tokens, CDC* dc) {
  // Room first, so that once the cells are made nothing can fail.
  RoomForOne(rows_);
  RoomForOne(rowHeights_);
  auto cells = std::make_unique<GridRow>();
  if (!AppendRowCells(*cells, rowCount_, 0, columnCount_)) throw std::bad_alloc();
  rows_.push_back(std::move(cells));
  rowHeights_.push_back(0);
  const int row = rowCount_++;
  const int count = std::min(static_cast<int>(tokens.size()), columnCount_);
  for (int column = 0; column < count; ++column) SetItemText(row, column, tokens[column].c_str());
  CGridCellBase* first = GetCell(row, 0);
  rowHeights_[row] = !tokens[0].empty() && first ? first->GetTextExtent(tokens[0].c_str(), dc).cy
                                                 : defaultFixedRowCell_->GetHeight();
}

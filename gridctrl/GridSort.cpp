// Sorting the scrolling rows by one column, and saving and loading delimited text.
#include <mbstring.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "GridCtrl.h"
#include "WfFile.h"

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

// The tokens of a line: each ends at the delimiter or at the end; an empty token at
// the very end ends the line, empty ones in the middle count.
std::vector<std::string> Tokens(const std::string& line, char delimiter) {
  std::vector<std::string> tokens;
  size_t start = 0;
  while (start < line.size()) {
    const size_t end = line.find(delimiter, start);
    tokens.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return tokens;
}

}  // namespace

BOOL CGridCtrl::LoadDelimitedText(LPCSTR fileName, char delimiter) {
  if (virtualMode_) return FALSE;
  CStdioFile file;
  CFileException error;
  if (!file.Open(fileName, CStdioFile::modeRead | CStdioFile::typeText, &error)) {
    error.ReportError();
    return FALSE;
  }
  DeleteAllItems();
  try {
    CString line;
    if (file.ReadString(line))
      for (const std::string& heading : Tokens(line.Str(), delimiter))
        InsertColumn(heading.c_str(), DT_CENTER | DT_VCENTER | DT_SINGLELINE, -1);
    while (file.ReadString(line)) {
      const std::vector<std::string> tokens = Tokens(line.Str(), delimiter);
      if (tokens.empty()) continue;
      const int row = InsertRow(tokens[0].c_str());
      for (size_t i = 1; i < tokens.size() && static_cast<int>(i) < columnCount_; ++i)
        SetItemText(row, static_cast<int>(i), tokens[i].c_str());
    }
    file.Close();
  } catch (const CFileException&) {
    AfxMessageBox("Unable to load grid data");
    return FALSE;
  }
  FitAllColumnsToContents(fitStyle_);
  return TRUE;
}

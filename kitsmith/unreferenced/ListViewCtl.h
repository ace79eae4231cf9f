// Thin wrapper over a report-style list-view window (the handle is not owned).
// Indices are 0-based; item data released by the "release" operations must be a
// block of the process heap.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class ListViewCtl {
 public:
  explicit ListViewCtl(HWND list = nullptr) : list_(list) {}
  HWND GetHwnd() const { return list_; }
  void Attach(HWND list) { list_ = list; }

  void SetColumnCount(int count);
  int GetColumnCount() const;
  void SetColumnTitle(int column, const char* title);
  // SetColumns(n, title0, title1, ...): n const char* titles.
  void SetColumns(int count, ...);
  // AppendRow(data, n, text0, text1, ...): n const char* texts. Returns the new index.
  int AppendRow(LPARAM data, int count, ...);
  int GetItemCount() const;
  int CountSelected(int limit) const;

  // Up to 20 percentages separated by white space for the first columns; the
  // further columns share what is left and the last one fills the window.
  void SetColumnWidths(const char* spec);
  void SetColumnWidthPercent(int column, double percent);
  int GetColumnWidth(int column) const;
  void SetColumnWidth(int column, int width);

  void SelectIndices(int count, const int* indices);
  void SetSelected(int item, bool on, bool show);
  bool IsSelected(int item) const;
  int GetSelectedIndices(int* out, int max) const;
  int GetFirstSelected() const;
  LPARAM GetFirstSelectedItemData() const;
  int GetSelectedItemData(LPARAM* out, int max) const;

  // LoadIcons(module, n, byName, icon0, ...): const char* names when byName, else
  // int resource numbers. Both image lists go to the list view.
  bool LoadIcons(const char* moduleName, int count, bool byName, ...);
  void SetItemImage(int item, int image);
  int GetItemImage(int item) const;

  void SetItemTextFormatted(int item, int subItem, const char* format, ...);
  char* GetItemText(int item, int subItem, char* buffer, int size) const;
  std::string GetItemText(int item, int subItem) const;

  LPARAM GetItemData(int item) const;
  LPARAM SetItemData(int item, LPARAM data);
  int FindByItemData(LPARAM data, int start) const;

  // Visits the selected items from the highest index down and deletes those the
  // test passes (every item without a test), releasing their data when asked.
  // Returns how many went.
  using DeleteTest = std::function<bool(int item, LPARAM data)>;
  int DeleteSelected(const DeleteTest& test = nullptr, bool release = false);
  void DeleteItem(int item, bool release);
  void DeleteAll(bool release);

 private:
  void ReleaseData(int item);

  HWND list_;
};

#include "unreferenced/ListViewCtl.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/KitHolders.h"

namespace {

constexpr int kMaxWidthSpecs = 20;
constexpr int kFormatBufferSize = 16484;
constexpr int kItemTextChars = 4096;

HWND Header(HWND list) { return reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0)); }

LVITEMA Fields(int item, UINT mask) {
  LVITEMA it = {};
  it.mask = mask;
  it.iItem = item;
  return it;
}

LVITEMA Query(HWND list, int item, UINT mask) {
  LVITEMA it = Fields(item, mask);
  SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
  return it;
}

void Store(HWND list, LVITEMA it) { SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it)); }

int WindowWidth(HWND list) {
  RECT rect = {};
  GetWindowRect(list, &rect);
  return rect.right - rect.left;
}

}  // namespace

void ListViewCtl::SetColumnCount(int count) {
  for (int n = GetColumnCount(); n > count; --n) SendMessageA(list_, LVM_DELETECOLUMN, n - 1, 0);
  for (int n = GetColumnCount(); n < count; ++n) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = const_cast<char*>("");
    SendMessageA(list_, LVM_INSERTCOLUMNA, n, reinterpret_cast<LPARAM>(&column));
  }
}

int ListViewCtl::GetColumnCount() const {
  return static_cast<int>(SendMessageA(Header(list_), HDM_GETITEMCOUNT, 0, 0));
}

void ListViewCtl::SetColumnTitle(int column, const char* title) {
  LVCOLUMNA col = {};
  col.mask = LVCF_TEXT;
  col.pszText = const_cast<char*>(title);
  SendMessageA(list_, LVM_SETCOLUMNA, column, reinterpret_cast<LPARAM>(&col));
}

void ListViewCtl::SetColumns(int count, ...) {
  SetColumnCount(count);
  va_list args;
  va_start(args, count);
  for (int i = 0; i < count; ++i) SetColumnTitle(i, va_arg(args, const char*));
  va_end(args);
}

int ListViewCtl::AppendRow(LPARAM data, int count, ...) {
  va_list args;
  va_start(args, count);
  LVITEMA item = Fields(GetItemCount(), LVIF_TEXT | LVIF_PARAM);
  item.pszText = const_cast<char*>(count > 0 ? va_arg(args, const char*) : "");
  item.lParam = data;
  const int index = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  for (int sub = 1; sub < count; ++sub) {
    LVITEMA text = {};
    text.iSubItem = sub;
    text.pszText = const_cast<char*>(va_arg(args, const char*));
    SendMessageA(list_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&text));
  }
  va_end(args);
  return index;
}

int ListViewCtl::GetItemCount() const { return static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)); }

int ListViewCtl::CountSelected(int limit) const {
  int count = 0;
  for (int i = 0, n = GetItemCount(); i < n && count < limit; ++i)
    if (IsSelected(i)) ++count;
  return count;
}

void ListViewCtl::SetColumnWidths(const char* spec) {
  const int columns = GetColumnCount();
  double given[kMaxWidthSpecs];
  int k = 0;
  for (const char* p = spec; p && k < kMaxWidthSpecs && k < columns;) {
    char* end = nullptr;
    const long value = std::strtol(p, &end, 10);
    if (end == p) break;
    given[k++] = static_cast<double>(value);
    p = end;
  }
  double rest = 100;
  for (int i = 0; i < k; ++i) {
    SetColumnWidthPercent(i, given[i]);
    rest -= given[i];
  }
  if (rest <= 0 || k >= columns) return;
  const double share = rest / (columns - k);
  for (int i = k; i < columns - 1; ++i) SetColumnWidthPercent(i, share);
  int others = 0;
  for (int i = 0; i < columns - 1; ++i) others += GetColumnWidth(i);
  SetColumnWidth(columns - 1, WindowWidth(list_) - others - 2 * GetSystemMetrics(SM_CXEDGE));
}

void ListViewCtl::SetColumnWidthPercent(int column, double percent) {
  SetColumnWidth(column, static_cast<int>((WindowWidth(list_) + 1) * percent / 100));
}

int ListViewCtl::GetColumnWidth(int column) const {
  return static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, column, 0));
}

void ListViewCtl::SetColumnWidth(int column, int width) {
  SendMessageA(list_, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

void ListViewCtl::SelectIndices(int count, const int* indices) {
  for (int i = 0, n = GetItemCount(); i < n; ++i) {
    bool wanted = false;
    for (int j = 0; j < count && !wanted; ++j) wanted = indices[j] == i;
    SetSelected(i, wanted, false);
  }
}

void ListViewCtl::SetSelected(int item, bool on, bool show) {
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED;
  state.state = on ? LVIS_SELECTED : 0;
  SendMessageA(list_, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
  if (show) SendMessageA(list_, LVM_ENSUREVISIBLE, item, FALSE);
}

bool ListViewCtl::IsSelected(int item) const {
  return (SendMessageA(list_, LVM_GETITEMSTATE, item, LVIS_SELECTED) & LVIS_SELECTED) != 0;
}

int ListViewCtl::GetSelectedIndices(int* out, int max) const {
  int count = 0;
  for (int i = 0, n = GetItemCount(); i < n && count < max; ++i)
    if (IsSelected(i)) out[count++] = i;
  return count;
}

int ListViewCtl::GetFirstSelected() const {
  int first = -1;
  return GetSelectedIndices(&first, 1) ? first : -1;
}

LPARAM ListViewCtl::GetFirstSelectedItemData() const {
  const int first = GetFirstSelected();
  return first < 0 ? 0 : GetItemData(first);
}

int ListViewCtl::GetSelectedItemData(LPARAM* out, int max) const {
  int count = 0;
  for (int i = 0, n = GetItemCount(); i < n && count < max; ++i)
    if (IsSelected(i)) out[count++] = GetItemData(i);
  return count;
}

bool ListViewCtl::LoadIcons(const char* moduleName, int count, bool byName, ...) {
  HMODULE module = GetModuleHandleA(moduleName);
  if (!module) return false;
  ImageListHolder large(ImageList_Create(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                         ILC_MASK | ILC_COLOR32, count, 0));
  ImageListHolder small(ImageList_Create(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                         ILC_MASK | ILC_COLOR32, count, 0));
  if (!large.Get() || !small.Get()) return false;
  va_list args;
  va_start(args, byName);
  bool loaded = true;
  for (int i = 0; i < count && loaded; ++i) {
    const char* name = byName ? va_arg(args, const char*) : MAKEINTRESOURCEA(static_cast<WORD>(va_arg(args, int)));
    // Icons from LoadIcon are shared: the image lists keep copies.
    HICON icon = LoadIconA(module, name);
    loaded = icon != nullptr;
    if (loaded) {
      ImageList_AddIcon(large.Get(), icon);
      ImageList_AddIcon(small.Get(), icon);
    }
  }
  va_end(args);
  if (!loaded) return false;
  // Without LVS_SHAREIMAGELISTS the list view owns its image lists, so the ones it
  // gives back are ours to free.
  const bool shared = (GetWindowLongA(list_, GWL_STYLE) & LVS_SHAREIMAGELISTS) != 0;
  ImageListHolder oldLarge(reinterpret_cast<HIMAGELIST>(
      SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(large.Release()))));
  ImageListHolder oldSmall(reinterpret_cast<HIMAGELIST>(
      SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(small.Release()))));
  if (shared) {
    oldLarge.Release();
    oldSmall.Release();
  }
  return true;
}

void ListViewCtl::SetItemImage(int item, int image) {
  LVITEMA it = Fields(item, LVIF_IMAGE);
  it.iImage = image;
  Store(list_, it);
}

int ListViewCtl::GetItemImage(int item) const { return Query(list_, item, LVIF_IMAGE).iImage; }

void ListViewCtl::SetItemTextFormatted(int item, int subItem, const char* format, ...) {
  std::vector<char> buffer(kFormatBufferSize);
  va_list args;
  va_start(args, format);
  _vsnprintf(buffer.data(), buffer.size() - 1, format, args);
  va_end(args);
  LVITEMA text = {};
  text.iSubItem = subItem;
  text.pszText = buffer.data();
  SendMessageA(list_, LVM_SETITEMTEXTA, item, reinterpret_cast<LPARAM>(&text));
}

char* ListViewCtl::GetItemText(int item, int subItem, char* buffer, int size) const {
  if (size <= 0) return buffer;
  buffer[0] = 0;
  LVITEMA text = {};
  text.iSubItem = subItem;
  text.pszText = buffer;
  text.cchTextMax = size;
  SendMessageA(list_, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&text));
  // Some list views fill a short buffer to the end without a terminator.
  buffer[size - 1] = 0;
  return buffer;
}

std::string ListViewCtl::GetItemText(int item, int subItem) const {
  std::vector<char> buffer(kItemTextChars + 1);
  return GetItemText(item, subItem, buffer.data(), static_cast<int>(buffer.size()));
}

LPARAM ListViewCtl::GetItemData(int item) const { return Query(list_, item, LVIF_PARAM).lParam; }

LPARAM ListViewCtl::SetItemData(int item, LPARAM data) {
  const LPARAM previous = GetItemData(item);
  LVITEMA it = Fields(item, LVIF_PARAM);
  it.lParam = data;
  Store(list_, it);
  return previous;
}

int ListViewCtl::FindByItemData(LPARAM data, int start) const {
  for (int i = start < 0 ? 0 : start, n = GetItemCount(); i < n; ++i)
    if (GetItemData(i) == data) return i;
  return -1;
}

void ListViewCtl::ReleaseData(int item) {
  if (void* block = reinterpret_cast<void*>(SetItemData(item, 0))) HeapFree(GetProcessHeap(), 0, block);
}

int ListViewCtl::DeleteSelected(const DeleteTest& test, bool release) {
  int deleted = 0;
  for (int i = GetItemCount() - 1; i >= 0; --i) {
    if (!IsSelected(i) || (test && !test(i, GetItemData(i)))) continue;
    DeleteItem(i, release);
    ++deleted;
  }
  return deleted;
}

void ListViewCtl::DeleteItem(int item, bool release) {
  if (release) ReleaseData(item);
  SendMessageA(list_, LVM_DELETEITEM, item, 0);
}

void ListViewCtl::DeleteAll(bool release) {
  if (release)
    for (int i = 0, n = GetItemCount(); i < n; ++i) ReleaseData(i);
  SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
}

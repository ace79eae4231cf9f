// Printing onto pages: heading rows and columns repeated on every page, the body
// rows and columns that fit, and a header and footer band.
#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <vector>

#include "GridCtrl.h"
#include "GridHolders.h"
#include "WfPlatform.h"

namespace {

constexpr UINT kAppTitleString = 57344;

// The first index of every page when `sizes` from `first` on are laid out in pages of
// `limit`. A page takes at least one index, so a size above the limit (or a limit of 0
// or less) gives an index a page of its own.
std::vector<int> PageStarts(const std::vector<UINT>& sizes, int first, int count, int limit) {
  std::vector<int> starts{first};
  long long sum = 0;
  for (int i = first; i < count; ++i) {
    const long long size = sizes[i];
    if (sum > 0 && sum + size > limit) {
      starts.push_back(i);
      sum = size;
    } else {
      sum += size;
    }
  }
  return starts;
}

void Line(CDC* dc, int x1, int y1, int x2, int y2) {
  dc->MoveTo(x1, y1);
  dc->LineTo(x2, y2);
}

// The grid lines of one printed cell, as the screen shows them: under it (and above it
// when it starts the page's first line), at its right edge, and at its left edge when it
// starts the page's lines.
void CellLines(CDC* dc, const CRect& rect, int gridLines, bool lineAbove) {
  if (gridLines == 1 || gridLines == 3) {
    if (lineAbove) Line(dc, rect.left - 1, rect.top - 1, rect.right + 1, rect.top - 1);
    Line(dc, rect.left - 1, rect.bottom, rect.right + 1, rect.bottom);
  }
  if (gridLines == 2 || gridLines == 3) {
    if (rect.left == 0) Line(dc, -1, rect.top - 1, -1, rect.bottom + 1);
    Line(dc, rect.right, rect.top - 1, rect.right, rect.bottom + 1);
  }
}

}  // namespace

void CGridCtrl::Print(PRINTDLGA* dialog) {
  WfPlatform& platform = WfPlatform::Current();
  CDC dc;
  if (dialog) {
    dc.AttachTemporary(dialog->hDC);
  } else {
    const DWORD flags = PD_ALLPAGES | PD_USEDEVMODECOPIES | PD_NOPAGENUMS | PD_HIDEPRINTTOFILE | PD_NOSELECTION;
    if (!dc.Attach(platform.PrintDialog(GetSafeHwnd(), flags))) return;
  }
  if (!dc.GetSafeHdc()) return;
  dc.m_bPrinting = TRUE;

  CString title;
  title.LoadString(kAppTitleString);
  if (title.IsEmpty()) title = PrintTitle();
  DOCINFOA document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = title;

  BOOL printing = platform.StartDoc(dc, document) > 0;
  CPrintInfo info;
  info.m_rectDraw.SetRect(0, 0, dc.GetDeviceCaps(HORZRES), dc.GetDeviceCaps(VERTRES));
  OnBeginPrinting(&dc, &info);
  for (UINT page = info.GetFromPage(); printing && page <= info.GetToPage(); ++page) {
    platform.StartPage(dc);
    info.m_nCurPage = page;
    OnPrint(&dc, &info);
    printing = platform.EndPage(dc) > 0;
  }
  OnEndPrinting(&dc, &info);
  if (printing)
    platform.EndDoc(dc);
  else
    platform.AbortDoc(dc);
}

void CGridCtrl::SetPrintMargins(int header, int footer, int left, int right, int top, int bottom, int gap) {
  int* margins[] = {&headerMargin_, &footerMargin_, &leftMargin_, &rightMargin_, &topMargin_, &bottomMargin_, &gap_};
  const int values[] = {header, footer, left, right, top, bottom, gap};
  for (int i = 0; i < 7; ++i)
    if (values[i] >= 0) *margins[i] = values[i];
}

void CGridCtrl::GetPrintMargins(int& header, int& footer, int& left, int& right, int& top, int& bottom,
                                int& gap) const {
  header = headerMargin_;
  footer = footerMargin_;
  left = leftMargin_;
  right = rightMargin_;
  top = topMargin_;
  bottom = bottomMargin_;
  gap = gap_;
}

void CGridCtrl::OnBeginPrinting(CDC* dc, CPrintInfo* info) {
  if (!dc || !info || !GetSafeHwnd()) return;
  CClientDC screen(this);
  const int printerX = dc->GetDeviceCaps(LOGPIXELSX);
  const int printerY = dc->GetDeviceCaps(LOGPIXELSY);
  const int screenX = screen.GetDeviceCaps(LOGPIXELSX);
  const int screenY = screen.GetDeviceCaps(LOGPIXELSY);

  printerFont_.DeleteObject();
  LOGFONTA lf{};
  lf.lfHeight = -10;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_STRING_PRECIS;
  lf.lfClipPrecision = CLIP_CHARACTER_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  std::strcpy(lf.lfFaceName, "Arial");
  printerFont_.CreateFontIndirect(&lf);
  DCSelection<CFont> font(dc, &printerFont_);
  const CSize measured = dc->GetTextExtent("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSATUVWXYZ", 52);
  charSize_ = CSize(std::max<int>(1, measured.cx / 52), measured.cy);

  const int sideMargins = (leftMargin_ + rightMargin_) * charSize_.cx;
  paperSize_ = CSize(dc->GetDeviceCaps(HORZRES), dc->GetDeviceCaps(VERTRES));
  if (wysiwygPrinting_) {
    logicalPageSize_ = CSize(screenX * paperSize_.cx / std::max(1, printerX) * 3 / 4,
                             screenY * paperSize_.cy / std::max(1, printerY) * 3 / 4);
  } else {
    logicalPageSize_.cx = static_cast<int>(std::min<long long>(TotalColumnsWidth() + sideMargins, INT_MAX));
    logicalPageSize_.cy = MulDiv(logicalPageSize_.cx, paperSize_.cy, std::max<int>(1, paperSize_.cx));
  }
  pageHeight_ = logicalPageSize_.cy - FixedRowsHeight() - (headerMargin_ + footerMargin_ + 2 * gap_) * charSize_.cy;
  pageWidth_ = logicalPageSize_.cx - FixedColumnsWidth() - sideMargins;
  pageCount_ = static_cast<int>(PageStarts(rowHeights_, fixedRowCount_, rowCount_, pageHeight_).size());
  pagesAcross_ = wysiwygPrinting_
                     ? static_cast<int>(PageStarts(columnWidths_, fixedColumnCount_, columnCount_, pageWidth_).size())
                     : 1;
  pageCount_ *= pagesAcross_;
  info->SetMaxPage(pageCount_);
  info->m_nCurPage = 1;
}

void CGridCtrl::OnPrint(CDC* dc, CPrintInfo* info) {
  if (!dc || !info) return;
  DCSelection<CFont> font(dc, &printerFont_);
  const HDC hdc = dc->GetSafeHdc();
  SetMapMode(hdc, MM_ANISOTROPIC);
  SetWindowExtEx(hdc, logicalPageSize_.cx, logicalPageSize_.cy, nullptr);
  SetViewportExtEx(hdc, paperSize_.cx, paperSize_.cy, nullptr);
  const int left = -leftMargin_ * charSize_.cx;
  const int sideMargins = (leftMargin_ + rightMargin_) * charSize_.cx;
  dc->SetWindowOrg(left, 0);

  info->m_rectDraw = CRect(0, 0, logicalPageSize_.cx - sideMargins, headerMargin_ * charSize_.cy);
  PrintPageHeader(dc, info);

  const int bodyTop = (headerMargin_ + gap_) * charSize_.cy + FixedRowsHeight();
  const int page = static_cast<int>(info->m_nCurPage) - 1;
  const std::vector<int> rowStarts = PageStarts(rowHeights_, fixedRowCount_, rowCount_, pageHeight_);
  const std::vector<int> columnStarts =
      pagesAcross_ > 1 ? PageStarts(columnWidths_, fixedColumnCount_, columnCount_, pageWidth_)
                       : std::vector<int>{fixedColumnCount_};
  const size_t band = static_cast<size_t>(page / pagesAcross_);
  const size_t across = static_cast<size_t>(page % pagesAcross_);
  currentPrintRow_ = band < rowStarts.size() ? rowStarts[band] : rowCount_;
  currentPrintColumn_ = across < columnStarts.size() ? columnStarts[across] : columnCount_;

  dc->SetWindowOrg(left, -bodyTop);
  PrintHeadingColumns(dc, info);
  dc->SetWindowOrg(left, -(bodyTop - FixedRowsHeight()));
  pageWidth_ += FixedColumnsWidth();
  PrintHeadingRows(dc, info);
  pageWidth_ -= FixedColumnsWidth();
  dc->SetWindowOrg(left, -bodyTop);

  // Body: rows while they fit the page (the first one always, clipped when taller).
  CPen pen(PS_SOLID, 0, RGB(0, 0, 0));
  DCSelection<CPen> selected(dc, &pen);
  const int bodyLeft = FixedColumnsWidth();
  CRect rect;
  rect.bottom = -1;
  for (int row = currentPrintRow_; row < rowCount_; ++row) {
    const int height = GetRowHeight(row);
    if (row != currentPrintRow_ && rect.bottom + 1LL + height > pageHeight_) break;
    rect.top = rect.bottom + 1;
    rect.bottom = EndOf(rect.top, height);
    rect.right = bodyLeft - 1;
    for (int column = currentPrintColumn_; column < columnCount_; ++column) {
      const int width = GetColumnWidth(column);
      if (column != currentPrintColumn_ && rect.right + 1LL + width - bodyLeft > pageWidth_) break;
      rect.left = rect.right + 1;
      rect.right = EndOf(rect.left, width);
      if (CGridCellBase* cell = GetCell(row, column)) cell->PrintCell(dc, row, column, rect);
      CellLines(dc, rect, gridLines_, row == currentPrintRow_);
    }
  }

  info->m_rectDraw.bottom = footerMargin_ * charSize_.cy;
  dc->SetWindowOrg(left, footerMargin_ * charSize_.cy - logicalPageSize_.cy);
  PrintPageFooter(dc, info);
  dc->SetWindowOrg(0, 0);
}

void CGridCtrl::OnEndPrinting(CDC*, CPrintInfo*) { printerFont_.DeleteObject(); }

// One row of heading cells across, from `firstColumn` on and from `rect`'s right edge,
// while they fit the page's width; the page's first body column always prints.
void CGridCtrl::PrintHeadingRowCells(int firstColumn, int endColumn, int& row, CRect& rect, CDC* dc, BOOL& firstLine) {
  for (int column = firstColumn; column < endColumn; ++column) {
    const int width = GetColumnWidth(column);
    if (column > currentPrintColumn_ && rect.right + 1LL + width > pageWidth_) break;
    rect.left = rect.right + 1;
    rect.right = EndOf(rect.left, width);
    if (CGridCellBase* cell = GetCell(row, column)) cell->PrintCell(dc, row, column, rect);
    CellLines(dc, rect, gridLines_, firstLine != FALSE);
  }
  firstLine = FALSE;
}

void CGridCtrl::PrintHeadingRows(CDC* dc, CPrintInfo*) {
  CPen pen(PS_SOLID, 0, RGB(0, 0, 0));
  DCSelection<CPen> selected(dc, &pen);
  CRect rect;
  rect.bottom = -1;
  for (int row = 0; row < fixedRowCount_; ++row) {
    rect.top = rect.bottom + 1;
    rect.bottom = EndOf(rect.top, GetRowHeight(row));
    rect.right = -1;
    BOOL firstLine = row == 0;
    if (currentPrintColumn_ == fixedColumnCount_) {
      PrintHeadingRowCells(0, columnCount_, row, rect, dc, firstLine);
    } else {
      // A later page across: the fixed headings, then this page's columns.
      PrintHeadingRowCells(0, fixedColumnCount_, row, rect, dc, firstLine);
      firstLine = row == 0;
      PrintHeadingRowCells(currentPrintColumn_, columnCount_, row, rect, dc, firstLine);
    }
  }
}

void CGridCtrl::PrintHeadingColumns(CDC* dc, CPrintInfo*) {
  CPen pen(PS_SOLID, 0, RGB(0, 0, 0));
  DCSelection<CPen> selected(dc, &pen);
  CRect rect;
  rect.bottom = -1;
  for (int row = currentPrintRow_; row < rowCount_; ++row) {
    const int height = GetRowHeight(row);
    if (row != currentPrintRow_ && rect.bottom + 1LL + height > pageHeight_) break;
    rect.top = rect.bottom + 1;
    rect.bottom = EndOf(rect.top, height);
    rect.right = -1;
    for (int column = 0; column < fixedColumnCount_; ++column) {
      rect.left = rect.right + 1;
      rect.right = EndOf(rect.left, GetColumnWidth(column));
      if (CGridCellBase* cell = GetCell(row, column)) cell->PrintCell(dc, row, column, rect);
      CellLines(dc, rect, gridLines_, row == currentPrintRow_);
    }
  }
}

CString CGridCtrl::PrintTitle() const {
  for (CWnd* wnd = GetParent(); wnd; wnd = wnd->GetParent()) {
    CString text;
    wnd->GetWindowText(text);
    if (!text.IsEmpty()) return text;
  }
  return CString();
}

void CGridCtrl::PrintPageHeader(CDC* dc, CPrintInfo* info) {
  CString program;
  program.LoadString(kAppTitleString);
  LOGFONTA lf{};
  printerFont_.GetLogFont(&lf);
  lf.lfWeight = FW_BOLD;
  CFont bold;
  bold.CreateFontIndirect(&lf);
  DCSelection<CFont> font(dc, &bold);
  dc->SetBkMode(TRANSPARENT);
  CRect rect = info->m_rectDraw;
  dc->DrawText(PrintTitle(), -1, &rect, DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  dc->DrawText(program, -1, &rect, DT_RIGHT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  dc->SelectStockObject(BLACK_PEN);
  Line(dc, rect.left, rect.bottom, rect.right, rect.bottom);
}

void CGridCtrl::PrintPageFooter(CDC* dc, CPrintInfo* info) {
  CString page;
  page.Format("Page %d of %d", static_cast<int>(info->m_nCurPage), static_cast<int>(info->GetMaxPage()));
  char date[128] = {};
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof(date), "%c", std::localtime(&now));
  CRect rect = info->m_rectDraw;
  dc->SelectStockObject(BLACK_PEN);
  Line(dc, rect.left, rect.top, rect.right, rect.top);
  LOGFONTA lf{};
  printerFont_.GetLogFont(&lf);
  lf.lfWeight = FW_BOLD;
  CFont bold;
  bold.CreateFontIndirect(&lf);
  DCSelection<CFont> font(dc, &bold);
  dc->SetBkMode(TRANSPARENT);
  dc->DrawText(page, -1, &rect, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  dc->DrawText(date, -1, &rect, DT_RIGHT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

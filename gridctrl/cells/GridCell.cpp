#include "cells/GridCell.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "GridCtrl.h"
#include "GridHolders.h"
#include "cells/InPlaceEdit.h"

IMPLEMENT_DYNAMIC(CGridCellBase, CObject)
IMPLEMENT_DYNCREATE(CGridCell, CGridCellBase)
IMPLEMENT_DYNCREATE(CGridDefaultCell, CGridCell)

namespace {

COLORREF Resolved(COLORREF own, COLORREF fallback) { return own == kDefaultColour ? fallback : own; }

void FillWith(CDC* dc, const CRect& rect, COLORREF colour) {
  CBrush brush;
  if (brush.CreateSolidBrush(colour)) dc->FillRect(rect, &brush);
}

void Polyline(CDC* dc, COLORREF colour, std::initializer_list<POINT> points) {
  CPen pen(PS_SOLID, 1, colour);
  DCSelection<CPen> selected(dc, &pen);
  dc->Polyline(points.begin(), static_cast<int>(points.size()));
}

// Fonts of cells with their own description, one per description, alive for the
// whole program so that a font stays valid while any DC has it selected.
struct LogFontLess {
  bool operator()(const LOGFONTA& a, const LOGFONTA& b) const {
    const int head = std::memcmp(&a, &b, offsetof(LOGFONTA, lfFaceName));
    if (head != 0) return head < 0;
    return std::strncmp(a.lfFaceName, b.lfFaceName, LF_FACESIZE) < 0;
  }
};

CFont* CachedFont(const LOGFONTA& lf) {
  static std::map<LOGFONTA, CFont, LogFontLess> fonts;
  auto found = fonts.find(lf);
  if (found == fonts.end()) {
    found = fonts.try_emplace(lf).first;
    found->second.CreateFontIndirect(&lf);
  }
  return &found->second;
}

}  // namespace

// ---- CGridCellBase ----

CGridCellBase* CGridCellBase::GetDefaultCell() const {
  CGridCtrl* grid = GetGrid();
  return grid ? grid->GetDefaultCell(IsFixedRow(), IsFixedCol()) : nullptr;
}

CGridCellBase& CGridCellBase::operator=(const CGridCellBase& cell) {
  if (&cell == this) return *this;
  SetGrid(cell.GetGrid());
  SetText(cell.GetText());
  SetImage(cell.GetImage());
  SetData(cell.GetData());
  SetState(cell.GetState());
  SetFormat(cell.GetFormat());
  SetTextColour(cell.GetTextColour());
  SetBackColour(cell.GetBackColour());
  SetFont(cell.UsesDefaultFont() ? nullptr : cell.GetFont());
  SetMargin(cell.GetMargin());
  return *this;
}

LRESULT CGridCellBase::NotifyOwner(int row, int column, int code) {
  CGridCtrl* grid = GetGrid();
  return grid ? grid->NotifyOwner(row, column, code) : 0;
}

BOOL CGridCellBase::OnSetCursor() {
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  return TRUE;
}

BOOL CGridCellBase::ImageSize(CSize& size) const {
  CGridCtrl* grid = GetGrid();
  CImageList* images = grid ? grid->GetImageList() : nullptr;
  IMAGEINFO info{};
  if (!images || GetImage() < 0 || !ImageList_GetImageInfo(images->GetSafeHandle(), GetImage(), &info))
    return FALSE;
  size = CSize(info.rcImage.right - info.rcImage.left, info.rcImage.bottom - info.rcImage.top);
  return TRUE;
}

BOOL CGridCellBase::GetTextRect(LPRECT rect) {
  CSize image;
  if (ImageSize(image)) rect->left += image.cx + 1 + static_cast<int>(GetMargin());
  return TRUE;
}

CSize CGridCellBase::GetTextExtent(LPCSTR text, CDC* dc) {
  auto* def = static_cast<CGridDefaultCell*>(GetDefaultCell());
  const CSize fallback = def ? CSize(def->GetWidth(), def->GetHeight()) : CSize(0, 0);
  if (!text || !*text) return fallback;

  std::unique_ptr<CClientDC> own;
  if (!dc) {
    CGridCtrl* grid = GetGrid();
    if (!grid || !grid->GetSafeHwnd()) return fallback;
    try {
      own = std::make_unique<CClientDC>(grid);
    } catch (const CResourceException&) {
      return fallback;
    }
    dc = own.get();
  }

  CSize size;
  {
    DCSelection<CFont> selected(dc, GetFontInstance());
    const DWORD format = GetFormat();
    if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) {
      size = dc->GetTextExtent(text, static_cast<int>(std::strlen(text)));
    } else {
      int widest = 0;
      for (LPCSTR line = text;;) {
        LPCSTR end = std::strchr(line, '\n');
        const int length = end ? static_cast<int>(end - line) : static_cast<int>(std::strlen(line));
        widest = std::max<int>(widest, dc->GetTextExtent(line, length).cx);
        if (!end) break;
        line = end + 1;
      }
      CRect rect(0, 0, widest + 1, 0);
      dc->DrawText(text, -1, &rect, format | DT_CALCRECT);
      size = CSize(rect.Width(), rect.Height());
    }
  }
  const int margin = static_cast<int>(GetMargin());
  size.cx += 2 * margin;
  size.cy += 2 * margin;
  const LOGFONTA* lf = GetFont();
  if (lf && (lf->lfEscapement == 900 || lf->lfEscapement == -900)) {
    std::swap(size.cx, size.cy);
    size.cy += 4 * margin;
  }
  return size;
}

CSize CGridCellBase::CellSizeNeeded(CDC* dc) {
  const CSize text = GetTextExtent(GetText(), dc);
  const int margin = static_cast<int>(GetMargin());
  CSize image(0, 0);
  if (ImageSize(image)) {
    if (2 * margin < text.cx) image.cx += margin;
    image.cy += 2 * margin;
  }
  CSize size(text.cx + image.cx + 1, (text.cy > image.cy ? text.cy : image.cy) + 1);
  if (IsFixed()) {
    ++size.cx;
    ++size.cy;
  }
  return size;
}

BOOL CGridCellBase::Draw(CDC* dc, int row, int column, CRect rect, BOOL erase) {
  CGridCtrl* grid = GetGrid();
  if (!grid || !dc || rect.Width() <= 0 || rect.Height() <= 0) return FALSE;
  CGridCellBase* def = GetDefaultCell();
  if (!def) return FALSE;
  SavedDCState saved(dc);
  dc->SetBkMode(TRANSPARENT);

  COLORREF text = Resolved(GetTextColour(), def->GetTextColour());
  COLORREF back = Resolved(GetBackColour(), def->GetBackColour());
  if (GetBackColour() != kDefaultColour) erase = TRUE;
  const bool lines = grid->GetGridLines() != 0;

  if (IsFocused() || IsDropHighlighted()) {
    if (IsSelected()) {
      back = GetSysColor(COLOR_HIGHLIGHT);
      text = GetSysColor(COLOR_HIGHLIGHTTEXT);
      erase = TRUE;
    }
    rect.InflateRect(0, 0, 1, 1);
    if (erase) FillWith(dc, rect, back);
    if (lines) rect.DeflateRect(0, 0, 1, 1);
    if (grid->GetFrameFocusCell()) {
      CBrush frame;
      if (frame.CreateSolidBrush(text)) dc->FrameRect(rect, &frame);
    }
    dc->SetTextColor(text);
    if (!lines) rect.DeflateRect(0, 0, 1, 1);
  } else if (IsSelected()) {
    rect.InflateRect(0, 0, 1, 1);
    FillWith(dc, rect, GetSysColor(COLOR_HIGHLIGHT));
    rect.DeflateRect(0, 0, 1, 1);
    dc->SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
  } else {
    if (erase) FillWith(dc, CRect(rect.left, rect.top, rect.right + 1, rect.bottom + 1), back);
    dc->SetTextColor(text);
  }

  if (IsFixed() && lines) {
    const CCellID focus = grid->GetFocusCell();
    if (grid->GetTrackFocusCell() && focus.IsValid() && (focus.row == row || focus.col == column)) {
      rect.InflateRect(0, 0, 1, 1);
      dc->DrawEdge(rect, BDR_SUNKENINNER, BF_RECT);
    } else {
      Polyline(dc, GetSysColor(COLOR_BTNHIGHLIGHT),
               {{rect.right, rect.top}, {rect.left, rect.top}, {rect.left, rect.bottom}});
      Polyline(dc, GetSysColor(COLOR_3DDKSHADOW),
               {{rect.right, rect.top}, {rect.right, rect.bottom}, {rect.left, rect.bottom}});
    }
    rect.DeflateRect(1, 1);
  }

  DCSelection<CFont> selectedFont(dc, dc->IsPrinting() ? nullptr : GetFontInstance());

  const int margin = static_cast<int>(GetMargin());
  rect.DeflateRect(margin, margin);
  rect.InflateRect(0, 0, 1, 1);

  CSize image;
  if (ImageSize(image) && rect.Width() >= image.cx && rect.Height() >= image.cy)
    ImageList_Draw(grid->GetImageList()->GetSafeHandle(), GetImage(), dc->GetSafeHdc(), rect.left, rect.top,
                   ILD_NORMAL);

  if (grid->GetSortColumn() == column && row == 0) {
    int s = dc->GetTextExtent("M", 1).cy - 4;
    if (s >= rect.Height()) s = rect.Height() - 4;
    const LOGFONTA* lf = GetFont();
    const bool vertical = lf && lf->lfEscapement == 900;
    if (s > 0 && s + rect.left < rect.right) {
      const int y = rect.bottom - 2 - s;
      const int x = vertical ? (rect.left + rect.right - s) / 2 : rect.right - s;
      const COLORREF pens[2] = {GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW)};
      for (int pass = 0; pass < 2; ++pass) {
        const int d = pass == 0 ? 1 : 0;
        if (grid->GetSortAscending())
          Polyline(dc, pens[pass],
                   {{x + d, y + s + d}, {x + s / 2 + d, y + d}, {x + s + d, y + s + d}, {x + d, y + s + d}});
        else
          Polyline(dc, pens[pass], {{x + d, y + d}, {x + s / 2 + d, y + s + d}, {x + s + d, y + d}, {x + d, y + d}});
      }
      if (!vertical) rect.right -= s;
    }
  }

  GetTextRect(&rect);
  rect.InflateRect(0, 0, 1, 1);
  dc->DrawText(GetText(), -1, &rect, GetFormat() | DT_NOPREFIX);
  return TRUE;
}

BOOL CGridCellBase::PrintCell(CDC* dc, int, int, CRect rect) {
  CGridCtrl* grid = GetGrid();
  if (!grid || !dc || rect.Width() < 1 || rect.Height() < 1) return FALSE;
  SavedDCState saved(dc);
  dc->SetBkMode(TRANSPARENT);
  COLORREF text = RGB(0, 0, 0);
  if (grid->GetPrintColours()) {
    CGridCellBase* def = GetDefaultCell();
    if (!def) return FALSE;
    bool hasBack = false;
    COLORREF back = 0;
    // Without shading no cell prints a background, as if none had a colour of its own.
    if (grid->GetPrintShading() && IsFixed()) {
      back = Resolved(GetBackColour(), def->GetBackColour());
      hasBack = true;
    } else if (grid->GetPrintShading() && GetBackColour() != kDefaultColour &&
               GetBackColour() != def->GetBackColour()) {
      back = GetBackColour();
      hasBack = true;
    }
    text = Resolved(GetTextColour(), def->GetTextColour());
    if (dc->GetDeviceCaps(NUMCOLORS) == 2 && !hasBack)
      text = RGB(static_cast<int>(GetRValue(text) * 0.30), static_cast<int>(GetGValue(text) * 0.59),
                 static_cast<int>(GetBValue(text) * 0.11));
    if (hasBack) FillWith(dc, CRect(rect.left, rect.top, rect.right + 1, rect.bottom + 1), back);
  }
  dc->SetTextColor(text);
  DCSelection<CFont> font(dc, GetFontInstance());
  if (grid->GetGridLines() != 0 && IsFixed()) {
    Polyline(dc, GetSysColor(COLOR_BTNHIGHLIGHT), {{rect.right, rect.top}, {rect.left, rect.top}, {rect.left, rect.bottom}});
    Polyline(dc, GetSysColor(COLOR_3DDKSHADOW), {{rect.right, rect.top}, {rect.right, rect.bottom}, {rect.left, rect.bottom}});
    rect.DeflateRect(1, 1);
  }
  const int margin = static_cast<int>(GetMargin());
  rect.DeflateRect(margin, 0);
  CSize image;
  if (ImageSize(image)) {
    ImageList_Draw(grid->GetImageList()->GetSafeHandle(), GetImage(), dc->GetSafeHdc(), rect.left, rect.top,
                   ILD_NORMAL);
    rect.left += margin + image.cx;
  }
  dc->DrawText(GetText(), -1, &rect, GetFormat() | DT_NOPREFIX);
  return TRUE;
}

// ---- CGridCell ----

CGridCell::CGridCell() = default;

CGridCell::~CGridCell() = default;

void CGridCell::SetFont(const LOGFONTA* font) {
  if (!font) {
    font_.reset();
    return;
  }
  if (!font_) font_ = std::make_unique<LOGFONTA>();
  *font_ = *font;
}

DWORD CGridCell::GetFormat() const {
  if (format_ != static_cast<DWORD>(-1)) return format_;
  CGridCellBase* def = GetDefaultCell();
  return def && def != this ? def->GetFormat() : 0;
}

const LOGFONTA* CGridCell::GetFont() const {
  if (font_) return font_.get();
  CGridCellBase* def = GetDefaultCell();
  return def && def != this ? def->GetFont() : nullptr;
}

CFont* CGridCell::GetFontInstance() const {
  if (font_) return CachedFont(*font_);
  CGridCellBase* def = GetDefaultCell();
  return def && def != this ? def->GetFontInstance() : nullptr;
}

UINT CGridCell::GetMargin() const {
  if (margin_ != static_cast<UINT>(-1)) return margin_;
  CGridCellBase* def = GetDefaultCell();
  return def && def != this ? def->GetMargin() : 0;
}

void CGridCell::Reset() {
  CGridCellBase::Reset();
  text_ = "";
  data_ = 0;
  image_ = -1;
  format_ = static_cast<DWORD>(-1);
  textColour_ = kDefaultColour;
  backColour_ = kDefaultColour;
  font_.reset();
  margin_ = static_cast<UINT>(-1);
  editing_ = FALSE;
  grid_ = nullptr;
  editWnd_ = nullptr;
}

BOOL CGridCell::Edit(int row, int column, CRect rect, CPoint, UINT id, UINT ch) {
  if (editing_) {
    if (editWnd_) editWnd_->SendMessage(WM_CHAR, ch, 0);
    return TRUE;
  }
  const DWORD format = GetFormat();
  const DWORD style = (format & DT_RIGHT) ? ES_RIGHT : (format & DT_CENTER) ? ES_CENTER : ES_LEFT;
  // An editor whose window could not be made is ours to delete, and the cell is not editing.
  std::unique_ptr<CInPlaceEdit> editor(new CInPlaceEdit(grid_, rect, style, id, row, column, GetText(), ch));
  if (!editor->GetSafeHwnd()) return FALSE;
  editing_ = TRUE;
  editWnd_ = editor.release();
  return TRUE;
}

void CGridCell::EndEdit() {
  if (editWnd_) editWnd_->EndEdit();
}

void CGridCell::OnEndEdit() {
  editing_ = FALSE;
  editWnd_ = nullptr;
}

// ---- CGridDefaultCell ----

CGridDefaultCell::CGridDefaultCell() {
  SetFormat(DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  // The size without the padded border width, which every system version accepts.
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth);
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) SetFont(&metrics.lfMessageFont);
}

const LOGFONTA* CGridDefaultCell::GetFont() const { return font_.get(); }

void CGridDefaultCell::SetFont(const LOGFONTA* lf) {
  if (!lf) return;
  fontObject_.DeleteObject();
  fontObject_.CreateFontIndirect(lf);
  CGridCell::SetFont(lf);

  std::unique_ptr<CClientDC> screen;
  try {
    screen = std::make_unique<CClientDC>(nullptr);
  } catch (const CResourceException&) {
    SetMargin(3);
    size_ = CSize(40, 16);
    return;
  }
  DCSelection<CFont> selected(screen.get(), &fontObject_);
  SetMargin(screen->GetTextExtent(" ", 1).cx);
  const CSize sample = screen->GetTextExtent(" XXXXXXXXXXXX ", 14);
  size_ = CSize(sample.cx, sample.cy * 3 / 2);
}

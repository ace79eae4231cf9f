#pragma once
// One cell of the grid: its text and looks, measuring, drawing and the start of
// an in-place edit. Attributes left at their default markers come from one of the
// grid's four default cells.

#include <memory>

#include "CellRange.h"
#include "WfGdi.h"
#include "WfObject.h"

class CGridCtrl;
class CInPlaceEdit;

class CGridCellBase : public CObject {
  DECLARE_DYNAMIC(CGridCellBase)

 public:
  CGridCellBase() = default;
  ~CGridCellBase() override = default;

  virtual void SetText(LPCSTR text) = 0;
  virtual void SetImage(int image) = 0;
  virtual void SetData(LPARAM data) = 0;
  virtual void SetState(DWORD state) { state_ = state; }
  virtual void SetFormat(DWORD format) = 0;
  virtual void SetTextColour(COLORREF colour) = 0;
  virtual void SetBackColour(COLORREF colour) = 0;
  virtual void SetFont(const LOGFONTA* font) = 0;
  virtual void SetMargin(UINT margin) = 0;
  virtual void SetGrid(CGridCtrl* grid) = 0;
  virtual void SetCellPosition(int row, int column) = 0;

  virtual LPCSTR GetText() const = 0;
  virtual LPCSTR GetTipText() const { return GetText(); }
  virtual int GetImage() const = 0;
  virtual LPARAM GetData() const = 0;
  virtual DWORD GetState() const { return state_; }
  virtual DWORD GetFormat() const = 0;
  virtual COLORREF GetTextColour() const = 0;
  virtual COLORREF GetBackColour() const = 0;
  virtual const LOGFONTA* GetFont() const = 0;
  virtual CFont* GetFontInstance() const = 0;
  virtual CGridCtrl* GetGrid() const = 0;
  virtual CInPlaceEdit* GetEditWindow() const = 0;
  virtual UINT GetMargin() const = 0;
  virtual CGridCellBase* GetDefaultCell() const;
  virtual BOOL UsesDefaultFont() const = 0;
  virtual BOOL IsEditing() const = 0;

  virtual BOOL IsFocused() const { return (state_ & GridState::Focused) != 0; }
  virtual BOOL IsFixed() const { return (state_ & GridState::Fixed) != 0; }
  virtual BOOL IsFixedCol() const { return (state_ & GridState::FixedColumn) != 0; }
  virtual BOOL IsFixedRow() const { return (state_ & GridState::FixedRow) != 0; }
  virtual BOOL IsSelected() const { return (state_ & GridState::Selected) != 0; }
  virtual BOOL IsReadOnly() const { return (state_ & GridState::ReadOnly) != 0; }
  virtual BOOL IsModified() const { return (state_ & GridState::Modified) != 0; }
  virtual BOOL IsDropHighlighted() const { return (state_ & GridState::DropHighlighted) != 0; }

  virtual CGridCellBase& operator=(const CGridCellBase& cell);
  virtual void Reset() { state_ = 0; }

  virtual BOOL Draw(CDC* dc, int row, int column, CRect rect, BOOL erase = TRUE);
  virtual BOOL GetTextRect(LPRECT rect);
  virtual BOOL TipTextRectangle(LPRECT rect) { return GetTextRect(rect); }
  virtual CSize GetTextExtent(LPCSTR text, CDC* dc = nullptr);
  virtual CSize CellSizeNeeded(CDC* dc);

  virtual BOOL Edit(int, int, CRect, CPoint, UINT, UINT) { return FALSE; }
  virtual BOOL ValidateEdit(LPCSTR) { return TRUE; }
  virtual void EndEdit() {}
  virtual BOOL PrintCell(CDC* dc, int row, int column, CRect rect);

  virtual void OnEndEdit() {}
  virtual void OnMouseHook1() {}
  virtual void OnHover() {}
  virtual void OnMouseHook3() {}
  virtual void OnMouseHook4(CPoint) {}
  virtual void OnPress(CPoint) {}
  virtual void OnRightClick(CPoint) {}
  virtual void OnDoubleClick(CPoint) {}
  virtual BOOL OnSetCursor();

  LRESULT NotifyOwner(int row, int column, int code);

 protected:
  // The size an image of the grid's image list takes; FALSE when none is drawn.
  BOOL ImageSize(CSize& size) const;

 private:
  DWORD state_ = 0;
};

class CGridCell : public CGridCellBase {
  DECLARE_DYNCREATE(CGridCell)

 public:
  CGridCell();
  ~CGridCell() override;

  void SetText(LPCSTR text) override { text_ = text; }
  void SetImage(int image) override { image_ = image; }
  void SetData(LPARAM data) override { data_ = data; }
  void SetFormat(DWORD format) override { format_ = format; }
  void SetTextColour(COLORREF colour) override { textColour_ = colour; }
  void SetBackColour(COLORREF colour) override { backColour_ = colour; }
  void SetFont(const LOGFONTA* font) override;
  void SetMargin(UINT margin) override { margin_ = margin; }
  void SetGrid(CGridCtrl* grid) override { grid_ = grid; }
  void SetCellPosition(int, int) override {}

  LPCSTR GetText() const override { return text_; }
  int GetImage() const override { return image_; }
  LPARAM GetData() const override { return data_; }
  DWORD GetFormat() const override;
  COLORREF GetTextColour() const override { return textColour_; }
  COLORREF GetBackColour() const override { return backColour_; }
  const LOGFONTA* GetFont() const override;
  CFont* GetFontInstance() const override;
  CGridCtrl* GetGrid() const override { return grid_; }
  CInPlaceEdit* GetEditWindow() const override { return editWnd_; }
  UINT GetMargin() const override;
  BOOL UsesDefaultFont() const override { return font_ == nullptr; }
  BOOL IsEditing() const override { return editing_; }

  using CGridCellBase::operator=;
  void Reset() override;

  BOOL Edit(int row, int column, CRect rect, CPoint point, UINT id, UINT ch) override;
  void EndEdit() override;
  void OnEndEdit() override;

 protected:
  std::unique_ptr<LOGFONTA> font_;

 private:
  CString text_;
  LPARAM data_ = 0;
  int image_ = -1;
  DWORD format_ = static_cast<DWORD>(-1);
  COLORREF textColour_ = kDefaultColour;
  COLORREF backColour_ = kDefaultColour;
  UINT margin_ = static_cast<UINT>(-1);
  BOOL editing_ = FALSE;
  CGridCtrl* grid_ = nullptr;
  CInPlaceEdit* editWnd_ = nullptr;
};

class CGridDefaultCell : public CGridCell {
  DECLARE_DYNCREATE(CGridDefaultCell)

 public:
  CGridDefaultCell();

  void SetData(LPARAM) override {}
  void SetState(DWORD) override {}
  DWORD GetState() const override { return CGridCell::GetState() | GridState::ReadOnly; }
  void SetFont(const LOGFONTA* font) override;
  const LOGFONTA* GetFont() const override;
  CFont* GetFontInstance() const override { return const_cast<CFont*>(&fontObject_); }

  DWORD GetStyle() const { return style_; }
  void SetStyle(DWORD style) { style_ = style; }
  int GetWidth() const { return size_.cx; }
  int GetHeight() const { return size_.cy; }
  void SetWidth(int cx) { size_.cx = cx; }
  void SetHeight(int cy) { size_.cy = cy; }

 private:
  CSize size_{30, 10};
  CFont fontObject_;
  DWORD style_ = 0;
};

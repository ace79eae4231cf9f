#pragma once
// The grid window: rows and columns of cells, the first of which may be fixed
// headers, with painting, scrolling, selection, in-place editing and owner
// notifications.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CellRange.h"
#include "cells/GridCell.h"
#include "GridDropTarget.h"
#include "cells/TitleTip.h"
#include "WfApp.h"
#include "WfControls.h"
#include "WfOle.h"
#include "WfPrint.h"
#include "WfWnd.h"

// The edit commands the grid answers.
#ifndef ID_EDIT_COPY
#define ID_EDIT_COPY 0xE122
#define ID_EDIT_CUT 0xE123
#define ID_EDIT_PASTE 0xE125
#define ID_EDIT_SELECT_ALL 0xE12A
#endif

class CGridCtrl;

// Fills a display record in virtual mode in place of the owner's -150 message.
using GridDisplayCallback = BOOL (*)(CGridCtrl* grid, GridDisplayInfo* info, LPARAM data);

// Orders two cells for sorting: below, equal to or above 0.
using GridCompareFunction = int (*)(const CGridCellBase* first, const CGridCellBase* second, LPARAM data);

class CGridCtrl : public CWnd {
  DECLARE_DYNCREATE(CGridCtrl)

 public:
  enum MouseMode {
    ModeNone = 0,
    ModeSelectAll = 1,
    ModeSelectColumns = 2,
    ModeSelectRows = 3,
    ModeSelectCells = 4,
    ModeOverRowDivider = 6,
    ModeSizingRow = 7,
    ModeOverColumnDivider = 8,
    ModeSizingColumn = 9,
    ModePrepareEdit = 10,
    ModePrepareDrag = 11,
    ModeDragging = 12,
  };

  // The in-place editor's control identifier.
  static constexpr UINT kEditId = 8;
  // The auto-scroll timer's identifier (the value of WM_LBUTTONDOWN).
  static constexpr UINT_PTR kAutoScrollTimer = WM_LBUTTONDOWN;

  CGridCtrl(int rows = 0, int columns = 0, int fixedRows = 0, int fixedColumns = 0);
  ~CGridCtrl() override;

  BOOL Create(const RECT& rect, CWnd* parent, UINT id, DWORD style = WS_CHILD | WS_BORDER | WS_TABSTOP | WS_VISIBLE);

  // ---- counts and cell storage ----
  int GetRowCount() const { return rowCount_; }
  int GetColumnCount() const { return columnCount_; }
  int GetFixedRowCount() const { return fixedRowCount_; }
  int GetFixedColumnCount() const { return fixedColumnCount_; }
  BOOL SetRowCount(int rows = 10);
  BOOL SetColumnCount(int columns = 10);
  BOOL SetFixedRowCount(int count = 1);
  BOOL SetFixedColumnCount(int count = 1);
  int InsertColumn(LPCSTR heading, UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE, int column = -1);
  int InsertRow(LPCSTR heading, int row = -1);
  BOOL DeleteColumn(int column);
  BOOL DeleteRow(int row);
  BOOL DeleteScrollableRows();
  BOOL DeleteAllItems();
  void FillGridWithCells();

  BOOL SetCellClass(int row, int column, CRuntimeClass* cellClass);
  BOOL SetDefaultCellClass(CRuntimeClass* cellClass);
  CGridCellBase* GetDefaultCell(BOOL fixedRow, BOOL fixedColumn) const;

  BOOL IsValid(int row, int column) const { return row >= 0 && row < rowCount_ && column >= 0 && column < columnCount_; }
  BOOL IsValid(const CCellID& cell) const { return IsValid(cell.row, cell.col); }
  BOOL IsValid(const CellRange& range) const;
  CellRange GetCellRange() const { return CellRange(0, 0, rowCount_ - 1, columnCount_ - 1); }

  // ---- item access and properties ----
  CGridCellBase* GetCell(int row, int column) const;
  BOOL SetCell(int row, int column, CGridCellBase* cell);
  BOOL SetItem(const GridItem* item);
  BOOL GetItem(GridItem* item);
  BOOL SetItemText(int row, int column, LPCSTR text);
  BOOL SetItemTextFormatted(int row, int column, LPCSTR format, ...);
  BOOL SetItemTextFromResource(int row, int column, UINT formatId, ...);
  CString GetItemText(int row, int column) const;
  BOOL SetItemData(int row, int column, LPARAM data);
  LPARAM GetItemData(int row, int column) const;
  BOOL SetItemImage(int row, int column, int image);
  int GetItemImage(int row, int column) const;
  BOOL SetItemState(int row, int column, UINT state);
  UINT GetItemState(int row, int column) const;
  BOOL SetItemFormat(int row, int column, UINT format);
  UINT GetItemFormat(int row, int column) const;
  BOOL SetItemBackColour(int row, int column, COLORREF colour = kDefaultColour);
  COLORREF GetItemBackColour(int row, int column) const;
  BOOL SetItemTextColour(int row, int column, COLORREF colour = kDefaultColour);
  COLORREF GetItemTextColour(int row, int column) const;
  BOOL SetItemFont(int row, int column, const LOGFONTA* font);
  const LOGFONTA* GetItemFont(int row, int column);
  BOOL IsItemEditing(int row, int column);

  void SetVirtualMode(BOOL virtualMode);
  BOOL GetVirtualMode() const { return virtualMode_; }
  void SetDisplayCallback(GridDisplayCallback callback, LPARAM data = 0);
  void SetGridLines(int kind);
  int GetGridLines() const { return gridLines_; }
  void SetGridBackColour(COLORREF colour) { gridBackColour_ = colour; }
  COLORREF GetGridBackColour() const { return gridBackColour_; }
  void SetGridLineColour(COLORREF colour) { gridLineColour_ = colour; }
  COLORREF GetGridLineColour() const { return gridLineColour_; }
  void SetModified(BOOL modified = TRUE, int row = -1, int column = -1);
  BOOL GetModified(int row = -1, int column = -1);
  void Refresh();

  void SetImageList(CImageList* images) { imageList_ = images; }
  CImageList* GetImageList() const { return imageList_; }
  BOOL GetTrackFocusCell() const { return trackFocusCell_; }
  void SetTrackFocusCell(BOOL track) { trackFocusCell_ = track; }
  BOOL GetFrameFocusCell() const { return frameFocusCell_; }
  void SetFrameFocusCell(BOOL frame) { frameFocusCell_ = frame; }
  BOOL GetPrintColours() const { return printColours_; }
  int GetMouseWheelRows() const { return rowsPerWheelNotch_; }

  LRESULT RequestCellDisplay(GridDisplayInfo* info);
  LRESULT SendCacheHint(const CellRange& range);

  // ---- geometry ----
  int GetRowHeight(int row) const;
  int GetColumnWidth(int column) const;
  BOOL SetRowHeight(int row, int height);
  BOOL SetColumnWidth(int column, int width);
  // The totals are exact however large; the fixed parts, which lie on screen, stop at
  // the largest int.
  long long TotalRowsHeight() const;
  long long TotalColumnsWidth() const;
  int FixedRowsHeight() const;
  int FixedColumnsWidth() const;
  BOOL IsFixedCell(int row, int column) const { return row < fixedRowCount_ || column < fixedColumnCount_; }
  void SetFitStyle(int style) { fitStyle_ = style; }
  int GetFitStyle() const { return fitStyle_; }
  BOOL CellOrigin(int row, int column, LPPOINT point);
  BOOL CellRectangle(int row, int column, LPRECT rect);
  BOOL CellRectangle(const CCellID& cell, LPRECT rect) { return CellRectangle(cell.row, cell.col, rect); }
  BOOL CellTextRectangle(int row, int column, LPRECT rect);
  BOOL CellTextRectangle(const CCellID& cell, LPRECT rect) { return CellTextRectangle(cell.row, cell.col, rect); }
  BOOL RangeRectangle(const CellRange& range, LPRECT rect);
  CCellID CellAtPoint(CPoint point, BOOL allowFixed = FALSE);
  BOOL MouseOverRowDivider(CPoint point);
  BOOL MouseOverColumnDivider(CPoint point);
  BOOL IsCellOnScreen(int row, int column);
  BOOL IsCellOnScreen(const CCellID& cell) { return IsCellOnScreen(cell.row, cell.col); }
  void ScrollCellIntoView(int row, int column);
  void ScrollCellIntoView(const CCellID& cell) { ScrollCellIntoView(cell.row, cell.col); }
  BOOL InvalidateCellArea(int row, int column);
  BOOL InvalidateCellArea(const CCellID& cell) { return InvalidateCellArea(cell.row, cell.col); }
  BOOL InvalidateCellArea(const CellRange& range);
  CSize MeasureCellText(int row, int column, LPCSTR text);
  BOOL FitColumnToContents(int column, int style = 0, BOOL resetScrollBars = TRUE);
  BOOL FitRowToContents(int row, BOOL resetScrollBars = TRUE);
  void FitAllColumnsToContents(int style = 0);
  void FitAllRowsToContents();
  void FitGridToContents(int style = 0);
  void StretchColumnsToClient(BOOL includeFixed = TRUE);
  void StretchRowsToClient(BOOL includeFixed = TRUE);
  void StretchLastColumnToClient();
  void StretchGridToClient(BOOL includeFixed = TRUE);

  // ---- scrolling ----
  // Scroll positions in pixels. A scroll bar counts in steps of 2^n pixels when the grid is
  // too large for its range; the position set last is kept to the pixel.
  long long GetScrollPosition(int bar, BOOL track = FALSE);
  BOOL SetScrollPosition(int bar, long long position, BOOL redraw = TRUE);
  void EnableScrollBars(int bar, BOOL show = TRUE);
  void ResetScrollBars();
  CCellID FirstScrollableCell(BOOL force = FALSE);
  CellRange VisibleScrollableRange(LPRECT rect = nullptr, BOOL force = FALSE);
  CellRange FullyVisibleScrollableRange(BOOL force = FALSE);
  long long GetScrollMax(int bar) const { return bar == SB_HORZ ? hScrollMax_ : vScrollMax_; }
  BOOL IsScrollBarShown(int bar) const { return (scrollBarState_ & (bar == SB_HORZ ? 1 : 2)) != 0; }
  void SetHandleTabKey(BOOL handle) { handleTab_ = handle; }
  BOOL GetHandleTabKey() const { return handleTab_; }

  // ---- painting ----
  BOOL RedrawCell(int row, int column, CDC* dc = nullptr);
  BOOL RedrawCell(const CCellID& cell) { return RedrawCell(cell.row, cell.col); }
  BOOL RedrawRow(int row);
  BOOL RedrawColumn(int column);
  void SetRedraw(BOOL allow, BOOL resetScrollBars = FALSE);
  BOOL GetRedraw() const { return allowDraw_; }
  void EraseBkgnd(CDC* dc);
  void SetDoubleBuffering(BOOL buffer) { doubleBuffer_ = buffer; }
  BOOL GetDoubleBuffering() const { return doubleBuffer_; }

  // ---- selection ----
  CCellID SetFocusCell(int row, int column);
  CCellID SetFocusCell(CCellID cell);
  CCellID GetFocusCell() const { return focusCell_; }
  void SelectRange(int minRow, int minColumn, int maxRow, int maxColumn, BOOL forceRepaint = FALSE,
                   BOOL select = TRUE);
  void SelectRange(const CellRange& range, BOOL forceRepaint = FALSE, BOOL select = TRUE) {
    SelectRange(range.minRow, range.minCol, range.maxRow, range.maxCol, forceRepaint, select);
  }
  void SelectEverything();
  void SelectAllCells() { SelectEverything(); }
  void ExtendSelectionByColumns(CCellID cell, BOOL forceRepaint = FALSE, BOOL select = TRUE);
  void ExtendSelectionByRows(CCellID cell, BOOL forceRepaint = FALSE, BOOL select = TRUE);
  void ExtendSelectionByCells(CCellID cell, BOOL forceRepaint = FALSE, BOOL select = TRUE);
  void ApplyDragSelection(CCellID cell);
  CellRange SelectionBounds() const;
  void ClearSelection();
  int SelectedCellCount() const { return static_cast<int>(selectedCells_.size()); }
  BOOL IsCellSelected(int row, int column) const;
  BOOL IsCellSelected(const CCellID& cell) const { return IsCellSelected(cell.row, cell.col); }
  CCellID FindCellByState(CCellID start, UINT flags);

  void EnableSelection(BOOL enable = TRUE);
  BOOL IsSelectionEnabled() const { return selectionEnabled_; }
  void SetListMode(BOOL listMode = TRUE);
  BOOL GetListMode() const { return listMode_; }
  void SetSingleRowSelection(BOOL single = TRUE) { singleRowSelection_ = single; }
  BOOL GetSingleRowSelection() const { return singleRowSelection_ && listMode_; }
  void SetSingleColumnSelection(BOOL single = TRUE) { singleColumnSelection_ = single; }
  BOOL GetSingleColumnSelection() const { return singleColumnSelection_; }
  void SetFixedRowClickSelects(BOOL selects = TRUE) { fixedRowClickSelects_ = selects; }
  BOOL GetFixedRowClickSelects() const { return fixedRowClickSelects_; }
  void SetFixedColumnClickSelects(BOOL selects = TRUE) { fixedColumnClickSelects_ = selects; }
  BOOL GetFixedColumnClickSelects() const { return fixedColumnClickSelects_; }
  void SetSortOnHeaderClick(BOOL sort = TRUE) { sortOnHeaderClick_ = sort; }
  BOOL GetSortOnHeaderClick() const { return sortOnHeaderClick_; }
  void SetSortColumn(int column);
  int GetSortColumn() const { return sortColumn_; }
  void SetSortAscending(BOOL ascending) { sortAscending_ = ascending; }
  BOOL GetSortAscending() const { return sortAscending_; }
  void SetCompareFunction(GridCompareFunction compare) { compareFunction_ = compare; }
  BOOL SortByColumn(int column, BOOL ascending, LPARAM data = 0);
  BOOL SortByText(int column, BOOL ascending, LPARAM data = 0);
  BOOL SortRows(GridCompareFunction compare, int column, BOOL ascending, LPARAM data = 0);
  // The two compare functions offered: texts in the system's code page, and signed decimal numbers.
  static int CompareTexts(const CGridCellBase* first, const CGridCellBase* second, LPARAM data);
  static int CompareNumbers(const CGridCellBase* first, const CGridCellBase* second, LPARAM data);

  // ---- printing ----
  // The whole job; without a dialog given the print dialog is shown for the printer.
  void Print(PRINTDLGA* dialog = nullptr);
  void SetPrintMargins(int header, int footer, int left, int right, int top, int bottom, int gap);
  void GetPrintMargins(int& header, int& footer, int& left, int& right, int& top, int& bottom, int& gap) const;
  void SetWysiwygPrinting(BOOL wysiwyg) { wysiwygPrinting_ = wysiwyg; }
  void SetPrintColours(BOOL colours) { printColours_ = colours; }
  // Whether cells print their background colours.
  void SetPrintShading(BOOL shading) { printShading_ = shading; }
  BOOL GetPrintShading() const { return printShading_; }
  int GetPagesAcross() const { return pagesAcross_; }
  virtual void OnBeginPrinting(CDC* dc, CPrintInfo* info);
  virtual void OnPrint(CDC* dc, CPrintInfo* info);
  virtual void OnEndPrinting(CDC* dc, CPrintInfo* info);
  virtual void PrintHeadingRowCells(int firstColumn, int endColumn, int& row, CRect& rect, CDC* dc, BOOL& firstLine);
  virtual void PrintHeadingRows(CDC* dc, CPrintInfo* info);
  virtual void PrintPageHeader(CDC* dc, CPrintInfo* info);
  virtual void PrintPageFooter(CDC* dc, CPrintInfo* info);
  virtual void PrintHeadingColumns(CDC* dc, CPrintInfo* info);

  // ---- delimited text ----
  BOOL SaveAsDelimitedText(LPCSTR fileName, char delimiter = ',');
  BOOL LoadDelimitedText(LPCSTR fileName, char delimiter = ',');
  void SetDragAndDrop(BOOL allow) { dragAndDropAllowed_ = allow; }
  BOOL GetDragAndDrop() const { return dragAndDropAllowed_; }
  void EnableTitleTips(BOOL enable = TRUE) { titleTips_ = enable; }
  BOOL GetTitleTips() const { return titleTips_; }
  void SetRowResize(BOOL allow) { allowRowResize_ = allow; }
  void SetColumnResize(BOOL allow) { allowColumnResize_ = allow; }
  void SetColumnHide(BOOL allow) { allowColumnHide_ = allow; }
  void SetRowHide(BOOL allow) { allowRowHide_ = allow; }
  void SetColumnUnhide(BOOL allow) { allowColumnUnhide_ = allow; }
  void SetRowUnhide(BOOL allow) { allowRowUnhide_ = allow; }
  int GetMouseMode() const { return mouseMode_; }

  // ---- editing and notifications ----
  LRESULT NotifyOwner(int row, int column, int code);
  void SetEditable(BOOL editable = TRUE) { editable_ = editable; }
  BOOL IsEditable() const { return editable_; }
  BOOL IsCellEditable(int row, int column) const;
  BOOL IsCellEditable(const CCellID& cell) const { return IsCellEditable(cell.row, cell.col); }
  CCellID GetEditingCell() const { return editingCell_; }
  void SetTitleTipBackColour(COLORREF colour = kDefaultColour) { titleTipBackColour_ = colour; }
  COLORREF GetTitleTipBackColour() const { return titleTipBackColour_; }
  void SetTitleTipTextColour(COLORREF colour = kDefaultColour) { titleTipTextColour_ = colour; }
  COLORREF GetTitleTipTextColour() const { return titleTipTextColour_; }
  CTitleTip& GetTitleTip() { return titleTip_; }

  // ---- clipboard and drag and drop ----
  void SetCellTextAsEdit(int row, int column, LPCSTR text);
  void ClearCellTexts(const CellRange& range);
  CCellID GetLastDragOverCell() const { return lastDragOverCell_; }
  CGridDropTarget& GetDropTarget() { return dropTarget_; }

  // Virtual operations a derived grid may replace.
  virtual void ClearSelectedTexts();
  // A new data source with the selected texts (the caller owns it), or null.
  virtual COleDataSource* MakeSelectionDataSource();
  virtual BOOL PasteTextAtCell(CCellID cell, COleDataObject* data, BOOL selectPasted = TRUE);
  virtual void OnBeginDrag();
  virtual DROPEFFECT OnDragEnter(COleDataObject* data, DWORD keyState, CPoint point);
  virtual DROPEFFECT OnDragOver(COleDataObject* data, DWORD keyState, CPoint point);
  virtual void OnDragLeave();
  virtual BOOL OnDrop(COleDataObject* data, DROPEFFECT effect, CPoint point);
  virtual void OnEditCut();
  virtual void OnEditCopy();
  virtual void OnEditPaste();
  virtual void OnEditSelectAll();
  virtual CImageList* CreateDragImage(CPoint* hotSpot);
  virtual void OnHeaderColumnPress(CCellID cell);
  virtual void OnHeaderRowPress(CCellID cell);
  virtual void BeginCellEdit(int row, int column, CPoint point, UINT firstChar);
  virtual void FinishCellEdit(int row, int column, LPCSTR text);
  virtual BOOL AcceptEditedText(int row, int column, LPCSTR text);
  virtual void StopEditing();
  virtual void OnDraw(CDC* dc);
  virtual CGridCellBase* CreateCell(int row, int column);
  virtual void DestroyCell(int row, int column);

 protected:
  void PreSubclassWindow() override;

  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnHScroll(UINT code, UINT pos, CScrollBar* bar);
  void OnVScroll(UINT code, UINT pos, CScrollBar* bar);
  void OnSize(UINT type, int cx, int cy);
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonUp(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  void OnMouseMove(UINT flags, CPoint point);
  void OnRButtonDown(UINT flags, CPoint point);
  void OnRButtonUp(UINT flags, CPoint point);
  BOOL OnMouseWheel(UINT flags, short delta, CPoint point);
  BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
  void OnTimer(UINT_PTR id);
  UINT OnGetDlgCode();
  void OnKeyDown(UINT key, UINT repeat, UINT flags);
  void OnSysKeyDown(UINT key, UINT repeat, UINT flags);
  void OnChar(UINT ch, UINT repeat, UINT flags);
  LRESULT OnImeChar(WPARAM ch, LPARAM flags);
  void OnSysColorChange();
  void OnCaptureChanged(CWnd* wnd);
  LRESULT OnSetFont(WPARAM font, LPARAM redraw);
  LRESULT OnGetFont(WPARAM, LPARAM);
  void OnEndInPlaceEdit(NMHDR* header, LRESULT* result);
  void OnUpdateEditCut(CCmdUI* cmdUI);
  void OnUpdateEditCopy(CCmdUI* cmdUI);
  void OnUpdateEditPaste(CCmdUI* cmdUI);
  void OnUpdateEditSelectAll(CCmdUI* cmdUI);
  DECLARE_MESSAGE_MAP()

 private:
  using GridRow = std::vector<CGridCellBase*>;
  using SelectionMap = std::map<uint64_t, CCellID>;
  static uint64_t SelectionKey(int row, int column) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(column)) << 32) | static_cast<uint32_t>(row);
  }

  static BOOL RegisterWindowClass();
  // The last pixel of a run of `size` pixels from `start`, no further than the largest int.
  static int EndOf(int start, long long size);
  void UpdateScrollBar(int bar, long long maximum, long long page);
  void SetupWindow();
  HWND OwnerWindow() const;
  CGridDefaultCell* NormalDefault() const { return defaultCell_.get(); }
  void ResetSelectedRange();
  void RefixCells(bool rows, int count);
  void DestroyRowCells(int row);
  BOOL AppendRowCells(GridRow& row, int rowIndex, int fromColumn, int toColumn);
  void OnScroll(int bar, UINT code);
  void StartSizing(CPoint point, bool column);
  void FinishSizing(CPoint point, bool column);
  void FitDividerAt(CPoint point, bool column);
  void RepaintHeaders(const CCellID& cell, const CCellID& other);
  void DrawBlock(CDC* dc, int firstRow, int lastRow, int top, int firstColumn, int lastColumn, int left,
                 const CRect* clip);
  int NextVisibleRow(int row, int step) const;
  int NextVisibleColumn(int column, int step) const;
  void StoreEditedText(int row, int column, LPCSTR text);
  void LoadHeadings(const std::vector<std::string>& headings, CDC* dc);
  void AppendLoadedRow(const std::vector<std::string>& tokens, CDC* dc);
  void SwapRows(int first, int second);
  CString PrintTitle() const;
  BOOL QuickSortRows(GridCompareFunction compare, int column, BOOL ascending, LPARAM data, int low, int high);
  void SetDropHighlight(const CCellID& cell, bool on);
  void DrawTrackingLine(CPoint point, bool column);

  COLORREF gridBackColour_;
  COLORREF gridLineColour_ = RGB(0xC0, 0xC0, 0xC0);
  COLORREF windowTextColour_;
  COLORREF windowColour_;
  COLORREF faceColour_;
  COLORREF shadowColour_;
  COLORREF titleTipBackColour_ = kDefaultColour;
  COLORREF titleTipTextColour_ = kDefaultColour;
  BOOL virtualMode_ = FALSE;
  LPARAM displayCallbackData_ = 0;
  GridDisplayCallback displayCallback_ = nullptr;
  int gridLines_ = 3;
  BOOL editable_ = TRUE;
  BOOL modified_ = FALSE;
  BOOL dragAndDropAllowed_ = FALSE;
  BOOL listMode_ = FALSE;
  BOOL singleRowSelection_ = FALSE;
  BOOL singleColumnSelection_ = FALSE;
  BOOL allowDraw_ = TRUE;
  BOOL selectionEnabled_ = TRUE;
  BOOL fixedColumnClickSelects_ = TRUE;
  BOOL fixedRowClickSelects_ = TRUE;
  BOOL sortOnHeaderClick_ = FALSE;
  BOOL handleTab_ = TRUE;
  BOOL doubleBuffer_ = TRUE;
  BOOL titleTips_ = TRUE;
  int scrollBarState_ = 0;
  BOOL allowColumnUnhide_ = TRUE;
  BOOL allowRowUnhide_ = TRUE;
  BOOL allowColumnHide_ = TRUE;
  BOOL allowRowHide_ = TRUE;
  BOOL trackFocusCell_ = TRUE;
  BOOL frameFocusCell_ = TRUE;
  int fitStyle_ = 3;
  int rowCount_ = 0;
  int fixedRowCount_ = 0;
  int columnCount_ = 0;
  int fixedColumnCount_ = 0;
  std::vector<UINT> rowHeights_;
  std::vector<UINT> columnWidths_;
  long long vScrollMax_ = 0;
  long long hScrollMax_ = 0;
  // Per bar (SB_HORZ, SB_VERT): pixels per scroll-bar step as a shift, the page in pixels,
  // and the position set last.
  int scrollShift_[2] = {0, 0};
  long long scrollPage_[2] = {0, 0};
  long long scrollPosition_[2] = {0, 0};
  CRuntimeClass* cellClass_;
  std::unique_ptr<CGridDefaultCell> defaultCell_;
  std::unique_ptr<CGridDefaultCell> defaultFixedColumnCell_;
  std::unique_ptr<CGridDefaultCell> defaultFixedRowCell_;
  std::unique_ptr<CGridDefaultCell> defaultFixedCell_;
  CImageList* imageList_ = nullptr;
  std::vector<std::unique_ptr<GridRow>> rows_;
  int mouseMode_ = ModeNone;
  BOOL leftButtonDown_ = FALSE;
  BOOL rightButtonDown_ = FALSE;
  CPoint clickDownPoint_{0, 0};
  CPoint lastMousePoint_{0, 0};
  CCellID clickDownCell_;
  CCellID selectionStart_;
  CCellID focusCell_;
  CCellID topLeftCell_;
  CCellID editingCell_;
  CCellID scrollHint_;
  long long scrollHintOffsetX_ = 0;
  long long scrollHintOffsetY_ = 0;
  UINT_PTR timerId_ = 0;
  UINT timerInterval_ = 25;
  int resizeCaptureRange_ = 3;
  BOOL allowRowResize_ = TRUE;
  BOOL allowColumnResize_ = TRUE;
  int rowsPerWheelNotch_ = 3;
  SelectionMap selectedCells_;
  SelectionMap previousSelection_;
  CTitleTip titleTip_;
  CCellID lastDragOverCell_;
  CGridDropTarget dropTarget_;
  BOOL sortAscending_ = TRUE;
  int sortColumn_ = -1;
  GridCompareFunction compareFunction_ = nullptr;
  BOOL printColours_ = TRUE;
  BOOL wysiwygPrinting_ = FALSE;
  BOOL printShading_ = TRUE;
  CFont printerFont_;
  CSize charSize_{1, 1};
  int pageHeight_ = 0;
  CSize logicalPageSize_;
  CSize paperSize_;
  int pageWidth_ = 0;
  int currentPrintRow_ = 0;
  int currentPrintColumn_ = 0;
  int pageCount_ = 0;
  int pagesAcross_ = 1;
  int headerMargin_ = 2;
  int footerMargin_ = 2;
  int leftMargin_ = 4;
  int rightMargin_ = 4;
  int topMargin_ = 1;
  int bottomMargin_ = 1;
  int gap_ = 1;
  bool inSetup_ = false;
  bool setupDone_ = false;
  bool inSize_ = false;
};

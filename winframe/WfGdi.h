// Drawing: GDI object holders and device contexts. Text is 8-bit (A calls).
//   CGdiObject  m_hObject; Attach Detach DeleteObject GetSafeHandle GetObject FromHandle
//   CPen        CreatePen / CPen(style, width, colour)              operator HPEN
//   CBrush      CreateSolidBrush CreateSysColorBrush (the shared system brush, never deleted)
//               / CBrush(colour) operator HBRUSH
//   CFont       CreateFontIndirect(const LOGFONTA*) GetLogFont       operator HFONT
//   CBitmap     CreateCompatibleBitmap CreateBitmap LoadBitmap GetBitmap operator HBITMAP
//   Each holder deletes its object when destroyed (select it out first). The
//   constructors that create throw CResourceException on failure.
//
//   CDC         m_hDC (output), m_hAttribDC (measuring), m_bPrinting; FromHandle (temporary
//               wrapper), Attach Detach DeleteDC CreateCompatibleDC; SaveDC RestoreDC;
//               SelectObject(pen|brush|font|bitmap) returning the old one as a temporary
//               wrapper; SelectStockObject; colours and background mode; MoveTo LineTo
//               Polyline Polygon Rectangle; FillRect FillSolidRect FrameRect InvertRect
//               DrawEdge DrawFocusRect DrawIcon; TextOut ExtTextOut DrawText GetTextExtent
//               GetTextMetrics; GetClipBox IntersectClipRect; BitBlt PatBlt; SetWindowOrg
//               GetWindowOrg SetViewportOrg; GetDeviceCaps; GetPixel SetPixel.
//               Every drawing and measuring member is virtual, so a recording DC can
//               stand in for pixels that would depend on fonts.
//               A DC made by CreateCompatibleDC or attached is deleted with the object.
//   CPaintDC    BeginPaint/EndPaint for a window (m_ps)
//   CClientDC   GetDC/ReleaseDC;  CWindowDC  GetWindowDC/ReleaseDC
#pragma once

#include <windows.h>

#include "WfGeometry.h"
#include "WfObject.h"
#include "WfString.h"

class CWnd;

class CGdiObject : public CObject {
  DECLARE_DYNAMIC(CGdiObject)
 public:
  HGDIOBJ m_hObject = nullptr;

  CGdiObject() = default;
  ~CGdiObject() override;
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;

  static CGdiObject* FromHandle(HGDIOBJ handle);
  HGDIOBJ GetSafeHandle() const { return m_hObject; }
  operator HGDIOBJ() const { return m_hObject; }
  BOOL Attach(HGDIOBJ handle);
  HGDIOBJ Detach();
  BOOL DeleteObject();
  int GetObject(int size, void* buffer) const;

  // Used by the temporary wrappers: refers to the handle without owning it.
  void AttachTemporary(HGDIOBJ handle) { m_hObject = handle; owned_ = false; }

 private:
  bool owned_ = true;
};

class CPen : public CGdiObject {
  DECLARE_DYNAMIC(CPen)
 public:
  CPen() = default;
  CPen(int style, int width, COLORREF colour);
  static CPen* FromHandle(HPEN handle);
  BOOL CreatePen(int style, int width, COLORREF colour);
  operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class CBrush : public CGdiObject {
  DECLARE_DYNAMIC(CBrush)
 public:
  CBrush() = default;
  explicit CBrush(COLORREF colour);
  static CBrush* FromHandle(HBRUSH handle);
  BOOL CreateSolidBrush(COLORREF colour);
  BOOL CreateSysColorBrush(int index);
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class CFont : public CGdiObject {
  DECLARE_DYNAMIC(CFont)
 public:
  static CFont* FromHandle(HFONT handle);
  BOOL CreateFontIndirect(const LOGFONTA* logFont);
  int GetLogFont(LOGFONTA* logFont) const;
  operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CDC;

class CBitmap : public CGdiObject {
  DECLARE_DYNAMIC(CBitmap)
 public:
  static CBitmap* FromHandle(HBITMAP handle);
  BOOL CreateCompatibleBitmap(CDC* dc, int width, int height);
  BOOL CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
  BOOL LoadBitmap(UINT resourceId);
  int GetBitmap(BITMAP* info) const;
  operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CDC : public CObject {
  DECLARE_DYNAMIC(CDC)
 public:
  HDC m_hDC = nullptr;
  HDC m_hAttribDC = nullptr;
  BOOL m_bPrinting = FALSE;

  CDC() = default;
  ~CDC() override;
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  static CDC* FromHandle(HDC handle);
  operator HDC() const { return m_hDC; }
  HDC GetSafeHdc() const { return m_hDC; }
  BOOL Attach(HDC handle);
  HDC Detach();
  BOOL DeleteDC();
  BOOL CreateCompatibleDC(CDC* dc);
  BOOL IsPrinting() const { return m_bPrinting; }
  void AttachTemporary(HDC handle) { m_hDC = m_hAttribDC = handle; owned_ = false; }

  virtual int SaveDC();
  virtual BOOL RestoreDC(int savedDC);
  virtual CPen* SelectObject(CPen* pen);
  virtual CBrush* SelectObject(CBrush* brush);
  virtual CFont* SelectObject(CFont* font);
  virtual CBitmap* SelectObject(CBitmap* bitmap);
  virtual CGdiObject* SelectStockObject(int index);

  virtual int SetBkMode(int mode);
  virtual int GetBkMode() const;
  virtual COLORREF SetBkColor(COLORREF colour);
  virtual COLORREF GetBkColor() const;
  virtual COLORREF SetTextColor(COLORREF colour);
  virtual COLORREF GetTextColor() const;

  virtual CPoint MoveTo(int x, int y);
  CPoint MoveTo(POINT p) { return MoveTo(p.x, p.y); }
  virtual BOOL LineTo(int x, int y);
  BOOL LineTo(POINT p) { return LineTo(p.x, p.y); }
  virtual BOOL Polyline(const POINT* points, int count);
  virtual BOOL Polygon(const POINT* points, int count);
  virtual BOOL Rectangle(LPCRECT rect);

  virtual void FillRect(LPCRECT rect, CBrush* brush);
  virtual void FillSolidRect(LPCRECT rect, COLORREF colour);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF colour);
  virtual void FrameRect(LPCRECT rect, CBrush* brush);
  virtual void InvertRect(LPCRECT rect);
  virtual BOOL DrawEdge(LPRECT rect, UINT edge, UINT flags);
  virtual void DrawFocusRect(LPCRECT rect);
  virtual BOOL DrawIcon(int x, int y, HICON icon);

  virtual BOOL TextOut(int x, int y, const char* text, int count);
  BOOL TextOut(int x, int y, const CString& text) { return TextOut(x, y, text, text.GetLength()); }
  virtual BOOL ExtTextOut(int x, int y, UINT options, LPCRECT rect, const char* text, UINT count,
                          const int* dx);
  virtual int DrawText(const char* text, int count, LPRECT rect, UINT format);
  int DrawText(const CString& text, LPRECT rect, UINT format) {
    return DrawText(text, text.GetLength(), rect, format);
  }
  virtual CSize GetTextExtent(const char* text, int count) const;
  CSize GetTextExtent(const CString& text) const { return GetTextExtent(text, text.GetLength()); }
  virtual BOOL GetTextMetrics(TEXTMETRICA* metrics) const;

  virtual int GetClipBox(LPRECT rect) const;
  virtual int IntersectClipRect(LPCRECT rect);
  virtual BOOL BitBlt(int x, int y, int width, int height, CDC* source, int xSrc, int ySrc, DWORD rop);
  virtual BOOL PatBlt(int x, int y, int width, int height, DWORD rop);
  virtual CPoint SetWindowOrg(int x, int y);
  CPoint SetWindowOrg(POINT p) { return SetWindowOrg(p.x, p.y); }
  virtual CPoint GetWindowOrg() const;
  virtual CPoint SetViewportOrg(int x, int y);
  virtual int GetDeviceCaps(int index) const;
  virtual COLORREF GetPixel(int x, int y) const;
  virtual COLORREF SetPixel(int x, int y, COLORREF colour);

 private:
  bool owned_ = true;
};

class CPaintDC : public CDC {
  DECLARE_DYNAMIC(CPaintDC)
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps{};

 private:
  HWND hWnd_;
};

class CClientDC : public CDC {
  DECLARE_DYNAMIC(CClientDC)
 public:
  explicit CClientDC(CWnd* wnd);
  ~CClientDC() override;

 private:
  HWND hWnd_;
};

class CWindowDC : public CDC {
  DECLARE_DYNAMIC(CWindowDC)
 public:
  explicit CWindowDC(CWnd* wnd);
  ~CWindowDC() override;

 private:
  HWND hWnd_;
};

// Drops temporary GDI and DC wrappers whose handles are gone.
void WfPurgeGdiTemporaries();
// Forgets the temporary wrapper of a window DC that has been released.
void WfDropTemporaryDC(HDC handle);

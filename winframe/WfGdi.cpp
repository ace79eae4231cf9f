#include "WfGdi.h"

#include "WfApp.h"
#include "WfTempMap.h"
#include "WfWnd.h"

namespace {

template <class Wrapper, class Handle>
WfTempMap<Wrapper, Handle>& Temporaries() {
  thread_local WfTempMap<Wrapper, Handle> map;
  return map;
}

template <class Wrapper, class Handle>
Wrapper* TemporaryFor(Handle handle) {
  return handle ? Temporaries<Wrapper, Handle>().Get(handle) : nullptr;
}

template <class Wrapper, class Handle>
void PurgeObjects() {
  Temporaries<Wrapper, Handle>().Purge([](Handle h) { return GetObjectType(h) == 0; });
}

}  // namespace

void WfPurgeGdiTemporaries() {
  PurgeObjects<CGdiObject, HGDIOBJ>();
  PurgeObjects<CPen, HPEN>();
  PurgeObjects<CBrush, HBRUSH>();
  PurgeObjects<CFont, HFONT>();
  PurgeObjects<CBitmap, HBITMAP>();
  PurgeObjects<CDC, HDC>();
}

void WfDropTemporaryDC(HDC handle) { Temporaries<CDC, HDC>().Remove(handle); }

IMPLEMENT_DYNAMIC(CGdiObject, CObject)
IMPLEMENT_DYNAMIC(CPen, CGdiObject)
IMPLEMENT_DYNAMIC(CBrush, CGdiObject)
IMPLEMENT_DYNAMIC(CFont, CGdiObject)
IMPLEMENT_DYNAMIC(CBitmap, CGdiObject)
IMPLEMENT_DYNAMIC(CDC, CObject)
IMPLEMENT_DYNAMIC(CPaintDC, CDC)
IMPLEMENT_DYNAMIC(CClientDC, CDC)
IMPLEMENT_DYNAMIC(CWindowDC, CDC)

CGdiObject::~CGdiObject() {
  if (owned_) DeleteObject();
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ handle) { return TemporaryFor<CGdiObject>(handle); }

BOOL CGdiObject::Attach(HGDIOBJ handle) {
  if (!handle) return FALSE;
  DeleteObject();
  m_hObject = handle;
  owned_ = true;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ handle = m_hObject;
  m_hObject = nullptr;
  return handle;
}

BOOL CGdiObject::DeleteObject() {
  if (!m_hObject) return FALSE;
  const bool owned = owned_;
  HGDIOBJ handle = Detach();
  return owned ? ::DeleteObject(handle) : TRUE;
}

int CGdiObject::GetObject(int size, void* buffer) const {
  return m_hObject ? ::GetObjectA(m_hObject, size, buffer) : 0;
}

CPen::CPen(int style, int width, COLORREF colour) {
  if (!CreatePen(style, width, colour)) AfxThrowResourceException();
}
CPen* CPen::FromHandle(HPEN handle) { return TemporaryFor<CPen>(handle); }
BOOL CPen::CreatePen(int style, int width, COLORREF colour) {
  return Attach(::CreatePen(style, width, colour));
}

CBrush::CBrush(COLORREF colour) {
  if (!CreateSolidBrush(colour)) AfxThrowResourceException();
}
CBrush* CBrush::FromHandle(HBRUSH handle) { return TemporaryFor<CBrush>(handle); }
BOOL CBrush::CreateSolidBrush(COLORREF colour) { return Attach(::CreateSolidBrush(colour)); }
// The system's brush is shared: the holder refers to it and never deletes it.
BOOL CBrush::CreateSysColorBrush(int index) {
  HBRUSH brush = ::GetSysColorBrush(index);
  if (!brush) return FALSE;
  DeleteObject();
  AttachTemporary(brush);
  return TRUE;
}

CFont* CFont::FromHandle(HFONT handle) { return TemporaryFor<CFont>(handle); }
BOOL CFont::CreateFontIndirect(const LOGFONTA* logFont) {
  return logFont && Attach(::CreateFontIndirectA(logFont));
}
int CFont::GetLogFont(LOGFONTA* logFont) const { return GetObject(sizeof(LOGFONTA), logFont); }

CBitmap* CBitmap::FromHandle(HBITMAP handle) { return TemporaryFor<CBitmap>(handle); }
BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height) {
  return Attach(::CreateCompatibleBitmap(dc->m_hDC, width, height));
}
BOOL CBitmap::CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  return Attach(::CreateBitmap(width, height, planes, bitsPerPixel, bits));
}
BOOL CBitmap::LoadBitmap(UINT resourceId) {
  return Attach(::LoadBitmapA(AfxGetResourceHandle(), MAKEINTRESOURCEA(resourceId)));
}
int CBitmap::GetBitmap(BITMAP* info) const { return GetObject(sizeof(BITMAP), info); }

CDC::~CDC() {
  if (owned_) DeleteDC();
}

CDC* CDC::FromHandle(HDC handle) { return TemporaryFor<CDC>(handle); }

BOOL CDC::Attach(HDC handle) {
  if (!handle) return FALSE;
  DeleteDC();
  m_hDC = m_hAttribDC = handle;
  owned_ = true;
  return TRUE;
}

HDC CDC::Detach() {
  HDC handle = m_hDC;
  m_hDC = m_hAttribDC = nullptr;
  return handle;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  return ::DeleteDC(Detach());
}

BOOL CDC::CreateCompatibleDC(CDC* dc) {
  return Attach(::CreateCompatibleDC(dc ? dc->m_hDC : nullptr));
}

int CDC::SaveDC() { return ::SaveDC(m_hDC); }
BOOL CDC::RestoreDC(int savedDC) { return ::RestoreDC(m_hDC, savedDC); }

CPen* CDC::SelectObject(CPen* pen) {
  return CPen::FromHandle(static_cast<HPEN>(::SelectObject(m_hDC, pen->m_hObject)));
}
CBrush* CDC::SelectObject(CBrush* brush) {
  return CBrush::FromHandle(static_cast<HBRUSH>(::SelectObject(m_hDC, brush->m_hObject)));
}
CFont* CDC::SelectObject(CFont* font) {
  return CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, font->m_hObject)));
}
CBitmap* CDC::SelectObject(CBitmap* bitmap) {
  return CBitmap::FromHandle(static_cast<HBITMAP>(::SelectObject(m_hDC, bitmap->m_hObject)));
}
CGdiObject* CDC::SelectStockObject(int index) {
  return CGdiObject::FromHandle(::SelectObject(m_hDC, GetStockObject(index)));
}

int CDC::SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
int CDC::GetBkMode() const { return ::GetBkMode(m_hAttribDC); }
COLORREF CDC::SetBkColor(COLORREF colour) { return ::SetBkColor(m_hDC, colour); }
COLORREF CDC::GetBkColor() const { return ::GetBkColor(m_hAttribDC); }
COLORREF CDC::SetTextColor(COLORREF colour) { return ::SetTextColor(m_hDC, colour); }
COLORREF CDC::GetTextColor() const { return ::GetTextColor(m_hAttribDC); }

CPoint CDC::MoveTo(int x, int y) {
  POINT old{};
  ::MoveToEx(m_hDC, x, y, &old);
  return old;
}
BOOL CDC::LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
BOOL CDC::Polyline(const POINT* points, int count) { return ::Polyline(m_hDC, points, count); }
BOOL CDC::Polygon(const POINT* points, int count) { return ::Polygon(m_hDC, points, count); }
BOOL CDC::Rectangle(LPCRECT r) { return ::Rectangle(m_hDC, r->left, r->top, r->right, r->bottom); }

void CDC::FillRect(LPCRECT rect, CBrush* brush) {
  ::FillRect(m_hDC, rect, static_cast<HBRUSH>(brush->m_hObject));
}
void CDC::FillSolidRect(LPCRECT rect, COLORREF colour) {
  // An opaque ExtTextOut fills with the background colour without a brush.
  const COLORREF old = ::SetBkColor(m_hDC, colour);
  ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, rect, nullptr, 0, nullptr);
  ::SetBkColor(m_hDC, old);
}
void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF colour) {
  const CRect rect(x, y, x + cx, y + cy);
  FillSolidRect(&rect, colour);
}
void CDC::FrameRect(LPCRECT rect, CBrush* brush) {
  ::FrameRect(m_hDC, rect, static_cast<HBRUSH>(brush->m_hObject));
}
void CDC::InvertRect(LPCRECT rect) { ::InvertRect(m_hDC, rect); }
BOOL CDC::DrawEdge(LPRECT rect, UINT edge, UINT flags) { return ::DrawEdge(m_hDC, rect, edge, flags); }
void CDC::DrawFocusRect(LPCRECT rect) { ::DrawFocusRect(m_hDC, rect); }
BOOL CDC::DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

BOOL CDC::TextOut(int x, int y, const char* text, int count) {
  return ::TextOutA(m_hDC, x, y, text, count);
}
BOOL CDC::ExtTextOut(int x, int y, UINT options, LPCRECT rect, const char* text, UINT count,
                     const int* dx) {
  return ::ExtTextOutA(m_hDC, x, y, options, rect, text, count, dx);
}
int CDC::DrawText(const char* text, int count, LPRECT rect, UINT format) {
  return ::DrawTextA(m_hDC, text, count, rect, format);
}
CSize CDC::GetTextExtent(const char* text, int count) const {
  SIZE size{};
  ::GetTextExtentPoint32A(m_hAttribDC, text, count, &size);
  return size;
}
BOOL CDC::GetTextMetrics(TEXTMETRICA* metrics) const { return ::GetTextMetricsA(m_hAttribDC, metrics); }

int CDC::GetClipBox(LPRECT rect) const { return ::GetClipBox(m_hDC, rect); }
int CDC::IntersectClipRect(LPCRECT r) {
  return ::IntersectClipRect(m_hDC, r->left, r->top, r->right, r->bottom);
}
BOOL CDC::BitBlt(int x, int y, int width, int height, CDC* source, int xSrc, int ySrc, DWORD rop) {
  return ::BitBlt(m_hDC, x, y, width, height, source ? source->m_hDC : nullptr, xSrc, ySrc, rop);
}
BOOL CDC::PatBlt(int x, int y, int width, int height, DWORD rop) {
  return ::PatBlt(m_hDC, x, y, width, height, rop);
}
CPoint CDC::SetWindowOrg(int x, int y) {
  POINT old{};
  ::SetWindowOrgEx(m_hDC, x, y, &old);
  return old;
}
CPoint CDC::GetWindowOrg() const {
  POINT origin{};
  ::GetWindowOrgEx(m_hAttribDC, &origin);
  return origin;
}
CPoint CDC::SetViewportOrg(int x, int y) {
  POINT old{};
  ::SetViewportOrgEx(m_hDC, x, y, &old);
  return old;
}
int CDC::GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hAttribDC, index); }
COLORREF CDC::GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
COLORREF CDC::SetPixel(int x, int y, COLORREF colour) { return ::SetPixel(m_hDC, x, y, colour); }

CPaintDC::CPaintDC(CWnd* wnd) : hWnd_(wnd->m_hWnd) {
  if (!Attach(::BeginPaint(hWnd_, &m_ps))) AfxThrowResourceException();
}
CPaintDC::~CPaintDC() {
  Detach();
  ::EndPaint(hWnd_, &m_ps);
}

CClientDC::CClientDC(CWnd* wnd) : hWnd_(wnd ? wnd->m_hWnd : nullptr) {
  if (!Attach(::GetDC(hWnd_))) AfxThrowResourceException();
}
CClientDC::~CClientDC() { ::ReleaseDC(hWnd_, Detach()); }

CWindowDC::CWindowDC(CWnd* wnd) : hWnd_(wnd ? wnd->m_hWnd : nullptr) {
  if (!Attach(::GetWindowDC(hWnd_))) AfxThrowResourceException();
}
CWindowDC::~CWindowDC() { ::ReleaseDC(hWnd_, Detach()); }

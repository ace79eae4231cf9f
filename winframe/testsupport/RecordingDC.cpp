#include "RecordingDC.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Colour(COLORREF c) {
  char text[16];
  snprintf(text, sizeof(text), "#%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

std::string Rect(LPCRECT r) {
  if (!r) return "null";
  char text[64];
  snprintf(text, sizeof(text), "%ld,%ld,%ld,%ld", r->left, r->top, r->right, r->bottom);
  return text;
}

std::string Point(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }

std::string Points(const POINT* points, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += (i ? " " : "") + Point(points[i].x, points[i].y);
  return text;
}

std::string Text(const char* text, int count) {
  if (count < 0) count = static_cast<int>(strlen(text));
  return "\"" + std::string(text, count) + "\"";
}

std::string Hex(UINT value) {
  char text[16];
  snprintf(text, sizeof(text), "0x%X", value);
  return text;
}

std::string BrushColour(CBrush* brush) {
  LOGBRUSH lb{};
  if (brush && GetObjectA(brush->m_hObject, sizeof(lb), &lb)) return Colour(lb.lbColor);
  return "?";
}

}  // namespace

RecordingDC::RecordingDC() {
  CClientDC screen(nullptr);
  if (!CreateCompatibleDC(&screen) || !pixel_.CreateCompatibleBitmap(&screen, 1, 1))
    AfxThrowResourceException();
  CDC::SelectObject(&pixel_);
}

// The DC goes first, so the bitmap is no longer selected when it is deleted.
RecordingDC::~RecordingDC() { DeleteDC(); }

CPen* RecordingDC::SelectObject(CPen* pen) {
  LOGPEN lp{};
  GetObjectA(pen->m_hObject, sizeof(lp), &lp);
  Record("SelectPen " + std::to_string(lp.lopnStyle) + " " + std::to_string(lp.lopnWidth.x) + " " +
         Colour(lp.lopnColor));
  return CDC::SelectObject(pen);
}

CBrush* RecordingDC::SelectObject(CBrush* brush) {
  Record("SelectBrush " + BrushColour(brush));
  return CDC::SelectObject(brush);
}

CFont* RecordingDC::SelectObject(CFont* font) {
  LOGFONTA lf{};
  font->GetLogFont(&lf);
  Record(std::string("SelectFont ") + lf.lfFaceName + " " + std::to_string(lf.lfHeight));
  return CDC::SelectObject(font);
}

CBitmap* RecordingDC::SelectObject(CBitmap* bitmap) {
  Record("SelectBitmap");
  return CDC::SelectObject(bitmap);
}

CGdiObject* RecordingDC::SelectStockObject(int index) {
  Record("SelectStockObject " + std::to_string(index));
  return CDC::SelectStockObject(index);
}

int RecordingDC::SetBkMode(int mode) {
  Record(mode == TRANSPARENT ? "SetBkMode transparent" : "SetBkMode opaque");
  return CDC::SetBkMode(mode);
}

COLORREF RecordingDC::SetBkColor(COLORREF colour) {
  Record("SetBkColor " + Colour(colour));
  return CDC::SetBkColor(colour);
}

COLORREF RecordingDC::SetTextColor(COLORREF colour) {
  Record("SetTextColor " + Colour(colour));
  return CDC::SetTextColor(colour);
}

CPoint RecordingDC::MoveTo(int x, int y) {
  Record("MoveTo " + Point(x, y));
  return CDC::MoveTo(x, y);
}

BOOL RecordingDC::LineTo(int x, int y) {
  Record("LineTo " + Point(x, y));
  return CDC::LineTo(x, y);
}

BOOL RecordingDC::Polyline(const POINT* points, int count) {
  Record("Polyline " + Points(points, count));
  return TRUE;
}

BOOL RecordingDC::Polygon(const POINT* points, int count) {
  Record("Polygon " + Points(points, count));
  return TRUE;
}

BOOL RecordingDC::Rectangle(LPCRECT rect) {
  Record("Rectangle " + Rect(rect));
  return TRUE;
}

void RecordingDC::FillRect(LPCRECT rect, CBrush* brush) {
  Record("FillRect " + Rect(rect) + " " + BrushColour(brush));
}

void RecordingDC::FillSolidRect(LPCRECT rect, COLORREF colour) {
  Record("FillSolidRect " + Rect(rect) + " " + Colour(colour));
}

void RecordingDC::FrameRect(LPCRECT rect, CBrush* brush) {
  Record("FrameRect " + Rect(rect) + " " + BrushColour(brush));
}

void RecordingDC::InvertRect(LPCRECT rect) { Record("InvertRect " + Rect(rect)); }

BOOL RecordingDC::DrawEdge(LPRECT rect, UINT edge, UINT flags) {
  Record("DrawEdge " + Rect(rect) + " " + Hex(edge) + " " + Hex(flags));
  return TRUE;
}

void RecordingDC::DrawFocusRect(LPCRECT rect) { Record("DrawFocusRect " + Rect(rect)); }

BOOL RecordingDC::DrawIcon(int x, int y, HICON) {
  Record("DrawIcon " + Point(x, y));
  return TRUE;
}

BOOL RecordingDC::TextOut(int x, int y, const char* text, int count) {
  Record("TextOut " + Text(text, count) + " " + Point(x, y));
  return TRUE;
}

BOOL RecordingDC::ExtTextOut(int x, int y, UINT options, LPCRECT rect, const char* text, UINT count,
                             const int*) {
  Record("ExtTextOut " + Text(text ? text : "", text ? static_cast<int>(count) : 0) + " " +
         Point(x, y) + " " + Hex(options) + " " + Rect(rect));
  return TRUE;
}

int RecordingDC::DrawText(const char* text, int count, LPRECT rect, UINT format) {
  const CSize size = GetTextExtent(text, count < 0 ? static_cast<int>(strlen(text)) : count);
  if (format & DT_CALCRECT) {
    rect->right = rect->left + size.cx;
    rect->bottom = rect->top + size.cy;
    return size.cy;
  }
  Record("DrawText " + Text(text, count) + " " + Rect(rect) + " " + Hex(format));
  return size.cy;
}

CSize RecordingDC::GetTextExtent(const char* text, int count) const {
  int lines = 1, widest = 0, current = 0;
  for (int i = 0; i < count; ++i) {
    if (text[i] == '\n') {
      ++lines;
      current = 0;
    } else {
      widest = std::max(widest, ++current);
    }
  }
  return CSize(widest * kCharWidth, lines * kLineHeight);
}

BOOL RecordingDC::GetTextMetrics(TEXTMETRICA* metrics) const {
  *metrics = TEXTMETRICA{};
  metrics->tmHeight = kLineHeight;
  metrics->tmAscent = kLineHeight - 3;
  metrics->tmDescent = 3;
  metrics->tmAveCharWidth = kCharWidth;
  metrics->tmMaxCharWidth = kCharWidth;
  return TRUE;
}

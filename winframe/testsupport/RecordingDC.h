// A device context that writes down what is drawn, for tests whose pixels would depend
// on fonts. Text is measured as if every character were 7 x 13 pixels (lines split at
// "\n"), so layouts come out the same on every machine. Calls it does not record
// (clip box, pixels, blits) go to a 1 x 1 memory DC behind it.
//   Calls()  one line per call, e.g. "FillSolidRect 0,0,10,10 #0000FF",
//            "DrawText \"abc\" 2,2,40,15 0x8824", "LineTo 5,6", "SetTextColor #FFFFFF",
//            "SelectFont Tahoma -12"; colours are #RRGGBB
//   Clear()  forgets them
#pragma once

#include <string>
#include <vector>

#include "WfGdi.h"

class RecordingDC : public CDC {
 public:
  static constexpr int kCharWidth = 7;
  static constexpr int kLineHeight = 13;

  RecordingDC();
  ~RecordingDC() override;

  const std::vector<std::string>& Calls() const { return calls_; }
  void Clear() { calls_.clear(); }

  CPen* SelectObject(CPen* pen) override;
  CBrush* SelectObject(CBrush* brush) override;
  CFont* SelectObject(CFont* font) override;
  CBitmap* SelectObject(CBitmap* bitmap) override;
  CGdiObject* SelectStockObject(int index) override;
  int SetBkMode(int mode) override;
  COLORREF SetBkColor(COLORREF colour) override;
  COLORREF SetTextColor(COLORREF colour) override;
  CPoint MoveTo(int x, int y) override;
  BOOL LineTo(int x, int y) override;
  BOOL Polyline(const POINT* points, int count) override;
  BOOL Polygon(const POINT* points, int count) override;
  BOOL Rectangle(LPCRECT rect) override;
  void FillRect(LPCRECT rect, CBrush* brush) override;
  void FillSolidRect(LPCRECT rect, COLORREF colour) override;
  void FrameRect(LPCRECT rect, CBrush* brush) override;
  void InvertRect(LPCRECT rect) override;
  BOOL DrawEdge(LPRECT rect, UINT edge, UINT flags) override;
  void DrawFocusRect(LPCRECT rect) override;
  BOOL DrawIcon(int x, int y, HICON icon) override;
  BOOL TextOut(int x, int y, const char* text, int count) override;
  BOOL ExtTextOut(int x, int y, UINT options, LPCRECT rect, const char* text, UINT count,
                  const int* dx) override;
  int DrawText(const char* text, int count, LPRECT rect, UINT format) override;
  CSize GetTextExtent(const char* text, int count) const override;
  BOOL GetTextMetrics(TEXTMETRICA* metrics) const override;

 private:
  void Record(const std::string& line) { calls_.push_back(line); }
  std::vector<std::string> calls_;
  CBitmap pixel_;
};

// Pixels for drawing tests: a 32-bit top-down DIB section with a memory DC.
//   Dc()            a CDC to draw into (or to give to a window's drawing code)
//   Pixel(x, y)     the colour at a point, read from the bits
//   CaptureClient   copies a window's client area as it is on its surface (after
//                   painting what is invalid); CaptureWindow the whole window, frame included
//   SavePng         writes the pixels as a PNG file
#pragma once

#include <windows.h>

#include <memory>

#include "WfGdi.h"

class RenderProbe {
 public:
  RenderProbe(int width, int height, COLORREF background = RGB(255, 255, 255));
  ~RenderProbe();
  RenderProbe(const RenderProbe&) = delete;
  RenderProbe& operator=(const RenderProbe&) = delete;

  CDC& Dc() { return dc_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  COLORREF Pixel(int x, int y) const;
  // Counts the pixels of one colour inside a rectangle (the whole probe by default).
  int CountPixels(COLORREF colour, const RECT* area = nullptr) const;

  static std::unique_ptr<RenderProbe> CaptureClient(HWND window);
  static std::unique_ptr<RenderProbe> CaptureWindow(HWND window);
  bool SavePng(const char* path) const;

 private:
  int width_, height_;
  CDC dc_;
  CBitmap bitmap_;
  HGDIOBJ oldBitmap_ = nullptr;
  const DWORD* bits_ = nullptr;
};

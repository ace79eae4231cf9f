#include "RenderProbe.h"

#include <objidl.h>

#include <gdiplus.h>

#include <string>

RenderProbe::RenderProbe(int width, int height, COLORREF background)
    : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: row 0 first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  if (!bitmap_.Attach(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)) ||
      !dc_.CreateCompatibleDC(nullptr))
    AfxThrowResourceException();
  bits_ = static_cast<const DWORD*>(bits);
  oldBitmap_ = ::SelectObject(dc_.m_hDC, bitmap_.m_hObject);
  dc_.FillSolidRect(0, 0, width, height, background);
}

RenderProbe::~RenderProbe() { ::SelectObject(dc_.m_hDC, oldBitmap_); }

COLORREF RenderProbe::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  GdiFlush();
  const DWORD v = bits_[y * width_ + x];  // 0x00RRGGBB
  return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

int RenderProbe::CountPixels(COLORREF colour, const RECT* area) const {
  const RECT all{0, 0, width_, height_};
  RECT r;
  IntersectRect(&r, area ? area : &all, &all);
  int count = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if (Pixel(x, y) == colour) ++count;
  return count;
}

std::unique_ptr<RenderProbe> RenderProbe::CaptureClient(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  RECT client;
  GetClientRect(window, &client);
  auto probe = std::make_unique<RenderProbe>(client.right, client.bottom);
  HDC source = GetDC(window);
  BitBlt(probe->dc_.m_hDC, 0, 0, client.right, client.bottom, source, 0, 0, SRCCOPY);
  ReleaseDC(window, source);
  return probe;
}

std::unique_ptr<RenderProbe> RenderProbe::CaptureWindow(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  RECT frame;
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  auto probe = std::make_unique<RenderProbe>(width, height);
  HDC source = GetWindowDC(window);
  BitBlt(probe->dc_.m_hDC, 0, 0, width, height, source, 0, 0, SRCCOPY);
  ReleaseDC(window, source);
  return probe;
}

bool RenderProbe::SavePng(const char* path) const {
  static const CLSID kPngEncoder = {
      0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
  bool saved = false;
  {
    GdiFlush();
    Gdiplus::Bitmap image(width_, height_, width_ * 4, PixelFormat32bppRGB,
                          reinterpret_cast<BYTE*>(const_cast<DWORD*>(bits_)));
    const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length);
    saved = image.Save(wide.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
  }
  Gdiplus::GdiplusShutdown(token);
  return saved;
}

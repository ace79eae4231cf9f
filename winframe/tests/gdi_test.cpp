#include <gtest/gtest.h>

#include <vector>

#include "WfControls.h"
#include "WfGdi.h"

namespace {

LOGFONTA TestFont() {
  LOGFONTA lf{};
  lf.lfHeight = -12;
  strcpy(lf.lfFaceName, "Tahoma");
  return lf;
}

TEST(Gdi, WineKeepsNoCountOfGdiObjects) {
  // So the tests below check each handle, and exhaust the handle table if anything leaks.
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), 0u);
}

TEST(Gdi, WrappersReleaseEveryObjectTheyCreated) {
  HGDIOBJ handles[5] = {};
  {
    CDC screen;
    screen.Attach(::GetDC(nullptr));
    CDC memory;
    ASSERT_TRUE(memory.CreateCompatibleDC(&screen));
    CPen pen(PS_SOLID, 1, RGB(255, 0, 0));
    CBrush brush(RGB(0, 255, 0));
    CFont font;
    const LOGFONTA lf = TestFont();
    ASSERT_TRUE(font.CreateFontIndirect(&lf));
    CBitmap bitmap;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 16, 16));
    handles[0] = pen.m_hObject;
    handles[1] = brush.m_hObject;
    handles[2] = font.m_hObject;
    handles[3] = bitmap.m_hObject;
    handles[4] = memory.m_hDC;
    for (HGDIOBJ h : handles) EXPECT_NE(GetObjectType(h), 0u);

    // Selecting hands back the previous objects as wrappers that own nothing.
    CBitmap* oldBitmap = memory.SelectObject(&bitmap);
    CPen* oldPen = memory.SelectObject(&pen);
    CBrush* oldBrush = memory.SelectObject(&brush);
    CFont* oldFont = memory.SelectObject(&font);
    ASSERT_NE(oldBitmap, nullptr);
    ASSERT_NE(oldFont, nullptr);
    EXPECT_EQ(memory.SelectObject(oldFont)->m_hObject, font.m_hObject);
    memory.SelectObject(oldBrush);
    memory.SelectObject(oldPen);
    memory.SelectObject(oldBitmap);
    ::ReleaseDC(nullptr, screen.Detach());
    WfPurgeGdiTemporaries();
  }
  for (HGDIOBJ h : handles) EXPECT_EQ(GetObjectType(h), 0u);

  // Fill the process's handle table but for a few slots; then one leak per round would
  // make creation fail well before the rounds are done.
  std::vector<HPEN> filler;
  while (HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(0, 0, 0))) filler.push_back(pen);
  ASSERT_GT(filler.size(), 1000u);
  for (int i = 0; i < 100; ++i) {
    ::DeleteObject(filler.back());
    filler.pop_back();
  }
  const LOGFONTA lf = TestFont();
  for (int round = 0; round < 300; ++round) {
    CClientDC screen(nullptr);
    CDC memory;
    CPen pen(PS_SOLID, 1, RGB(1, 2, 3));
    CBrush brush(RGB(3, 2, 1));
    CFont font;
    CBitmap bitmap;
    ASSERT_TRUE(memory.CreateCompatibleDC(&screen)) << round;
    ASSERT_TRUE(font.CreateFontIndirect(&lf)) << round;
    ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 4, 4)) << round;
    CBitmap* old = memory.SelectObject(&bitmap);
    memory.SelectObject(&font);
    memory.SelectStockObject(SYSTEM_FONT);
    memory.SelectObject(old);
  }
  for (HPEN pen : filler) ::DeleteObject(pen);
}

TEST(Gdi, MemoryDcDrawsIntoItsBitmap) {
  CClientDC screen(nullptr);
  CDC dc;
  ASSERT_TRUE(dc.CreateCompatibleDC(&screen));
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 40, 20));
  CBitmap* old = dc.SelectObject(&bitmap);
  dc.FillSolidRect(0, 0, 40, 20, RGB(255, 255, 255));
  dc.FillSolidRect(CRect(10, 5, 20, 10), RGB(0, 0, 255));
  CPen pen(PS_SOLID, 1, RGB(255, 0, 0));
  CPen* oldPen = dc.SelectObject(&pen);
  dc.MoveTo(0, 15);
  dc.LineTo(40, 15);
  dc.SelectObject(oldPen);
  EXPECT_EQ(dc.GetPixel(0, 0), RGB(255, 255, 255));
  EXPECT_EQ(dc.GetPixel(15, 7), RGB(0, 0, 255));
  EXPECT_EQ(dc.GetPixel(20, 7), RGB(255, 255, 255));  // right edge is exclusive
  EXPECT_EQ(dc.GetPixel(39, 15), RGB(255, 0, 0));
  // The window origin moves drawing, as an off-screen buffer over a clip box needs.
  dc.SetWindowOrg(100, 100);
  dc.FillSolidRect(100, 100, 1, 1, RGB(0, 255, 0));
  dc.SetWindowOrg(0, 0);
  EXPECT_EQ(dc.GetPixel(0, 0), RGB(0, 255, 0));
  BITMAP info{};
  ASSERT_TRUE(bitmap.GetBitmap(&info));
  EXPECT_EQ(info.bmWidth, 40);
  dc.SelectObject(old);
}

TEST(Gdi, TextIsMeasuredWithTheSelectedFont) {
  CClientDC screen(nullptr);
  CFont font;
  LOGFONTA lf = TestFont();
  ASSERT_TRUE(font.CreateFontIndirect(&lf));
  LOGFONTA back{};
  ASSERT_TRUE(font.GetLogFont(&back));
  EXPECT_STREQ(back.lfFaceName, "Tahoma");
  CFont* old = screen.SelectObject(&font);
  const CSize one = screen.GetTextExtent(" X", 2);
  const CSize two = screen.GetTextExtent(CString(" XX"));
  EXPECT_GT(one.cx, 0);
  EXPECT_GT(two.cx, one.cx);
  EXPECT_EQ(one.cy, two.cy);
  CRect rect(0, 0, 1000, 0);
  EXPECT_GT(screen.DrawText(CString("a\nb"), rect, DT_CALCRECT), one.cy);
  screen.SelectObject(old);
}

TEST(Gdi, ImageListHoldsMaskedBitmaps) {
  CClientDC screen(nullptr);
  CImageList images;
  ASSERT_TRUE(images.Create(16, 16, ILC_COLOR24 | ILC_MASK, 0, 1));
  CBitmap bitmap;
  ASSERT_TRUE(bitmap.CreateCompatibleBitmap(&screen, 16, 16));
  EXPECT_EQ(images.Add(&bitmap, RGB(255, 0, 255)), 0);
  EXPECT_EQ(images.GetImageCount(), 1);
  IMAGEINFO info{};
  ASSERT_TRUE(images.GetImageInfo(0, &info));
  EXPECT_EQ(info.rcImage.right - info.rcImage.left, 16);
  EXPECT_FALSE(images.GetImageInfo(1, &info));
}

}  // namespace

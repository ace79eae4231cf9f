#include <gtest/gtest.h>

#include "TestResources.h"
#include "WfGeometry.h"
#include "WfString.h"

TEST(CString, FindMidLeftRightClampLikeTheirCallersExpect) {
  const CString s("set axwinver= 3.0.1 \r\n");
  EXPECT_EQ(s.Find("axwinver="), 4);
  EXPECT_EQ(s.Find('x'), 5);
  EXPECT_EQ(s.Find('x', 6), -1);
  EXPECT_EQ(s.Find("set", 1), -1);
  EXPECT_EQ(s.Find('s', 99), -1);
  EXPECT_EQ(s.ReverseFind('.'), 17);
  EXPECT_EQ(s.FindOneOf("\r\n"), 20);
  EXPECT_STREQ(s.Mid(14, 5), "3.0.1");
  EXPECT_STREQ(s.Mid(20), "\r\n");
  EXPECT_STREQ(s.Mid(-3, 3), "set");
  EXPECT_STREQ(s.Mid(100), "");
  EXPECT_STREQ(s.Left(3), "set");
  EXPECT_STREQ(s.Left(99), s);
  EXPECT_STREQ(s.Right(2), "\r\n");
  EXPECT_STREQ(s.Right(-1), "");
}

TEST(CString, TrimRemovesWhiteSpaceOrTheGivenCharacters) {
  struct Case {
    const char* in;
    const char* trim;  // null: white space
    const char* both;
    const char* left;
    const char* right;
  } cases[] = {
      {" \t3.0.1 \r\n", nullptr, "3.0.1", "3.0.1 \r\n", " \t3.0.1"},
      {"a; b;;", ";", "a; b", "a; b;;", "a; b"},
      {"a; b; ", ";", "a; b; ", "a; b; ", "a; b; "},
      {";;;", ";", "", "", ""},
      {"", nullptr, "", "", ""},
  };
  for (const Case& c : cases) {
    CString both(c.in), left(c.in), right(c.in);
    if (c.trim) {
      both.Trim(c.trim);
      left.TrimLeft(c.trim);
      right.TrimRight(c.trim);
    } else {
      both.Trim();
      left.TrimLeft();
      right.TrimRight();
    }
    EXPECT_STREQ(both, c.both) << c.in;
    EXPECT_STREQ(left, c.left) << c.in;
    EXPECT_STREQ(right, c.right) << c.in;
  }
}

TEST(CString, FormatGrowsPastAnyFixedBuffer) {
  CString s;
  s.Format("%d.%d.%d.%d {%d.%d.%d.%d}", 3, 0, 1, 12, 3, 0, 0, 0);
  EXPECT_STREQ(s, "3.0.1.12 {3.0.0.0}");
  const CString big('x', 20000);
  s.Format("v%s!", big.GetString());
  EXPECT_EQ(s.GetLength(), 20002);
  s.AppendFormat("%02X ", 0xAB);
  EXPECT_STREQ(s.Right(4), "!AB ");
}

TEST(CString, CompareReplaceRemoveInsertDelete) {
  CString s("Packages");
  EXPECT_TRUE(s == "Packages");
  EXPECT_FALSE(s == "packages");
  EXPECT_EQ(s.CompareNoCase("PACKAGES"), 0);
  EXPECT_LT(CString("1.10").Compare("1.9"), 0);
  EXPECT_EQ(s.Replace("a", "aa"), 2);
  EXPECT_STREQ(s, "Paackaages");
  EXPECT_EQ(s.Remove('a'), 4);
  EXPECT_STREQ(s, "Pckges");
  s.Insert(1, "a");
  s.Insert(100, '!');
  EXPECT_STREQ(s, "Packges!");
  s.Delete(7, 5);
  EXPECT_STREQ(s, "Packges");
  s.MakeUpper();
  EXPECT_STREQ(s, "PACKGES");
  EXPECT_STREQ(CString("a") + "b" + CString('c', 2), "abcc");
}

TEST(CString, BufferRoundTripStopsAtTheFirstNul) {
  CString s;
  char* buffer = s.GetBuffer(10);
  strcpy(buffer, "abc");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 3);
  buffer = s.GetBufferSetLength(5);
  memcpy(buffer, "hello", 5);
  s.ReleaseBuffer(4);
  EXPECT_STREQ(s, "hell");
}

TEST(CString, LoadStringReadsTheProgramsStringTable) {
  CString s("old");
  EXPECT_TRUE(s.LoadString(IDS_GREETING));
  EXPECT_STREQ(s, "Hello from the string table");
  EXPECT_FALSE(s.LoadString(9999));
  EXPECT_TRUE(s.IsEmpty());
}

TEST(CRect, ArithmeticMatchesWin32) {
  CRect r(10, 20, 110, 70);
  EXPECT_EQ(r.Width(), 100);
  EXPECT_EQ(r.Height(), 50);
  EXPECT_EQ(r.CenterPoint(), CPoint(60, 45));
  r.InflateRect(1, 1);
  EXPECT_EQ(r, CRect(9, 19, 111, 71));
  r.DeflateRect(0, 0, 1, 1);
  r.OffsetRect(-9, -19);
  EXPECT_EQ(r, CRect(0, 0, 101, 51));
  EXPECT_TRUE(r.PtInRect(CPoint(0, 0)));
  EXPECT_FALSE(r.PtInRect(CPoint(101, 0)));
  CRect i;
  EXPECT_FALSE(i.IntersectRect(&r, CRect(200, 200, 300, 300)));
  EXPECT_TRUE(i.IsRectEmpty());
  CRect flipped(5, 5, 0, 0);
  flipped.NormalizeRect();
  EXPECT_EQ(flipped, CRect(0, 0, 5, 5));
  EXPECT_EQ(CPoint(MAKELPARAM(-3, 7)), CPoint(-3, 7));
}

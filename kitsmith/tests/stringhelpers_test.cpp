#include "support/StringHelpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

std::string S(const _bstr_t& text) { return text.length() ? static_cast<const char*>(text) : ""; }

TEST(Fields, SplitQuotedTokensAndCounts) {
  EXPECT_EQ(S(GetNthField("a,b,c", 1, ',', false)), "b");
  EXPECT_EQ(S(GetNthField("a,b,c", 3, ',', false)), "");
  EXPECT_EQ(S(GetNthField("a, b ,c", 1, ',', true)), "b");
  EXPECT_EQ(S(GetNthField("a, b ,c", 1, ',', false)), " b ");
  EXPECT_EQ(S(GetNthField("", 0, ',', false)), "");
  EXPECT_EQ(S(GetNthField(std::string(5000, 'x').c_str(), 0, ',', false)).size(), 4096u);

  EXPECT_EQ(FindDelimiterOutsideQuotes("'a,b',c", ',', '\''), 5u);
  EXPECT_EQ(FindDelimiterOutsideQuotes("a,'b,c'", ',', '\''), 1u);
  EXPECT_EQ(FindDelimiterOutsideQuotes("'a,b", ',', '\''), std::string::npos);
  EXPECT_EQ(S(GetNthQuotedField("'x,y',\"p,q\",z", 0, ',', '\'')), "'x,y'");
  EXPECT_EQ(S(GetNthQuotedField("'x,y',\"p,q\",z", 1, ',', '\'')), "\"p,q\"");
  EXPECT_EQ(S(GetNthQuotedField("'x,y',\"p,q\",z", 2, ',', '\'')), "z");
  EXPECT_EQ(S(GetNthQuotedField("'x,y',\"p,q\",z", 3, ',', '\'')), "");

  EXPECT_EQ(GetNthFieldAsInt("1, 42 ,x", 1, ','), 42);
  EXPECT_DOUBLE_EQ(GetNthFieldAsDouble("1; 2.5e1 ;x", 1, ';'), 25.0);
  EXPECT_EQ(S(GetNthToken("a  ,b;;c", 1, " ,;", false)), "b");
  EXPECT_EQ(S(GetNthToken("a  ,b;;c", 2, " ,;", false)), "c");
  EXPECT_EQ(S(GetNthToken("a  ,b;;c", 3, " ,;", false)), "");

  EXPECT_EQ(CountFields("a,,b", ','), 3);
  EXPECT_EQ(CountFields("", ','), 0);
  EXPECT_EQ(CountFields(nullptr, ','), 0);
  EXPECT_EQ(S(TrimText(" \t x y \r\n")), "x y");
  EXPECT_EQ(S(TrimText(nullptr)), "");
}

TEST(Fields, KeyValues) {
  EXPECT_EQ(S(GetKeyValue("host = alpha ; port=139", "host", ";")), "alpha");
  EXPECT_EQ(S(GetKeyValue("host = alpha ; port=139", "port", ";")), "139");
  EXPECT_EQ(S(GetKeyValue("host alpha", "host", ";")), "");
  EXPECT_EQ(S(GetKeyValue("host=alpha", "user", ";")), "");
  EXPECT_EQ(S(GetKeyValue("host=alpha", "", ";")), "");
}

TEST(IntToText, RadixesAndLimits) {
  EXPECT_EQ(IntToText(-255, nullptr, 16), "-ff");
  EXPECT_EQ(IntToText(0, nullptr, 10), "0");
  EXPECT_EQ(IntToText(5, nullptr, 2), "101");
  EXPECT_EQ(IntToText(5, nullptr, 17), "");
  EXPECT_EQ(IntToText(5, nullptr, 1), "");
  EXPECT_EQ(IntToText(INT_MIN, nullptr, 10), "-2147483648");
  EXPECT_EQ(IntToText(INT_MAX, nullptr, 10), "2147483647");
  char buffer[32];
  const std::string binary = IntToText(INT_MIN, buffer, 2);
  EXPECT_EQ(binary, "-1" + std::string(31, '0'));
  EXPECT_EQ(std::string(buffer), binary.substr(0, 31));  // cut to the 32-byte buffer
}

TEST(FormatToBuffer, LineEndsAndSmallBuffers) {
  char buffer[16];
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), false, "%d-%s", 7, "x"), 3);
  EXPECT_STREQ(buffer, "7-x");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), true, "%s\n\n", "ab"), 4);
  EXPECT_STREQ(buffer, "ab\r\n");
  // Cut so that CR LF and the NUL still fit.
  EXPECT_EQ(FormatToBuffer(buffer, 8, true, "%s", "abcdefghij"), 7);
  EXPECT_STREQ(buffer, "abcde\r\n");
  EXPECT_EQ(FormatToBuffer(buffer, sizeof(buffer), true, ""), 0);
  EXPECT_STREQ(buffer, "");

  char tiny[3] = {'q', 'q', 'q'};
  EXPECT_EQ(FormatToBuffer(tiny, 2, true, "%s", "a"), 0);
  EXPECT_EQ(tiny[0], 'q');
  EXPECT_EQ(FormatToBuffer(tiny, 0, false, "%s", "a"), 0);
  EXPECT_EQ(tiny[0], 'q');
  EXPECT_EQ(FormatToBuffer(tiny, 3, true, "%s", "a"), 0);  // nothing but the line end would fit
}

TEST(EnsureTrailingCrLf, Normalises) {
  const std::pair<const char*, const char*> cases[] = {
      {"abc\n\n", "abc\r\n"}, {"abc", "abc\r\n"}, {"abc\r\n", "abc\r\n"},
      {"abc\n\r\n", "abc\r\n"}, {"abc\r", "abc\r\r\n"},
  };
  for (const auto& [in, out] : cases) {
    char buffer[32];
    strcpy(buffer, in);
    EXPECT_EQ(EnsureTrailingCrLf(buffer, sizeof(buffer)), static_cast<int>(strlen(out))) << in;
    EXPECT_STREQ(buffer, out);
  }
  char full[6] = "abcde";
  EXPECT_EQ(EnsureTrailingCrLf(full, sizeof(full)), 5);
  EXPECT_STREQ(full, "abc\r\n");
  char empty[4] = "";
  EXPECT_EQ(EnsureTrailingCrLf(empty, sizeof(empty)), 0);
}

TEST(Registry, WritersAndExistence) {
  const char* key = "Software\\KitsmithTest\\Helpers";
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KitsmithTest");
  EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, key, nullptr));
  ASSERT_TRUE(WriteRegistryInt(HKEY_CURRENT_USER, key, "Count", -12));
  EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, key, nullptr));
  EXPECT_TRUE(RegistryValueExists(HKEY_CURRENT_USER, key, "Count"));
  EXPECT_FALSE(RegistryValueExists(HKEY_CURRENT_USER, key, "Missing"));
  char value[16] = {};
  DWORD size = sizeof(value);
  ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, key, "Count", RRF_RT_REG_SZ, nullptr, value, &size), ERROR_SUCCESS);
  EXPECT_STREQ(value, "-12");
  EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, key, "Empty", nullptr));
  EXPECT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, "Software\\KitsmithTest\\Other"));
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KitsmithTest");
}

}  // namespace

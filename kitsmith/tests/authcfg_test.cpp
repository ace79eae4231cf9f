#include "options/AuthCfg.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace AuthCfg;

namespace {

std::wstring Set(CfgSet& set, const char* id, const wchar_t* text) {
  OptionThunkT* option = set.Find(id);
  EXPECT_NE(option, nullptr) << id;
  EXPECT_TRUE(option->SetFromText(text, kEditor));
  EXPECT_EQ(option->source, kEditor);
  return option->ToText();
}

TEST(OptionModel, DefaultsInRegistrationOrder) {
  CfgSet set;
  EXPECT_TRUE(set.Empty());
  set.ResetToDefaults();
  ASSERT_EQ(set.Size(), 23u);
  const char* ids[] = {"RA", "RP", "CF", "LD", "UQ", "UM", "UT", "RH", "RX", "RW", "RM", "LE",
                       "LF", "LC", "CR", "CS", "UU", "UN", "UG", "UD", "UL", "UC", "WI"};
  const wchar_t* texts[] = {L"", L"139", L"", L"1", L"", L"", L"255", L"42000", L"40000", L"60000", L"2.000000", L"0",
                            L"", L"-1", L"0", L"2", L"", L"", L"", L"", L"", L"", L""};
  const int types[] = {7, 3, 7, 5, 7, 7, 2, 5, 5, 5, 6, 1, 7, 5, 5, 5, 7, 7, 7, 7, 7, 7, 7};
  const int categories[] = {1, 1, 4, 2, 3, 3, 3, 1, 1, 1, 1, 2, 2, 2, 4, 4, 3, 3, 3, 3, 3, 3, 3};
  size_t i = 0;
  for (const auto& option : set) {
    EXPECT_EQ(std::string(option->id), ids[i]);
    EXPECT_EQ(option->ToText(), texts[i]) << ids[i];
    EXPECT_EQ(option->type, types[i]) << ids[i];
    EXPECT_EQ(option->category, categories[i]) << ids[i];
    EXPECT_EQ(option->level, i < 4 ? kBasic : kAdvanced) << ids[i];
    EXPECT_EQ(option->source, kDefault);
    ++i;
  }
  EXPECT_EQ(std::wstring(set.Find("LC")->description),
            L"Bitmap of logging categories to enable (Windows only.  -1 = 'all')");
  // A second reset replaces the options, it does not add to them.
  Set(set, "RP", L"1");
  set.ResetToDefaults();
  EXPECT_EQ(set.Size(), 23u);
  EXPECT_EQ(set.TextById("RP"), L"139");
}

TEST(OptionModel, Conversions) {
  CfgSet set;
  set.ResetToDefaults();
  const struct {
    const char* id;
    const wchar_t* text;
    const wchar_t* result;
  } cases[] = {
      {"RP", L"70000", L"4464"},        {"UT", L"-1", L"255"},         {"UT", L"abc", L"0"},
      {"RH", L"4294967295", L"2147483647"}, {"RH", L"-1", L"-1"},       {"RH", L"-99999999999", L"-2147483648"},
      {"RH", L"  +12x", L"12"},         {"RM", L"2.5x", L"2.500000"}, {"RM", L"", L"0.000000"},
      {"RM", L" -1e2", L"-100.000000"}, {"RM", L"1e", L"1.000000"},   {"RM", L"inf", L"0.000000"},
      {"RM", L".5", L"0.500000"},       {"LE", L"2", L"1"},           {"LE", L"true", L"0"},
      {"RA", L"a;b ] [", L"a;b ] ["},
  };
  for (const auto& c : cases) EXPECT_EQ(Set(set, c.id, c.text), c.result) << c.id << " " << c.text;
  EXPECT_EQ(static_cast<UShortOption*>(set.Find("RP"))->value, 4464);
  Set(set, "RH", L"-1");
  EXPECT_EQ(static_cast<DWordOption*>(set.Find("RH"))->value, 4294967295u);
}

// Infinity would be written "inf", which the tool reads back as 0 and an agent as infinity:
// such a number is refused and the option keeps its value and source.
TEST(OptionModel, NumbersThatAreNotFiniteAreRefused) {
  CfgSet set;
  set.ResetToDefaults();
  OptionThunkT* rm = set.Find("RM");
  for (const wchar_t* text : {L"1e999", L"-1e999", L" 2e308x"}) {
    EXPECT_FALSE(rm->SetFromText(text, kEditor)) << text;
    EXPECT_EQ(rm->ToText(), L"2.000000") << text;
    EXPECT_EQ(rm->source, kDefault) << text;
  }
  EXPECT_EQ(Set(set, "RM", L"1.7976931348623157e308").size(), 316u);  // the largest finite number
  EXPECT_EQ(Set(set, "RM", L"1e-999"), L"0.000000");
}

TEST(OptionModel, FindCloneAndCompare) {
  CfgSet a;
  a.ResetToDefaults();
  EXPECT_EQ(a.Find("ra"), nullptr);
  EXPECT_EQ(a.Find("R"), nullptr);
  EXPECT_EQ(a.TextById("ZZ"), L"");

  CfgSet b;
  Set(a, "RA", L"host1;host2");
  a.CloneInto(b);
  ASSERT_EQ(b.Size(), 23u);
  EXPECT_NE(b.Find("RA"), a.Find("RA"));
  EXPECT_EQ(b.TextById("RA"), L"host1;host2");
  EXPECT_EQ(b.Find("RA")->source, kEditor);
  EXPECT_FALSE(a.Differs(b));
  EXPECT_FALSE(a.Differs(a));

  // The source takes part.
  b.Find("CR")->SetFromText(L"0", kConfigFile);
  EXPECT_TRUE(a.Differs(b));
  EXPECT_FALSE(OptionEquals(*a.Find("CR"), *b.Find("CR")));

  // A shorter set alone is no difference.
  CfgSet shorter;
  for (const auto& option : a)
    if (shorter.Size() < 22) shorter.Add(option->Clone());
  EXPECT_FALSE(a.Differs(shorter));
  EXPECT_FALSE(shorter.Differs(a));
  EXPECT_EQ(shorter.Add(nullptr), nullptr);
  EXPECT_EQ(shorter.Size(), 22u);
}

TEST(OptionModel, NameTables) {
  EXPECT_STREQ(TypeName(7), L"WString");
  EXPECT_STREQ(TypeName(4), L"Int");
  EXPECT_STREQ(TypeName(0), L"NULL");
  EXPECT_STREQ(TypeName(8), L"INVALID TYPE!");
  EXPECT_STREQ(TypeName(-1), L"INVALID TYPE!");
  EXPECT_STREQ(CategoryName(3), L"User/Computer identity");
  EXPECT_STREQ(CategoryName(5), L"!Unknown category!");
  EXPECT_STREQ(SourceName(2), L"Config file");
  EXPECT_STREQ(SourceName(0), L"Unknown source!");
  EXPECT_STREQ(SourceName(6), L"Unknown source!");
}

TEST(OptionModel, DumpInBothLineEndModes) {
  CfgSet set;
  set.ResetToDefaults();
  set.Find("RP")->SetFromText(L"140", kConfigFile);
  const std::wstring second =
      L"\n- - - - Option #2: - - - - - - - - - \n   Name: RP\n   Desc: Server host port number.\n"
      L"   Type: UShort\n   Value: 140\n   Source: Config file\n";
  std::wostringstream lf;
  CfgSet::Dump(lf, set, false);
  EXPECT_EQ(lf.str().substr(0, lf.str().find(L"\n- - - - Option #2")),
            L"\n- - - - Option #1: - - - - - - - - - \n   Name: RA\n   Desc: Server host address or name; e.g. "
            L"\"10.1.2.3\". May contain a list of hosts, see documentation.\n   Type: WString\n   Value: \n"
            L"   Source: Default\n");
  EXPECT_NE(lf.str().find(second), std::wstring::npos);
  EXPECT_NE(lf.str().find(L"Option #23: "), std::wstring::npos);

  std::wostringstream crlf;
  CfgSet::Dump(crlf, set, true);
  std::wstring expected = second;
  for (size_t at = 0; (at = expected.find(L'\n', at)) != std::wstring::npos; at += 2) expected.insert(at, 1, L'\r');
  EXPECT_NE(crlf.str().find(expected), std::wstring::npos);
}

}  // namespace

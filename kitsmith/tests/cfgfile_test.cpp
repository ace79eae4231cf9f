#include "options/CfgFile.h"

#include <gtest/gtest.h>

#include <sstream>

#include "KitTestSupport.h"
#include "packages/MaintWorkflow.h"
#include "support/KitUtilities.h"
#include "tests/ConfigWriterCases.h"

using namespace AuthCfg;

namespace {

struct ParseCase {
  const wchar_t* text;
  bool success;
  int count;
  const wchar_t* error;
  const wchar_t* ra;  // RA afterwards (it starts as "old")
  const wchar_t* rp;  // RP afterwards (it starts as 139)
};

TEST(CfgParser, Table) {
  const ParseCase cases[] = {
      {L"", true, 0, L"", L"old", L"139"},
      {L" \t\r\n\v\f", true, 0, L"", L"old", L"139"},
      {L"RP[140]RA[a;b]", true, 2, L"", L"a;b", L"140"},
      {L"RA", true, 1, L"", L"", L"139"},
      {L"RAX[1]", false, 1, L"Expected option ID, found: X[1]", L"", L"139"},
      {L"ra[x]", false, 0, L"Expected option ID, found: ra[x]", L"old", L"139"},
      {L"RP [141] {port} ", true, 1, L"", L"old", L"141"},
      {L"{c} RP[1]", false, 0, L"Expected option ID, found: {c} RP[1]", L"old", L"139"},
      {L"RA[a", false, 0, L"Error, expected closing bracket ']' at: [a", L"old", L"139"},
      {L"RA[a]{b", false, 0, L"Error, expected closing brace '}' at: {b", L"old", L"139"},
      {L"RA[ x\r\n[{ ]", true, 1, L"", L" x\r\n[{ ", L"139"},
      {L"RP[5] R", false, 1, L"Expected option ID, found: R", L"old", L"5"},
      {L"RP[5]\x00c4Z[1]", false, 1, L"Expected option ID, found: \x00c4Z[1]", L"old", L"5"},
      {L"RP[6] RM[1e999] RA[x]", true, 2, L"", L"x", L"6"},  // a refused value: the parse goes on
  };
  for (const auto& c : cases) {
    CfgSet set;
    set.ResetToDefaults();
    set.Find("RA")->SetFromText(L"old", kEditor);
    CfgParser parser(set, c.text, kConfigFile);
    EXPECT_EQ(parser.success, c.success) << c.text;
    EXPECT_EQ(parser.count, c.count) << c.text;
    EXPECT_EQ(parser.error, c.error) << c.text;
    EXPECT_EQ(set.TextById("RA"), c.ra) << c.text;
    EXPECT_EQ(set.TextById("RP"), c.rp) << c.text;
  }
}

TEST(CfgParser, UnknownIdsWarnAndUninitialisedSetsFail) {
  CfgSet set;
  CfgParser empty(set, L"RP[1]", kConfigFile);
  EXPECT_FALSE(empty.success);
  EXPECT_EQ(empty.error, L"ERROR: Cannot parse a CfgSet which has not been initialized\n");

  set.ResetToDefaults();
  CfgParser parser(set, L"ZZ[1] RP[5] YY", kConfigFile);
  EXPECT_TRUE(parser.success);
  EXPECT_EQ(parser.count, 1);
  EXPECT_EQ(parser.warnings.str(), L"WARNING: Ignoring unknown option 'ZZ'\nWARNING: Ignoring unknown option 'YY'\n");
  EXPECT_EQ(set.Find("RP")->source, kConfigFile);

  CfgEntry entry = parser.ParseEntry(5);
  EXPECT_TRUE(entry.ok);
  EXPECT_STREQ(entry.id, "RP");
  EXPECT_EQ(entry.value, L"5");
  EXPECT_EQ(entry.next, 11u);
}

// A value its option refuses is listed; the option keeps what it had and the parse goes on.
TEST(CfgParser, RefusedValuesAreListedAndTheRestIsRead) {
  CfgSet set;
  set.ResetToDefaults();
  set.Find("RM")->SetFromText(L"3", kEditor);
  CfgParser parser(set, L"RM[1e999] RP[7] RM [ -1e999x]{c} LD[2]", kConfigFile);
  EXPECT_TRUE(parser.success);
  EXPECT_EQ(parser.error, L"");
  EXPECT_EQ(parser.count, 2);
  ASSERT_EQ(parser.refused.size(), 2u);
  EXPECT_STREQ(parser.refused[0].id, "RM");
  EXPECT_EQ(parser.refused[0].value, L"1e999");
  EXPECT_EQ(parser.refused[1].value, L" -1e999x");
  EXPECT_EQ(set.TextById("RM"), L"3.000000");
  EXPECT_EQ(set.Find("RM")->source, kEditor);
  EXPECT_EQ(set.TextById("RP"), L"7");
  EXPECT_EQ(set.TextById("LD"), L"2");
  EXPECT_EQ(parser.warnings.str(), L"");
}

std::string Written(const CfgSet& set) {
  std::ostringstream out;
  CfgWriter writer(set, out);
  EXPECT_TRUE(writer.done) << writer.error;
  return out.str();
}

TEST(CfgWriter, ExactOutput) {
  CfgSet set;
  set.ResetToDefaults();
  EXPECT_EQ(Written(set), "CS[2] CR[0] ");

  CfgParser parser(set, L"CS[7] RP[139] RA[host1:139;host2] CR[3] LC[-1] RM[2.5] UU[\x00e9]", kConfigFile);
  ASSERT_TRUE(parser.success);
  EXPECT_EQ(Written(set), "CS[2] CR[3] RA[host1:139;host2] RP[139] RM[2.500000] LC[-1] UU[\xe9] ");

  set.Find("RA")->SetFromText(L"a]b", kEditor);
  std::ostringstream out;
  CfgWriter refused(set, out);
  EXPECT_FALSE(refused.done);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(refused.error.find("'RA'"), std::string::npos);
}

TEST(CfgText, DetectEncoding) {
  const struct {
    const char* bytes;
    size_t length;
    int code;
  } cases[] = {
      {"", 0, 0},          {"R", 1, 0},           {"\xfe\xff", 2, 3},      {"\xff\xfe", 2, 2},
      {"R\0P\0", 4, 2},    {"R\0P", 3, 0},        {"RP", 2, 1},            {"\0R\0P", 4, 0},
      {"RP[1]", 5, 1},     {"R\0\0\0", 4, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DetectTextEncoding(reinterpret_cast<const unsigned char*>(c.bytes), c.length), c.code) << c.length;
}

class CfgFileTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir_ / name; }
  void Write(const char* name, const std::string& bytes) const { WriteTextFile(Path(name), bytes); }
  std::string Read(const char* name) const { return ReadTextFile(Path(name)); }

  ScratchDir dir_;
};

// The text as 16-bit units in either byte order.
std::string Utf16(const std::wstring& text, bool bigEndian) {
  std::string bytes;
  for (wchar_t c : text) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

TEST_F(CfgFileTest, LoadsEveryEncoding) {
  const struct {
    std::string bytes;
    bool success;
    const wchar_t* rp;
  } cases[] = {
      {"RP[140] LD[3", false, L"140"},
      {"LD[3] RP[1]", true, L"1"},  // odd length: the last byte counts
      {std::string("RP[141]\0RP[9]", 13), true, L"141"},  // 8-bit text ends at its first NUL
      {Utf16(L"\xfeffRP[142]", false), true, L"142"},
      {Utf16(L"RP[143]", false) + "!", true, L"143"},  // no mark; the odd byte is dropped
      {Utf16(L"\xfeffRP[144]", true), true, L"144"},
      {Utf16(std::wstring(L"RP[7]\0RP[8]", 11), false), true, L"7"},
      {"R", false, L"139"},
      {"RP", true, L"0"},
      {"RP[", false, L"139"},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string name = "case" + std::to_string(n++) + ".cfg";
    Write(name.c_str(), c.bytes);
    CfgSet set;
    set.ResetToDefaults();
    CfgFile::Load load(set, Path(name.c_str()));
    EXPECT_EQ(load.success, c.success) << name;
    EXPECT_EQ(set.TextById("RP"), c.rp) << name;
    if (!c.success) {
      EXPECT_EQ(load.error.rfind(L"Error parsing file " + Widen(Path(name.c_str())) + L": ", 0), 0u);
    }
  }
}

// A fingerprint is what the reader makes of a file: line ends, encoding and comments do not
// change it; another value, or a default value written out, does. A file that is missing or
// does not parse has none.
TEST_F(CfgFileTest, FingerprintsTellConfigurationsApart) {
  const std::string saved = "CS[2] CR[5] RA[10.0.0.1] RP[139] ";
  Write("saved.cfg", saved);
  const std::string fingerprint = CfgFile::Fingerprint(Path("saved.cfg"));
  ASSERT_EQ(fingerprint.size(), 16u);
  const struct {
    const char* what;
    std::string bytes;
    bool same;
  } cases[] = {{"line ends", "CS[2]\r\nCR[5]\r\nRA[10.0.0.1]\r\nRP[139]\r\n", true},
               {"comments", "CS[2] CR[5]{saved by the kit} RA[10.0.0.1] {servers} RP[139]", true},
               {"UTF-16", Utf16(L"\xfeff" + Widen(saved), false), true},
               {"another revision", "CS[2] CR[6] RA[10.0.0.1] RP[139] ", false},
               {"another server", "CS[2] CR[5] RA[10.0.0.2] RP[139] ", false},
               {"a default left out", "CS[2] CR[5] RA[10.0.0.1] ", false}};
  for (const auto& c : cases) {
    Write("variant.cfg", c.bytes);
    EXPECT_EQ(CfgFile::Fingerprint(Path("variant.cfg")) == fingerprint, c.same) << c.what;
  }
  Write("garbled.cfg", "CS[2] CR[5");
  EXPECT_EQ(CfgFile::Fingerprint(Path("garbled.cfg")), "");
  EXPECT_EQ(CfgFile::Fingerprint(Path("missing.cfg")), "");
}

TEST_F(CfgFileTest, MissingFileLeavesTheSetAlone) {
  CfgSet set;
  set.ResetToDefaults();
  set.Find("RP")->SetFromText(L"7", kEditor);
  const std::string path = Path("missing.cfg");
  CfgFile::Load load(set, path);
  EXPECT_FALSE(load.success);
  EXPECT_EQ(load.error, L"Error reading file " + Widen(path) + L": File not found: " + Widen(path));
  EXPECT_EQ(set.TextById("RP"), L"7");
}

// One value the tool refuses costs only itself: the file's other values load, the option
// keeps its default (or what the file set before it), and the log names the option and the
// text it refused.
TEST_F(CfgFileTest, ARefusedValueLeavesTheRestOfTheFileLoaded) {
  LogCapture log;
  Write("kit.cfg", "CS[2] CR[4] RA[10.0.0.1; 10.0.0.2] RM[1e999] RH[30000] LC[7] ");
  CfgSet set;
  CfgFile::Load load(set, Path("kit.cfg"));
  ASSERT_TRUE(load.success) << Narrow(load.error);
  EXPECT_EQ(load.error, L"");
  EXPECT_EQ(set.TextById("RA"), L"10.0.0.1; 10.0.0.2");
  EXPECT_EQ(set.TextById("CR"), L"4");
  EXPECT_EQ(set.TextById("RH"), L"30000");
  EXPECT_EQ(set.TextById("LC"), L"7");
  EXPECT_EQ(set.TextById("RM"), L"2.000000");
  EXPECT_EQ(set.Find("RM")->source, kDefault);
  ASSERT_EQ(load.refused.size(), 1u);
  EXPECT_EQ(load.refused[0].value, L"1e999");
  EXPECT_TRUE(log.Contains("WARNING: Option 'RM' in " + Path("kit.cfg") +
                           " cannot take the value '1e999': it keeps its default 2.000000\r\n"))
      << log.Text();

  // A value refused after the same option was read keeps the earlier one.
  Write("twice.cfg", "RM[2.5] RM[-1e999]");
  CfgFile::Load twice(set, Path("twice.cfg"));
  ASSERT_TRUE(twice.success);
  EXPECT_EQ(set.TextById("RM"), L"2.500000");
  EXPECT_TRUE(log.Contains("WARNING: Option 'RM' in " + Path("twice.cfg") +
                           " cannot take the value '-1e999': it keeps the value set before it, 2.500000"))
      << log.Text();
}

TEST_F(CfgFileTest, SaveAndLoadRoundTrip) {
  CfgSet set;
  set.ResetToDefaults();
  set.Find("RA")->SetFromText(L"host1:139;host2", kEditor);
  set.Find("RM")->SetFromText(L"3.25", kEditor);
  set.Find("CR")->SetFromText(L"99999", kEditor);
  CfgFile::Save save(set, Widen(Path("kit.cfg")));
  ASSERT_TRUE(save.success) << Narrow(save.error);
  EXPECT_EQ(Read("kit.cfg"), "CS[2] CR[99999] RA[host1:139;host2] RM[3.250000] ");

  CfgSet loaded;
  CfgFile::Load load(loaded, Path("kit.cfg"));
  ASSERT_TRUE(load.success);
  EXPECT_EQ(loaded.TextById("RA"), L"host1:139;host2");
  EXPECT_EQ(loaded.Find("RA")->source, kConfigFile);
  EXPECT_EQ(loaded.Find("RP")->source, kDefault);
  // Written again: the same bytes.
  CfgFile::Save again(loaded, Path("again.cfg"));
  ASSERT_TRUE(again.success);
  EXPECT_EQ(Read("again.cfg"), Read("kit.cfg"));
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(Path("*.tmp").c_str(), &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE);  // no temporary file is left behind
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(CfgFileTest, RefusedSavesLeaveTheOldFileWhole) {
  Write("kit.cfg", "CS[2] CR[1] RP[140] ");
  CfgSet set;
  set.ResetToDefaults();

  set.Find("RA")->SetFromText(L"a]b", kEditor);
  CfgFile::Save bracket(set, Path("kit.cfg"));
  EXPECT_FALSE(bracket.success);
  EXPECT_NE(bracket.error.find(L"'RA'"), std::wstring::npos);

  set.Find("RA")->SetFromText(std::wstring(258, L'h'), kEditor);
  CfgFile::Save tooLong(set, Path("kit.cfg"));
  EXPECT_FALSE(tooLong.success);
  EXPECT_NE(tooLong.error.find(L"'RA' is longer than 257 characters"), std::wstring::npos) << Narrow(tooLong.error);
  set.Find("RA")->SetFromText(std::wstring(257, L'h'), kEditor);
  set.Find("LD")->SetFromText(L"3000000000", kEditor);  // written as 2147483647: too long for the agents
  CfgFile::Save ld(set, Path("kit.cfg"));
  EXPECT_NE(ld.error.find(L"'LD' is longer than 4 characters"), std::wstring::npos) << Narrow(ld.error);
  EXPECT_EQ(Read("kit.cfg"), "CS[2] CR[1] RP[140] ");

  set.Find("LD")->SetFromText(L"4", kEditor);
  SetFileAttributesA(Path("kit.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
  CfgFile::Save readOnly(set, Path("kit.cfg"));
  EXPECT_FALSE(readOnly.success);
  EXPECT_EQ(readOnly.error, L"Error writing file " + Widen(Path("kit.cfg")) + L": Unable to open file");
  EXPECT_EQ(Read("kit.cfg"), "CS[2] CR[1] RP[140] ");

  CfgFile::Save noFolder(set, Path("no\\such\\kit.cfg"));
  EXPECT_FALSE(noFolder.success);
  EXPECT_EQ(noFolder.error.substr(noFolder.error.size() - 19), L"Unable to open file");
}

// The shared table: what the tool writes for each case, byte for byte (both agents' tests read
// the same text), and that its own reader gets every value back.
TEST_F(CfgFileTest, WriterCasesAreWrittenAsTheAgentsExpectAndReadBack) {
  int n = 0;
  for (const ConfigWriterCase& c : kConfigWriterCases) {
    const std::string path = Path(("writer" + std::to_string(n++) + ".cfg").c_str());
    SCOPED_TRACE(path);
    CfgSet set;
    set.ResetToDefaults();
    std::wistringstream edits(c.edits);
    for (std::wstring line; std::getline(edits, line);) {
      AuthCfg::OptionThunkT* option = set.Find(Narrow(line.substr(0, 2)).c_str());
      ASSERT_NE(option, nullptr) << Narrow(line);
      ASSERT_TRUE(option->SetFromText(line.substr(3), kEditor)) << Narrow(line);
    }

    const CfgFile::Save save(set, path);
    if (c.refused) {
      EXPECT_FALSE(save.success);
      EXPECT_NE(save.error.find(Widen(std::string("option '") + c.refused + "'")), std::wstring::npos)
          << Narrow(save.error);
      EXPECT_FALSE(PathExists(path));  // nothing is written
      continue;
    }
    ASSERT_TRUE(save.success) << Narrow(save.error);
    EXPECT_EQ(ReadTextFile(path), c.read.text);

    CfgSet loaded;
    const CfgFile::Load load(loaded, path);
    ASSERT_TRUE(load.success) << Narrow(load.error);
    for (const auto& option : set) {
      if (option->source == kDefault || std::string(option->id) == "CS") continue;
      EXPECT_EQ(loaded.TextById(option->id), option->ToText()) << option->id;
      EXPECT_EQ(loaded.Find(option->id)->source, kConfigFile) << option->id;
    }
    const std::string again = path + ".again";
    ASSERT_TRUE(CfgFile::Save(loaded, again).success);
    EXPECT_EQ(ReadTextFile(again), c.read.text);
  }
}

TEST_F(CfgFileTest, ValuesThatCannotBeWrittenAreNamedAndNothingIsWritten) {
  CfgSet set;
  set.ResetToDefaults();
  set.Find("RA")->SetFromText(L"10.0.0.1", kEditor);
  // A NUL would end the 8-bit text for every reader.
  set.Find("UN")->SetFromText(std::wstring(L"a\0b", 3), kEditor);
  std::ostringstream out;
  CfgWriter writer(set, out);
  EXPECT_FALSE(writer.done);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(writer.error, "Value of option 'UN' holds the character U+0000, which the configuration file cannot hold");

  // A UTF-16 file may bring such a value: it loads, and saving it is refused by name.
  Write("wide.cfg", Utf16(L"\xfeffRA[10.0.0.1] UQ[cn=\x015d]", false));
  CfgSet loaded;
  ASSERT_TRUE(CfgFile::Load(loaded, Path("wide.cfg")).success);
  EXPECT_EQ(loaded.TextById("UQ"), L"cn=\x015d");
  Write("kit.cfg", "CS[2] CR[1] ");
  const CfgFile::Save save(loaded, Path("kit.cfg"));
  EXPECT_FALSE(save.success);
  EXPECT_EQ(save.error, L"Error writing file " + Widen(Path("kit.cfg")) +
                            L": Value of option 'UQ' holds the character U+015D, which the configuration file "
                            L"cannot hold");
  EXPECT_EQ(Read("kit.cfg"), "CS[2] CR[1] ");
}

// The package view declares the encoding its bytes are in: each character's own byte.
TEST_F(CfgFileTest, ViewDeclaresItsEncoding) {
  CfgSet set;
  set.ResetToDefaults();
  set.Find("UQ")->SetFromText(L"cn=Ren\u00e9" L"e", kEditor);
  ASSERT_TRUE(WriteCfgView(set, Path("view.html")));
  const std::string view = Read("view.html");
  const size_t head = view.find("<head>\r\n");
  EXPECT_EQ(view.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\" />\r\n"),
            head + 8);
  EXPECT_NE(view.find("<td>cn=Ren\xe9" "e</td>"), std::string::npos);
}

}  // namespace

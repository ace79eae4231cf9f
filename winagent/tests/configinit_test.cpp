#include "config/ConfigInit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestSupport.h"

namespace {

const wchar_t kRegistryKey[] = L"SOFTWARE\\Qel Security\\Identra";

std::wstring DefaultFile() { return ProgramFolder() + L"\\idagent.cfg"; }

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HandleHolder file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.Valid()) << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

// The field named by a key, as text, so that one table can check any key.
std::wstring FieldText(const std::wstring& key) {
  const AgentConfig& c = g_Config;
  if (key == L"RA") return c.RA;
  if (key == L"LF") return c.LF;
  if (key == L"CF") return c.CF;
  if (key == L"RP") return std::to_wstring(c.RP);
  if (key == L"RH") return std::to_wstring(c.RH);
  if (key == L"RX") return std::to_wstring(c.RX);
  if (key == L"RW") return std::to_wstring(c.RW);
  if (key == L"NP") return std::to_wstring(c.NP);
  if (key == L"LE") return std::to_wstring(c.LE);
  if (key == L"LC") return std::to_wstring(c.LC);
  if (key == L"LD") return std::to_wstring(c.LD);
  if (key == L"CS") return std::to_wstring(c.CS);
  if (key == L"CR") return std::to_wstring(c.CR);
  if (key == L"UT") return std::to_wstring(c.UT);
  if (key == L"RM") return std::isinf(c.RM) ? L"inf" : std::to_wstring(c.RM);
  auto templ = [](const IdentityField& f) { return std::to_wstring(f.source) + L":" + f.value; };
  if (key == L"UQ") return templ(c.Identity.UserDNTemplate);
  if (key == L"UM") return templ(c.Identity.ComputerDNTemplate);
  if (key == L"filled") return c.Identity.filled ? L"1" : L"0";
  ADD_FAILURE() << "no such key in the table helper";
  return L"";
}

// HKLM "BaseConfig" for the length of one test; the keys it had to create are removed again.
class BaseConfigValue {
 public:
  BaseConfigValue(DWORD type, const std::wstring& data) {
    DWORD disposition = 0;
    HKEY parent = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qel Security", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &parent, &disposition),
              ERROR_SUCCESS);
    createdParent_ = disposition == REG_CREATED_NEW_KEY;
    EXPECT_EQ(RegCreateKeyExW(parent, L"Identra", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, &disposition),
              ERROR_SUCCESS);
    createdKey_ = disposition == REG_CREATED_NEW_KEY;
    RegCloseKey(parent);
    EXPECT_EQ(RegSetValueExW(key_, L"BaseConfig", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  ~BaseConfigValue() {
    RegDeleteValueW(key_, L"BaseConfig");
    RegCloseKey(key_);
    if (createdKey_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRegistryKey);
    if (createdParent_) RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qel Security");
  }
  BaseConfigValue(const BaseConfigValue&) = delete;
  BaseConfigValue& operator=(const BaseConfigValue&) = delete;

 private:
  HKEY key_ = nullptr;
  bool createdParent_ = false;
  bool createdKey_ = false;
};

class ConfigInitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_Config = AgentConfig{};
    g_ConfigValid = false;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"configinit_test_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    SetLogPathOverride(folder_ + L"\\trace.log");
    // Every line passes the filter, whatever LC and LD hold.
    SetDebuggerQuery([] { return true; });
    SetTraceCapture([this](int, const std::wstring& line) { lines_.push_back(line); });
  }

  void TearDown() override {
    SetTraceCapture({});
    SetDebuggerQuery(nullptr);
    SetLogPathOverride(L"");
    DeleteFileW(DefaultFile().c_str());
    for (const std::wstring& name : created_) DeleteFileW(name.c_str());
    DeleteFileW((folder_ + L"\\trace.log").c_str());
    DeleteFileW((folder_ + L"\\trace.log_ge201").c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  std::wstring TempFile(const std::wstring& name, const std::string& bytes) {
    std::wstring path = folder_ + L"\\" + name;
    WriteBytes(path, bytes);
    created_.push_back(path);
    return path;
  }

  bool Logged(const std::wstring& line) const {
    for (const std::wstring& l : lines_)
      if (l == line) return true;
    return false;
  }
  bool LoggedPart(const std::wstring& part) const {
    for (const std::wstring& l : lines_)
      if (l.find(part) != std::wstring::npos) return true;
    return false;
  }
  std::wstring AllLines() const {
    std::wstring all;
    for (const std::wstring& l : lines_) all += l + L"\n";
    return all;
  }

  std::wstring folder_;
  std::vector<std::wstring> created_;
  std::vector<std::wstring> lines_;
};

// ---------------------------------------------------------------------------------------------
// The reader, one text at a time, after the defaults text.

struct ParseCase {
  const wchar_t* text;
  HRESULT hr;
  const wchar_t* key;       // field to look at afterwards
  std::wstring expected;    // its value as text
  const wchar_t* errorLine; // the one CONFIG ERROR line expected, or nullptr for none
};

TEST_F(ConfigInitTest, ParserTable) {
  const std::wstring ra257(257, L'a');
  const std::wstring lf521(521, L'f');
  const std::wstring ra257Text = L"RA[" + ra257 + L"]";
  const std::wstring ra258Text = L"RA[" + ra257 + L"b]";
  const std::wstring lf521Text = L"LF[" + lf521 + L"]";

  const ParseCase cases[] = {
      {L"RA[10.0.0.1]", S_OK, L"RA", L"10.0.0.1", nullptr},
      {L"ra[10.0.0.1]", S_OK, L"RA", L"10.0.0.1", nullptr},
      {L"rA[10.0.0.1]\r\n\t rp[141]", S_OK, L"RP", L"141", nullptr},
      {L";RA[10.0.0.1]", S_OK, L"RA", L"0.0.0.0", nullptr},
      // A commented-out entry is dropped unlooked-at, whatever its key.
      {L";XX[1]RP[140]", S_OK, L"RP", L"140", nullptr},
      {L";RA[10.0.0.1", E_FAIL, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Expected ']' to follow parameter RA at position 12. But end of config data reached"},
      {L"RA [10.0.0.1]", E_FAIL, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Expected '[' to follow parameter RA at position 2Aborting parse due to syntax error."},
      {L"RP[140] R", E_FAIL, L"RP", L"140",
       L"ConfigInit: CONFIG ERROR: Expected '[' to follow parameter R at position 10Aborting parse due to syntax error."},
      {L"{a comment RA[1.1.1.1]} RP[140]", S_OK, L"RP", L"140", nullptr},
      {L"{a comment} RA[1.1.1.1]", S_OK, L"RA", L"1.1.1.1", nullptr},
      {L"RP[140] {never closed RP[150]", S_OK, L"RP", L"140", nullptr},
      {L"XX[1]RP[140]", S_OK, L"RP", L"140",
       L"ConfigInit: CONFIG ERROR: Unknown config parameter 'XX' at position0 ignored."},
      {L"RP[140] xq[1]", S_OK, L"RP", L"140",
       L"ConfigInit: CONFIG ERROR: Unknown config parameter 'xq' at position8 ignored."},
      // Keys are ASCII: a character whose low byte spells a key letter matches nothing, and
      // a message names it by its code, which the 8-bit log file keeps.
      {L"\u0152\u0141[10.0.0.1]", S_OK, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Unknown config parameter '\\u0152\\u0141' at position0 ignored."},
      {L"\u0152p[140]", S_OK, L"RP", L"139",
       L"ConfigInit: CONFIG ERROR: Unknown config parameter '\\u0152p' at position0 ignored."},
      {L"\u00e9x[1]", S_OK, L"RP", L"139",
       L"ConfigInit: CONFIG ERROR: Unknown config parameter '\\u00E9x' at position0 ignored."},
      {L"\u0152\u0141 [10.0.0.1]", E_FAIL, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Expected '[' to follow parameter \\u0152\\u0141 at position 2Aborting parse due "
       L"to syntax error."},
      {L"\u0152\u0141[1", E_FAIL, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Expected ']' to follow parameter \\u0152\\u0141 at position 4. But end of config "
       L"data reached"},
      {L"RA[10.0.0.1", E_FAIL, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Expected ']' to follow parameter RA at position 11. But end of config data reached"},
      // Caps: a value may hold cap + 1 characters.
      {L"CR[12]", S_OK, L"CR", L"12", nullptr},
      {L"CR[12345]", S_OK, L"CR", L"12345", nullptr},
      {L"CS[4294967295]", S_OK, L"CS", L"4294967295", nullptr},
      {L"CR[123456789012]", E_FAIL, L"CR", L"0",
       L"ConfigInit: CONFIG ERROR: Expected ']' to follow parameter CR at position 14. But maximum parameter length "
       L"exceeded"},
      {L"RP[123456]", S_OK, L"RP", L"57920", nullptr},
      {L"RP[1234567]", E_FAIL, L"RP", L"139",
       L"ConfigInit: CONFIG ERROR: Expected ']' to follow parameter RP at position 9. But maximum parameter length "
       L"exceeded"},
      {L"NP[12]", S_OK, L"NP", L"12", nullptr},
      {L"LD[1234]", S_OK, L"LD", L"1234", nullptr},
      // Text values are kept whole up to cap + 1 characters.
      {ra257Text.c_str(), S_OK, L"RA", ra257, nullptr},
      {ra258Text.c_str(), E_FAIL, L"RA", L"0.0.0.0",
       L"ConfigInit: CONFIG ERROR: Expected ']' to follow parameter RA at position 260. But maximum parameter length "
       L"exceeded"},
      {lf521Text.c_str(), S_OK, L"LF", lf521, nullptr},
      {L"RA[]", S_OK, L"RA", L"", nullptr},
      // Numbers: standard reading, saturating beyond 32 bits, low 16 bits for 16-bit keys.
      {L"LC[3221225471]", S_OK, L"LC", L"3221225471", nullptr},
      {L"RH[4294967296]", S_OK, L"RH", L"4294967295", nullptr},
      {L"RH[99999999999]", S_OK, L"RH", L"4294967295", nullptr},
      {L"RX[ +12abc]", S_OK, L"RX", L"12", nullptr},
      {L"RX[-1]", S_OK, L"RX", L"4294967295", nullptr},
      {L"RW[abc]", S_OK, L"RW", L"0", nullptr},
      {L"RW[]", S_OK, L"RW", L"0", nullptr},
      {L"RP[65675]", S_OK, L"RP", L"139", nullptr},
      {L"UT[-1]", S_OK, L"UT", L"-1", nullptr},
      {L"UT[65535]", S_OK, L"UT", L"-1", nullptr},
      {L"RM[1.5]", S_OK, L"RM", L"1.500000", nullptr},
      {L"RM[1e999]", S_OK, L"RM", L"inf", nullptr},
      // Templates carry their source and mark the identity record filled.
      {L"UQ[CN=%s,OU=Staff]", S_OK, L"UQ", L"10:CN=%s,OU=Staff", nullptr},
      {L"um[CN=%s]", S_OK, L"filled", L"1", nullptr},
      {L"", S_OK, L"RA", L"0.0.0.0", nullptr},
      {L" \t\r\n\v\f", S_OK, L"RP", L"139", nullptr},
  };

  for (const ParseCase& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    g_Config = AgentConfig{};
    ASSERT_EQ(ConfigInit::Parse(ConfigInit::kDefaultsText, 0, true), S_OK);
    lines_.clear();
    EXPECT_EQ(ConfigInit::Parse(c.text, 0, false), c.hr);
    EXPECT_EQ(FieldText(c.key), c.expected);
    if (c.errorLine) {
      EXPECT_TRUE(Logged(c.errorLine)) << Narrow(AllLines());
    } else {
      EXPECT_FALSE(LoggedPart(L"CONFIG ERROR")) << Narrow(AllLines());
    }
  }
}

// The log file keeps 8 bits of each character: there a key beyond ASCII is named by its code,
// never by the letters its low bytes happen to spell.
TEST_F(ConfigInitTest, NonAsciiKeysAreNamedAsWrittenInTheLogFile) {
  g_Config = AgentConfig{};
  ASSERT_EQ(ConfigInit::Parse(ConfigInit::kDefaultsText, 0, true), S_OK);
  EXPECT_EQ(ConfigInit::Parse(L"\u0152\u0141[10.0.0.1]RP[140]", 0, false), S_OK);
  EXPECT_EQ(FieldText(L"RA"), L"0.0.0.0");
  EXPECT_EQ(FieldText(L"RP"), L"140");
  const std::string log = ReadFileBytes(folder_ + L"\\trace.log");
  EXPECT_NE(log.find("CONFIG ERROR: Unknown config parameter '\\u0152\\u0141' at position0 ignored.\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("'RA'"), std::string::npos) << log;
}

TEST_F(ConfigInitTest, DefaultsTextAndExplicitLength) {
  ASSERT_EQ(ConfigInit::Parse(ConfigInit::kDefaultsText, 0, true), S_OK);
  EXPECT_STREQ(g_Config.RA, L"0.0.0.0");
  EXPECT_EQ(g_Config.RP, 139);
  EXPECT_EQ(g_Config.RH, 42000u);
  EXPECT_EQ(g_Config.LC, 0xBFFFFFFFu);
  EXPECT_EQ(g_Config.RX, 40000u);
  EXPECT_EQ(g_Config.RW, 60000u);
  EXPECT_EQ(g_Config.RM, 2.0);
  EXPECT_EQ(g_Config.UT, 255);

  // From the defaults a template is DEFAULT and leaves the record unfilled.
  ASSERT_EQ(ConfigInit::Parse(L"UQ[CN=x]", 0, true), S_OK);
  EXPECT_EQ(g_Config.Identity.UserDNTemplate.source, DEFAULT);
  EXPECT_FALSE(g_Config.Identity.filled);

  // A length stops the parse, and so does a zero character inside it.
  const wchar_t text[] = L"RP[140]RH[5]\0RX[6]";
  ASSERT_EQ(ConfigInit::Parse(text, 7, false), S_OK);
  EXPECT_EQ(g_Config.RP, 140);
  EXPECT_EQ(g_Config.RH, 42000u);
  ASSERT_EQ(ConfigInit::Parse(text, sizeof(text) / sizeof(wchar_t) - 1, false), S_OK);
  EXPECT_EQ(g_Config.RH, 5u);
  EXPECT_EQ(g_Config.RX, 40000u);
  // A value cut by the length is unterminated.
  EXPECT_EQ(ConfigInit::Parse(L"RP[150]", 5, false), E_FAIL);
  EXPECT_EQ(g_Config.RP, 140);
}

// ---------------------------------------------------------------------------------------------
// Whole loads from the command line (no file, no registry value).

struct LoadCase {
  const wchar_t* commandLine;
  bool ok;
  bool serviceMode;
  const wchar_t* reason;
  const wchar_t* logLine;  // expected line, or nullptr
};

TEST_F(ConfigInitTest, LoadFromCommandLine) {
  const LoadCase cases[] = {
      {L"RA[10.0.0.1]", true, false, L"", L"ConfigInit: Config revision (CR): 0, schema (CS): 0"},
      {L"ra[10.0.0.1] CR[12345] CS[2]", true, false, L"", L"ConfigInit: Config revision (CR): 12345, schema (CS): 2"},
      {L";RA[10.0.0.1]", false, false, L"ERROR: No V7100 server defined",
       L"ConfigInit: Error parsing config data: ERROR: No V7100 server defined"},
      {L"RA[]", false, false, L"ERROR: No V7100 server defined", nullptr},
      {L"RA[10.0.0.1]RP[0]", false, false, L"ERROR: No valid V7100 server port defined",
       L"ConfigInit: Error parsing config data: ERROR: No valid V7100 server port defined"},
      {L"RA [10.0.0.1]", false, false, L"Command line parse failure with command line {RA [10.0.0.1]}", nullptr},
      {L"version RA[1.2.3.4]", false, false, L"Command line parse failure with command line {version RA[1.2.3.4]}",
       L"ConfigInit: CONFIG ERROR: Expected '[' to follow parameter ve at position 2Aborting parse due to syntax "
       L"error."},
      {L"-service RA[10.0.0.1]", true, true, L"", nullptr},
      // In service mode no crowbar runs: the word is configuration text.
      {L"-service version", false, true, L"Command line parse failure with command line {-service version}", nullptr},
      {L"", false, false, L"ERROR: No V7100 server defined", nullptr},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(Narrow(c.commandLine));
    g_Config = AgentConfig{};
    g_ConfigValid = false;
    lines_.clear();
    ConfigInit::LoadResult result;
    result.reason = L"stale";
    ConfigInit::Load(c.commandLine, result);
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.serviceMode, c.serviceMode);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(g_ConfigValid, c.ok);
    if (c.logLine) {
      EXPECT_TRUE(Logged(c.logLine)) << Narrow(AllLines());
    }
  }
}

TEST_F(ConfigInitTest, ValidationNormalisesUT) {
  const struct {
    const wchar_t* ut;
    int16_t expected;
  } cases[] = {{L"0", 0}, {L"1", 1}, {L"255", 255}, {L"7", 255}, {L"2", 255}, {L"-1", 255}, {L"254", 255}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.ut));
    std::wstring commandLine = std::wstring(L"RA[10.0.0.1] UT[") + c.ut + L"]";
    ConfigInit::LoadResult result;
    ConfigInit::Load(commandLine.c_str(), result);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(g_Config.UT, c.expected);
  }
}

TEST_F(ConfigInitTest, SecondLoadResetsOnlyTheDefaultsKeys) {
  ConfigInit::LoadResult result;
  ConfigInit::Load(L"RA[10.0.0.1] RP[140] CR[7] NP[1] UM[CN=pc]", result);
  ASSERT_TRUE(result.ok);
  ConfigInit::Load(L"-service", result);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.reason, L"ERROR: No V7100 server defined");
  EXPECT_STREQ(g_Config.RA, L"0.0.0.0");
  EXPECT_EQ(g_Config.RP, 139);
  EXPECT_EQ(g_Config.CR, 7u);
  EXPECT_EQ(g_Config.NP, 1u);
  EXPECT_EQ(g_Config.Identity.ComputerDNTemplate.value, L"CN=pc");
  EXPECT_EQ(g_Config.Identity.ComputerDNTemplate.source, CFG);
}

// ---------------------------------------------------------------------------------------------
// Sources: file, registry, command line.

TEST_F(ConfigInitTest, RegistryOverridesFileAndCommandLineOverridesBoth) {
  std::wstring file = TempFile(L"order.cfg", "RA[10.1.1.1]RP[201]RH[1001]RX[1001]LD[1]");
  BaseConfigValue registry(REG_SZ, L"RP[202]RX[2002]LD[2]");
  std::wstring commandLine = L"CF[" + file + L"] LD[3]";
  ConfigInit::LoadResult result;
  ConfigInit::Load(commandLine.c_str(), result);
  ASSERT_TRUE(result.ok) << Narrow(result.reason);
  EXPECT_STREQ(g_Config.RA, L"10.1.1.1");  // file only
  EXPECT_EQ(g_Config.RH, 1001u);           // file only
  EXPECT_EQ(g_Config.RP, 202);             // registry over file
  EXPECT_EQ(g_Config.RX, 2002u);           // registry over file
  EXPECT_EQ(g_Config.LD, 3u);              // command line over both
}

TEST_F(ConfigInitTest, RegistryValueKinds) {
  {
    // The strings of a multi-string value are joined with line feeds.
    const wchar_t multi[] = L"RA[10.3.3.3]\0RP[203]\0";
    BaseConfigValue registry(REG_MULTI_SZ, std::wstring(multi, sizeof(multi) / sizeof(wchar_t)));
    ConfigInit::LoadResult result;
    ConfigInit::Load(L"", result);
    ASSERT_TRUE(result.ok) << Narrow(result.reason);
    EXPECT_STREQ(g_Config.RA, L"10.3.3.3");
    EXPECT_EQ(g_Config.RP, 203);
  }
  {
    BaseConfigValue registry(REG_SZ, L"RP[204] RA 10.3.3.3");
    ConfigInit::LoadResult result;
    ConfigInit::Load(L"RA[10.0.0.1]", result);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, L"Parse failure on configuration in registry");
    EXPECT_EQ(g_Config.RP, 204);  // entries before the error keep their values
  }
  {
    BaseConfigValue registry(REG_SZ, L"");
    ConfigInit::LoadResult result;
    ConfigInit::Load(L"RA[10.0.0.1]", result);
    EXPECT_TRUE(result.ok) << Narrow(result.reason);
  }
}

TEST_F(ConfigInitTest, ConfigFileChoice) {
  std::wstring named = TempFile(L"named.cfg", "RH[4]");
  std::wstring broken = TempFile(L"broken.cfg", "RH[7] RX[1");
  std::wstring missing = folder_ + L"\\missing.cfg";
  const struct {
    std::wstring cf;
    const char* defaultFile;  // content of idagent.cfg beside the program, or nullptr for none
    bool ok;
    uint32_t rh;
    std::wstring reason;
  } cases[] = {
      {named, "RH[5]", true, 4, L""},
      {missing, "RH[5]", true, 5, L""},
      {L"-", "RH[5]", true, 5, L""},
      {L"-anything", "RH[5]", true, 5, L""},
      {missing, nullptr, true, 42000, L""},
      {L"-", "RH[6] RX[1", false, 6, L"Config file parse failure on file {-}"},
      {broken, nullptr, false, 7, L"Config file parse failure on file {" + broken + L"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.cf) + " / " + (c.defaultFile ? c.defaultFile : "(no default file)"));
    DeleteFileW(DefaultFile().c_str());
    if (c.defaultFile) WriteBytes(DefaultFile(), c.defaultFile);
    std::wstring commandLine = L"CF[" + c.cf + L"] RA[10.0.0.1]";
    ConfigInit::LoadResult result;
    ConfigInit::Load(commandLine.c_str(), result);
    EXPECT_EQ(result.ok, c.ok);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(g_Config.RH, c.rh);
  }
  // Reading or parsing a file writes no check record: only failures to read the default file do.
  EXPECT_FALSE(LoggedPart(L"Check failed")) << Narrow(AllLines());
}

TEST_F(ConfigInitTest, DefaultFileOf16KBFailsTheLoad) {
  std::string big = "RA[10.6.6.6]";
  big.resize(16384, ' ');
  WriteBytes(DefaultFile(), big);
  ConfigInit::LoadResult result;
  ConfigInit::Load(L"CF[-] RA[10.0.0.1]", result);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.reason, L"Config file parse failure on file {-}");
  EXPECT_TRUE(LoggedPart(L"ConfigInit.cpp(376): Check failed, returning 0x8007000e (-2147024882)")) << Narrow(AllLines());
  EXPECT_TRUE(LoggedPart(L"ConfigInit.cpp(349): Check failed, returning 0x8007000e (-2147024882)")) << Narrow(AllLines());

  // One byte less is read.
  big.resize(16383);
  WriteBytes(DefaultFile(), big);
  ConfigInit::Load(L"CF[-]", result);
  EXPECT_TRUE(result.ok) << Narrow(result.reason);
  EXPECT_STREQ(g_Config.RA, L"10.6.6.6");
}

TEST_F(ConfigInitTest, FileInTheToolsLayoutLoads) {
  std::wstring file = TempFile(L"tool.cfg",
                               "CS[2] {schema}\r\n"
                               "CR[12345] {revision written by the tool}\r\n"
                               "RA[10.7.7.7;10.7.7.8:8139] {appliances}\r\n"
                               "RP[139]\r\n"
                               "UT[1] {Novell}\r\n"
                               "UQ[CN=%s,OU=Users,DC=example,DC=com]\r\n"
                               "{ a closing note }\r\n");
  std::wstring commandLine = L"CF[" + file + L"]";
  ConfigInit::LoadResult result;
  ConfigInit::Load(commandLine.c_str(), result);
  ASSERT_TRUE(result.ok) << Narrow(result.reason);
  EXPECT_EQ(g_Config.CR, 12345u);
  EXPECT_EQ(g_Config.CS, 2u);
  EXPECT_STREQ(g_Config.RA, L"10.7.7.7;10.7.7.8:8139");
  EXPECT_EQ(g_Config.UT, 1);
  EXPECT_EQ(g_Config.Identity.UserDNTemplate.value, L"CN=%s,OU=Users,DC=example,DC=com");
  EXPECT_TRUE(g_Config.Identity.filled);
  EXPECT_TRUE(Logged(L"ConfigInit: Config revision (CR): 12345, schema (CS): 2")) << Narrow(AllLines());
  EXPECT_FALSE(LoggedPart(L"CONFIG ERROR")) << Narrow(AllLines());

  // Bytes after a zero byte are not read.
  std::wstring zero = TempFile(L"zero.cfg", std::string("RA[10.7.7.9]\0RP[0]", 18));
  commandLine = L"CF[" + zero + L"]";
  ConfigInit::Load(commandLine.c_str(), result);
  EXPECT_TRUE(result.ok) << Narrow(result.reason);
  EXPECT_STREQ(g_Config.RA, L"10.7.7.9");
}

// ---------------------------------------------------------------------------------------------
// Crowbar commands.

TEST_F(ConfigInitTest, VersionCrowbarShowsTheBoxAndEndsTheLoad) {
  for (const wchar_t* word : {L"version", L"VERSION", L"vErSiOn"}) {
    SCOPED_TRACE(Narrow(word));
    g_Config = AgentConfig{};
    lines_.clear();
    auto box = CloseMessageBoxAsync(L"Qel Identra");
    ConfigInit::LoadResult result;
    ConfigInit::Load(word, result);
    std::wstring text = box.get();
    EXPECT_EQ(text, std::wstring(L"Version: ") + VersionText() + L"\nBuild Time: " + BuildTime());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, L"");
    EXPECT_FALSE(result.serviceMode);
    EXPECT_TRUE(Logged(L"ConfigInit: ConfigInit requesting app exit, having executed crowbar command 'version'."))
        << Narrow(AllLines());
  }
}

bool g_probeAnswer = false;
int g_probeCalls = 0;
bool ProbeCrowbar(const wchar_t*) {
  ++g_probeCalls;
  return g_probeAnswer;
}
ConfigInit::CrowbarCommand g_probeCommand(L"probe", &ProbeCrowbar);

TEST_F(ConfigInitTest, CrowbarMatchesTheWholeTextOnly) {
  g_probeCalls = 0;
  g_probeAnswer = false;
  EXPECT_FALSE(ConfigInit::RunCrowbar(L"PROBE"));  // a command may decline the exit
  EXPECT_EQ(g_probeCalls, 1);
  EXPECT_FALSE(ConfigInit::RunCrowbar(L"probe "));
  EXPECT_FALSE(ConfigInit::RunCrowbar(L"prob"));
  EXPECT_EQ(g_probeCalls, 1);
  g_probeAnswer = true;
  EXPECT_TRUE(ConfigInit::RunCrowbar(L"Probe"));
  EXPECT_TRUE(Logged(L"ConfigInit: ConfigInit requesting app exit, having executed crowbar command 'probe'."));
}

// ---------------------------------------------------------------------------------------------

TEST_F(ConfigInitTest, LargestFileParsesFast) {
  // Every key, many times over, with comments: 16,383 characters.
  const wchar_t* entries[] = {
      L"RA[10.0.0.1;10.0.0.2:8139;appliance.example.com] ", L"RP[139] ", L"Rh[42000] ", L"RX[40000] ",
      L"RW[60000] ", L"RM[2.000] ", L"NP[0] ", L"LE[0] ", L"LF[C:\\Logs\\idagent.log] ", L"LC[3221225471] ",
      L"LD[4] ", L"CS[2] ", L"CR[12345] ", L"UT[255] ", L"UQ[CN=%s,OU=Users,DC=example,DC=com] ",
      L"UM[CN=%s,OU=Computers,DC=example,DC=com] ", L"{ comment }\r\n", L";RP[1] "};
  std::wstring text;
  for (size_t n = 0; text.size() < 16383; ++n) text += entries[n % (sizeof(entries) / sizeof(entries[0]))];
  text.resize(16383, L' ');
  size_t end = text.rfind(L']') + 1;  // do not cut the last entry
  text.replace(end, std::wstring::npos, text.size() - end, L' ');

  ASSERT_EQ(ConfigInit::Parse(ConfigInit::kDefaultsText, 0, true), S_OK);
  constexpr int kRounds = 200;
  auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) ASSERT_EQ(ConfigInit::Parse(text.c_str(), text.size(), false), S_OK);
  double microseconds =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / kRounds;
  std::printf("16383-character configuration text: %.1f us per parse\n", microseconds);
  RecordProperty("parse_microseconds", static_cast<int>(microseconds));
  EXPECT_LT(microseconds, 5000.0);  // generous: shared machines under Wine
  EXPECT_EQ(g_Config.CR, 12345u);
}

}  // namespace

#include "config/TavoAuthConfig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/Logging.h"
#include "LoggingEnvironment.h"
#include "TestSupport.h"
#include "tests/ConfigReaderCases.h"
#include "tests/ConfigWriterCases.h"

namespace {

constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);

const testing::Environment* const kLogging = testing::AddGlobalTestEnvironment(new LoggingEnvironment);

void SetLevel(int32_t level) { LogHub<LogContext>::Get().SetDefaultLevel(level); }

std::unique_ptr<CTavoAuthConfig> ZeroRecord() { return std::make_unique<CTavoAuthConfig>(); }

// The field named by a key, as text, so that one table can check any key.
std::string Field(const CTavoAuthConfig& c, const std::string& key) {
  if (key == "RA") return c.RA;
  if (key == "RV") return c.RV;
  if (key == "LF") return c.LF;
  if (key == "CC") return c.CC;
  if (key == "UX") return c.UX;
  if (key == "UQ") return c.LocalUser.userDNTemplate;
  if (key == "UM") return c.LocalUser.machineDNTemplate;
  if (key == "RP") return std::to_string(c.RP);
  if (key == "NP") return std::to_string(c.NP);
  if (key == "LE") return std::to_string(c.LE);
  if (key == "UT") return std::to_string(c.LocalUser.identType);
  const std::pair<const char*, uint32_t> numbers[] = {{"RH", c.RH}, {"RR", c.RR}, {"RC", c.RC}, {"RX", c.RX},
                                                      {"RY", c.RY}, {"RZ", c.RZ}, {"RT", c.RT}, {"LC", c.LC},
                                                      {"LD", c.LD}, {"CT", c.CT}, {"CS", c.CS}, {"CR", c.CR}};
  for (const auto& [name, value] : numbers)
    if (key == name) return std::to_string(value);
  ADD_FAILURE() << "no field for key " << key;
  return "";
}

// Every KEY=value line of the expectation holds in the record.
void ExpectFields(const CTavoAuthConfig& c, const std::string& expected, const std::string& context) {
  std::map<std::string, std::string> fields;
  AddConfigExpectations(fields, expected);
  for (const auto& [key, value] : fields) EXPECT_EQ(Field(c, key), value) << context << " key " << key;
}

// Parses with every message passing the level filter; returns what reached stderr.
struct ParseRun {
  int32_t result;
  std::string log;
};

ParseRun Parse(CTavoAuthConfig& c, const std::string& text, const char* source = "Test") {
  SetLevel(7);
  testing::internal::CaptureStderr();
  const int32_t result = ParseParams::Exec(c, source, text.data(), text.size());
  return {result, testing::internal::GetCapturedStderr()};
}

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& bytes) {
  std::ofstream(dir / name, std::ios::binary) << bytes;
  return dir / name;
}

std::string Folder(const TempDir& dir) { return dir.path() + "/"; }

TEST(TavoAuthConfig, ParserTable) {
  const std::string long257(257, 'h');
  struct Case {
    std::string text;
    int32_t result;
    std::string fields;   // KEY=value lines that must hold afterwards
    const char* message;  // a line that must have been logged, or null
  } cases[] = {
      {"ra[10.0.0.5:8080;10.0.0.6]", 0, "RA=10.0.0.5:8080;10.0.0.6", nullptr},
      {"RA[" + long257 + "]", 0, "RA=" + long257, nullptr},
      {"RA[" + long257 + "h]", kFail, "RA=", "maximum parameter length exceeded"},
      {"LE[10]", 0, "LE=10", nullptr},
      {"LE[100]", kFail, "LE=0",
       "CONFIG ERROR: Expected ']' to follow parameter \"LE\" at position 5.  But maximum parameter length "
       "exceeded.\n"},
      {"CR[12]CS[1234567890]", 0, "CR=12\nCS=1234567890", nullptr},
      {"CR[123456789012]", kFail, "CR=0", "maximum parameter length exceeded"},
      {"RA[10.0.0.1]{a comment};RP[140]LD[4]", 0, "RA=10.0.0.1\nRP=0\nLD=4", nullptr},
      {"RA [10.0.0.1]", kFail, "RA=",
       "CONFIG ERROR: Expected '[' to follow parameter \"RA\" at position 2.  Aborting parse due to syntax error.\n"},
      {"RH[5]R", kFail, "RH=5",
       "CONFIG ERROR: Expected '[' to follow parameter \"R\" at position 7.  Aborting parse due to syntax error.\n"},
      {"RA[10.0.0.1", kFail, "RA=",
       "CONFIG ERROR: Expected ']' to follow parameter \"RA\" at position 11.  But end of config data reached.\n"},
      {"xx[1]RH[500]", 0, "RH=500", "CONFIG ERROR: Unknown config parameter \"xx\" at position 0.  Ignored.\n"},
      {"{ RH[500]", 0, "RH=0", nullptr},
      {";zz[whatever]CF[/etc/other.cfg]RP[9]", 0, "RP=9", nullptr},
      {"LC[3221225471]RH[-1]RX[ \t+42x]RY[x]", 0, "LC=3221225471\nRH=4294967295\nRX=42\nRY=0", nullptr},
      {"RP[70000]NP[-1]RZ[99999999999]", 0, "RP=4464\nNP=255\nRZ=1215752191", nullptr},
      {"LE[1]lf[a.log]", 0, "LF=a.log\nLE=0", nullptr},
      {"LE[0]LF[]", 0, "LF=\nLE=1", nullptr},
      {"rr[1]rc[2]rv[v]ry[3]rt[4]cc[c]ct[5]ux[/tmp/u.txt]uq[cn=%1]um[m=%1]", 0,
       "RR=1\nRC=2\nRV=v\nRY=3\nRT=4\nCC=c\nCT=5\nUX=/tmp/u.txt\nUQ=cn=%1\nUM=m=%1", nullptr},
      {"UT[1000]UT[10000]", kFail, "UT=1000", "maximum parameter length exceeded"},
  };
  for (const Case& c : cases) {
    const std::string& text = c.text;
    auto record = ZeroRecord();
    const ParseRun run = Parse(*record, text);
    EXPECT_EQ(run.result, c.result) << text;
    ExpectFields(*record, c.fields, text);
    if (c.message) {
      EXPECT_NE(run.log.find(c.message), std::string::npos) << text << "\n" << run.log;
    }
  }
}

TEST(TavoAuthConfig, ExplicitLengthAndZeroBytesEndTheText) {
  auto record = ZeroRecord();
  const char text[] = "RH[500]RP[9]";
  EXPECT_EQ(ParseParams::Exec(*record, "Test", text, 7), 0);
  EXPECT_EQ(record->RH, 500u);
  EXPECT_EQ(record->RP, 0);

  const char withZero[] = "RH[5]\0RP[9]";
  EXPECT_EQ(ParseParams::Exec(*record, "Test", withZero, sizeof withZero - 1), 0);
  EXPECT_EQ(record->RP, 0);

  // A text cut inside a value is the "end of config data" error, not a read beyond it.
  const std::unique_ptr<char[]> exact(new char[4]{'R', 'A', '[', '1'});
  EXPECT_EQ(Parse(*record, std::string(exact.get(), 4)).result, kFail);
  const std::unique_ptr<char[]> key(new char[2]{'R', 'A'});
  const ParseRun run = Parse(*record, std::string(key.get(), 2));
  EXPECT_EQ(run.result, kFail);
  EXPECT_NE(run.log.find("parameter \"RA\" at position 2."), std::string::npos) << run.log;
}

TEST(TavoAuthConfig, UtWritesTheLowSixteenBitsOfTheIdentityType) {
  auto record = ZeroRecord();
  record->LocalUser.identType = 0x7FFF0004;
  Parse(*record, "UT[3]");
  EXPECT_EQ(record->LocalUser.identType, 0x7FFF0003);
}

TEST(TavoAuthConfig, DefaultsText) {
  auto record = ZeroRecord();
  EXPECT_EQ(ParseParams::Exec(*record, "Defaults", kConfigDefaultsText, 0), 0);
  ExpectFields(*record,
               "RA=0.0.0.0\nRP=139\nRH=42000\nRR=10000\nRC=120000\nLF=./Identra.log\nLE=1\nLC=3221225471\nRT=3\n"
               "RX=25000\nRY=30000\nRZ=10000\nUT=255\nLD=0\nCS=0\nCR=0\nNP=0",
               "defaults");
}

TEST(TavoAuthConfig, LdSetsTheLoggingLevelAtOnce) {
  auto record = ZeroRecord();
  const struct {
    const char* text;
    bool infoShown;
    bool debugShown;
  } cases[] = {{"LD[2]", false, false}, {"LD[3]", true, false}, {"LD[4]", true, true},
               {"LD[0]", false, false}, {"LD[9]", false, false}};
  SetLevel(5);
  for (const auto& c : cases) {
    ParseParams::Exec(*record, "Test", c.text, 0);
    testing::internal::CaptureStderr();
    Logf(6, "info line");
    Logf(7, "debug line");
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.find("info line") != std::string::npos, c.infoShown) << c.text;
    EXPECT_EQ(log.find("debug line") != std::string::npos, c.debugShown) << c.text;
  }
}

TEST(TavoAuthConfig, CommandLineJoinsArgumentsEachFollowedByABlank) {
  auto record = ZeroRecord();
  const char* argv[] = {"QelIdentra", "RA[1.2.3.4]", "RP[99]"};
  SetLevel(7);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ParseParams::Exec(*record, 3, argv), 0);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Parsing parameters from 'Command line', text=<<RA[1.2.3.4] RP[99] >>"), std::string::npos)
      << log;
  EXPECT_EQ(record->RP, 99);
  EXPECT_EQ(ParseParams::Exec(*record, 1, argv), 0);
}

TEST(TavoAuthConfig, ConfigFileMessagesAndResults) {
  TempDir dir;
  const std::string good = WriteFile(dir, "good.cfg", "RA[10.1.1.1]CR[7]CS[2]");
  const std::string error = WriteFile(dir, "error.cfg", "RA[ERROR]");
  const std::string broken = WriteFile(dir, "broken.cfg", "RH[12]RP 5");
  const std::string missing = Folder(dir) + "missing.cfg";
  const struct {
    std::string path;
    int32_t result;
    std::vector<std::string> lines;
  } cases[] = {
      {good, 0,
       {"Parsing parameters from 'File: " + good + "', text=<<RA[10.1.1.1]CR[7]CS[2]>>",
        "Configuration revision = 7", "Config schema version = 2"}},
      {error, kFail, {"=> ERROR\n"}},
      {broken, kFail, {"Aborting parse"}},
      {missing, kFail, {"Cannot find or open '" + missing + "'"}},
  };
  for (const auto& c : cases) {
    auto record = ZeroRecord();
    SetLevel(7);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseConfigFile(c.path.c_str(), *record), c.result) << c.path;
    const std::string log = testing::internal::GetCapturedStderr();
    for (const std::string& line : c.lines) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
}

TEST(TavoAuthConfig, ValidateRejectsOnlyError) {
  auto record = ZeroRecord();
  for (const char* ra : {"0.0.0.0", "", "error", "ERROR "}) {
    std::strcpy(record->RA, ra);
    EXPECT_EQ(ValidateConfig(*record), 0) << ra;
  }
  std::strcpy(record->RA, "ERROR");
  EXPECT_EQ(ValidateConfig(*record), kFail);
}

TEST(TavoAuthConfig, FileSearchOrder) {
  TempDir options, application, work;
  const std::vector<std::string> folders = {Folder(options), Folder(application)};
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(work.path());
  WriteFile(work, "Idagent.cfg", "RH[3]");

  auto load = [&]() {
    auto record = ZeroRecord();
    SetLevel(7);
    testing::internal::CaptureStderr();
    LoadConfigFile(*record, folders);
    const std::string log = testing::internal::GetCapturedStderr();
    return std::make_pair(record->RH, log);
  };
  EXPECT_EQ(load().first, 3u);  // neither folder: the working folder
  EXPECT_NE(load().second.find("Loading config file Idagent.cfg"), std::string::npos);
  WriteFile(application, "Idagent.cfg", "RH[2]");
  EXPECT_EQ(load().first, 2u);
  WriteFile(options, "Idagent.cfg", "RH[1]");
  const auto [rh, log] = load();
  EXPECT_EQ(rh, 1u);
  EXPECT_NE(log.find("Loading config file " + Folder(options) + "Idagent.cfg"), std::string::npos) << log;

  WriteFile(options, "Idagent.cfg", "RH[1");
  EXPECT_NE(load().second.find("CONFIG ERROR: Unable to load or parse config file '" + Folder(options) +
                               "Idagent.cfg'"),
            std::string::npos);
  std::filesystem::current_path(previous);

  const std::vector<std::string> production = ConfigFileFolders("/home/u/.QelIdentra");
  EXPECT_EQ(production, (std::vector<std::string>{"/home/u/.QelIdentra/", "/Applications/QelIdentra/"}));
}

TEST(TavoAuthConfig, SourcesInOrderAndTheStatPacketChangesKeys) {
  TempDir dir;
  const std::string file = WriteFile(dir, "Idagent.cfg", "RA[10.9.9.9]RH[1000]RP[1400]");
  auto record = ZeroRecord();
  const char* argv[] = {"QelIdentra", "RP[1500]"};
  ParseParams::Exec(*record, "Defaults", kConfigDefaultsText, 0);
  ParseParams::Exec(*record, 2, argv);
  ParseConfigFile(file.c_str(), *record);
  ExpectFields(*record, "RA=10.9.9.9\nRH=1000\nRP=1400\nRR=10000", "after the file");
  ParseParams::Exec(*record, 2, argv);
  const ParseRun stat = Parse(*record, "RH[5000]LF[]", "STAT packet");
  EXPECT_NE(stat.log.find("Parsing parameters from 'STAT packet', text=<<RH[5000]LF[]>>"), std::string::npos);
  ExpectFields(*record, "RA=10.9.9.9\nRH=5000\nRP=1500\nLF=\nLE=1", "after the STAT packet");
}

std::vector<V7kAddrT> SplitList(const char* text, uint16_t defaultPort) {
  std::vector<V7kAddrT> out;
  while (text) out.push_back(V7kAddrT::ParseCreate(text, defaultPort, &text));
  return out;
}

TEST(TavoAuthConfig, ApplianceList) {
  const struct {
    const char* text;
    std::vector<std::pair<std::string, uint16_t>> entries;
  } cases[] = {
      {"10.0.0.5:8080;10.0.0.6", {{"10.0.0.5", 8080}, {"10.0.0.6", 139}}},
      {"a,b;c", {{"a,b", 139}, {"c", 139}}},
      {"a;b,c", {{"a", 139}, {"b", 139}, {"c", 139}}},
      {"host:0;host:x; spaced", {{"host", 139}, {"host", 139}, {"spaced", 139}}},
      {"10.1.2.3; filter2.example.com ;\tb : 81 ", {{"10.1.2.3", 139}, {"filter2.example.com", 139}, {"b", 81}}},
      {"h:65535;h:65536;h:-1;:80;ok", {{"h", 65535}, {"h", 0}, {"h", 0}, {"", 0}, {"ok", 139}}},
      {"a;", {{"a", 139}, {"", 0}}},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<std::string, uint16_t>> got;
    for (const V7kAddrT& a : SplitList(c.text, 139)) got.emplace_back(a.host, a.port);
    EXPECT_EQ(got, c.entries) << c.text;
  }
  const std::string host(400, 'x');
  EXPECT_EQ(SplitList((host + ":81").c_str(), 139)[0].host, host);

  SetLevel(5);
  testing::internal::CaptureStderr();
  SplitList("h:70000;:81;; \t;", 139);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(log.find("Web filter address ''"), std::string::npos) << log;
  EXPECT_EQ(log.find("Web filter address ' \t'"), std::string::npos) << log;
  EXPECT_NE(log.find("Web filter address 'h:70000' names no host or no valid port; skipped.\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Web filter address ':81' names no host or no valid port; skipped.\n"), std::string::npos) << log;
}

TEST(TavoAuthConfig, SearchReplace) {
  const struct {
    const char* text;
    const char* search;
    const char* replacement;
    bool caseSensitive, all;
    const char* result;
    int count;
  } cases[] = {
      {"cn=%1,ou=%1", "%1", "jo", true, true, "cn=jo,ou=jo", 2},
      {"cn=%1,ou=%1", "%1", "jo", true, false, "cn=jo,ou=%1", 1},
      {"Hello hello", "HELLO", "x", false, true, "x x", 2},
      {"Hello hello", "HELLO", "x", true, true, "Hello hello", 0},
      {"abc", "b", nullptr, true, true, "ac", 1},
      {"abc", "", "x", true, true, "abc", 0},
      {"abc", nullptr, "x", true, true, "abc", 0},
      {"", "a", "x", true, true, "", 0},
      {nullptr, "a", "x", true, true, "", 0},
      {"aaa", "a", "aa", true, true, "aaaaaa", 3},
  };
  for (const auto& c : cases) {
    int count = -1;
    EXPECT_EQ(SearchReplace(c.text, c.search, c.replacement, c.caseSensitive, c.all, &count), c.result)
        << (c.text ? c.text : "(null)");
    EXPECT_EQ(count, c.count) << (c.text ? c.text : "(null)");
  }
}

TEST(TavoAuthConfig, DistinguishedNameTemplates) {
  auto record = ZeroRecord();
  CTavoAuthConfig::LocalUserT& user = record->LocalUser;
  std::strcpy(user.userName, "jo");
  std::strcpy(user.machineName, "mac1");
  std::strcpy(user.userDN, "old");
  std::strcpy(user.machineDN, "oldm");
  EXPECT_EQ(ApplyDistinguishedNameTemplates(*record), 0);
  EXPECT_STREQ(user.userDN, "old");

  Parse(*record, "UQ[cn=%1,ou=%1,dc=x]UM[cn=%1]");
  EXPECT_EQ(ApplyDistinguishedNameTemplates(*record), 3);
  EXPECT_STREQ(user.userDN, "cn=jo,ou=jo,dc=x");
  EXPECT_STREQ(user.machineDN, "cn=mac1");

  Parse(*record, "UQ[cn=fixed]UM[]");
  EXPECT_EQ(ApplyDistinguishedNameTemplates(*record), 0);
  EXPECT_STREQ(user.userDN, "cn=fixed");
  EXPECT_STREQ(user.machineDN, "cn=mac1");

  // A result longer than the field is cut to it.
  std::memset(user.userName, 'n', 256);
  user.userName[256] = '\0';
  Parse(*record, "UQ[%1%1]");
  EXPECT_EQ(ApplyDistinguishedNameTemplates(*record), 2);
  EXPECT_EQ(std::strlen(user.userDN), 256u);
}

TEST(TavoAuthConfig, SetUserName) {
  const struct {
    const char* name;
    const char* stored;
  } cases[] = {
      {"john smith", "john"},         {"john\\ smith", "john\\ smith"}, {" john", " john"},
      {"jo\r\nx", "jo"},              {"jo\nx", "jo"},                  {nullptr, ""},
      {"CORP\\jo doe x", "CORP\\jo"}, {"a\\\nb c", "a\\\nb"},
  };
  auto record = ZeroRecord();
  for (const auto& c : cases) {
    record->LocalUser.SetUserName(c.name);
    EXPECT_STREQ(record->LocalUser.userName, c.stored) << (c.name ? c.name : "(null)");
  }
  const std::string longName(300, 'u');
  record->LocalUser.SetUserName(longName.c_str());
  EXPECT_EQ(std::string(record->LocalUser.userName), longName.substr(0, 256));
}

// Bitwise CRC-32, written apart from the table-driven one the agent shares.
uint32_t ReferenceCrc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

TEST(TavoAuthConfig, IdentityHash) {
  auto record = ZeroRecord();
  CTavoAuthConfig::LocalUserT& user = record->LocalUser;
  EXPECT_EQ(user.GetUserIdentityHash(), 0u);  // nothing hashed
  std::strcpy(user.userName, "jo");
  std::strcpy(user.machineName, "mac1");
  std::strcpy(user.domainName, "CORP");
  std::strcpy(user.groupName, "staff");
  std::strcpy(user.userDN, "cn=jo");
  std::strcpy(user.machineDN, "cn=mac1");
  const uint32_t hash = user.GetUserIdentityHash();
  EXPECT_EQ(hash, ReferenceCrc32("jomac1CORPstaffcn=jocn=mac1"));

  std::strcpy(user.fullName, "Jo Doe");
  std::strcpy(user.userDNTemplate, "cn=%1");
  user.identType = 4;
  EXPECT_EQ(user.GetUserIdentityHash(), hash);
  std::strcpy(user.groupName, "admin");
  EXPECT_NE(user.GetUserIdentityHash(), hash);
}

void ExpectCrossCase(const ConfigReaderCase& c) {
  auto record = ZeroRecord();
  EXPECT_EQ(Parse(*record, c.text).result == 0, c.macOk) << c.text;
  for (const auto& [key, value] : ConfigReaderExpectations(c, true))
    EXPECT_EQ(Field(*record, key), value) << c.text << " key " << key;
}

// The texts both agents' readers are tested against (the Windows side reads the same table).
TEST(TavoAuthConfig, CrossReaderCases) {
  for (const ConfigReaderCase& c : kConfigReaderCases) ExpectCrossCase(c);
}

// The files the tool writes, as its own test pins them byte for byte.
TEST(TavoAuthConfig, FilesTheToolWrites) {
  for (const ConfigWriterCase& c : kConfigWriterCases)
    if (!c.refused) ExpectCrossCase(c.read);
}

}  // namespace

#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/AppShutdown.h"
#include "platform/ServiceMode.h"
#include "identity/IdentInfoAD.h"
#include "identity/IdentInfoOSNative.h"
#include "identity/IdentInfoWMI.h"
#include "identity/UserIdentification.h"
#include "support/Logging.h"
#include "TestPlatform.h"
#include "TestSupport.h"

namespace {

// The tests run on the main thread, which acts as the agent's main-loop thread.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  void TearDown() override { CoUninitialize(); }
};
const auto* const g_com = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

constexpr HRESULT kNoDirectory = static_cast<HRESULT>(0x8007232B);

class FakeDirectory : public DirectoryApi {
 public:
  HRESULT BindRootDse() override { return bind; }
  HRESULT ReadSystemInfo(SystemNames& out) override {
    out = names;
    return info;
  }
  HRESULT bind = kNoDirectory;
  HRESULT info = E_FAIL;
  SystemNames names;
};

class FakeWmi : public WmiApi {
 public:
  HRESULT QueryComputerSystems(std::vector<ComputerSystem>& out) override {
    std::lock_guard<std::mutex> hold(lock);
    // The apartment of the calling thread: a second initialisation as single-threaded
    // is refused when the thread already lives in the multithreaded one.
    const HRESULT sta = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(sta)) CoUninitialize();
    callerInMta = sta == RPC_E_CHANGED_MODE;
    out = objects;
    return hr;
  }
  std::mutex lock;
  HRESULT hr = S_OK;
  std::vector<ComputerSystem> objects;
  bool callerInMta = false;
};

class FakeNames : public SecurityNameApi {
 public:
  bool UserNameEx(EXTENDED_NAME_FORMAT format, std::wstring& name) override { return Find(user, format, name); }
  bool TranslateAccount(const std::wstring&, EXTENDED_NAME_FORMAT, EXTENDED_NAME_FORMAT to,
                        std::wstring& name) override {
    return Find(translated, to, name);
  }
  bool ComputerNetBiosName(std::wstring& name) override {
    name = computer;
    return !computer.empty();
  }
  static bool Find(const std::map<EXTENDED_NAME_FORMAT, std::wstring>& map, EXTENDED_NAME_FORMAT format,
                   std::wstring& name) {
    auto it = map.find(format);
    if (it == map.end()) return false;
    name = it->second;
    return true;
  }
  std::map<EXTENDED_NAME_FORMAT, std::wstring> user;        // GetUserNameExW answers
  std::map<EXTENDED_NAME_FORMAT, std::wstring> translated;  // TranslateNameW answers
  std::wstring computer;
};

std::atomic<int> g_exitCalls{0};
std::atomic<DWORD> g_exitDelay{0xFFFFFFFF};
void RecordExit(DWORD delayMs) {
  g_exitDelay = delayMs;
  ++g_exitCalls;
}

IdentityField F(int32_t source, const wchar_t* value) { return IdentityField{source, value}; }

// Bitwise CRC-32 written apart from the agent's table-driven one.
uint32_t ReferenceCrc(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint32_t ReferenceIdentityCrc(const IdentityRecord& r) {
  std::vector<uint8_t> bytes;
  for (const std::wstring* text : {&r.UserName.value, &r.GroupName.value, &r.DomainName.value,
                                   &r.UserDistinguishedName.value, &r.ComputerName.value,
                                   &r.ComputerDistinguishedName.value}) {
    for (wchar_t unit : *text) {
      bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
      bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
  }
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(r.EnvType >> shift));
  return ReferenceCrc(bytes);
}

class IdentificationTest : public ::testing::Test {
 public:
  void SetUp() override {
    SetServiceMode(false);
    g_exitCalls = 0;
    platform.identity = {&directory, &wmi, &names};
    platform.endService = &RecordExit;
  }
  void TearDown() override {
    SetServiceMode(false);
  }

  // A domain user as every source sees it.
  void DomainUser() {
    names.user = {{NameSamCompatible, L"ACME\\jdoe"}, {NameDisplay, L"John Doe (os)"}};
    names.computer = L"WS01";
    names.translated = {{NameFullyQualifiedDN, L"CN=John Doe,OU=Staff,DC=acme,DC=com"},
                        {NameDisplay, L"John Doe"},
                        {NameCanonical, L"acme.com/Staff/John Doe"}};
    directory.bind = S_OK;
    directory.info = S_OK;
    directory.names = {true, L"CN=John Doe,OU=Staff,DC=acme,DC=com (ad)", true, L"CN=WS01,OU=PCs,DC=acme,DC=com"};
    wmi.objects = {{L"WS01", L"ACME\\jdoe"}};
  }

  TraceLines traces{"ident-log"};
  AgentConfig config{};
  FakeDirectory directory;
  FakeWmi wmi;
  FakeNames names;
  TestPlatform platform;
};

// The precedence rules, one row per situation: the candidate so far, one source's
// record, the configuration's templates, and the merged result.
TEST(MergeIdentity, PrecedenceTable) {
  struct Row {
    const char* name;
    bool serviceMode;
    IdentityRecord candidate;
    IdentityRecord source;
    IdentityRecord configuration;
    IdentityRecord expected;
  };
  auto rec = [](std::initializer_list<std::pair<IdentityField IdentityRecord::*, IdentityField>> fields,
                int32_t env = ET_Windows) {
    IdentityRecord r;
    for (const auto& [member, field] : fields) r.*member = field;
    r.EnvType = env;
    r.filled = fields.size() > 0;
    return r;
  };
  using R = IdentityRecord;
  const IdentityRecord none;
  const IdentityRecord templates =
      rec({{&R::UserDNTemplate, F(CFG, L"CN=%1,OU=Staff,UID=%1")}, {&R::ComputerDNTemplate, F(CFG, L"cn=%1,ou=PCs,dc=%1")}});

  const Row rows[] = {
      {"names and computer fill a blank candidate; EnvType comes with the user name", false, none,
       rec({{&R::UserName, F(NOVELL, L"jdoe")}, {&R::DomainName, F(NOVELL, L"acme")},
            {&R::ComputerName, F(NOVELL, L"WS01")}},
           ET_Novell),
       none,
       rec({{&R::UserName, F(NOVELL, L"jdoe")}, {&R::DomainName, F(NOVELL, L"acme")},
            {&R::ComputerName, F(NOVELL, L"WS01")}},
           ET_Novell)},
      {"a NOVELL name is not replaced by AD, WMI or OS values; the computer name always is", false,
       rec({{&R::UserName, F(NOVELL, L"jdoe")}, {&R::DisplayName, F(NOVELL, L"J")}, {&R::GroupName, F(NOVELL, L"g")},
            {&R::DomainName, F(NOVELL, L"acme")}, {&R::UserDistinguishedName, F(NOVELL, L"CN=jdoe, O=acme")},
            {&R::ComputerName, F(NOVELL, L"N1")}},
           ET_Novell),
       rec({{&R::UserName, F(WMI, L"other")}, {&R::DisplayName, F(WMI, L"O")}, {&R::GroupName, F(WMI, L"h")},
            {&R::DomainName, F(WMI, L"HOST")}, {&R::UserDistinguishedName, F(WMI, L"CN=other")},
            {&R::ComputerName, F(WMI, L"WS01")}}),
       none,
       rec({{&R::UserName, F(NOVELL, L"jdoe")}, {&R::DisplayName, F(NOVELL, L"J")}, {&R::GroupName, F(NOVELL, L"g")},
            {&R::DomainName, F(NOVELL, L"acme")}, {&R::UserDistinguishedName, F(NOVELL, L"CN=jdoe, O=acme")},
            {&R::ComputerName, F(WMI, L"WS01")}},
           ET_Novell)},
      {"a NOVELL value replaces a NOVELL value", false,
       rec({{&R::UserName, F(NOVELL, L"old")}, {&R::UserDistinguishedName, F(NOVELL, L"CN=old")}}, ET_Novell),
       rec({{&R::UserName, F(NOVELL, L"new")}, {&R::UserDistinguishedName, F(NOVELL, L"CN=new")}}, ET_Novell), none,
       rec({{&R::UserName, F(NOVELL, L"new")}, {&R::UserDistinguishedName, F(NOVELL, L"CN=new")}}, ET_Novell)},
      {"empty or BLANK source fields leave the candidate alone", false,
       rec({{&R::UserName, F(OSNATIVE, L"jdoe")}, {&R::ComputerName, F(OSNATIVE, L"WS01")}}),
       rec({{&R::UserName, F(WMI, L"")}, {&R::ComputerName, F(BLANK, L"X")}, {&R::DomainName, F(WMI, L"HOST")}},
           ET_Novell),
       none,
       rec({{&R::UserName, F(OSNATIVE, L"jdoe")}, {&R::ComputerName, F(OSNATIVE, L"WS01")},
            {&R::DomainName, F(WMI, L"HOST")}})},
      {"session: a later user DN replaces an earlier one of another source", false,
       rec({{&R::UserDistinguishedName, F(WMI, L"CN=wmi")}}), rec({{&R::UserDistinguishedName, F(AD, L"CN=ad")}}),
       none, rec({{&R::UserDistinguishedName, F(AD, L"CN=ad")}})},
      {"service: a WMI user DN stays against AD", true, rec({{&R::UserDistinguishedName, F(WMI, L"CN=wmi")}}),
       rec({{&R::UserDistinguishedName, F(AD, L"CN=ad")}}), none,
       rec({{&R::UserDistinguishedName, F(WMI, L"CN=wmi")}})},
      {"service: a NOVELL user DN replaces a WMI one", true, rec({{&R::UserDistinguishedName, F(WMI, L"CN=wmi")}}),
       rec({{&R::UserDistinguishedName, F(NOVELL, L"CN=nov")}}), none,
       rec({{&R::UserDistinguishedName, F(NOVELL, L"CN=nov")}})},
      {"templates win over every directory value, each %1 replaced", false,
       rec({{&R::UserName, F(WMI, L"jdoe")}, {&R::ComputerName, F(WMI, L"WS01")}}),
       rec({{&R::UserDistinguishedName, F(AD, L"CN=John Doe,DC=acme")},
            {&R::ComputerDistinguishedName, F(AD, L"CN=WS01,DC=acme")}}),
       templates,
       rec({{&R::UserName, F(WMI, L"jdoe")}, {&R::ComputerName, F(WMI, L"WS01")},
            {&R::UserDistinguishedName, F(TEMPLATE, L"CN=jdoe,OU=Staff,UID=jdoe")},
            {&R::ComputerDistinguishedName, F(TEMPLATE, L"cn=WS01,ou=PCs,dc=WS01")},
            {&R::UserDNTemplate, F(CFG, L"CN=%1,OU=Staff,UID=%1")},
            {&R::ComputerDNTemplate, F(CFG, L"cn=%1,ou=PCs,dc=%1")}})},
      {"the configuration record itself applies the templates to the current names", false,
       rec({{&R::UserName, F(NOVELL, L"jdoe")}, {&R::UserDistinguishedName, F(NOVELL, L"CN=jdoe, O=acme")}},
           ET_Novell),
       templates, templates,
       rec({{&R::UserName, F(NOVELL, L"jdoe")}, {&R::UserDistinguishedName, F(TEMPLATE, L"CN=jdoe,OU=Staff,UID=jdoe")},
            {&R::ComputerDistinguishedName, F(TEMPLATE, L"cn=,ou=PCs,dc=")},
            {&R::UserDNTemplate, F(CFG, L"CN=%1,OU=Staff,UID=%1")},
            {&R::ComputerDNTemplate, F(CFG, L"cn=%1,ou=PCs,dc=%1")}},
           ET_Novell)},
      {"a source that is not filled changes nothing, templates included", false,
       rec({{&R::UserName, F(WMI, L"jdoe")}}), none, templates, rec({{&R::UserName, F(WMI, L"jdoe")}})},
  };
  for (const Row& row : rows) {
    IdentityRecord merged = row.candidate;
    MergeIdentity(merged, row.source, row.configuration, row.serviceMode);
    EXPECT_EQ(IdentityDump(merged), IdentityDump(row.expected)) << row.name;
  }
}

TEST(IdentityDump, FieldsSourcesAndEnvironment) {
  IdentityRecord r;
  r.UserName = F(NOVELL, L"jdoe");
  r.DisplayName = F(CODE, L"John");
  r.GroupName = F(TEMPLATE, L"g");
  r.DomainName = F(DEFAULT, L"d");
  r.UserDistinguishedName = F(AD, L"CN=jdoe");
  r.ComputerName = F(OSNATIVE, L"WS01");
  r.ComputerDistinguishedName = F(7, L"x");
  r.UserDNTemplate = F(CFG, L"CN=%1");
  r.EnvType = ET_Novell;
  EXPECT_EQ(IdentityDump(r),
            L"UserName: [jdoe] <= NOVELL\r\n"
            L"DisplayName: [John] <= CODE\r\n"
            L"GroupName: [g] <= TEMPLATE\r\n"
            L"DomainName: [d] <= DEFAULT\r\n"
            L"UserDistinguishedName: [CN=jdoe] <= AD\r\n"
            L"ComputerName: [WS01] <= OSNATIVE\r\n"
            L"ComputerDistinguishedName: [x] <= !UNKNOWN ID_SOURCE!\r\n"
            L"UserDNTemplate: [CN=%1] <= CFG\r\n"
            L"ComputerDNTemplate: [] <= BLANK\r\n"
            L"EnvType: ET_Novell\r\n");
  EXPECT_STREQ(IdSourceName(WMI), L"WMI");
}

TEST(IdentityCrc, MatchesAnIndependentComputation) {
  IdentityRecord empty;
  // Only the four zero bytes of the environment kind.
  EXPECT_EQ(IdentityCrc(empty), 0x2144DF1Cu);

  IdentityRecord r;
  r.UserName = F(WMI, L"jdoe");
  r.GroupName = F(WMI, L"Staff");
  r.DomainName = F(WMI, L"ACME");
  r.UserDistinguishedName = F(AD, L"CN=J\u00f6rg \u20ac,DC=acme");
  r.ComputerName = F(WMI, L"WS01");
  r.ComputerDistinguishedName = F(AD, L"CN=WS01");
  r.EnvType = ET_Novell;
  EXPECT_EQ(IdentityCrc(r), ReferenceIdentityCrc(r));

  // Display name, templates and sources do not take part; the environment kind does.
  IdentityRecord same = r;
  same.DisplayName = F(WMI, L"John");
  same.UserDNTemplate = F(CFG, L"CN=%1");
  same.UserName.source = NOVELL;
  EXPECT_EQ(IdentityCrc(same), IdentityCrc(r));
  same.EnvType = ET_Windows;
  EXPECT_NE(IdentityCrc(same), IdentityCrc(r));
}

// Whole identifications with every source answering, in session and service mode.
TEST_F(IdentificationTest, SourcesMergedInOrder) {
  struct Row {
    const char* name;
    bool serviceMode;
    bool directoryConnected;
    std::function<void(IdentificationTest&)> arrange;
    const wchar_t* dump;
  };
  const Row rows[] = {
      {"session, directory connected: WMI last, AD for the computer DN", false, true, [](IdentificationTest&) {},
       L"UserName: [jdoe] <= WMI\r\n"
       L"DisplayName: [John Doe] <= WMI\r\n"
       L"GroupName: [Staff] <= WMI\r\n"
       L"DomainName: [ACME] <= WMI\r\n"
       L"UserDistinguishedName: [CN=John Doe,OU=Staff,DC=acme,DC=com] <= WMI\r\n"
       L"ComputerName: [WS01] <= WMI\r\n"
       L"ComputerDistinguishedName: [CN=WS01,OU=PCs,DC=acme,DC=com] <= AD\r\n"
       L"UserDNTemplate: [] <= BLANK\r\n"
       L"ComputerDNTemplate: [] <= BLANK\r\n"
       L"EnvType: ET_Windows\r\n"},
      {"session, no directory: no WMI translations, OS names and DN stay", false, false,
       [](IdentificationTest& t) {
         t.names.user[NameFullyQualifiedDN] = L"CN=jdoe,DC=os";
         t.names.user[NameCanonical] = L"os.local/Users/jdoe";
         t.directory.info = E_FAIL;
       },
       L"UserName: [jdoe] <= WMI\r\n"
       L"DisplayName: [John Doe (os)] <= OSNATIVE\r\n"
       L"GroupName: [Users] <= OSNATIVE\r\n"
       L"DomainName: [ACME] <= WMI\r\n"
       L"UserDistinguishedName: [CN=jdoe,DC=os] <= OSNATIVE\r\n"
       L"ComputerName: [WS01] <= WMI\r\n"
       L"ComputerDistinguishedName: [] <= BLANK\r\n"
       L"UserDNTemplate: [] <= BLANK\r\n"
       L"ComputerDNTemplate: [] <= BLANK\r\n"
       L"EnvType: ET_Windows\r\n"},
      {"session, templates from the configuration", false, true,
       [](IdentificationTest& t) {
         t.config.Identity.UserDNTemplate = F(CFG, L"CN=%1,OU=Staff");
         t.config.Identity.ComputerDNTemplate = F(CFG, L"CN=%1,OU=PCs");
         t.config.Identity.filled = true;
       },
       L"UserName: [jdoe] <= WMI\r\n"
       L"DisplayName: [John Doe] <= WMI\r\n"
       L"GroupName: [Staff] <= WMI\r\n"
       L"DomainName: [ACME] <= WMI\r\n"
       L"UserDistinguishedName: [CN=jdoe,OU=Staff] <= TEMPLATE\r\n"
       L"ComputerName: [WS01] <= WMI\r\n"
       L"ComputerDistinguishedName: [CN=WS01,OU=PCs] <= TEMPLATE\r\n"
       L"UserDNTemplate: [CN=%1,OU=Staff] <= CFG\r\n"
       L"ComputerDNTemplate: [CN=%1,OU=PCs] <= CFG\r\n"
       L"EnvType: ET_Windows\r\n"},
      {"service: WMI's user DN is kept against AD; no OS source", true, true, [](IdentificationTest&) {},
       L"UserName: [jdoe] <= WMI\r\n"
       L"DisplayName: [John Doe] <= WMI\r\n"
       L"GroupName: [Staff] <= WMI\r\n"
       L"DomainName: [ACME] <= WMI\r\n"
       L"UserDistinguishedName: [CN=John Doe,OU=Staff,DC=acme,DC=com] <= WMI\r\n"
       L"ComputerName: [WS01] <= WMI\r\n"
       L"ComputerDistinguishedName: [CN=WS01,OU=PCs,DC=acme,DC=com] <= AD\r\n"
       L"UserDNTemplate: [] <= BLANK\r\n"
       L"ComputerDNTemplate: [] <= BLANK\r\n"
       L"EnvType: ET_Windows\r\n"},
      {"service: the system account gives no user name", true, false,
       [](IdentificationTest& t) {
         t.wmi.objects = {{L"WS01", L"NT AUTHORITY\\system"}};
         t.directory.names.hasUser = false;
       },
       L"UserName: [] <= BLANK\r\n"
       L"DisplayName: [] <= BLANK\r\n"
       L"GroupName: [] <= BLANK\r\n"
       L"DomainName: [NT AUTHORITY] <= WMI\r\n"
       L"UserDistinguishedName: [] <= BLANK\r\n"
       L"ComputerName: [WS01] <= WMI\r\n"
       L"ComputerDistinguishedName: [CN=WS01,OU=PCs,DC=acme,DC=com] <= AD\r\n"
       L"UserDNTemplate: [] <= BLANK\r\n"
       L"ComputerDNTemplate: [] <= BLANK\r\n"
       L"EnvType: ET_Windows\r\n"},
      {"service: machine accounts, service accounts and a name-less object give no user", true, false,
       [](IdentificationTest& t) {
         t.wmi.objects = {{L"WS01", L"ACME\\jdoe"}, {L"WS02", L"LOCAL SERVICE"}, {std::nullopt, L"ACME\\WS01$"},
                          {std::nullopt, std::nullopt}};
         t.directory.info = E_FAIL;
       },
       L"UserName: [] <= BLANK\r\n"
       L"DisplayName: [] <= BLANK\r\n"
       L"GroupName: [] <= BLANK\r\n"
       L"DomainName: [ACME] <= WMI\r\n"
       L"UserDistinguishedName: [] <= BLANK\r\n"
       L"ComputerName: [WS02] <= WMI\r\n"
       L"ComputerDistinguishedName: [] <= BLANK\r\n"
       L"UserDNTemplate: [] <= BLANK\r\n"
       L"ComputerDNTemplate: [] <= BLANK\r\n"
       L"EnvType: ET_Windows\r\n"},
      {"service: a user name without domain; an overlong WMI name is cut to 255", true, false,
       [](IdentificationTest& t) {
         t.wmi.objects = {{std::wstring(600, L'N'), L"jdoe"}};
         t.directory.info = E_FAIL;
       },
       nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    config = AgentConfig{};
    DomainUser();
    row.arrange(*this);
    SetServiceMode(row.serviceMode);
    UserIdentification ident(config, platform);
    ident.SetEnvironmentType(UserIdentification::kEnvWindows);
    if (row.directoryConnected) {
      directory.bind = S_OK;
      ident.CheckDirectoryConnection();
    }
    ident.IdentifyCurrentUser();
    const IdentityRecord got = ident.GetIdentity();
    if (row.dump) {
      EXPECT_EQ(IdentityDump(got), row.dump);
    } else {
      EXPECT_EQ(got.UserName.value, L"jdoe");
      EXPECT_EQ(got.DomainName.source, BLANK);
      EXPECT_EQ(got.ComputerName.value, std::wstring(255, L'N'));
    }
  }
  EXPECT_EQ(g_exitCalls, 0);
}

// The change decision is the CRC's: the log says which, the previous identity follows.
TEST_F(IdentificationTest, ChangeDetectedByCrc) {
  DomainUser();
  UserIdentification ident(config, platform);
  ident.SetEnvironmentType(UserIdentification::kEnvWindows);
  directory.bind = S_OK;
  ident.CheckDirectoryConnection();

  ident.IdentifyCurrentUser();
  const IdentityRecord first = ident.GetIdentity();
  EXPECT_EQ(traces.Count(L"User identity has changed - updating."), 1);
  EXPECT_EQ(traces.Count(L"User identity loaded."), 1);
  EXPECT_EQ(traces.Count(L"UserName: [jdoe] <= WMI"), 1);
  wchar_t crcLine[128];
  _snwprintf(crcLine, 128, L"Current identity CRC: 0x%08X, new identity CRC: 0x%08X", 0x2144DF1Cu,
             ReferenceIdentityCrc(first));
  EXPECT_EQ(traces.Count(crcLine), 1) << traces.Find(L"Current identity CRC");

  traces.Clear();
  ident.IdentifyCurrentUser();
  EXPECT_EQ(traces.Count(L"User identity has not changed."), 1);
  EXPECT_EQ(traces.Count(L"has changed"), 0);
  EXPECT_EQ(IdentityDump(ident.GetPreviousIdentity()), IdentityDump(IdentityRecord{}));

  // A new display name alone is no change: the current record keeps the old one.
  names.translated[NameDisplay] = L"Johnny";
  traces.Clear();
  ident.IdentifyCurrentUser();
  EXPECT_EQ(traces.Count(L"User identity has not changed."), 1);
  EXPECT_EQ(ident.GetIdentity().DisplayName.value, L"John Doe");

  wmi.objects = {{L"WS01", L"ACME\\asmith"}};
  traces.Clear();
  ident.IdentifyCurrentUser();
  EXPECT_EQ(traces.Count(L"User identity has changed - updating."), 1);
  EXPECT_EQ(ident.GetIdentity().UserName.value, L"asmith");
  EXPECT_EQ(IdentityDump(ident.GetPreviousIdentity()), IdentityDump(first));
}

TEST_F(IdentificationTest, MessagesReachTheOperationsOnTheWindowThread) {
  DomainUser();
  UserIdentification ident(config, platform);
  ident.SetEnvironmentType(UserIdentification::kEnvWindows);
  ASSERT_NE(ident.Window(), nullptr);
  EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"UserIdentification", L"UserIdentification"), ident.Window());
  wchar_t className[64] = {};
  GetClassNameW(ident.Window(), className, 64);
  EXPECT_STREQ(className, L"UserIdentification");

  PostMessageW(ident.Window(), UserIdentification::kMsgCheckDirectoryConnection, 0, 0);
  ident.RequestIdentification();
  wftest::DispatchPosted();
  EXPECT_TRUE(ident.IsDirectoryConnected());
  EXPECT_EQ(ident.GetIdentity().UserName.value, L"jdoe");
  EXPECT_EQ(traces.Count(L"Active Directory connection re-established; updating identity."), 1);

  PostMessageW(ident.Window(), UserIdentification::kMsgResetIdentity, 0, 0);
  wftest::DispatchPosted();
  EXPECT_EQ(IdentityDump(ident.GetIdentity()), IdentityDump(IdentityRecord{}));
  EXPECT_EQ(traces.Count(L"Resetting current user identification."), 1);

  // 804 acts only in the Novell environment.
  ident.RequestIdentification();
  PostMessageW(ident.Window(), UserIdentification::kMsgCheckNovellIdentity, 0, 0);
  wftest::DispatchPosted();
  EXPECT_EQ(traces.Count(L"Querying for Novell username changes."), 0);
  EXPECT_EQ(ident.GetIdentity().UserName.value, L"jdoe");

  PostMessageW(ident.Window(), UserIdentification::kMsgCheckDirectoryConnection, 0, 0);
  wftest::DispatchPosted();
  EXPECT_EQ(traces.Count(L"Active Directory connection established."), 1);
  directory.bind = kNoDirectory;
  PostMessageW(ident.Window(), UserIdentification::kMsgCheckDirectoryConnection, 0, 0);
  wftest::DispatchPosted();
  EXPECT_FALSE(ident.IsDirectoryConnected());
  EXPECT_EQ(traces.Count(L"Active Directory connection could not be established - 0x8007232B"), 1);
  EXPECT_EQ(g_exitCalls, 0);  // a session only logs it
}

TEST_F(IdentificationTest, ServiceModeDirectoryFailureEndsProcess) {
  SetServiceMode(true);
  UserIdentification ident(config, platform);
  directory.bind = S_OK;
  ident.CheckDirectoryConnection();
  EXPECT_EQ(g_exitCalls, 0);
  directory.bind = kNoDirectory;
  ident.CheckDirectoryConnection();
  EXPECT_EQ(g_exitCalls, 1);
  EXPECT_EQ(g_exitDelay, 0u);  // at once
  EXPECT_EQ(traces.Count(L"Active Directory connection could not be established; will retry"), 1);
}

// Runs only inside the child process started by the test below.
TEST_F(IdentificationTest, RealExitChild) {
  wchar_t flag[8];
  if (GetEnvironmentVariableW(L"IDENT_REAL_EXIT_CHILD", flag, 8) == 0) GTEST_SKIP() << "child part";
  platform.endService = {};  // the real end
  SetServiceMode(true);
  UserIdentification ident(config, platform);
  ident.CheckDirectoryConnection();
  ADD_FAILURE() << "the process should have ended";
}

TEST_F(IdentificationTest, ServiceModeDirectoryFailureEndsProcessForReal) {
  std::wstring command = L"\"" + ProgramPath() + L"\" --gtest_filter=IdentificationTest.RealExitChild";
  SetEnvironmentVariableW(L"IDENT_REAL_EXIT_CHILD", L"1");
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"IDENT_REAL_EXIT_CHILD", nullptr);
  ASSERT_TRUE(started);
  HandleHolder process(pi.hProcess), thread(pi.hThread);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 1u);
}

// The worker identifies in the multithreaded apartment and, at shutdown, resets the
// identity and reports its end to the coordinator.
TEST_F(IdentificationTest, WorkerThreadLifecycle) {
  AppShutdown::ResetForTest();
  DomainUser();
  {
    UserIdentification ident(config, platform);
    ident.SetEnvironmentType(UserIdentification::kEnvWindows);
    ASSERT_TRUE(ident.StartThread());
    for (int i = 0; i < 200 && ident.GetIdentity().UserName.value.empty(); ++i) Sleep(25);
    EXPECT_EQ(ident.GetIdentity().UserName.value, L"jdoe");
    EXPECT_TRUE(ident.IsDirectoryConnected());  // first check in the Windows environment
    EXPECT_TRUE(wmi.callerInMta);

    ShutdownApp();
    EXPECT_EQ(traces.Count(L"All worker threads shut down gracefully."), 1);
    EXPECT_EQ(ident.GetIdentity().UserName.value, L"");
  }
  AppShutdown::ResetForTest();

  // Destroyed before any shutdown: the object ends its own worker first.
  traces.Clear();
  {
    UserIdentification ident(config, platform);
    ident.SetEnvironmentType(UserIdentification::kEnvNovell);
    ASSERT_TRUE(ident.StartThread());
    Sleep(50);
  }
  EXPECT_EQ(traces.Count(L"Active Directory connection check started."), 0);
  EXPECT_EQ(traces.Count(L"Resetting current user identification."), 1);
  AppShutdown::ResetForTest();
}

// A worker stuck in WMI does not hold the object's end: the destructor gives up after its
// bound, and the worker, once it returns, still finds the state it works on.
TEST_F(IdentificationTest, DestructorLeavesAStuckWorkerBehind) {
  class StuckWmi : public WmiApi {
   public:
    HRESULT QueryComputerSystems(std::vector<ComputerSystem>& out) override {
      SetEvent(entered.Get());
      WaitForSingleObject(release.Get(), 30000);
      out = {{L"WS01", L"ACME\\late"}};
      SetEvent(returned.Get());
      return S_OK;
    }
    HandleHolder entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HandleHolder release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HandleHolder returned{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  };
  static StuckWmi stuck;  // the worker may use it after this test's locals are gone
  static TestPlatform p;
  AppShutdown::ResetForTest();
  p.identity = {&directory, &stuck, &names};
  ULONGLONG destroyed = 0;
  const ULONGLONG start = GetTickCount64();
  {
    UserIdentification ident(config, p);
    ident.SetEnvironmentType(UserIdentification::kEnvWindows);
    ASSERT_TRUE(ident.StartThread());
    ASSERT_EQ(WaitForSingleObject(stuck.entered.Get(), 10000), WAIT_OBJECT_0);
  }
  destroyed = GetTickCount64() - start;
  EXPECT_GE(destroyed, UserIdentification::kWorkerStopWaitMs - 50);
  EXPECT_LT(destroyed, UserIdentification::kWorkerStopWaitMs + 3000);
  EXPECT_EQ(traces.Count(L"The identification thread did not end within 2000 ms; going on."), 1);

  SetEvent(stuck.release.Get());
  ASSERT_EQ(WaitForSingleObject(stuck.returned.Get(), 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(WaitUntil([&] { return traces.Count(L"Resetting current user identification.") == 1; }, 10000));
  AppShutdown::ResetForTest();
}

// Identification on two threads at once while clients read: every copy is one whole
// identity, never a mix of two.
TEST_F(IdentificationTest, ConcurrentIdentificationsKeepRecordsWhole) {
  class AlternatingWmi : public WmiApi {
   public:
    HRESULT QueryComputerSystems(std::vector<ComputerSystem>& out) override {
      const bool odd = (calls++ & 1) != 0;
      out = {{odd ? L"WS-ODD" : L"WS-EVEN", odd ? L"ODD\\odd-user" : L"EVEN\\even-user"}};
      return S_OK;
    }
    std::atomic<int> calls{0};
  } alternating;
  FakeNames none;
  FakeDirectory noDirectory;
  TestPlatform p;
  p.identity = {&noDirectory, &alternating, &none};
  SetTraceCapture({});
  SetDebuggerQuery(nullptr);  // nothing passes the filter: no file writes in the loop
  UserIdentification ident(config, p);
  ident.SetEnvironmentType(UserIdentification::kEnvWindows);

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      const IdentityRecord r = ident.GetIdentity();
      if (r.UserName.value.empty()) continue;
      const bool odd = r.UserName.value == L"odd-user";
      if (r.DomainName.value != (odd ? L"ODD" : L"EVEN") || r.ComputerName.value != (odd ? L"WS-ODD" : L"WS-EVEN"))
        ++torn;
    }
  });
  std::thread second([&] {
    for (int i = 0; i < 150; ++i) ident.IdentifyCurrentUser();
  });
  for (int i = 0; i < 150; ++i) ident.IdentifyCurrentUser();
  second.join();
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
  // The record a reader sees is always the last one that replaced it.
  const IdentityRecord last = ident.GetIdentity();
  EXPECT_NE(IdentityCrc(last), IdentityCrc(ident.GetPreviousIdentity()));
}

// What plain Wine gives: WMI "HOST\user", only the SAM-compatible name from the
// OS, no LDAP directory, a computer DN from ADSystemInfo.
TEST_F(IdentificationTest, RealSourcesUnderWine) {
  wchar_t user[256] = {}, computer[256] = {};
  DWORD userSize = 256, computerSize = 256;
  ASSERT_TRUE(GetUserNameW(user, &userSize));
  ASSERT_TRUE(GetComputerNameW(computer, &computerSize));

  IdentInfoWMI wmiSource(true);
  EXPECT_GT(wmiSource.Count(), 0);
  EXPECT_EQ(wmiSource.Record().UserName.value, user);
  EXPECT_EQ(wmiSource.Record().UserName.source, WMI);
  EXPECT_EQ(wmiSource.Record().ComputerName.value, computer);

  IdentInfoOSNative osSource(false);
  EXPECT_EQ(osSource.Record().UserName.value, user);
  EXPECT_EQ(osSource.Record().DomainName.value, computer);

  IdentInfoAD adSource;
  EXPECT_EQ(adSource.Record().UserDistinguishedName.source, BLANK);
  EXPECT_FALSE(adSource.Record().ComputerDistinguishedName.value.empty());

  UserIdentification ident(config);
  ident.SetEnvironmentType(UserIdentification::kEnvWindows);
  ident.CheckDirectoryConnection();
  EXPECT_FALSE(ident.IsDirectoryConnected());
  ident.IdentifyCurrentUser();
  const IdentityRecord got = ident.GetIdentity();
  EXPECT_EQ(got.UserName.value, user);
  EXPECT_EQ(got.UserName.source, WMI);
  EXPECT_EQ(got.ComputerName.value, computer);
  EXPECT_EQ(got.ComputerDistinguishedName.source, AD);
  EXPECT_EQ(traces.Count(L"Retrieved WMI identity information."), 2);
  EXPECT_EQ(traces.Count(L"Retrieved native Windows OS identity information."), 2);
  EXPECT_EQ(traces.Count(L"Retrieved Active Directory identity information."), 2);
}

}  // namespace

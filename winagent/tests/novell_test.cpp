#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ServiceMode.h"
#include "identity/IdentInfoNovell.h"
#include "identity/UserIdentification.h"
#include "support/Logging.h"
#include "TestPlatform.h"
#include "TestSupport.h"

namespace {

const wchar_t* const kFixtureVariables[] = {L"NOVELLFAKE_WHOAMI",      L"NOVELLFAKE_DN",
                                            L"NOVELLFAKE_PARENT",      L"NOVELLFAKE_GROUP",
                                            L"NOVELLFAKE_FAIL",        L"NOVELLFAKE_LIVE_CALLS",
                                            L"NOVELLFAKE_LIVE_TABLES", L"NOVELLFAKE_LIVE_CONTEXTS"};

// This program is built into bin\novell beside the stand-in client libraries, where the agent
// finds them as it would find them beside idagent.exe. No other test program sits there.

// The stand-ins count what was set up and not yet taken down; untouched counts as none.
bool Balanced(const wchar_t* counter) {
  wchar_t value[64] = {};
  GetEnvironmentVariableW(counter, value, 64);
  return value[0] == L'\0' || std::wstring(value) == L"0";
}

bool ClientReleased() {
  return Balanced(L"NOVELLFAKE_LIVE_CALLS") && Balanced(L"NOVELLFAKE_LIVE_TABLES") &&
         Balanced(L"NOVELLFAKE_LIVE_CONTEXTS");
}

// An established loopback connection to a port (524: as a live Novell connection shows
// in the TCP table; 0: any free port).
class LoopbackConnection {
 public:
  explicit LoopbackConnection(u_short port = 524) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    int length = sizeof(address);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    client_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(client_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return;
    server_ = accept(listener_, nullptr, nullptr);
    ok_ = server_ != INVALID_SOCKET;
  }
  ~LoopbackConnection() {
    for (SOCKET s : {client_, server_, listener_})
      if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
  }
  bool Ok() const { return ok_; }

 private:
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  SOCKET server_ = INVALID_SOCKET;
  bool ok_ = false;
};

// The Novell client's registry tree in this test's prefix, removed before and after.
class NovellRegistry {
 public:
  NovellRegistry() { Remove(); }
  ~NovellRegistry() { Remove(); }

  void LastLogin(const std::wstring& tree, const std::wstring& user, DWORD high, DWORD low) {
    HKEY key = Create(L"SOFTWARE\\Novell\\NMAS\\1.1\\LastLogin\\" + tree + L"\\" + user);
    RegSetValueExW(key, L"Last Login High", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&high), sizeof(high));
    RegSetValueExW(key, L"Last Login Low", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&low), sizeof(low));
    RegCloseKey(key);
  }
  // The exact bytes of an 8-bit string value, terminator or not.
  void LoginScreen(const char* name, const std::string& bytes, DWORD type = REG_SZ) {
    HKEY key = Create(L"SOFTWARE\\Novell\\NWGINA\\Login Screen");
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
  }

 private:
  static HKEY Create(const std::wstring& path) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                    nullptr);
    return key;
  }
  static void Remove() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Novell"); }
};

class NovellTest : public ::testing::Test {
 public:
  void SetUp() override {
    for (const wchar_t* name : kFixtureVariables) SetEnvironmentVariableW(name, nullptr);
    SetServiceMode(false);
  }
  void TearDown() override {
    // Whatever a query set up in the client, it took down again.
    EXPECT_TRUE(ClientReleased());
    for (const wchar_t* name : kFixtureVariables) SetEnvironmentVariableW(name, nullptr);
    SetServiceMode(false);
  }

  static void Fixture(std::initializer_list<std::pair<const wchar_t*, std::wstring>> values) {
    for (const auto& [name, value] : values) SetEnvironmentVariableW(name, value.c_str());
  }

  TraceLines traces{"novell-log"};
  TestPlatform platform;
};

std::wstring Dump(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> fields, bool novell = true) {
  IdentityRecord r;
  for (const auto& [name, value] : fields) {
    IdentityField* f = std::wstring(name) == L"UserName"                ? &r.UserName
                       : std::wstring(name) == L"GroupName"             ? &r.GroupName
                       : std::wstring(name) == L"DomainName"            ? &r.DomainName
                       : std::wstring(name) == L"UserDistinguishedName" ? &r.UserDistinguishedName
                                                                        : nullptr;
    *f = IdentityField{NOVELL, value};
  }
  r.EnvType = novell ? ET_Novell : ET_Windows;
  return IdentityDump(r);
}

// The session query through the client, one row per answer of the fixture.
TEST_F(NovellTest, SessionQueryThroughTheClient) {
  struct Row {
    const char* name;
    std::vector<std::pair<const wchar_t*, std::wstring>> fixture;
    bool available;
    std::wstring dump;  // empty: no data
  };
  const std::vector<std::pair<const wchar_t*, std::wstring>> full = {{L"NOVELLFAKE_WHOAMI", L"jdoe.staff.acme"},
                                                                     {L"NOVELLFAKE_DN", L"CN=jdoe.OU=staff.O=acme"},
                                                                     {L"NOVELLFAKE_PARENT", L"OU=staff.O=acme"},
                                                                     {L"NOVELLFAKE_GROUP", L"Staff.Team"}};
  auto with = [&](std::vector<std::pair<const wchar_t*, std::wstring>> changes) {
    auto rows = full;
    for (const auto& change : changes) {
      bool replaced = false;
      for (auto& row : rows)
        if (std::wstring(row.first) == change.first) {
          row.second = change.second;
          replaced = true;
        }
      if (!replaced) rows.push_back(change);
    }
    return rows;
  };
  auto without = [&](const wchar_t* name) {
    auto rows = full;
    std::erase_if(rows, [&](const auto& row) { return std::wstring(row.first) == name; });
    return rows;
  };
  const std::wstring complete = Dump({{L"UserName", L"jdoe,staff,acme"},
                                      {L"GroupName", L"Staff.Team"},
                                      {L"DomainName", L"OU=staff,O=acme"},
                                      {L"UserDistinguishedName", L"CN=jdoe,OU=staff,O=acme"}});
  const Row rows[] = {
      {"every answer", full, true, complete},
      {"not logged on: a bracketed name", with({{L"NOVELLFAKE_WHOAMI", L"[Public]"}}), true, L""},
      {"who-am-I fails", without(L"NOVELLFAKE_WHOAMI"), true, L""},
      {"no distinguished name", without(L"NOVELLFAKE_DN"), true, L""},
      {"no parent: what was found so far", without(L"NOVELLFAKE_PARENT"), true,
       Dump({{L"UserName", L"jdoe,staff,acme"}, {L"UserDistinguishedName", L"CN=jdoe,OU=staff,O=acme"}})},
      {"no group", without(L"NOVELLFAKE_GROUP"), true,
       Dump({{L"UserName", L"jdoe,staff,acme"},
             {L"DomainName", L"OU=staff,O=acme"},
             {L"UserDistinguishedName", L"CN=jdoe,OU=staff,O=acme"}})},
      {"an overlong name is cut to 255 characters", with({{L"NOVELLFAKE_WHOAMI", std::wstring(400, L'u')}}), true,
       L""},
      {"calls library fails to start", with({{L"NOVELLFAKE_FAIL", L"NWCallsInit"}}), false, L""},
      {"unicode tables fail", with({{L"NOVELLFAKE_FAIL", L"NWInitUnicodeTables"}}), false, L""},
      {"no context", with({{L"NOVELLFAKE_FAIL", L"NWDSCreateContextHandle"}}), false, L""},
      {"context flags cannot be set", with({{L"NOVELLFAKE_FAIL", L"NWDSSetContext"}}), false, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const wchar_t* name : kFixtureVariables) SetEnvironmentVariableW(name, nullptr);
    for (const auto& [name, value] : row.fixture) SetEnvironmentVariableW(name, value.c_str());
    EXPECT_EQ(NovellClientAvailable(), row.available);
    IdentInfoNovell source(false);
    if (std::string(row.name).starts_with("an overlong")) {
      // The whole name did not fit the record; the directory still found the object.
      EXPECT_EQ(source.Record().UserName.value, std::wstring(255, L'u'));
      EXPECT_EQ(source.Record().UserDistinguishedName.value, L"CN=jdoe,OU=staff,O=acme");
    } else if (row.dump.empty()) {
      EXPECT_EQ(source.Count(), 0);
      EXPECT_FALSE(source.Answered());
    } else {
      EXPECT_TRUE(source.Answered());
      EXPECT_EQ(IdentityDump(source.Record()), row.dump);
    }
    EXPECT_TRUE(ClientReleased());
  }
}

// The service-mode registry search, one row per registry content.
TEST_F(NovellTest, RegistrySearch) {
  struct Row {
    const char* name;
    std::function<void(NovellRegistry&)> arrange;
    bool found;
    std::wstring dump;  // the record, when found
    std::string error;
    const wchar_t* logged;
  };
  const Row rows[] = {
      {"user and domain", [](NovellRegistry& r) { r.LastLogin(L"tree", L"jdoe.acme", 0, 5); }, true,
       Dump({{L"UserName", L"jdoe"}, {L"DomainName", L"acme"}, {L"UserDistinguishedName", L"CN=jdoe, O=acme"}}), "",
       L"Found user."},
      {"the greatest time wins, the high word first",
       [](NovellRegistry& r) {
         r.LastLogin(L"a-tree", L"old.acme", 0, 9);
         r.LastLogin(L"b-tree", L"new.acme", 1, 0);
         r.LastLogin(L"b-tree", L"mid.acme", 0, 0xFFFFFFFF);
       },
       true,
       Dump({{L"UserName", L"new"}, {L"DomainName", L"acme"}, {L"UserDistinguishedName", L"CN=new, O=acme"}}), "",
       L"User DN found is: CN=new, O=acme"},
      {"equal times: the first enumerated wins",
       [](NovellRegistry& r) {
         r.LastLogin(L"tree", L"first.acme", 0, 5);
         r.LastLogin(L"tree", L"second.acme", 0, 5);
       },
       true,
       Dump({{L"UserName", L"first"}, {L"DomainName", L"acme"}, {L"UserDistinguishedName", L"CN=first, O=acme"}}),
       "", nullptr},
      {"parts between user and domain become the group",
       [](NovellRegistry& r) { r.LastLogin(L"tree", L"jdoe.staff.sales.acme", 0, 1); }, true,
       Dump({{L"UserName", L"jdoe"},
             {L"GroupName", L"OU=staff, OU=sales"},
             {L"DomainName", L"acme"},
             {L"UserDistinguishedName", L"CN=jdoe, OU=staff,  OU=sales, O=acme"}}),
       "", nullptr},
      {"an NMAS name without domain falls back to NWGINA",
       [](NovellRegistry& r) {
         r.LastLogin(L"tree", L"jdoe", 0, 1);
         r.LoginScreen("DefaultNetWareUserName", std::string("asmith\0", 7));
         r.LoginScreen("DefaultNDSContext", std::string("staff.acme.corp\0", 16));
       },
       true,
       Dump({{L"UserName", L"asmith"},
             {L"GroupName", L"staff"},
             {L"DomainName", L"acme.corp"},
             {L"UserDistinguishedName", L"CN=asmith, staff, O=acme, O=corp"}}),
       "", L"Cannot determine user/domain name."},
      {"NWGINA values without terminator, the saved context as fallback; the first error stays",
       [](NovellRegistry& r) {
         r.LastLogin(L"tree", L"never.acme", 0, 0);
         r.LoginScreen("DefaultNetWareUserName", "bob");
         r.LoginScreen("DefaultNDSContext", "");
         r.LoginScreen("SavedNDSContexts", std::string("ou.org\0other.ctx\0\0", 18), REG_MULTI_SZ);
       },
       true,
       Dump({{L"UserName", L"bob"},
             {L"GroupName", L"ou"},
             {L"DomainName", L"org"},
             {L"UserDistinguishedName", L"CN=bob, ou, O=org"}}),
       "\tscanNMAS() failed step 1", L"NMAS info not found."},
      {"nothing at all", [](NovellRegistry&) {}, false, L"", "\tscanNMAS() failed step 1", L"NWGINA info not found."},
      {"NWGINA without user name",
       [](NovellRegistry& r) {
         r.LastLogin(L"tree", L"jdoe", 0, 1);
         r.LoginScreen("DefaultNDSContext", "staff.acme");
       },
       false, L"", "\tscanNWGINA() failed step 1", L"NWGINA user name size is zero."},
      {"NWGINA without context",
       [](NovellRegistry& r) {
         r.LastLogin(L"tree", L"jdoe", 0, 1);
         r.LoginScreen("DefaultNetWareUserName", "jdoe");
       },
       false, L"", "\tscanNWGINA() failed step 2", L"NWGINA domain name size is zero."},
      {"NWGINA context without a part after the dot",
       [](NovellRegistry& r) {
         r.LastLogin(L"tree", L"jdoe", 0, 1);
         r.LoginScreen("DefaultNetWareUserName", "jdoe");
         r.LoginScreen("DefaultNDSContext", "acme.");
       },
       false, L"", "\tscanNWGINA() failed step 3", L"NWGINA group name size is zero."},
      {"an empty user name builds no DN", [](NovellRegistry& r) { r.LastLogin(L"tree", L".acme", 0, 1); }, false,
       L"", "", L"Create user DN failure."},
  };
  LoopbackConnection connection;
  ASSERT_TRUE(connection.Ok());
  ASSERT_TRUE(ActiveNovellConnection());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NovellRegistry registry;
    row.arrange(registry);
    traces.Clear();
    NovellUserIdentHack search;
    EXPECT_EQ(search.found, row.found);
    EXPECT_EQ(search.novellConnected, row.found ? 1 : 0);
    EXPECT_EQ(search.error, row.error);
    if (row.found) {
      EXPECT_EQ(IdentityDump(search.record), row.dump);
      EXPECT_TRUE(search.record.filled);
    }
    if (row.logged) {
      EXPECT_EQ(traces.Count(std::wstring(L"NovellUserIdentHack: ") + row.logged), 1);
    }
    EXPECT_EQ(traces.Count(L"NovellUserIdentHack: Execute NMAS/NWGINA user search..."), 1);
    EXPECT_EQ(traces.Count(L"NovellUserIdentHack: Exit NMAS/NWGINA user search."), 1);
  }
}

// Without an established connection to port 524 the registry's name is not enough;
// a connection to another port does not count.
TEST_F(NovellTest, RegistryIdentityNeedsALiveConnection) {
  NovellRegistry registry;
  registry.LastLogin(L"tree", L"jdoe.acme", 0, 5);
  LoopbackConnection elsewhere(0);
  ASSERT_TRUE(elsewhere.Ok());
  ASSERT_FALSE(ActiveNovellConnection());
  NovellUserIdentHack search;
  EXPECT_FALSE(search.found);
  EXPECT_EQ(search.novellConnected, 0);
  EXPECT_EQ(traces.Count(L"User DN found is: CN=jdoe, O=acme"), 1);
  EXPECT_EQ(traces.Count(L"Active Novell connection not found."), 1);
}

TEST_F(NovellTest, DetectEnvironment) {
  struct Row {
    const char* name;
    bool serviceMode;
    int32_t configured;
    bool clientPresent;
    bool registryIdentity;
    int32_t expected;
    const wchar_t* logged;
  };
  const Row rows[] = {
      {"session, automatic, client present", false, 255, true, false, 1, L"Environment type: Novell"},
      {"session, automatic, no client", false, 255, false, true, 0, L"Environment type: Windows"},
      {"session, configured Windows stays", false, 0, true, true, 0, L"Environment type: Windows"},
      {"service, automatic, registry identity", true, 255, false, true, 1, L"Novell info exist."},
      {"service, automatic, nothing in the registry", true, 255, true, false, 0,
       L"Novell Info absent. Using Windows."},
      {"service, configured Windows: the registry decides", true, 0, false, true, 1, L"Environment type: Novell"},
      {"service, configured Novell: the registry decides", true, 1, true, false, 0, L"Environment type: Windows"},
  };
  LoopbackConnection connection;
  ASSERT_TRUE(connection.Ok());
  Fixture({{L"NOVELLFAKE_WHOAMI", L"jdoe.acme"}});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    NovellRegistry registry;
    if (row.registryIdentity) registry.LastLogin(L"tree", L"jdoe.acme", 0, 5);
    // Absent: the client's libraries load but it does not start.
    SetEnvironmentVariableW(L"NOVELLFAKE_FAIL", row.clientPresent ? nullptr : L"NWCallsInit");
    SetServiceMode(row.serviceMode);
    traces.Clear();
    AgentConfig config{};
    UserIdentification ident(config, platform);
    ident.SetEnvironmentType(row.configured);
    ident.DetectEnvironment();
    EXPECT_EQ(ident.EnvironmentType(), row.expected);
    EXPECT_EQ(traces.Count(row.logged), 1);
    EXPECT_EQ(traces.Count(L"Autodetecting environment type..."), row.configured == 255 ? 1 : 0);
  }
}

// In a session the Novell environment takes the identity from the client; the Novell
// check follows changes and a lost connection.
TEST_F(NovellTest, SessionIdentificationAndNovellCheck) {
  Fixture({{L"NOVELLFAKE_WHOAMI", L"jdoe.acme"}, {L"NOVELLFAKE_DN", L"CN=jdoe.O=acme"}, {L"NOVELLFAKE_PARENT", L"acme"}});
  AgentConfig config{};
  config.Identity.ComputerDNTemplate = IdentityField{CFG, L"CN=%1,O=acme"};
  config.Identity.filled = true;
  UserIdentification ident(config, platform);
  ident.SetEnvironmentType(UserIdentification::kEnvNovell);

  ident.IdentifyCurrentUser();
  IdentityRecord got = ident.GetIdentity();
  EXPECT_EQ(got.UserName.value, L"jdoe,acme");
  EXPECT_EQ(got.UserName.source, NOVELL);
  EXPECT_EQ(got.EnvType, ET_Novell);
  EXPECT_EQ(got.ComputerDistinguishedName.source, TEMPLATE);
  EXPECT_EQ(traces.Count(L"Retrieved Novell identity information."), 1);

  // Same answer: no change.
  traces.Clear();
  ident.CheckNovellIdentity();
  EXPECT_EQ(traces.Count(L"Novell connection detected."), 1);
  EXPECT_EQ(traces.Count(L"Novell user identity changed"), 0);
  EXPECT_TRUE(ident.IsNovellConnected());

  Fixture({{L"NOVELLFAKE_WHOAMI", L"asmith.acme"}});
  ident.CheckNovellIdentity();
  EXPECT_EQ(traces.Count(L"Novell user identity changed to <asmith,acme>"), 1);
  EXPECT_EQ(ident.GetIdentity().UserName.value, L"asmith,acme");
  EXPECT_EQ(ident.GetPreviousIdentity().UserName.value, L"jdoe,acme");

  SetEnvironmentVariableW(L"NOVELLFAKE_WHOAMI", nullptr);
  ident.CheckNovellIdentity();
  EXPECT_EQ(traces.Count(L"Novell is not connected."), 1);
  EXPECT_FALSE(ident.IsNovellConnected());
  EXPECT_EQ(IdentityDump(ident.GetIdentity()), IdentityDump(IdentityRecord{}));
}

// As a service the identity comes from the registry, and only with a live connection.
TEST_F(NovellTest, ServiceIdentificationFromTheRegistry) {
  SetServiceMode(true);
  NovellRegistry registry;
  registry.LastLogin(L"tree", L"jdoe.staff.acme", 0, 5);
  AgentConfig config{};
  UserIdentification ident(config, platform);
  ident.SetEnvironmentType(UserIdentification::kEnvNovell);
  {
    LoopbackConnection connection;
    ASSERT_TRUE(connection.Ok());
    ident.IdentifyCurrentUser();
    EXPECT_EQ(traces.Count(L"Querying Novell for identity..."), 1);
    EXPECT_EQ(traces.Count(L"Novell user identity detected."), 1);
    EXPECT_TRUE(ident.IsNovellConnected());
    EXPECT_EQ(IdentityDump(ident.GetIdentity()),
              Dump({{L"UserName", L"jdoe"},
                    {L"GroupName", L"OU=staff"},
                    {L"DomainName", L"acme"},
                    {L"UserDistinguishedName", L"CN=jdoe, OU=staff, O=acme"}}));

    // The Novell check in service mode needs a client that starts as well.
    Fixture({{L"NOVELLFAKE_FAIL", L"NWCallsInit"}});
    ident.CheckNovellIdentity();
    EXPECT_EQ(traces.Count(L"Novell is not connected."), 1);
    SetEnvironmentVariableW(L"NOVELLFAKE_FAIL", nullptr);
    IdentInfoNovell source(true);
    EXPECT_EQ(source.Record().UserDistinguishedName.value, L"CN=jdoe, OU=staff, O=acme");
    EXPECT_EQ(source.Record().UserName.source, NOVELL);
  }
  ident.IdentifyCurrentUser();
  EXPECT_FALSE(ident.IsNovellConnected());
  EXPECT_EQ(ident.GetIdentity().UserName.value, L"");
}

}  // namespace

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "support/Basetypes.h"
#include "support/File_aid.h"
#include "platform/CoreServices.h"
#include "LoggingEnvironment.h"
#include "TestSupport.h"
#include "identity/UserIdent.h"
#include "support/XCFString.h"
#include "identity/dscl_parser.h"

namespace {

const testing::Environment* const kLogging = testing::AddGlobalTestEnvironment(new LoggingEnvironment);

std::string Fixture(const std::string& name) { return std::string(MAC_FIXTURES_DIR) + "/" + name; }

std::string LoginName() {
  const passwd* entry = getpwuid(getuid());
  return entry ? entry->pw_name : "";
}

std::string CachePath(int uid) {
  UserOptionsDir<1> options;
  return options.Dir() + "/userident-" + std::to_string(uid) + ".txt";
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The fake dscl and id first on PATH, a private TMPDIR, and the options folder present.
class UserIdentTest : public testing::Test {
 protected:
  void SetUp() override {
    env.Set("PATH", std::string(FAKE_TOOLS_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : ""));
    env.Set("TMPDIR", tmp.path());
    env.Set("FAKE_DSCL_ARGS", tmp / "dscl-args");
    env.Set("FAKE_ID_OUTPUT", "uid=501(jo) gid=20(staff) groups=20(staff),12(everyone)");
    env.Set("USER", "jo");
    ASSERT_TRUE(UserOptionsDir<1>().Create());
    LogEverything();
  }
  void TearDown() override {
    LogHub<LogContext>::Get().SetDefaultLevel(SEV_NOTICE);
    std::filesystem::remove(CachePath(getuid()));
  }

  // Initialize through the fake dscl printing the fixture; the log lines it wrote.
  std::string RunDscl(UserIdent& ident, const std::string& fixture, bool expected) {
    env.Set("FAKE_DSCL_OUTPUT", Fixture(fixture));
    StderrCapture err;
    EXPECT_EQ(ident.Initialize(""), expected) << fixture;
    return err.Text();
  }

  TempDir tmp;
  ScopedEnv env;
  LogSource log{"UserIdentTest", LC_UserIdent};
};

struct Identity {
  std::string user, domain, dn, group;
  int32_t type;
  int32_t uid;
};

// "[group]name=value" of every kept record.
std::vector<std::string> Dump(const dscl_parser& parser) {
  std::vector<std::string> dump;
  for (const dscl_rec& rec : parser.records())
    dump.push_back("[" + std::to_string(rec.group) + "]" + std::string(rec.name) + "=" + std::string(rec.value));
  return dump;
}

// How many kept records match.
size_t Matches(const dscl_parser& parser, int findType, const char* name) {
  size_t n = 0;
  parser.find(findType, name, -1, [&](const dscl_rec&) {
    ++n;
    return true;
  });
  return n;
}

void ExpectIdentity(UserIdent& ident, const Identity& expected, const std::string& context) {
  EXPECT_EQ(ident.GetUserName(), expected.user) << context;
  EXPECT_EQ(ident.GetDomainName(), expected.domain) << context;
  EXPECT_EQ(ident.GetDistinguishedName(), expected.dn) << context;
  EXPECT_EQ(ident.GetGroupName(), expected.group) << context;
  EXPECT_EQ(ident.GetIdentType(), expected.type) << context;
  EXPECT_EQ(ident.GetUnixUserID(), expected.uid) << context;
}

TEST(DsclParser, RecordsValuesAndGroups) {
  dscl_parser parser;
  const char* const text =
      "RecordName: jo\n"
      "dsAttrTypeNative:uid: jo\n"
      "AppleMetaRecordName:\n first line\n second line\n"
      "Empty:\n"
      "UniqueID: 501\n"
      "RecordName: ann\n"
      " Indented: not a record\n"
      "UniqueID: 502\n"
      "dsAttrTypeNative:x: y\n"
      "key.x: v";
  ASSERT_EQ(parser.parse(text), 8);
  EXPECT_EQ(Dump(parser), (std::vector<std::string>{
                              "[0]RecordName=jo",
                              "[1]dsAttrTypeNative:uid=jo",
                              "[1]AppleMetaRecordName=first line  second line",
                              "[1]UniqueID=501",
                              "[2]RecordName=ann  Indented: not a record",
                              "[2]UniqueID=502",
                              "[3]dsAttrTypeNative:x=y",
                              "[3]key.x=v",
                          }));

  // Kept to two names, the parser still counts every attribute and places the groups by them.
  dscl_parser kept({"UniqueID", "RecordName"});
  ASSERT_EQ(kept.parse(text), 8);
  EXPECT_EQ(Dump(kept), (std::vector<std::string>{"[0]RecordName=jo", "[1]UniqueID=501",
                                                  "[2]RecordName=ann  Indented: not a record", "[2]UniqueID=502"}));
  EXPECT_EQ(Matches(kept, dscl_parser::kFindContains, "dsAttrTypeNative"), 0u);

  EXPECT_EQ(parser.get_value("UniqueID", 2), "502");
  EXPECT_EQ(parser.get_value("UniqueID", 0), "");
  EXPECT_EQ(Matches(parser, dscl_parser::kFindEqual, "UniqueID"), 2u);
  EXPECT_EQ(Matches(parser, dscl_parser::kFindContains, "dsAttrTypeNative"), 2u);
  EXPECT_EQ(Matches(parser, 0, "UniqueID"), 0u);
}

TEST(DsclParser, PropertyListsAreStrippedAndLocalDefaultNamesSkipped) {
  dscl_parser parser;
  std::ifstream in(Fixture("dscl-ad.txt"));
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(parser.parse(text.c_str()), 0);
  EXPECT_EQ(parser.get_value("dsAttrTypeNative:accountPolicyData", 0), "--stripped --");
  EXPECT_EQ(Matches(parser, dscl_parser::kFindEqual, "passwordPolicy"), 0u);
  EXPECT_EQ(parser.get_value("dsAttrTypeNative:ADDomain", 0), "corp.example.com");

  ASSERT_EQ(parser.parse("dsAttrTypeStandard:/Local/Default: 1\nRecordName: jo\n"), 2);
  EXPECT_EQ(Matches(parser, dscl_parser::kFindContains, "Default"), 0u);
  EXPECT_EQ(parser.get_value("RecordName", 0), "jo");

  testing::internal::CaptureStdout();
  EXPECT_EQ(parser.parse("\x01RecordName: jo\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[0]: \n");
}

// Listings of 4 MiB shaped to make a parser that rescans the rest of its text, or copies
// a group's values once per node location, take from 20 s to minutes.
TEST_F(UserIdentTest, HostileListingsTakeLinearTime) {
  const auto repeated = [](const std::string& head, const std::string& unit) {
    std::string text = head;
    while (text.size() < (4u << 20)) text += unit;
    return text;
  };
  const struct {
    const char* shape;
    std::string text;
    bool found;
  } cases[] = {
      {"empty lines", std::string(4u << 20, '\n') + "AppleMetaNodeLocation: /LDAPv3/x\n", true},
      {"property lists", repeated("", " <?xml\n</plist>\n") + "AppleMetaNodeLocation: /LDAPv3/x\n", true},
      {"locations of one group",
       repeated("dsAttrTypeNative:uid: " + std::string(2u << 20, 'j') + "\n", "AppleMetaNodeLocation: /LDAPv3/x\n"),
       true},
      {"a location in each group", repeated("", "a: x\nAppleMetaNodeLocation: /LDAPv3/x\n"), true},
      {"lines without a record", repeated("", "x x x x x x x\n"), false},
      {"a photo's hex lines", WithPhoto("AppleMetaNodeLocation: /LDAPv3/x\nUniqueID: 5\n", "UniqueID", 4u << 20), true},
      {"a photo on one line", "AppleMetaNodeLocation: /LDAPv3/x\nJPEGPhoto: " + std::string(4u << 20, 'f') + "\n", true},
  };
  LogHub<LogContext>::Get().SetDefaultLevel(SEV_NOTICE);
  for (const auto& c : cases) {
    UserIdent ident(log);
    StderrCapture err;
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(ident.parse_dscl(c.text.c_str()), c.found) << c.shape;
    // A fifth of a second here; the bound leaves room for a loaded machine.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), 5.0) << c.shape;
  }
}

// Listings of 15 MiB in every shape give the directory user's identity; how long each read
// blocks the run loop is printed (well under a second here).
TEST_F(UserIdentTest, LongListingsGiveTheIdentity) {
  LogHub<LogContext>::Get().SetDefaultLevel(SEV_NOTICE);
  for (auto& [shape, text] : LongListings(ReadWholeFile(Fixture("dscl-ad.txt")), 15u << 20)) {
    UserIdent ident(log);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(ident.parse_dscl(std::move(text))) << shape;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << "A 15 MiB listing of " << shape << " was read in " << seconds << " s\n";
    EXPECT_EQ(ident.GetUserName(), "jo") << shape;
    EXPECT_EQ(ident.GetIdentType(), AT_OD_VIA_AD) << shape;
    EXPECT_EQ(ident.GetDistinguishedName(), "CN=Jo Doe,OU=Staff,DC=corp,DC=example,DC=com") << shape;
  }
}

TEST(UserIdentParts, DistinguishedNameAndTypeNames) {
  EXPECT_EQ(make_distinguished_name("jo", "corp.example.org"), "uid=jo,cn=users,dc=corp,dc=example,dc=org");
  EXPECT_EQ(make_distinguished_name("jo doe", "local"), "uid=jo,cn=users,dc=local");
  EXPECT_EQ(make_distinguished_name("", "local"), "");
  EXPECT_EQ(make_distinguished_name("jo", ""), "");
  const std::pair<int32_t, const char*> names[] = {{3, "OD_NATIVE"}, {4, "OD_VIA_AD"}, {5, "OSX"}, {-1, "UNK"},
                                                   {0, "???"}};
  for (const auto& [type, name] : names) EXPECT_STREQ(AuthTypeName(type), name);
}

TEST(UserIdentParts, GroupFromIdOutput) {
  const struct {
    const char* text;
    bool nt, unix;
    const char* domain;
    const char* group;
  } cases[] = {
      {"uid=501(jo) gid=20(staff) groups=20(staff)", false, true, "", "staff"},
      {"uid=1234567(CORP\\jo) gid=1234568(CORP\\domain users) groups=1234568(CORP\\domain users)", false, true,
       "CORP", "CORP\\domain users"},
      {"uid=5 gid=7 groups=7", false, false, "", ""},
      {"uid=5(a\\b gid=7(x)", false, true, "a", "x"},
      {"no parenthesis\\here", true, false, "", ""},
  };
  LogSource log("t");
  for (const auto& c : cases) {
    UserIdent ident(log);
    EXPECT_EQ(ident.parseNtDomainGroup(c.text), c.nt) << c.text;
    if (!c.nt) {
      EXPECT_EQ(ident.parseUnixGroup(c.text), c.unix) << c.text;
    }
    EXPECT_EQ(ident.GetDomainName(), c.domain) << c.text;
    EXPECT_EQ(ident.GetGroupName(), c.group) << c.text;
  }
}

TEST_F(UserIdentTest, EveryDsclForm) {
  WriteFile(CachePath(501), "#Ver:1\n_userName:jo\n_machineName:mac1\n_distinguishedName:CN=Jo,DC=corp\n"
                            "_domainName:CORP\n_groupName:CORP\\staff\n_identType:4\n_unixUserID:1234567\n");
  const struct {
    const char* fixture;
    Identity identity;
  } cases[] = {
      {"dscl-ad.txt",
       {"jo", "CORP", "CN=Jo Doe,OU=Staff,DC=corp,DC=example,DC=com", "staff", AT_OD_VIA_AD, 1234567}},
      {"dscl-ldap.txt", {"jo", "ldap.example.org", "uid=jo,ou=people,dc=example,dc=org", "staff", AT_OD_NATIVE, 2001}},
      {"dscl-ldap-nometa.txt",
       {"jo", "ldap.example.org", "uid=jo,cn=users,dc=ldap,dc=example,dc=org", "staff", AT_OD_NATIVE, 2001}},
      {"dscl-local.txt", {"jo", "CORP", "CN=Jo,DC=corp", "CORP\\staff", AT_OD_VIA_AD, 1234567}},
  };
  for (const auto& c : cases) {
    UserIdent ident(log);
    RunDscl(ident, c.fixture, true);
    ExpectIdentity(ident, c.identity, c.fixture);
  }
  EXPECT_EQ(ReadWholeFile(tmp / "dscl-args"), "localhost\n-read\n/Search/Users/jo\n");

  std::filesystem::remove(CachePath(501));
  UserIdent local(log);
  const std::string text = RunDscl(local, "dscl-local.txt", true);
  EXPECT_NE(text.find("Loading cached identity for user ID 501..."), std::string::npos) << text;
  EXPECT_NE(text.find("ERROR: UNABLE TO LOAD CACHED IDENTITY"), std::string::npos) << text;
  ExpectIdentity(local, {LoginName(), "", "", "staff", AT_UNK, static_cast<int32_t>(getuid())}, "local without cache");
}

// The capture goes only into a file the agent made itself: an old capture of the user's is
// replaced; a name held by another owner, a link, or no regular file gets nothing written.
TEST_F(UserIdentTest, GarbageOutputIsCapturedOnlyIntoAFileOfItsOwn) {
  const std::string capture = tmp / "Tavo-auth-dscl-capture.txt";
  const std::string victim = tmp / "victim";
  const std::string garbage = ReadWholeFile(Fixture("dscl-garbage.txt"));
  const auto plant = [&](const std::string& text, mode_t mode) {
    WriteFile(capture, text);
    chmod(capture.c_str(), mode);
  };
  const struct {
    const char* name;
    std::function<bool()> setUp;  // false: the row cannot be had here
    const char* refused;          // the reason logged, or null when the capture is written
    std::function<void()> check;
  } cases[] = {
      {"no capture yet", [] { return true; }, nullptr, [] {}},
      {"an old capture of the user's", [&] { plant("old capture\n", 0644); return true; }, nullptr, [] {}},
      {"one made by another user",
       [&] {
         if (geteuid() != 0) return false;
         plant("planted\n", 0666);
         return chown(capture.c_str(), 65534, 65534) == 0;
       },
       "held by another owner",
       [&] {
         EXPECT_EQ(ReadWholeFile(capture), "planted\n");
         struct stat status {};
         ASSERT_EQ(lstat(capture.c_str(), &status), 0);
         EXPECT_EQ(status.st_uid, 65534u);
       }},
      {"a hard link to a file of the user's",
       [&] {
         WriteFile(victim, "the user's own\n");
         return link(victim.c_str(), capture.c_str()) == 0;
       },
       "a file with more than one link", [&] { EXPECT_EQ(ReadWholeFile(victim), "the user's own\n"); }},
      {"a symbolic link to a file of the user's",
       [&] {
         WriteFile(victim, "the user's own\n");
         return symlink(victim.c_str(), capture.c_str()) == 0;
       },
       "not a regular file",
       [&] {
         EXPECT_EQ(ReadWholeFile(victim), "the user's own\n");
         EXPECT_TRUE(std::filesystem::is_symlink(capture));
       }},
      {"a symbolic link to nothing", [&] { return symlink(victim.c_str(), capture.c_str()) == 0; },
       "not a regular file", [&] { EXPECT_FALSE(std::filesystem::exists(victim)); }},
      {"a folder", [&] { return mkdir(capture.c_str(), 0700) == 0; }, "not a regular file",
       [&] { EXPECT_TRUE(std::filesystem::is_directory(capture)); }},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(capture);
    std::filesystem::remove(victim);
    if (!c.setUp()) {
      std::cout << "skipped: " << c.name << " (needs root)\n";
      continue;
    }
    UserIdent ident(log);
    const std::string text = RunDscl(ident, "dscl-garbage.txt", false);
    EXPECT_NE(text.find("UserIdent.parse_dscl failed."), std::string::npos) << c.name << "\n" << text;
    const std::string written = "    .... dscl output written to " + capture;
    if (c.refused) {
      EXPECT_EQ(text.find(written), std::string::npos) << c.name << "\n" << text;
      EXPECT_NE(text.find("    .... dscl output not written to " + capture + ": " + c.refused), std::string::npos)
          << c.name << "\n" << text;
    } else {
      EXPECT_NE(text.find(written), std::string::npos) << c.name << "\n" << text;
      EXPECT_EQ(ReadWholeFile(capture), garbage) << c.name;
      struct stat status {};
      ASSERT_EQ(lstat(capture.c_str(), &status), 0) << c.name;
      EXPECT_EQ(status.st_mode & 07777, 0600u) << c.name;
      EXPECT_EQ(status.st_uid, geteuid()) << c.name;
    }
    c.check();
  }
  std::filesystem::remove_all(capture);

  // TMPDIR without its trailing slash still names the folder.
  env.Set("TMPDIR", tmp.path() + "/");
  EXPECT_EQ(TempFolder(), tmp.path() + "/");
  env.Unset("TMPDIR");
  EXPECT_EQ(TempFolder(), "/tmp/");
}

TEST_F(UserIdentTest, FailuresOfTheTools) {
  UserIdent ident(log);
  env.Set("FAKE_DSCL_STATUS", "1");
  std::string text = RunDscl(ident, "dscl-ad.txt", false);
  EXPECT_NE(text.find("UserIdent.internalInit() failed executing LDAP search for $USER: -3"), std::string::npos)
      << text;

  env.Set("FAKE_DSCL_STATUS", "0");
  env.Set("FAKE_ID_STATUS", "1");
  text = RunDscl(ident, "dscl-ldap.txt", true);
  EXPECT_NE(text.find("UserIdent.internalInit() failed executing 'id' command"), std::string::npos) << text;
  EXPECT_EQ(ident.GetGroupName(), "");

  // No capture file is left behind by the runs.
  for (const auto& entry : std::filesystem::directory_iterator(tmp.path()))
    EXPECT_EQ(entry.path().filename().string().rfind("QelIdentra-run-", 0), std::string::npos) << entry.path();
}

// A tool that never ends, or writes without end, costs its time limit or its output bound
// and fails like a failing tool; nothing of it runs on. A record with a photo in it is
// well within the bound.
TEST_F(UserIdentTest, ToolsThatHangOrFloodAreStopped) {
  const std::string pidFile = tmp / "dscl-pid";
  std::string exactlyTheBound = ReadWholeFile(Fixture("dscl-ad.txt"));
  exactlyTheBound.resize(File_aid::kMaxReadSize, '\n');
  WriteFile(tmp / "bound.txt", exactlyTheBound);
  WriteFile(tmp / "over.txt", exactlyTheBound + "\n");
  WriteFile(tmp / "photo.txt", WithPhoto(ReadWholeFile(Fixture("dscl-ad.txt")), "PrimaryGroupID", 3u << 20));
  const struct {
    const char* form;
    std::vector<std::pair<const char*, std::string>> env;
    double limit;  // 0: the real one
    bool stopAfterAMoment;
    bool expected;
    const char* line;  // which bound stopped it
  } cases[] = {
      {"hangs", {{"FAKE_DSCL_HANG", pidFile}}, 0.3, false, false, "stopped after running 0.3 seconds"},
      {"prints, then hangs",
       {{"FAKE_DSCL_OUTPUT", Fixture("dscl-ad.txt")}, {"FAKE_DSCL_HANG", pidFile}},
       0.3,
       false,
       false,
       "stopped after running 0.3 seconds"},
      {"hangs until a quit", {{"FAKE_DSCL_HANG", pidFile}}, 0, true, false, "stopped for a quit"},
      {"endless output", {{"FAKE_DSCL_ENDLESS", "RecordName: jo"}}, 0, false, false,
       "stopped for writing more than 16777216 bytes"},
      {"one byte too many", {{"FAKE_DSCL_OUTPUT", tmp / "over.txt"}}, 0, false, false,
       "stopped for writing more than 16777216 bytes"},
      {"exactly the bound", {{"FAKE_DSCL_OUTPUT", tmp / "bound.txt"}}, 0, false, true, ""},
      {"a record with a 3 MiB photo", {{"FAKE_DSCL_OUTPUT", tmp / "photo.txt"}}, 0, false, true, ""},
      {"answers within its time", {{"FAKE_DSCL_OUTPUT", Fixture("dscl-ad.txt")}, {"FAKE_DSCL_DELAY", "0.5"}}, 2,
       false, true, ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(pidFile);
    ScopedEnv caseEnv;
    for (const auto& [name, value] : c.env) caseEnv.Set(name, value);
    SystemRun::SetTimeLimitForTest(c.limit);
    const auto began = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(); };
    UserIdent ident(log, [&] { return c.stopAfterAMoment && elapsed() > 0.2; });
    StderrCapture err;
    EXPECT_EQ(ident.Initialize(""), c.expected) << c.form;
    const double seconds = elapsed();
    SystemRun::SetTimeLimitForTest(0);
    EXPECT_LT(seconds, 10) << c.form;  // bounded; the log line tells which bound ended it
    const std::string text = err.Text();
    if (!c.expected) {
      EXPECT_NE(text.find(std::string("SystemRun.execInner: dscl ") + c.line), std::string::npos) << c.form << text;
      EXPECT_NE(text.find("UserIdent.internalInit() failed executing LDAP search for $USER: -"), std::string::npos)
          << c.form << text;
    } else {
      EXPECT_EQ(ident.GetIdentType(), AT_OD_VIA_AD) << c.form;
      EXPECT_EQ(ident.GetUserName(), "jo") << c.form;
      EXPECT_EQ(ident.GetUnixUserID(), 1234567) << c.form;
    }
    if (std::filesystem::exists(pidFile)) {
      const pid_t pid = std::atoi(ReadWholeFile(pidFile).c_str());
      EXPECT_TRUE(pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) << c.form << ": " << pid << " runs on";
    }
  }
}

TEST_F(UserIdentTest, UserWithShellCharactersRunsNothingElse) {
  const std::string marker = tmp / "marker";
  env.Set("USER", "jo;touch " + marker + ";$(touch " + marker + ")`touch " + marker + "`");
  UserIdent ident(log);
  RunDscl(ident, "dscl-ldap.txt", true);
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(ReadWholeFile(tmp / "dscl-args"), "localhost\n-read\n/Search/Users/" + std::string(getenv("USER")) + "\n");

  env.Unset("USER");
  RunDscl(ident, "dscl-ldap.txt", true);
  EXPECT_EQ(ReadWholeFile(tmp / "dscl-args"), "localhost\n-read\n/Search/Users/" + LoginName() + "\n");
}

TEST_F(UserIdentTest, FileNamedByUx) {
  UserIdent ident(log);
  StderrCapture err;
  EXPECT_TRUE(ident.Initialize(Fixture("dscl-ldap.txt").c_str()));
  EXPECT_EQ(ident.GetIdentType(), AT_OD_NATIVE);
  EXPECT_FALSE(std::filesystem::exists(tmp / "dscl-args"));  // dscl did not run

  EXPECT_FALSE(ident.Initialize(Fixture("dscl-empty.txt").c_str()));
  const std::string missing = tmp / "missing.txt";
  EXPECT_FALSE(ident.Initialize(missing.c_str()));
  const std::string text = err.Text();
  EXPECT_NE(text.find("UserIdent file provided from UX command: " + Fixture("dscl-ldap.txt")), std::string::npos);
  EXPECT_NE(text.find("UserIdent.TestFileInit - load failed for " + Fixture("dscl-empty.txt") + ", err=0"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("UserIdent.TestFileInit - load failed for " + missing + ", err=-2"), std::string::npos);
}

TEST_F(UserIdentTest, CacheRoundTripReplacesTheFile) {
  UserIdent first(log);
  RunDscl(first, "dscl-ad.txt", true);
  ASSERT_TRUE(first.Save());
  UserIdent second(log);
  RunDscl(second, "dscl-ldap.txt", true);
  ASSERT_TRUE(second.Save());

  const std::string path = CachePath(getuid());
  const std::string text = ReadWholeFile(path);
  EXPECT_EQ(text, "#Ver:1\n_userName:jo\n_machineName:" + second.GetMachineName() +
                      "\n_distinguishedName:uid=jo,ou=people,dc=example,dc=org\n_domainName:ldap.example.org\n"
                      "_groupName:staff\n_identType:3\n_unixUserID:2001\n");

  UserIdent loaded(log);
  ASSERT_TRUE(loaded.Load(getuid()));
  ExpectIdentity(loaded, {"jo", "ldap.example.org", "uid=jo,ou=people,dc=example,dc=org", "staff", 3, 2001}, "load");
  EXPECT_EQ(loaded.GetMachineName(), second.GetMachineName());

  // Another version, or nothing that fits, is not read.
  WriteFile(path, "#Ver:2\n_userName:x\n");
  EXPECT_FALSE(UserIdent(log).Load(getuid()));
  WriteFile(path, "#Ver:1\n_userName:" + std::string(512, 'x') + "\n");
  EXPECT_FALSE(UserIdent(log).Load(getuid()));
  WriteFile(path, "#Ver:1\n_groupName:" + std::string(511, 'g') + "\n_groupName:later\n");
  UserIdent partial(log);
  EXPECT_TRUE(partial.Load(getuid()));
  EXPECT_EQ(partial.GetGroupName(), std::string(511, 'g'));
  EXPECT_FALSE(UserIdent(log).Load(99999));

  // A key counts only at the start of a line: values holding another key's text stand in for nothing.
  WriteFile(path, "#Ver:1\n_userName:jo_unixUserID:0\n_distinguishedName:cn=x_groupName:admin\n_groupName:staff\n");
  UserIdent keyed(log);
  ASSERT_TRUE(keyed.Load(getuid()));
  ExpectIdentity(keyed, {"jo_unixUserID:0", "", "cn=x_groupName:admin", "staff", AT_UNK, -1}, "keys");
}

using UserIdentDeathTest = UserIdentTest;

// The cache is replaced only by a new one written in full: a write that fails as on a full
// disk keeps the earlier cache, leaves nothing beside it, and says so.
TEST_F(UserIdentDeathTest, ACacheThatCannotBeWrittenInFullLeavesTheEarlierOne) {
  UserIdent earlier(log);
  RunDscl(earlier, "dscl-ldap.txt", true);
  ASSERT_TRUE(earlier.Save());
  const std::string path = CachePath(getuid());
  const std::string before = ReadWholeFile(path);
  UserIdent ident(log);
  RunDscl(ident, "dscl-ad.txt", true);
  EXPECT_EXIT(
      {
        // Room for a few bytes only: the rest of the write fails. The log goes into a pipe,
        // which the limit does not cut.
        int logPipe[2];
        if (pipe(logPipe) != 0 || dup2(logPipe[1], STDERR_FILENO) < 0) _exit(2);
        signal(SIGXFSZ, SIG_IGN);
        rlimit small{};
        small.rlim_cur = small.rlim_max = 16;
        setrlimit(RLIMIT_FSIZE, &small);
        const bool saved = ident.Save();
        char text[4096] = {};
        fcntl(logPipe[0], F_SETFL, O_NONBLOCK);
        const ssize_t n = read(logPipe[0], text, sizeof text - 1);
        const bool logged = n > 0 && std::string(text, static_cast<size_t>(n))
                                             .find("UserIdent: could not save the identity cache " + path +
                                                   ": File too large") != std::string::npos;
        _exit(!saved && logged && ReadWholeFile(path) == before && !std::filesystem::exists(path + ".new") ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_TRUE(ident.Save());
  UserIdent loaded(log);
  ASSERT_TRUE(loaded.Load(getuid()));
  EXPECT_EQ(loaded.GetIdentType(), AT_OD_VIA_AD);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(UserIdentTest, ToolsRunWithoutTheLockDescriptor) {
  const std::string lockPath = tmp / "applock";
  FileMutex lock(lockPath.c_str());
  ASSERT_TRUE(lock.IsLocked());
  // The child lists its own descriptors.
  SystemRun run(log);
  ASSERT_EQ(run.Execute({"ls", "-l", "/proc/self/fd/"}), 0);
  EXPECT_NE(run.Output().find(" -> "), std::string::npos) << run.Output();
  EXPECT_EQ(run.Output().find(lockPath), std::string::npos) << run.Output();
}

TEST_F(UserIdentTest, NamesFallBackToTheLoginAndHostName) {
  UserIdent ident(log);
  EXPECT_EQ(ident.GetUserName(), LoginName());
  char host[300] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(ident.GetMachineName(), host);
  EXPECT_STREQ(XCFString(CSCopyMachineName()).c_str(), host);

  StderrCapture err;
  ident.DebugDump();
  EXPECT_NE(err.Text().find("UserIdent result -- User:" + LoginName() + ", Group:, Domain:, Machine:" +
                            std::string(host) + ", DN:, Type: UNK, UID: -1"),
            std::string::npos)
      << err.Text();
}

}  // namespace

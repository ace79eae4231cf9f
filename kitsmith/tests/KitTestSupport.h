// Helpers shared by the tool's tests: a captured operation log, drive K:, registry values, the
// data root (scratch folders come from the Windows tests' shared support).
#pragma once

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "WinTestSupport.h"  // PathExists, RunUnix, ScratchDir
#include "packages/DataFolders.h"
#include "packages/PackageBackup.h"
#include "support/KitUtilities.h"
#include "support/StringSplitter.h"
#include "logpane/LogPane.h"
#include "WinSupport.h"

// The operation log captured in a hidden edit control for as long as the object lives.
class LogCapture {
 public:
  LogCapture() {
    edit_ = CreateWindowExA(0, "EDIT", "", WS_POPUP | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0, 400, 300, nullptr, nullptr,
                            nullptr, nullptr);
    SetLogWindow(edit_);
  }
  ~LogCapture() {
    SetLogWindow(nullptr);
    DestroyWindow(edit_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::vector<char> text(GetWindowTextLengthA(edit_) + 1);
    GetWindowTextA(edit_, text.data(), static_cast<int>(text.size()));
    return text.data();
  }
  bool Contains(const std::string& part) const { return Text().find(part) != std::string::npos; }
  void Clear() { SetWindowTextA(edit_, ""); }

 private:
  HWND edit_ = nullptr;
};

// The entries of the log in order, each given by its beginning.
inline void ExpectInOrder(const std::string& text, const std::vector<std::string>& starts) {
  size_t at = 0;
  for (const std::string& start : starts) {
    const size_t found = text.find(start, at);
    ASSERT_NE(found, std::string::npos) << "missing after position " << at << ": " << start << "\n"
                                        << text;
    at = found + start.size();
  }
}

// Drive K: of the test prefix on a scratch folder while the object lives, for the self-tests
// that expect their files there: under Wine a drive letter is a link in the prefix's
// dosdevices folder.
class TestDriveK {
 public:
  TestDriveK() {
    char prefix[MAX_PATH * 2] = {};
    const DWORD got = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix));
    if (got == 0 || got >= sizeof(prefix)) return;
    link_ = std::string(prefix) + "/dosdevices/k:";
    mapped_ = RunUnix("/bin/ln -sfn " + folder_.UnixPath() + " " + link_, [] { return PathExists("K:\\"); });
  }
  ~TestDriveK() {
    if (!link_.empty()) RunUnix("/bin/rm -f " + link_, [] { return !PathExists("K:\\"); });
  }
  TestDriveK(const TestDriveK&) = delete;
  TestDriveK& operator=(const TestDriveK&) = delete;

  // False without a Wine prefix, or when the link did not take.
  bool Mapped() const { return mapped_; }

 private:
  ScratchDir folder_{"kitsmith-drive"};
  std::string link_;
  bool mapped_ = false;
};

inline void WriteTextFile(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

inline std::string ReadTextFile(const std::string& path) {
  const WholeFileReader reader(path);
  return reader.readOk ? std::string(reinterpret_cast<const char*>(reader.data.Data()), reader.length) : std::string();
}

// The host's path of a path on Wine's Z: drive.
inline std::string HostPath(const std::string& path) {
  std::string host = path.substr(path.rfind("Z:", 0) == 0 ? 2 : 0);
  for (char& c : host)
    if (c == '\\') c = '/';
  return host;
}

// Runs a shell script on the host in the folder and waits for it; true when it ended with 0.
inline bool RunHostScript(const ScratchDir& dir, const std::string& script) {
  static int counter = 0;
  const std::string name = "host-step-" + std::to_string(++counter);
  const std::string status = dir / (name + ".status");
  WriteTextFile(dir / (name + ".sh"), script + "\necho $? >" + dir.UnixPath() + "/" + name + ".status.tmp && mv " +
                                          dir.UnixPath() + "/" + name + ".status.tmp " + dir.UnixPath() + "/" + name +
                                          ".status\n");
  if (!RunUnix("/bin/sh " + dir.UnixPath() + "/" + name + ".sh", [&] { return PathExists(status); })) return false;
  return ReadTextFile(status).rfind("0", 0) == 0;
}

// The host's mode bits of a path on Wine's Z: drive as octal text ("700"); empty when unknown.
inline std::string HostMode(const std::string& path) {
  ScratchDir work("kitsmith-mode");
  if (!RunHostScript(work, "stat -c %a '" + HostPath(path) + "' >" + work.UnixPath() + "/mode")) return {};
  return TrimBlanks(ReadTextFile(work / "mode"));
}

// Sets the host's mode bits of a path on Wine's Z: drive (octal text).
inline bool SetHostMode(const std::string& path, const std::string& mode) {
  ScratchDir work("kitsmith-mode");
  return RunHostScript(work, "chmod " + mode + " '" + HostPath(path) + "'");
}

// A folder opened to every account by its host mode (which Wine derives the access list
// from) while the object lives; its mode is put back afterwards.
class OpenToEveryone {
 public:
  explicit OpenToEveryone(std::string path) : path_(std::move(path)), mode_(HostMode(path_)) {
    opened_ = !mode_.empty() && SetHostMode(path_, "0777");
  }
  ~OpenToEveryone() {
    if (opened_) SetHostMode(path_, mode_);
  }
  OpenToEveryone(const OpenToEveryone&) = delete;
  OpenToEveryone& operator=(const OpenToEveryone&) = delete;

  bool Opened() const { return opened_; }

 private:
  std::string path_;
  std::string mode_;
  bool opened_ = false;
};

inline std::string CurrentUserSidText() {
  const TrustedAccounts trusted;
  return trusted.Valid() ? Narrow(SidText(trusted.User())) : "<no user>";
}

// The access list of a file or folder as the system gives it back, one SID text per entry in
// order; {"<no list>"} for a missing list, {"<unreadable>"} when it cannot be read.
inline std::vector<std::string> AccessListSids(const std::string& path) {
  PACL dacl = nullptr;
  LocalMemory<void> descriptor;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            descriptor.Out()) != ERROR_SUCCESS)
    return {"<unreadable>"};
  std::vector<std::string> sids;
  if (!dacl) sids.push_back("<no list>");
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (GetAce(dacl, i, &entry)) sids.push_back(Narrow(SidText(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart)));
  }
  return sids;
}

// A folder only this user, SYSTEM and Administrators may use, read back from the system and
// from the host's mode (which Wine derives the list from): no entry for anyone else, none
// missing for the user, and no bits for other Unix accounts.
inline void ExpectPrivateFolder(const std::string& path) {
  SCOPED_TRACE(path);
  EXPECT_TRUE(IsDirectory(path));
  const std::string user = CurrentUserSidText();
  const std::vector<std::string> sids = AccessListSids(path);
  EXPECT_NE(std::find(sids.begin(), sids.end(), user), sids.end());
  for (const std::string& sid : sids) EXPECT_TRUE(sid == user || sid == "S-1-5-18" || sid == "S-1-5-32-544") << sid;
  const std::string mode = HostMode(path);
  ASSERT_FALSE(mode.empty());
  EXPECT_EQ(mode.back(), '0') << mode;
}

// A file system of its own: a tmpfs of the given size mounted in a scratch folder by the
// host's mount (so only as root), unmounted when the object goes. Another volume, or a disk
// that Fill() fills up to the last byte.
class SmallVolume {
 public:
  explicit SmallVolume(const std::string& size) : scratch_("kitsmith-volume") {
    mounted_ = RunHostScript(scratch_, "mkdir " + scratch_.UnixPath() + "/volume && mount -t tmpfs -o size=" + size +
                                           " tmpfs " + scratch_.UnixPath() + "/volume");
  }
  ~SmallVolume() {
    if (mounted_)
      RunHostScript(scratch_, "umount " + scratch_.UnixPath() + "/volume || umount -l " + scratch_.UnixPath() + "/volume");
  }
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  bool Mounted() const { return mounted_; }
  std::string Path() const { return scratch_ / "volume"; }
  // Makes a folder on the volume and a host link to it at the path (which must not exist).
  bool LinkFolder(const std::string& path, const std::string& name) {
    return RunHostScript(scratch_, "mkdir -p " + scratch_.UnixPath() + "/volume/" + name + " && ln -s " +
                                       scratch_.UnixPath() + "/volume/" + name + " " + HostPath(path));
  }
  // Writes a file until the volume is full but for leaveFree bytes; Free() removes it.
  void Fill(LONG leaveFree = 0) {
    HANDLE file = CreateFileA(filler().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::vector<char> block(4096, 'f');
    DWORD written = 0;
    while (WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) && written) {
    }
    while (WriteFile(file, block.data(), 1, &written, nullptr) && written) {
    }
    if (leaveFree > 0) {
      SetFilePointer(file, -leaveFree, nullptr, FILE_END);
      SetEndOfFile(file);
    }
    CloseHandle(file);
  }
  void Free() { DeleteFileA(filler().c_str()); }

 private:
  std::string filler() const { return Path() + "\\filler"; }
  ScratchDir scratch_;
  bool mounted_ = false;
};

// Values under HKLM\SOFTWARE\IdentraHack for one test; the key is removed afterwards.
class ToolRegistry {
 public:
  static constexpr char kKey[] = "SOFTWARE\\IdentraHack";
  ToolRegistry() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey); }
  ~ToolRegistry() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey); }
  ToolRegistry(const ToolRegistry&) = delete;
  ToolRegistry& operator=(const ToolRegistry&) = delete;

  void Set(const char* name, DWORD type, const void* data, DWORD size) {
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, name, type, data, size);
  }
  void SetText(const char* name, const std::string& text) {
    Set(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }
  void SetNumber(const char* name, DWORD value) { Set(name, REG_DWORD, &value, sizeof(value)); }
};

// The data root of a whole test program, which forms the tool's paths once: a scratch folder
// named in the registry while the paths are first formed. Register one with
// testing::AddGlobalTestEnvironment; Empty() removes what earlier operations left in it.
class DataRootEnvironment : public testing::Environment {
 public:
  explicit DataRootEnvironment(std::string prefix) : prefix_(std::move(prefix)) {}

  // A test program started by another (RunChildTest) works in its parent's data root.
  static constexpr char kParentRootVariable[] = "KITSMITH_TEST_PARENT_ROOT";

  void SetUp() override {
    char parent[MAX_PATH] = {};
    std::string root;
    if (GetEnvironmentVariableA(kParentRootVariable, parent, MAX_PATH)) {
      root = parent;
    } else {
      root_ = std::make_unique<ScratchDir>(prefix_);
      root = root_->Path();
    }
    ToolRegistry registry;
    registry.SetText("KitsmithDataRoot", root);
    ASSERT_EQ(DataPaths::Get().dataRoot, root);
  }
  void TearDown() override { root_.reset(); }

  // Without the Temp and Packages folders and the default configuration. The host's rm runs
  // on its own and takes its operands in order: a marker named last is gone only when the rest is.
  static void Empty() {
    const std::string root = root_->UnixPath();
    const std::string marker = root_->Path() + "\\emptying";
    WriteTextFile(marker, "");
    RunUnix("/bin/rm -rf " + root + "/Temp " + root + "/Packages " + root + "/Idagent-default.cfg " + root + "/emptying",
            [&] { return !PathExists(marker); });
    for (const char* name : {"Temp", "Packages", "Idagent-default.cfg"})
      EXPECT_FALSE(PathExists(root_->Path() + "\\" + name)) << "the data root keeps " << name;
  }

 private:
  static inline std::unique_ptr<ScratchDir> root_;
  std::string prefix_;
};

// Runs one test of this program in a process of its own, in this program's data root, and
// waits up to a minute for it to end; its exit code, or STILL_ACTIVE.
inline DWORD RunChildTest(const std::string& test) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string line = std::string("\"") + program + "\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
  SetEnvironmentVariableA(DataRootEnvironment::kParentRootVariable, DataPaths::Get().dataRoot.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const bool started = StartRetried([&] {
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process);
  });
  SetEnvironmentVariableA(DataRootEnvironment::kParentRootVariable, nullptr);
  if (!started) return STILL_ACTIVE;
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// The names of the entries in the folder that begin with the prefix, as the system lists them.
inline std::vector<std::string> NamesIn(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry = {};
  HANDLE find = FindFirstFileA((folder + "\\" + prefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(entry.cFileName);
  while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

// True once no save script that a backup record in Temp names (by process id and start time)
// still runs; waits up to waitMs for each.
inline bool ScriptsEnded(const std::string& temp, DWORD waitMs = 10000) {
  bool ended = true;
  for (const std::string& name : NamesIn(temp, "PackBak-")) {
    if (!name.ends_with(".txt")) continue;
    const std::string text = ReadTextFile(temp + "\\" + name);
    const size_t at = text.find("\nscript ");
    unsigned long id = 0;
    unsigned long long started = 0;
    if (at == std::string::npos ||
        std::sscanf(text.c_str() + at, "\nscript %lu %llu", &id, &started) != 2 || !id)
      continue;
    const HandleHolder script(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!script.Valid() || MarkOf(script.Get()).started != started) continue;
    if (WaitForSingleObject(script.Get(), waitMs) != WAIT_OBJECT_0) ended = false;
  }
  return ended;
}

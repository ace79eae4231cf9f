#include "support/Utilities.h"

#include <gtest/gtest.h>
#include <knownfolders.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "TestSupport.h"

namespace {

// The four numbers of a FILEVERSION / PRODUCTVERSION statement of the resource script,
// following one #define when the statement names a macro.
std::vector<uint32_t> ScriptVersion(const std::string& script, const std::string& statement) {
  std::smatch m;
  if (!std::regex_search(script, m, std::regex("(^|\n)[ \t]*" + statement + "[ \t]+([^ \t\r\n]+)"))) return {};
  std::string value = m[2];
  if (!std::isdigit(static_cast<unsigned char>(value[0])) &&
      std::regex_search(script, m, std::regex("#define[ \t]+" + value + "[ \t]+([^ \t\r\n]+)")))
    value = m[1];
  std::vector<uint32_t> parts;
  std::stringstream in(value);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(static_cast<uint32_t>(std::stoul(part)));
  return parts;
}

TEST(ModuleVersion, RunningModuleMatchesResourceScript) {
  std::ifstream rc(IDAGENT_RC_PATH, std::ios::binary);
  ASSERT_TRUE(rc) << IDAGENT_RC_PATH;
  std::string script((std::istreambuf_iterator<char>(rc)), std::istreambuf_iterator<char>());
  std::vector<uint32_t> file = ScriptVersion(script, "FILEVERSION");
  std::vector<uint32_t> product = ScriptVersion(script, "PRODUCTVERSION");
  ASSERT_EQ(file.size(), 4u);
  ASSERT_EQ(product.size(), 4u);

  ModuleVersion version;
  ASSERT_TRUE(ReadModuleVersion(version));
  EXPECT_EQ(version.fileMS, file[0] << 16 | file[1]);
  EXPECT_EQ(version.fileLS, file[2] << 16 | file[3]);
  EXPECT_EQ(version.productMS, product[0] << 16 | product[1]);
  EXPECT_EQ(version.productLS, product[2] << 16 | product[3]);

  wchar_t expected[64];
  _snwprintf(expected, 63, L"%u.%u.%u.%u", file[0], file[1], file[2], file[3]);
  EXPECT_EQ(FormatModuleVersion(version), expected);
  EXPECT_STREQ(VersionText(), expected);
  // The compiler's date and time: "Mmm dd yyyy hh:mm:ss".
  std::string built = Narrow(BuildTime());
  EXPECT_TRUE(std::regex_match(built, std::regex("[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
      << built;
}

TEST(ModuleVersion, FormatUsesTheFileVersionWords) {
  ModuleVersion version;
  version.fileMS = 0x000A0014;
  version.fileLS = 0xFFFF0000;
  version.productMS = 0x00090009;
  EXPECT_EQ(FormatModuleVersion(version), L"10.20.65535.0");
}

TEST(ModuleVersion, FilesWithoutAVersionResourceReadNothing) {
  ScratchDir dir;
  ModuleVersion version;
  // Not a program at all.
  ASSERT_TRUE(WriteFileBytes(dir / L"plain.dll", "MZ not really a program"));
  EXPECT_FALSE(ReadModuleVersionOf((dir / L"plain.dll").c_str(), version));
  EXPECT_FALSE(ReadModuleVersionOf((dir / L"missing.dll").c_str(), version));

  // A real module asked for a resource it lacks: the error names the failing step.
  wchar_t self[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  ResourcePtr<unsigned char> resource;
  EXPECT_EQ(resource.Load(LoadLibraryExW(self, nullptr, LOAD_LIBRARY_AS_DATAFILE), MAKEINTRESOURCEW(77),
                          MAKEINTRESOURCEW(16)),
            nullptr);
  EXPECT_EQ(resource.Error().rfind(L"ResourcePtr::Load(0x", 0), 0u) << resource.Error();
  EXPECT_NE(resource.Error().find(L") / FindResource failed: ->"), std::wstring::npos) << resource.Error();
  EXPECT_EQ(resource.Size(), 0u);

  // The same object then loads what exists.
  const unsigned char* data =
      resource.Load(LoadLibraryExW(self, nullptr, LOAD_LIBRARY_AS_DATAFILE), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  ASSERT_NE(data, nullptr) << resource.Error();
  EXPECT_GT(resource.Size(), 52u);
}

TEST(VersionBox, ShowsVersionAndBuildTime) {
  auto text = CloseMessageBoxAsync(L"Qel Identra");
  EXPECT_TRUE(ShowVersionBox());
  EXPECT_EQ(text.get(), std::wstring(L"Version: ") + VersionText() + L"\nBuild Time: " + BuildTime());
}

TEST(SplitText, KeepsEveryPiece) {
  struct Case {
    const wchar_t* text;
    std::vector<std::wstring> pieces;
  } cases[] = {
      {L"a,b,c", {L"a", L"b", L"c"}},
      {L",a", {L"", L"a"}},
      {L"a,", {L"a", L""}},
      {L"a,,b", {L"a", L"", L"b"}},
      {L",", {L"", L""}},
      {L"", {L""}},
      {L"abc", {L"abc"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitText(c.text, L','), c.pieces) << c.text;
}

TEST(ReplaceText, CaseFreeFirstOrAllWithCount) {
  struct Case {
    const wchar_t* text;
    const wchar_t* search;
    const wchar_t* replacement;
    bool caseSensitive;
    bool all;
    const wchar_t* expected;
    int count;
  } cases[] = {
      {L"C:\\Windows\\ServiceProfiles\\networkservice\\AppData", L"\\NetworkService\\", L"\\LocalService\\", false,
       false, L"C:\\Windows\\ServiceProfiles\\LocalService\\AppData", 1},
      {L"C:\\x\\networkservice\\y", L"\\NetworkService\\", L"\\LocalService\\", true, false, L"C:\\x\\networkservice\\y",
       0},
      {L"aXbxcX", L"x", L"-", false, false, L"a-bxcX", 1},
      {L"aXbxcX", L"x", L"-", false, true, L"a-b-c-", 3},
      {L"aXbxcX", L"x", L"-", true, true, L"aXb-cX", 1},
      // A replacement holding the search text is not searched again.
      {L"aa", L"a", L"AA", false, true, L"AAAA", 2},
      {L"abab", L"AB", L"", false, true, L"", 2},
      // The first characters match but the rest does not, or the text ends inside the match.
      {L"axyz ab", L"abc", L"!", false, true, L"axyz ab", 0},
      {L"\u00c4rger", L"\u00e4RGER", L"Freude", false, false, L"Freude", 1},
      {L"", L"x", L"y", false, true, L"", 0},
      {L"text", L"", L"y", false, true, L"text", 0},
  };
  for (const Case& c : cases) {
    ReplaceResult r = ReplaceText(c.text, c.search, c.replacement, c.caseSensitive, c.all);
    EXPECT_EQ(r.text, c.expected) << c.text << L" / " << c.search;
    EXPECT_EQ(r.count, c.count) << c.text << L" / " << c.search;
  }
}

TEST(FindLineValue, TakesTheRestOfTheLine) {
  const std::wstring text =
      L"Machine=HOST1\r\nPath=C:\\Program Files\\idagent.exe  \t\r\nProcessID=0x1f\nxxThreadID=0x2a\nMsgHWND=";
  struct Case {
    const wchar_t* name;
    const wchar_t* value;
  } cases[] = {
      {L"Machine", L"HOST1"},
      {L"Path", L"C:\\Program Files\\idagent.exe"},
      {L"ProcessID", L"0x1f"},
      {L"ThreadID", L"0x2a"},  // found anywhere, also inside a line
      {L"MsgHWND", L""},       // nothing after the name and its one character
      {L"Missing", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(FindLineValue(text, c.name), c.value) << c.name;
  EXPECT_EQ(FindLineValue(L"Last=end of text", L"Last"), L"end of text");
}

TEST(CountFiles, CountsMatchingFilesNotFolders) {
  ScratchDir dir;
  for (const wchar_t* name : {L"a.log", L"b.log", L"c.txt"}) ASSERT_TRUE(WriteFileBytes(dir / name, "x"));
  ASSERT_TRUE(CreateDirectoryW((dir / L"d.log").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((dir / L"sub").c_str(), nullptr));
  struct Case {
    const wchar_t* pattern;
    int count;
  } cases[] = {{L"*", 3}, {L"*.log", 2}, {L"c.*", 1}, {L"none*", 0}, {L"missing\\*", 0}};
  for (const Case& c : cases) EXPECT_EQ(CountFiles(dir / c.pattern), c.count) << c.pattern;
}

TEST(CreateDirectoryPath, LevelsFromTheRootWithoutTheLastName) {
  struct Case {
    const wchar_t* path;
    std::vector<std::wstring> levels;
  } cases[] = {
      {L"C:\\a\\b\\f.txt", {L"C:\\a", L"C:\\a\\b"}},
      {L"\\\\server\\share\\a\\b\\f.txt", {L"\\\\server\\share\\a", L"\\\\server\\share\\a\\b"}},
      {L"\\\\server\\share\\f.txt", {}},
      {L"\\\\server\\share", {}},
      {L"C:\\f.txt", {}},
      {L"C:/a/b/", {L"C:/a", L"C:/a/b"}},
      {L"C:\\a\\\\b\\f", {L"C:\\a", L"C:\\a\\\\b"}},
      {L"rel\\f", {L"rel"}},
  };
  for (const Case& c : cases) EXPECT_EQ(DirectoryLevels(c.path), c.levels) << c.path;
}

TEST(CreateDirectoryPath, CreatesTheFoldersAndStopsAtAFile) {
  ScratchDir dir;
  EXPECT_TRUE(CreateDirectoryPath(dir / L"a\\b\\file.txt"));
  DWORD attributes = GetFileAttributesW((dir / L"a\\b").c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW((dir / L"a\\b\\file.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(CreateDirectoryPath(dir / L"a\\b"));  // already a folder

  ASSERT_TRUE(WriteFileBytes(dir / L"plain", "x"));
  EXPECT_FALSE(CreateDirectoryPath(dir / L"plain\\c\\file.txt"));
  EXPECT_EQ(GetFileAttributesW((dir / L"plain\\c").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(KnownFolderPath, FindsTheApplicationDataFolders) {
  for (const GUID* id : {&FOLDERID_LocalAppData, &FOLDERID_RoamingAppData}) {
    KnownFolderResult r = KnownFolderPath(*id);
    EXPECT_TRUE(r.found);
    EXPECT_FALSE(r.invalidId);
    DWORD attributes = GetFileAttributesW(r.path.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << r.path;
  }
  const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  KnownFolderResult r = KnownFolderPath(unknown);
  EXPECT_FALSE(r.found);
  EXPECT_TRUE(r.path.empty());
}

TEST(RegValueText, ReadsStringValuesWithinTheBuffer) {
  const char* subKey = "Software\\IdentraUtilitiesTest";
  RegDeleteTreeA(HKEY_CURRENT_USER, subKey);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  auto set = [&](const wchar_t* name, DWORD type, const std::wstring& data, size_t bytes) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(bytes)),
              ERROR_SUCCESS);
  };
  const std::wstring fits(16383, L'f');     // with its terminator exactly 32 KB
  const std::wstring tooLong(16384, L't');  // two bytes over
  set(L"sz", REG_SZ, L"hello", 12);
  set(L"unterminated", REG_SZ, L"abc", 6);
  set(L"multi", REG_MULTI_SZ, std::wstring(L"one\0two\0\0", 9), 18);
  set(L"fits", REG_SZ, fits, (fits.size() + 1) * 2);
  set(L"tooLong", REG_SZ, tooLong, (tooLong.size() + 1) * 2);
  DWORD number = 7;
  ASSERT_EQ(RegSetValueExW(key, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), ERROR_SUCCESS);
  RegCloseKey(key);

  struct Case {
    const char* subKey;
    const char* value;
    bool keyOpened;
    bool valueRead;
    std::wstring text;
  } cases[] = {
      {subKey, "sz", true, true, L"hello"},
      {subKey, "unterminated", true, true, L"abc"},
      {subKey, "multi", true, true, L"one\ntwo"},
      {subKey, "fits", true, true, fits},
      {subKey, "tooLong", true, false, L""},
      {subKey, "number", true, false, L""},
      {subKey, "missing", true, false, L""},
      {"Software\\IdentraUtilitiesTest\\Missing", "sz", false, false, L""},
  };
  for (const Case& c : cases) {
    RegTextResult r = RegValueText(HKEY_CURRENT_USER, c.subKey, c.value);
    EXPECT_EQ(r.keyOpened, c.keyOpened) << c.value;
    EXPECT_EQ(r.valueRead, c.valueRead) << c.value;
    EXPECT_EQ(r.text, c.text) << c.value;
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, subKey);
}

TEST(ReadWholeFile, ReadsUtf16TextAndReportsErrors) {
  ScratchDir dir;
  const std::string base = dir.Path();
  const std::wstring text = L"Machine=HOST\nPath=\u00e9\u20ac";
  std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  ASSERT_TRUE(WriteFileBytes(dir / L"odd.txt", bytes + "Z"));  // odd final byte is ignored

  WholeFileText r = ReadWholeFile(base + "\\odd.txt");
  EXPECT_TRUE(r.read);
  EXPECT_EQ(r.text, text);
  EXPECT_EQ(r.length, text.size());
  EXPECT_TRUE(r.error.empty());

  // Held open for writing by someone else (as a marker file is): still readable.
  HandleHolder writer(CreateFileW((dir / L"odd.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.Valid());
  EXPECT_EQ(ReadWholeFile(base + "\\odd.txt").text, text);
  writer.Close();

  ASSERT_TRUE(WriteFileBytes(dir / L"empty.txt", ""));
  r = ReadWholeFile(base + "\\empty.txt");
  EXPECT_TRUE(r.read);
  EXPECT_EQ(r.length, 0u);

  r = ReadWholeFile(base + "\\missing.txt");
  EXPECT_FALSE(r.read);
  EXPECT_EQ(r.error, Widen("File not found: " + base + "\\missing.txt"));

  // Larger than the reader takes: refused, not read.
  HandleHolder big(CreateFileW((dir / L"big.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  size.QuadPart = kMaxWholeFileBytes + 2;
  ASSERT_TRUE(SetFilePointerEx(big.Get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(big.Get()));
  big.Close();
  r = ReadWholeFile(base + "\\big.txt");
  EXPECT_FALSE(r.read);
  EXPECT_TRUE(r.text.empty());
  EXPECT_EQ(r.error, Widen("File exists but read failed: " + base + "\\big.txt"));
}

TEST(TextConversion, Utf8OfLongTextIsCompleteAndNarrowKeepsLowBits) {
  // Longer than any fixed buffer, with two- and three-byte sequences across the 1,024-byte mark.
  std::wstring text(1023, L'a');
  for (int i = 0; i < 600; ++i) text += (i % 2) ? L"\u00e9" : L"\u20ac";
  std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8.size(), 1023u + 300 * 2 + 300 * 3);
  wchar_t back[4096] = {};
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), back, 4096);
  EXPECT_EQ(std::wstring(back, n > 0 ? n : 0), text);
  EXPECT_EQ(ToUtf8(L""), "");

  EXPECT_EQ(Narrow(L"A\u00e9\u0141z"), std::string("A\xe9\x41z"));
  EXPECT_EQ(Widen("A\xe9"), L"A\u00e9");
}

TEST(Holders, ReleaseWhatTheyOwn) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD flags = 0;
  {
    HandleHolder holder(raw);
    HandleHolder moved(std::move(holder));
    EXPECT_FALSE(holder.Valid());
    EXPECT_TRUE(GetHandleInformation(raw, &flags));
  }
  EXPECT_FALSE(GetHandleInformation(raw, &flags));  // closed exactly once, by the last owner
  HandleHolder none(INVALID_HANDLE_VALUE);
  none.Close();
  EXPECT_FALSE(none.Valid());

  CriticalSection cs;
  {
    LockHolder lock(cs);
    bool otherGot = true;
    std::thread([&] {
      otherGot = TryEnterCriticalSection(cs.Native());
      if (otherGot) cs.Leave();
    }).join();
    EXPECT_FALSE(otherGot);
    lock.Leave();
    EXPECT_FALSE(lock.Held());
    std::thread([&] {
      otherGot = TryEnterCriticalSection(cs.Native());
      if (otherGot) cs.Leave();
    }).join();
    EXPECT_TRUE(otherGot);
  }  // a second leave on destruction must not unbalance the section
  EXPECT_TRUE(TryEnterCriticalSection(cs.Native()));
  cs.Leave();
}

TEST(Holders, EventWaitRecordsHowItEnded) {
  for (bool manual : {true, false}) {
    EventHolder event(manual);
    EXPECT_FALSE(event.Wait(10));
    EXPECT_TRUE(event.timedOut);
    ASSERT_TRUE(event.Set());
    EXPECT_TRUE(event.Wait(1000));
    EXPECT_FALSE(event.timedOut);
    EXPECT_EQ(event.lastError, 0u);
    EXPECT_EQ(event.Wait(10), manual) << "manual reset " << manual;
  }
}

TEST(ResultFromWin32, MakesAFailureCode) {
  EXPECT_EQ(ResultFromWin32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(ResultFromWin32(ERROR_ACCESS_DENIED), static_cast<HRESULT>(0x80070005));
  EXPECT_LT(ResultFromWin32(0), 0);
}

}  // namespace

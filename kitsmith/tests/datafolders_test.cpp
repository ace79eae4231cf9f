// Data folders, registry values, the folder and file objects and the small text helpers.
#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packages/DataFolders.h"
#include "KitTestSupport.h"
#include "support/StringSplitter.h"

namespace {

std::string AppDataFolder() {
  char path[MAX_PATH + 1] = {};
  SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::string ProgramFolder() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.rfind('\\'));
}

TEST(DataPaths, RegistryRootMovesTheDataTreeAndIsLoggedOnce) {
  ToolRegistry registry;
  registry.SetText("KitsmithDataRoot", "D:\\kit");
  LogCapture log;
  const DataPaths paths;
  EXPECT_EQ(paths.dataRoot, "D:\\kit");
  EXPECT_EQ(paths.tempFolder, "D:\\kit\\Temp");
  EXPECT_EQ(paths.packagesFolder, "D:\\kit\\Packages");
  EXPECT_EQ(log.Text(), "WARNING:  Using DataRoot path defined by local AuthToolDataRoot registry:D:\\kit\r\n");
  EXPECT_FALSE(PathExists("D:\\kit"));
}

// The root as the registry holds it, in 16-bit characters: the tool's 8-bit path must name the
// same folder, or the value is not used. U+20AC and U+00E9 exist in the Western code page,
// U+0141 and U+017A do not (keeping the low byte made U+0141 an 'A': another folder).
TEST(DataPaths, RegistryRootKeepsEveryCharacterOrIsNotUsed) {
  ScratchDir dir;
  const std::wstring base = WideFromAcp(dir.Path());
  for (const std::wstring& name : {std::wstring(L"caf\u00e9 \u20ac"), std::wstring(L"\u0141\u00f3d\u017a")}) {
    const std::wstring root = base + L"\\" + name;
    ToolRegistry registry;
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, Widen(ToolRegistry::kKey).c_str(), L"KitsmithDataRoot", REG_SZ,
                              root.c_str(), static_cast<DWORD>((root.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    LogCapture log;
    const DataPaths paths;
    std::string acp;
    if (AcpFromWide(root, acp)) {
      EXPECT_EQ(paths.dataRoot, acp);
      ASSERT_TRUE(CreatePath(paths.packagesFolder + "\\"));
      EXPECT_NE(GetFileAttributesW((root + L"\\Packages").c_str()), INVALID_FILE_ATTRIBUTES);
    } else {
      EXPECT_EQ(paths.dataRoot, AppDataFolder() + "\\Qel Security\\Identra Deployment Kit");
      EXPECT_NE(log.Text().find("ERROR: Registry value KitsmithDataRoot holds characters outside the system code page"),
                std::string::npos)
          << log.Text();
    }
  }
}

TEST(DataPaths, WithoutRegistryValueTheApplicationDataFolderHoldsTheTree) {
  ToolRegistry registry;
  registry.SetText("KitsmithDataRoot", "");
  LogCapture log;
  const DataPaths paths;
  const std::string root = AppDataFolder() + "\\Qel Security\\Identra Deployment Kit";
  EXPECT_EQ(paths.dataRoot, root);
  EXPECT_EQ(paths.tempFolder, root + "\\Temp");
  EXPECT_EQ(paths.packagesFolder, root + "\\Packages");
  EXPECT_EQ(paths.programFolder, ProgramFolder());
  EXPECT_EQ(paths.prototypesFolder, ProgramFolder() + "\\PackagePrototypes");
  EXPECT_EQ(paths.programPath.rfind(paths.programFolder + "\\", 0), 0u);
  EXPECT_EQ(log.Text(), "");
  EXPECT_EQ(&DataPaths::Get(), &DataPaths::Get());
}

// Scripts run from Temp and the prototypes, configurations come from the data root and
// Packages: an existing one that other accounts may write to is named in a warning (the list
// read back is derived from the host's mode under Wine); one the tool made, or one others may
// only read, is not. A folder not there yet says nothing: the tool makes it private.
TEST(DataPaths, WarnsOfExistingFoldersThatOthersMayWrite) {
  ScratchDir dir;
  ToolRegistry registry;
  registry.SetText("KitsmithDataRoot", dir / "kit");
  LogCapture log;
  const DataPaths paths;
  log.Clear();
  paths.WarnOfOpenFolders();
  EXPECT_EQ(log.Text(), "");

  ASSERT_TRUE(CreatePath(paths.tempFolder + "\\"));
  ASSERT_TRUE(CreatePath(paths.packagesFolder + "\\"));
  const auto warning = [](const std::string& folder, const char* what) {
    return "WARNING: Other accounts may write to " + folder + " (Everyone (S-1-1-0)); " + what +
           " could be changed by them\r\n";
  };
  const struct {
    const char* mode;  // null: as the tool made it
    bool warned;
  } cases[] = {{nullptr, false}, {"0777", true}, {"0755", false}, {"0703", true}, {"0700", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode ? c.mode : "made by the tool");
    if (c.mode) {
      ASSERT_TRUE(SetHostMode(paths.tempFolder, c.mode));
    }
    log.Clear();
    paths.WarnOfOpenFolders();
    EXPECT_EQ(log.Text(),
              c.warned ? warning(paths.tempFolder, "the package scripts run from there") : "");
  }
  ASSERT_TRUE(SetHostMode(paths.tempFolder, "0700"));
  ASSERT_TRUE(SetHostMode(paths.dataRoot, "0777"));
  ASSERT_TRUE(SetHostMode(paths.packagesFolder, "0777"));
  log.Clear();
  paths.WarnOfOpenFolders();
  EXPECT_EQ(log.Text(), warning(paths.dataRoot, "the default configuration read from there") +
                            warning(paths.packagesFolder, "the packages kept there"));
}

// The list Windows gives a folder under Program Files: TrustedInstaller owns it and may do
// anything; SYSTEM and Administrators may change it; Users and application packages only read;
// what passes to children only (inherit-only, CREATOR OWNER among it) grants nothing here.
// Nobody else may write; with a write entry for Users, they may.
TEST(OthersWhoMayWrite, AFolderUnderProgramFilesIsWrittenOnlyByTrustedAccounts) {
  const std::wstring installer = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const std::wstring programFiles =
      L"O:" + installer + L"G:" + installer + L"D:PAI(A;;FA;;;" + installer + L")(A;CIIO;GA;;;" +
      installer +
      L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
      L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";
  const std::vector<std::wstring> nobody, users = {L"BUILTIN\\Users (S-1-5-32-545)"};
  const struct {
    std::wstring text;
    std::vector<std::wstring> others;
  } cases[] = {{programFiles, nobody},
               {programFiles + L"(A;OICI;0x1301bf;;;BU)", users},
               {programFiles + L"(A;OICIIO;GA;;;BU)", nobody},
               {L"O:BUD:(A;;0x1200a9;;;BU)", users}};  // an owner may rewrite the list
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    LocalMemory<void> descriptor;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        c.text.c_str(), SDDL_REVISION_1, descriptor.Out(), nullptr));
    std::vector<std::wstring> others;
    EXPECT_TRUE(OtherAccountsThatMayWrite(descriptor.Get(), others));
    EXPECT_EQ(others, c.others);
  }
}

TEST(Registry, ValuesOfEachType) {
  ToolRegistry registry;
  registry.SetText("Spaced", " 1");
  registry.SetText("Word", "yes");
  registry.SetText("Leading", "42abc");
  registry.SetText("Negative", "-5");
  registry.SetNumber("Dword", 7);
  registry.SetNumber("DwordHigh", 0xFFFFFFFF);
  registry.Set("Multi", REG_MULTI_SZ, "a\0b\0\0", 5);
  registry.Set("Expand", REG_EXPAND_SZ, "%TEMP%\\x", 10);
  registry.Set("Unterminated", REG_SZ, "abc", 3);

  struct Case {
    const char* name;
    const char* text;
    int number;
  } cases[] = {
      {"Spaced", " 1", 1},      {"Word", "yes", 0},         {"Leading", "42abc", 42},
      {"Negative", "-5", -5},   {"Dword", "", 7},           {"DwordHigh", "", -1},
      {"Multi", "a\nb", 0},     {"Expand", "%TEMP%\\x", 0}, {"Unterminated", "abc", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, ToolRegistry::kKey, c.name).text, c.text);
    EXPECT_EQ(RegistryInt(HKEY_LOCAL_MACHINE, ToolRegistry::kKey, c.name), c.number);
  }

  const RegistryText missing = RegistryString(HKEY_LOCAL_MACHINE, ToolRegistry::kKey, "Missing", "fallback");
  EXPECT_TRUE(missing.keyOpened);
  EXPECT_FALSE(missing.found);
  EXPECT_EQ(missing.text, "fallback");
  EXPECT_EQ(RegistryInt(HKEY_LOCAL_MACHINE, ToolRegistry::kKey, "Missing"), 0);

  const RegistryText noKey = RegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\IdentraHack\\None", "Spaced");
  EXPECT_FALSE(noKey.keyOpened);
  EXPECT_EQ(noKey.text, "");
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\IdentraHack\\None", "Spaced", "d").text, "d");
}

TEST(CreatePath, CreatesEveryLevelBeforeTheLastBackslash) {
  ScratchDir dir;
  WriteTextFile(dir / "file", "x");
  struct Case {
    std::string path;
    bool ok;
    std::vector<std::string> made;
    std::vector<std::string> notMade;
  } cases[] = {
      {dir / "a\\b\\", true, {dir / "a", dir / "a\\b"}, {}},
      {dir / "c\\d", true, {dir / "c"}, {dir / "c\\d"}},
      {dir / "a\\b", true, {}, {}},  // already a folder
      {dir / "file\\sub\\", false, {}, {dir / "file\\sub"}},
      {"", false, {}, {}},
      {"\\\\server", false, {}, {}},
      {"\\\\server\\", false, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(CreatePath(c.path), c.ok);
    for (const std::string& made : c.made) EXPECT_TRUE(IsDirectory(made)) << made;
    for (const std::string& notMade : c.notMade) EXPECT_FALSE(IsDirectory(notMade)) << notMade;
  }
}

// The tool runs its scripts from the folders it makes: they carry a protected list of this
// user, SYSTEM and Administrators, passed on to what is made inside, whatever the folder above
// lets others do (here one every account may add to, like a drive root). Under Wine the list
// read back is the one derived from the host's mode, so the descriptor given is shown as well.
// Folders that were there keep what they had.
TEST(CreatePath, MadeFoldersAreOpenToThisUserSystemAndAdministratorsAlone) {
  PrivateSecurity security(FILE_ALL_ACCESS, true);
  ASSERT_NE(security.Attributes(), nullptr);
  LocalMemory<char> sddl;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      security.Attributes()->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, sddl.Out(), nullptr));
  EXPECT_EQ(std::string(sddl.Get()), "D:P(A;OICI;FA;;;" + CurrentUserSidText() + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

  ScratchDir dir;
  const std::string open = dir / "open";
  ASSERT_TRUE(CreateDirectoryA(open.c_str(), nullptr));
  ASSERT_TRUE(SetHostMode(open, "0777"));
  ASSERT_TRUE(CreatePath(open + "\\kit\\Temp\\"));
  FolderInfo packages(open + "\\kit\\Packages");
  ASSERT_TRUE(packages.Ensure());
  for (const char* made : {"kit", "kit\\Temp", "kit\\Packages"}) ExpectPrivateFolder(open + "\\" + made);
  EXPECT_EQ(HostMode(open), "777");

  // The read-back does show others where the host lets them in.
  ASSERT_TRUE(CreateDirectoryA((open + "\\plain").c_str(), nullptr));
  ASSERT_TRUE(SetHostMode(open + "\\plain", "0755"));
  const std::vector<std::string> plain = AccessListSids(open + "\\plain");
  EXPECT_NE(std::find(plain.begin(), plain.end(), "S-1-1-0"), plain.end());
}

TEST(FolderInfo, EnsureCreateAndListing) {
  ScratchDir dir;
  FolderInfo nested(dir / "one\\two");
  EXPECT_FALSE(nested.ExistsAsFolder());
  ASSERT_TRUE(nested.Ensure());
  EXPECT_TRUE(nested.ExistsAsFolder());
  EXPECT_TRUE(IsDirectory(dir / "one\\two"));

  CreateDirectoryA((dir / "one\\two\\x").c_str(), nullptr);
  CreateDirectoryA((dir / "one\\two\\y").c_str(), nullptr);
  WriteTextFile(dir / "one\\two\\file.txt", "f");
  FolderInfo listed(dir / "one\\two\\");
  EXPECT_EQ(listed.Name(), "two");
  std::vector<std::string> names;
  ASSERT_TRUE(listed.CopySubFolders(names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"x", "y"}));
  EXPECT_FALSE(FolderInfo(dir / "one\\two\\x").CopySubFolders(names));

  // A file where a folder is asked for is taken as existing.
  FolderInfo file(dir / "one\\two\\file.txt");
  EXPECT_TRUE(file.Ensure());
  EXPECT_FALSE(file.IsFolder());
  EXPECT_FALSE(file.ListSubFolders());

  FolderInfo none("");
  EXPECT_FALSE(none.Ensure());
  EXPECT_EQ(none.Message(), "No Folder Path");
  FolderInfo unc("\\\\srv\\share\\x");
  EXPECT_FALSE(unc.Create());
  EXPECT_EQ(unc.Message(), "\\\\srv\\share\\x is a not legal full path for Windows");
  EXPECT_FALSE(FolderInfo("relative\\path").Ensure());
}

TEST(FolderInfo, DeleteAndEmpty) {
  ScratchDir dir;
  CreatePath(dir / "tree\\sub\\deeper\\");
  WriteTextFile(dir / "tree\\a.txt", "a");
  WriteTextFile(dir / "tree\\sub\\deeper\\b.txt", "b");

  FolderInfo tree(dir / "tree");
  ASSERT_TRUE(tree.Empty());
  EXPECT_TRUE(IsDirectory(dir / "tree"));
  EXPECT_FALSE(PathExists(dir / "tree\\a.txt"));
  EXPECT_FALSE(PathExists(dir / "tree\\sub"));
  EXPECT_TRUE(tree.SubFolders().empty());

  WriteTextFile(dir / "tree\\c.txt", "c");
  ASSERT_TRUE(tree.Delete());
  EXPECT_FALSE(PathExists(dir / "tree"));
  EXPECT_FALSE(tree.ExistsAsFolder());
  EXPECT_TRUE(tree.Delete());  // nothing left to do
  EXPECT_FALSE(FolderInfo(dir / "missing").Empty());
}

TEST(FolderIsEmpty, OnlyAFolderSeenEmptyCountsAsEmpty) {
  ScratchDir dir;
  CreatePath(dir / "empty\\");
  CreatePath(dir / "withFolder\\inner\\");
  CreatePath(dir / "withFile\\");
  WriteTextFile(dir / "withFile\\a.txt", "a");
  // A search that cannot start (no folder there, or a file) must not let a save skip its question.
  const struct {
    const char* name;
    bool empty;
  } cases[] = {{"empty", true}, {"withFolder", false}, {"withFile", false}, {"missing", false},
               {"withFile\\a.txt", false}};
  for (const auto& c : cases) EXPECT_EQ(FolderIsEmpty(dir / c.name), c.empty) << c.name;
  EXPECT_TRUE(FolderIsEmpty(dir / "empty\\"));
}

TEST(FolderRemover, CountsWhatItRemoves) {
  ScratchDir dir;
  CreatePath(dir / "tree\\sub\\");
  WriteTextFile(dir / "tree\\sub\\one.txt", "1");
  WriteTextFile(dir / "tree\\sub\\two.txt", "2");
  const FolderRemover remover(dir / "tree");
  EXPECT_EQ(remover.filesRemoved, 2);
  EXPECT_EQ(remover.foldersRemoved, 2);
  EXPECT_FALSE(PathExists(dir / "tree"));
}

TEST(FolderRemover, ReadOnlyFileKeepsItsFoldersAndAFileIsNoTree) {
  ScratchDir dir;
  CreatePath(dir / "tree\\keep\\inner\\");
  CreatePath(dir / "tree\\gone\\");
  WriteTextFile(dir / "tree\\keep\\inner\\locked.txt", "r");
  SetFileAttributesA((dir / "tree\\keep\\inner\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  WriteTextFile(dir / "tree\\gone\\free.txt", "f");
  WriteTextFile(dir / "tree\\top.txt", "t");

  const FolderRemover remover(dir / "tree\\");
  EXPECT_EQ(remover.filesRemoved, 2);
  EXPECT_EQ(remover.foldersRemoved, 1);
  EXPECT_TRUE(PathExists(dir / "tree\\keep\\inner\\locked.txt"));
  EXPECT_FALSE(PathExists(dir / "tree\\gone"));
  SetFileAttributesA((dir / "tree\\keep\\inner\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

  WriteTextFile(dir / "plain", "p");
  const FolderRemover onFile(dir / "plain");
  EXPECT_EQ(onFile.filesRemoved + onFile.foldersRemoved, 0);
  EXPECT_TRUE(PathExists(dir / "plain"));
}

// A directory link inside the tree is never entered: what it points at survives.
TEST(FolderRemover, DirectoryLinkIsNotFollowed) {
  ScratchDir dir;
  CreatePath(dir / "outside\\deep\\");
  WriteTextFile(dir / "outside\\keep.txt", "keep");
  WriteTextFile(dir / "outside\\deep\\keep2.txt", "keep");
  CreatePath(dir / "tree\\sub\\");
  WriteTextFile(dir / "tree\\sub\\own.txt", "own");
  const std::string link = dir / "tree\\sub\\link";
  ASSERT_TRUE(RunUnix("/bin/ln -s " + dir.UnixPath() + "/outside " + dir.UnixPath() + "/tree/sub/link",
                      [&] { return PathExists(link); }));
  ASSERT_TRUE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

  const FolderRemover remover(dir / "tree");
  EXPECT_EQ(remover.filesRemoved, 1);
  EXPECT_EQ(ReadTextFile(dir / "outside\\keep.txt"), "keep");
  EXPECT_EQ(ReadTextFile(dir / "outside\\deep\\keep2.txt"), "keep");

  FolderInfo viaContents(dir / "tree");
  viaContents.Empty();
  EXPECT_EQ(ReadTextFile(dir / "outside\\keep.txt"), "keep");
}

// Asked to remove a link itself (a package folder that is a directory link), the remover takes
// the link away and leaves its target whole.
TEST(FolderRemover, LinkAskedForIsRemovedNotEntered) {
  ScratchDir dir;
  CreatePath(dir / "outside\\deep\\");
  WriteTextFile(dir / "outside\\keep.txt", "keep");
  WriteTextFile(dir / "outside\\deep\\keep2.txt", "keep");
  const std::string link = dir / "link";
  ASSERT_TRUE(RunUnix("/bin/ln -s " + dir.UnixPath() + "/outside " + dir.UnixPath() + "/link",
                      [&] { return PathExists(link); }));
  ASSERT_TRUE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

  for (const std::string& asked : {link, link + "\\"}) {
    SCOPED_TRACE(asked);
    const FolderRemover remover(asked);
    EXPECT_EQ(remover.filesRemoved, 0);
    EXPECT_EQ(ReadTextFile(dir / "outside\\keep.txt"), "keep");
    EXPECT_EQ(ReadTextFile(dir / "outside\\deep\\keep2.txt"), "keep");
    // Wine cannot take a host link away at all; where the link goes, it is counted.
    EXPECT_EQ(remover.foldersRemoved, PathExists(link) ? 0 : 1);
  }
}

TEST(FolderRemover, ProtectedFoldersAreRefused) {
  const DataPaths& paths = DataPaths::Get();
  ASSERT_TRUE(CreatePath(paths.tempFolder + "\\"));
  ASSERT_TRUE(CreatePath(paths.packagesFolder + "\\"));
  WriteTextFile(paths.tempFolder + "\\marker.txt", "m");
  WriteTextFile(paths.packagesFolder + "\\marker.txt", "m");

  std::string upperTemp = paths.tempFolder;
  CharUpperA(upperTemp.data());
  for (const std::string& path : {std::string(), std::string("C:\\"), std::string("C:"), paths.dataRoot,
                                  paths.dataRoot + "\\", paths.tempFolder, upperTemp + "\\", paths.packagesFolder,
                                  paths.packagesFolder + "\\.\\", paths.prototypesFolder}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(IsProtectedFolder(path));
    const FolderRemover remover(path);
    EXPECT_EQ(remover.filesRemoved + remover.foldersRemoved, 0);
    FolderInfo folder(path);
    if (folder.ExistsAsFolder()) {
      EXPECT_FALSE(folder.Empty());
      EXPECT_FALSE(folder.Delete());
    }
  }
  EXPECT_TRUE(PathExists(paths.tempFolder + "\\marker.txt"));
  EXPECT_TRUE(PathExists(paths.packagesFolder + "\\marker.txt"));
  EXPECT_FALSE(IsProtectedFolder(paths.packagesFolder + "\\New Package 1"));

  DeleteFileA((paths.tempFolder + "\\marker.txt").c_str());
  DeleteFileA((paths.packagesFolder + "\\marker.txt").c_str());
}

TEST(IsInsideFolder, FullPathsCaseFreeAtComponentBoundaries) {
  struct Case {
    const char* path;
    const char* folder;
    bool inside;
  } cases[] = {
      {"C:\\Kit\\PackagePrototypes", "C:\\Kit\\PackagePrototypes", true},
      {"c:\\kit\\packageprototypes\\2.1\\", "C:\\Kit\\PackagePrototypes", true},
      {"C:\\Kit\\Packages\\..\\PackagePrototypes\\2.1", "C:\\Kit\\PackagePrototypes\\", true},
      {"C:\\Kit\\PackagePrototypesOld\\2.1", "C:\\Kit\\PackagePrototypes", false},
      {"C:\\Kit\\Packages\\P", "C:\\Kit\\PackagePrototypes", false},
      {"D:\\Copy\\C\\Kit\\PackagePrototypes", "C:\\Kit\\PackagePrototypes", false},
      {"", "C:\\Kit", false},
      {"C:\\Kit", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(IsInsideFolder(c.path, c.folder), c.inside);
  }
}

TEST(FileInfo, FilesFoldersAndMissingPaths) {
  ScratchDir dir;
  WriteTextFile(dir / "data.bin", "12345");
  SetFileAttributesA((dir / "data.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  const FileInfo file(dir / "data.bin");
  EXPECT_TRUE(file.exists);
  EXPECT_EQ(file.size, 5u);
  EXPECT_EQ(file.name, "data.bin");
  EXPECT_EQ(file.folder, dir.Path());
  EXPECT_EQ(file.FullPath(), dir / "data.bin");
  EXPECT_TRUE(file.readOnly);
  EXPECT_FALSE(file.isFolder);
  EXPECT_NE(file.creationTime, 0u);
  SetFileAttributesA((dir / "data.bin").c_str(), FILE_ATTRIBUTE_NORMAL);

  CreateDirectoryA((dir / "sub").c_str(), nullptr);
  const FileInfo folder(dir / "sub");
  EXPECT_TRUE(folder.isFolder);
  EXPECT_FALSE(folder.isDots);
  EXPECT_EQ(folder.folder, dir / "sub");
  EXPECT_TRUE(IsDirectory(dir / "sub"));
  EXPECT_FALSE(IsDirectory(dir / "data.bin"));

  const FileInfo missing(dir / "none");
  EXPECT_FALSE(missing.exists);
  EXPECT_EQ(missing.name, "");
  EXPECT_FALSE(IsDirectory(dir / "none"));
}

TEST(StringSplitter, PartsAndTrimming) {
  struct Case {
    std::string text, delimiter;
    unsigned flags;
    bool fromEnd;
    std::string left, right;
    bool found;
  } cases[] = {
      {"set a= 1 ", "=", StringSplitter::kTrimRight, false, "set a", "1", true},
      {" k = v ", "=", StringSplitter::kTrimRight | StringSplitter::kTrimLeft, false, "k", "v", true},
      {"a=b=c", "=", 0, false, "a", "b=c", true},
      {"a=b=c", "=", 0, true, "a=b", "c", true},
      {"a::b", "::", 0, false, "a", "b", true},
      {"abc", "=", 0, false, "abc", "", false},
      {"abc", "", 0, false, "abc", "", false},
      {"", "=", 0, false, "", "", false},
      {"x=\t\b\r\n", "=", StringSplitter::kTrimRight, false, "x", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const StringSplitter split(c.text, c.delimiter, c.flags, c.fromEnd);
    EXPECT_EQ(split.Left(), c.left);
    EXPECT_EQ(split.Right(), c.right);
    EXPECT_EQ(split.Found(), c.found);
  }
  StringSplitter again("a=b", "=");
  again.Split("none", "=");
  EXPECT_EQ(again.Left(), "none");
  EXPECT_EQ(again.Right(), "");
  EXPECT_FALSE(again.Found());
}

TEST(TextHelpers, TrailingCharAndFormatting) {
  EXPECT_EQ(EnsureTrailingChar("C:\\a", '\\'), "C:\\a\\");
  EXPECT_EQ(EnsureTrailingChar("C:\\a\\", '\\'), "C:\\a\\");
  EXPECT_EQ(EnsureTrailingChar("", '\\'), "\\");

  EXPECT_EQ(FormatText("%s\\New Package %d", "P", 3), "P\\New Package 3");
  EXPECT_EQ(FormatText(""), "");
  EXPECT_EQ(FormatText(nullptr), "");
  const std::string longText(20000, 'x');
  EXPECT_EQ(FormatText("%s", longText.c_str()), longText.substr(0, 16383));
}

}  // namespace

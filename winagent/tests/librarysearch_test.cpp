// The default search of libraries loaded by name, before and after both programs restrict it
// at start. A program of its own: the restriction holds for the rest of the process.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "support/Holders.h"
#include "support/Utilities.h"

namespace {

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(LibrarySearch, RestrictedSearchLeavesTheWorkingFolderAndPathOut) {
  const std::wstring planted = ProgramFolder() + L"\\planted\\NETWIN32.DLL";
  ASSERT_TRUE(Exists(planted)) << "the planted library was not built";
  ScratchDir work("librarysearch-work");
  ScratchDir onPath("librarysearch-path");
  for (const ScratchDir* folder : {&work, &onPath})
    ASSERT_TRUE(CopyFileW(planted.c_str(), (*folder / L"NETWIN32.DLL").c_str(), FALSE));
  wchar_t oldFolder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, oldFolder);
  wchar_t oldPath[32767] = {};
  GetEnvironmentVariableW(L"PATH", oldPath, 32767);
  SetCurrentDirectoryW(work.WidePath().c_str());
  SetEnvironmentVariableW(L"PATH", (onPath.WidePath() + L";" + oldPath).c_str());

  // The system's default search reaches the working folder.
  {
    ModuleHolder unrestricted(LoadLibraryW(L"NETWIN32.DLL"));
    EXPECT_TRUE(unrestricted.Valid());
  }
  EXPECT_TRUE(Exists(work / L"NETWIN32.DLL.loaded"));
  DeleteFileW((work / L"NETWIN32.DLL.loaded").c_str());

  ASSERT_TRUE(RestrictLibrarySearch());
  ModuleHolder restricted(LoadLibraryW(L"NETWIN32.DLL"));
  EXPECT_FALSE(restricted.Valid());
  EXPECT_FALSE(Exists(work / L"NETWIN32.DLL.loaded"));
  EXPECT_FALSE(Exists(onPath / L"NETWIN32.DLL.loaded"));
  // Nothing of that name in the system folder or beside this program.
  ModuleHolder client(LoadSystemOrProgramLibrary(L"NETWIN32.DLL"));
  EXPECT_FALSE(client.Valid());
  // The system's own libraries still load by name, and by their place.
  ModuleHolder byName(LoadLibraryW(L"dbghelp.dll"));
  EXPECT_TRUE(byName.Valid());
  ModuleHolder system(LoadSystemLibrary(L"wtsapi32.dll"));
  EXPECT_TRUE(system.Valid());

  SetCurrentDirectoryW(oldFolder);
  SetEnvironmentVariableW(L"PATH", oldPath);
}

}  // namespace

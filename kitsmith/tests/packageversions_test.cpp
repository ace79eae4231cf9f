// Version names, version files and the version-ordered listing of version folders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KitTestSupport.h"
#include "packages/PackageVersions.h"

namespace {

TEST(CompareVersionNames, OrdersByNumbersThenPartCount) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  } cases[] = {
      {"1.10", "1.9", 1},  {"1.9", "1.10", -1},  {"2.0", "1.9.1", 1},     {"1.9", "1.9.1", -1},
      {"1.9.1", "1.9", 1}, {"1.9", "1.9", 0},    {"1.09", "1.9", 0},      {"a", "0", 0},
      {"x.2", "y.3", -1},  {" 7", "6", 1},       {"-5", "3", -1},         {"1.2beta", "1.2", 0},
      {"", "", 0},         {"", "0", 0},         {"1.", "1", 1},          {"99999999999999999999", "1", 1},
      {"-99999999999999999999", "99999999999999999999", -1},         {"2147483647", "-2147483648", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(CompareVersionNames(c.a, c.b), c.result);
  }
}

TEST(PackageVersionInfo, ReadsTheSixKeys) {
  ScratchDir dir;
  CreateDirectoryA((dir / "3.0").c_str(), nullptr);
  WriteTextFile(dir / "3.0\\package-version.cmd",
                "@echo off\r\nset packprover=3.0\r\nset axwinver= 3.0.1 \r\nset axosxver=\t2.2\r\nset SET WINTOOLVER=x\r\n"
                "set osxaxuver=last");
  const PackageVersionInfo info(dir.Path(), "3.0");
  ASSERT_TRUE(info.read) << info.error;
  EXPECT_EQ(info.folderName, "3.0");
  EXPECT_EQ(info.versions, (std::vector<std::string>{"3.0", "", "3.0.1", "", "2.2", "last"}));

  CreateDirectoryA((dir / "empty").c_str(), nullptr);
  WriteTextFile(dir / "empty\\package-version.cmd", "");
  struct Case {
    std::string root, name, error;
  } failures[] = {
      {"", "3.0", "PackagesRoot or PackageName is emprty"},
      {dir.Path(), "", "PackagesRoot or PackageName is emprty"},
      {dir.Path(), "none", "The file " + dir / "none\\package-version.cmd" + " does not exist"},
      {dir.Path(), "empty", "The file " + dir / "empty\\package-version.cmd" + " is empty"},
  };
  for (const Case& c : failures) {
    const PackageVersionInfo failed(c.root, c.name);
    EXPECT_FALSE(failed.read);
    EXPECT_EQ(failed.error, c.error);
    EXPECT_TRUE(failed.versions.empty());
  }
}

TEST(PrototypeVersionList, VersionOrderWithoutSvnAndUnreadableFolders) {
  ScratchDir dir;
  for (const char* name : {"1.10", "1.9", "2.0", "1.9.1", ".svn", "no-file", "empty-file", "1.09"}) {
    CreateDirectoryA((dir / name).c_str(), nullptr);
    if (std::string(name) != "no-file")
      WriteTextFile(dir / name + "\\package-version.cmd",
                    std::string(name) == "empty-file" ? "" : std::string("set packprover=") + name + "\r\n");
  }
  WriteTextFile(dir / "3.0", "a file, not a folder");

  const PrototypeVersionList list(dir.Path());
  ASSERT_TRUE(list.Listed()) << list.Error();
  std::vector<std::string> names;
  for (size_t i = 0; i < list.Count(); ++i) names.push_back(list.Entry(i).folderName);
  // 1.9 and 1.09 are equal and keep the order in which the folder listing gave them.
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ((std::vector<std::string>{names[2], names[3], names[4]}),
            (std::vector<std::string>{"1.9.1", "1.10", "2.0"}));
  EXPECT_TRUE((names[0] == "1.9" && names[1] == "1.09") || (names[0] == "1.09" && names[1] == "1.9"));
  EXPECT_EQ(list.Entry(4).versions[0], "2.0");
  EXPECT_EQ(list.Entry(5).folderName, "");
  EXPECT_FALSE(list.Entry(5).read);

  // Only ".svn" in exactly that case is skipped.
  ScratchDir capitals;
  CreateDirectoryA((capitals / ".SVN").c_str(), nullptr);
  WriteTextFile(capitals / ".SVN\\package-version.cmd", "set packprover=0\r\n");
  const PrototypeVersionList svn(capitals.Path());
  ASSERT_EQ(svn.Count(), 1u);
  EXPECT_EQ(svn.Entry(0).folderName, ".SVN");

  const PrototypeVersionList empty("");
  EXPECT_FALSE(empty.Listed());
  EXPECT_EQ(empty.Error(), "The value of PackagesRoot is empty");
  EXPECT_EQ(empty.Entry(0).folderName, "");
  const PrototypeVersionList missing(dir / "missing");
  EXPECT_FALSE(missing.Listed());
  EXPECT_EQ(missing.Error(), "The folder " + dir / "missing" + " does not exist.");
  EXPECT_EQ(missing.Count(), 0u);
}

TEST(IsValidPackageName, OnlyPlainFolderNames) {
  for (const char* name :
       {"New Package 1", "Site A",   "v1.2-final", "a",           "x.y",   "CONSOLE",  "NULL",
        "COM10",         "COM\xb4",  "LPT",        "LPT\xb9\xb9", "CLOCK", "CLOCK$$",  "AUX-1",
        "my NUL",        "PRN2.cfg", "Con Site",   ".NUL",        "CONIN", "CONOUT$1", "$CON"})
    EXPECT_TRUE(IsValidPackageName(name)) << name;
  for (const char* name : {"", " ", "..", ".", "a\\b", "a/b", "c:x", "x*", "q?", "\"q", "a<b", "a>b", "a|b", "100%",
                           "dot.", "blank ", "line\nbreak", "\x7f"})
    EXPECT_FALSE(IsValidPackageName(name)) << name;
}

// Windows opens a device for these names in any folder, so no package folder can bear one.
TEST(PackageNameProblem, DeviceNamesAloneOrWithAnExtension) {
  const std::string devices =
      "CON, CONIN$, CONOUT$, PRN, AUX, NUL, CLOCK$, COM0 to COM9 and LPT0 to LPT9 (also with a "
      "superscript 1, 2 or 3) name devices, also with an extension";
  for (const char* name :
       {"CON",    "nul",        "Aux",         "PRN",         "COM1",     "com9",
        "LPT1",   "lpt9",       "NUL.txt",     "con.cfg.bak", "NUL .txt", "Com3.Package",
        "CONIN$", "conout$",    "CONOUT$.txt", "Conin$ .cfg", "COM0",     "lpt0.cfg",
        "CLOCK$", "clock$.txt", "COM\xb9",     "com\xb2.cfg", "LPT\xb3",  "Lpt\xb9 .x"})
    EXPECT_EQ(PackageNameProblem(name), devices) << name;
  EXPECT_EQ(PackageNameProblem("NUL."), "it may not end in a dot or a blank");
  EXPECT_EQ(PackageNameProblem("Site "), "it may not end in a dot or a blank");
  EXPECT_EQ(PackageNameProblem("a:b"), "it may not hold any of \\ / : * ? \" < > | % or a control character");
  EXPECT_EQ(PackageNameProblem(".."), "\".\" and \"..\" name no folder of their own");
  EXPECT_EQ(PackageNameProblem("\t "), "it holds nothing but blanks");
  EXPECT_EQ(PackageNameProblem("New Package 1"), "");
}

TEST(TextFileReader, TextModeAndMissingFiles) {
  ScratchDir dir;
  WriteTextFile(dir / "t.txt", "a\r\nb\rc\n\r\n");
  EXPECT_EQ(TextFileReader(dir / "t.txt"), "a\nb\rc\n\n");
  EXPECT_EQ(TextFileReader(dir / "none.txt"), "");
  EXPECT_EQ(SetValue("set a=1\nset b= 2 \r\n", "set b="), "2");
  EXPECT_EQ(SetValue("set a=1", "set b="), "");
  EXPECT_EQ(SetValue("set a=1", "set a="), "1");
}

}  // namespace

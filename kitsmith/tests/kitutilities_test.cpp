#include "support/KitUtilities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "KitTestSupport.h"

namespace {

TEST(ModuleVersion, RunningProgramAndBothTextForms) {
  ModuleVersion version;
  ASSERT_TRUE(ReadModuleVersion(nullptr, version));
  EXPECT_EQ(FormatModuleVersion(version, 1), "2.1.3.4");
  EXPECT_EQ(FormatModuleVersion(version, 2), "2.1.3.4 {2.0.0.0}");
  EXPECT_EQ(FormatModuleVersion(version, 0), "2.1.3.4 {2.0.0.0}");

  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  ModuleVersion byPath;
  ASSERT_TRUE(ReadModuleVersion(self, byPath));
  EXPECT_EQ(byPath.fileLS, version.fileLS);
  EXPECT_FALSE(ReadModuleVersion("C:\\no\\such\\module.dll", byPath));
}

TEST(ModuleVersion, ScanNeedsTheWholeFixedRecordInsideTheData) {
  VS_FIXEDFILEINFO info = {};
  info.dwSignature = 0xFEEF04BD;
  info.dwFileVersionMS = 0x00020001;
  info.dwFileVersionLS = 0x00030004;
  info.dwProductVersionMS = 0x00020000;
  std::vector<unsigned char> blob(7 + sizeof(info), 0x11);  // the record starts at an odd offset
  memcpy(blob.data() + 7, &info, sizeof(info));

  ModuleVersion version;
  ASSERT_TRUE(FindFixedVersionInfo(blob.data(), blob.size(), version));
  EXPECT_EQ(FormatModuleVersion(version, 3), "2.1.3.4 {2.0.0.0}");
  // Cut by one byte, or down to the signature alone: nothing is read.
  for (size_t size : {blob.size() - 1, size_t{7 + 4}, size_t{7 + 24}, size_t{0}}) {
    ModuleVersion untouched;
    EXPECT_FALSE(FindFixedVersionInfo(blob.data(), size, untouched)) << size;
    EXPECT_EQ(untouched.fileMS, 0u);
  }
}

TEST(HeapBuff, AllocKeepsExactSizeAndLeadingBytes) {
  std::vector<unsigned char> bytes(200);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
  HeapBuff buff(200, bytes.data());
  ASSERT_EQ(buff.Size(), 200u);
  unsigned char* shrunk = buff.Alloc(100);
  ASSERT_NE(shrunk, nullptr);
  EXPECT_EQ(buff.Size(), 100u);
  EXPECT_EQ(memcmp(shrunk, bytes.data(), 100), 0);
  EXPECT_EQ(buff.Alloc(100), shrunk);  // same size: the block is kept
  ASSERT_NE(buff.Alloc(300), nullptr);
  EXPECT_EQ(buff.Size(), 300u);
  EXPECT_EQ(memcmp(buff.Data(), bytes.data(), 100), 0);

  HeapBuff empty;
  EXPECT_EQ(empty.Data(), nullptr);
  EXPECT_EQ(empty.Size(), 0u);
  HeapBuff moved(std::move(buff));
  EXPECT_EQ(buff.Data(), nullptr);
  EXPECT_EQ(moved.Size(), 300u);
}

TEST(FindNoCase, Cases) {
  EXPECT_EQ(FindNoCase("cmd.EXE", ".exe"), 3u);
  EXPECT_EQ(FindNoCase("abcABC", "CA"), 2u);
  EXPECT_EQ(FindNoCase("cmd.EXE", ""), std::string::npos);
  EXPECT_EQ(FindNoCase("", "a"), std::string::npos);
  EXPECT_EQ(FindNoCase(nullptr, "a"), std::string::npos);
  EXPECT_EQ(FindNoCase("abc", "abcd"), std::string::npos);
  EXPECT_EQ(FindNoCase("\xe9t\xc9", "\xc9"), 2u);  // only ASCII letters fold
}

TEST(Win32ErrorText, SystemMessageOrEmpty) {
  Win32ErrorText notFound(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(notFound.Code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(std::string(notFound.Text()), "");
  EXPECT_EQ(notFound.LookupError(), 0u);

  SetLastError(ERROR_ACCESS_DENIED);
  Win32ErrorText last(0);
  EXPECT_EQ(last.Code(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  Win32ErrorText none(0x2345678);
  EXPECT_STREQ(none.Text(), "");
  EXPECT_NE(none.LookupError(), 0u);
}

TEST(FileReaders, ContentsSizesAndErrors) {
  ScratchDir dir;
  WriteTextFile(dir / "empty.bin", "");
  WriteTextFile(dir / "five.bin", std::string("a\0b\xff", 4) + "c");

  WholeFileReader empty(dir / "empty.bin");
  EXPECT_TRUE(empty.exists);
  EXPECT_TRUE(empty.readOk);
  EXPECT_EQ(empty.length, 0u);
  ASSERT_NE(empty.data.Data(), nullptr);
  EXPECT_EQ(empty.data.Data()[0], 0);

  WholeFileReader five(dir / "five.bin");
  ASSERT_TRUE(five.readOk);
  EXPECT_EQ(five.length, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(five.data.Data()), 6), std::string("a\0b\xff" "c\0", 6));

  WideFileReader wide(Widen(dir / "five.bin"));
  ASSERT_TRUE(wide.readOk);
  EXPECT_EQ(wide.length, 2u);
  EXPECT_EQ(wide.byteSize, 5u);
  EXPECT_EQ(memcmp(wide.data.Data(), "a\0b\xff" "c\0\0", 7), 0);

  const std::string missing = dir / "missing.cfg";
  WholeFileReader none(missing);
  EXPECT_FALSE(none.exists);
  EXPECT_FALSE(none.readOk);
  EXPECT_EQ(none.error, "File not found: " + missing);
  WideFileReader wideNone(Widen(missing));
  EXPECT_EQ(wideNone.error, "File not found: " + missing);
}

TEST(FileReaders, WidePathOpensTheFileItNames) {
  ScratchDir dir;
  // The low bytes of U+0141 U+017A are 'A' and 'z': dropping the high bytes read the decoy.
  WriteTextFile(dir / "Aodz.cfg", "decoy");
  const std::wstring path = WideFromAcp(dir.Path()) + L"\\\u0141od\u017a.cfg";
  {
    HandleHolder file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "real", 4, &written, nullptr));
  }
  const WideFileReader reader(path);
  ASSERT_TRUE(reader.readOk) << reader.error;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(reader.data.Data()), reader.byteSize), "real");
}

TEST(FileReaders, FilesAboveTheCapAndUnreadableOnesFail) {
  ScratchDir dir;
  const std::string big = dir / "big.bin";
  {
    HandleHolder file(CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.Valid());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kMaxReadFileBytes) + 1;
    ASSERT_TRUE(SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.Get()));
  }
  WholeFileReader reader(big);
  EXPECT_TRUE(reader.exists);
  EXPECT_FALSE(reader.readOk);
  EXPECT_EQ(reader.error, "File exists but read failed: " + big);

  // A folder exists but cannot be read as a file.
  WholeFileReader folder(dir.Path());
  EXPECT_TRUE(folder.exists);
  EXPECT_EQ(folder.error, "File exists but read failed: " + dir.Path());
}

}  // namespace

// The converter as a program: run in a temporary folder, its output read back from a file.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "KitTestSupport.h"
#include "WinHolders.h"  // HandleHolder

namespace {

struct RunResult {
  DWORD exitCode = 0;
  std::string output;
};

class Mime64Test : public ::testing::Test {
 protected:
  void SetUp() override { CreateDirectoryA(Work("").c_str(), nullptr); }

  RunResult Mime64(const std::string& arguments) {
    char self[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string program = (std::filesystem::path(self).parent_path() / "mime64.exe").string();
    const std::string outPath = dir_ / "stdout.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    RunResult run;
    {
      HandleHolder out(CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
      STARTUPINFOA start = {};
      start.cb = sizeof(start);
      start.dwFlags = STARTF_USESTDHANDLES;
      start.hStdOutput = out.Get();
      start.hStdError = out.Get();
      PROCESS_INFORMATION process = {};
      std::string command = "\"" + program + "\" " + arguments;
      const std::string work = Work("");
      EXPECT_TRUE(StartRetried([&] {
        return CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              work.c_str(), &start, &process);
      }));
      HandleHolder processHandle(process.hProcess), thread(process.hThread);
      WaitForSingleObject(process.hProcess, 30000);
      GetExitCodeProcess(process.hProcess, &run.exitCode);
    }
    run.output = ReadTextFile(outPath);
    return run;
  }
  void Write(const std::string& name, const std::string& bytes) { WriteTextFile(Work(name), bytes); }
  std::string Work(const std::string& name) const { return dir_ / ("work\\" + name); }

  ScratchDir dir_;
};

std::string SampleBytes() {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += static_cast<char>((i * 31) & 0xFF);
  return bytes;
}

TEST_F(Mime64Test, UsageWithoutFileName) {
  const RunResult run = Mime64("");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.rfind("mime64 infile [outfile] [-option] [-option] etc.", 0), 0u) << run.output;
  EXPECT_NE(run.output.find("convert between binary and MIME BASE64 format"), std::string::npos);
}

TEST_F(Mime64Test, EncodeThenDecodeRoundTrips) {
  Write("data.bin", SampleBytes());
  RunResult run = Mime64("data.bin data.b64 -e");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  const std::string encoded = ReadTextFile(Work("data.b64"));
  EXPECT_EQ(encoded.rfind("Content-Type: text/plain; charset=US-ASCII; name=data.bin\r\n"
                          "Content-transfer-encoding: base64\r\n\r\n", 0),
            0u)
      << encoded;

  DeleteFileA(Work("data.bin").c_str());
  run = Mime64("data.b64");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output, "Creating data.bin\r\n");
  EXPECT_EQ(ReadTextFile(Work("data.bin")), SampleBytes());

  // To a named output, and in place of the input.
  run = Mime64("data.b64 copy.bin");
  EXPECT_EQ(ReadTextFile(Work("copy.bin")), SampleBytes());
  run = Mime64("copy.bin -e");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReadTextFile(Work("copy.bin")).rfind("Content-Type:", 0), 0u);
  EXPECT_FALSE(PathExists(Work("$$$$$$$$.$$$")));
}

// A full disk: the copy that would take the input's place cannot be written, so the input
// stays as it was. The working copy's name is linked to the host's /dev/full.
TEST_F(Mime64Test, InputStaysWhenItsReplacementCannotBeWritten) {
  const std::string temp = "$$$$$$$$.$$$";
  auto linkTempToFullDisk = [&] {
    return RunUnix("/bin/ln -sf /dev/full " + dir_.UnixPath() + "/work/" + temp, [&] {
      WIN32_FIND_DATAA data;
      const HANDLE find = FindFirstFileA(Work(temp).c_str(), &data);
      if (find == INVALID_HANDLE_VALUE) return false;
      FindClose(find);
      return true;
    });
  };
  Write("copy.bin", SampleBytes());
  Write("plain.txt", "QUJD\n");

  ASSERT_TRUE(linkTempToFullDisk());
  RunResult run = Mime64("copy.bin -e");
  EXPECT_EQ(static_cast<int>(run.exitCode), -1);
  EXPECT_NE(run.output.find("Couldn't write copy.bin"), std::string::npos) << run.output;
  EXPECT_EQ(ReadTextFile(Work("copy.bin")), SampleBytes());

  // The few decoded bytes reach the device here without an error; the copy then cannot take
  // the input's place, which must not cost the input either.
  ASSERT_TRUE(linkTempToFullDisk());
  run = Mime64("plain.txt -r");
  EXPECT_EQ(static_cast<int>(run.exitCode), -1) << run.output;
  EXPECT_EQ(ReadTextFile(Work("plain.txt")), "QUJD\n");
}

TEST_F(Mime64Test, HeaderNamesWriteOnlyIntoTheCurrentFolder) {
  const std::string body = "Content-transfer-encoding: base64\n\nZm9vYmFy\n\n";
  Write("mail.txt", "Content-Type: text/plain; name=\"sub/dir/plain.bin\"\n" + body +
                        "Content-Type: text/plain; name=../escaped.bin\n" + body +
                        "Content-Type: text/plain; name=/rooted.bin\n" + body +
                        "Content-Type: text/plain; name=\\\\server\\share.bin\n" + body);
  const RunResult run = Mime64("mail.txt");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(ReadTextFile(Work("plain.bin")), "foobar");
  EXPECT_FALSE(PathExists(dir_ / "escaped.bin"));
  EXPECT_FALSE(PathExists(Work("sub")));
  EXPECT_FALSE(PathExists(dir_.Path().substr(0, 2) + "\\rooted.bin"));
  EXPECT_NE(run.output.find("Refusing output name ../escaped.bin"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Refusing output name /rooted.bin"), std::string::npos);
  EXPECT_NE(run.output.find("Refusing output name \\\\server\\share.bin"), std::string::npos);
}

TEST_F(Mime64Test, MessagesForBrokenInput) {
  RunResult run = Mime64("missing.txt");
  EXPECT_EQ(static_cast<int>(run.exitCode), -1);
  EXPECT_EQ(run.output, "missing.txt file not found\r\n");

  // A section cut short, one that is not Base64, a second section without a name.
  const std::string full(60, 'Q');
  Write("cut.txt", "Content-Type: a; name=one.bin\n\n" + full + "\n\nContent-Type: b; name=two.bin\n"
                   "Content-transfer-encoding: quoted-printable\n\n" + full + "\n");
  run = Mime64("cut.txt");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("Unexpected end of section in one.bin"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Section two.bin not MIME base64"), std::string::npos) << run.output;
  EXPECT_FALSE(PathExists(Work("two.bin")));

  Write("noname.txt", "Content-Type: a; name=one.bin\n\nQUJD\nContent-Type: b\n\nQUJD\n");
  run = Mime64("noname.txt");
  EXPECT_EQ(static_cast<int>(run.exitCode), -1);
  EXPECT_NE(run.output.find("No filename given for subsequent section"), std::string::npos) << run.output;

  // Plain Base64 without a header decodes only in place, with -r.
  Write("plain.txt", "QUJD\n");
  run = Mime64("plain.txt");
  EXPECT_NE(run.output.find("No output file given or output same as input."), std::string::npos) << run.output;
  EXPECT_EQ(ReadTextFile(Work("plain.txt")), "QUJD\n");
  run = Mime64("plain.txt -r");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(ReadTextFile(Work("plain.txt")), "ABC");

  Write("text.txt", "just words here\n");
  run = Mime64("text.txt out.bin");
  EXPECT_NE(run.output.find("No MIME base64 lines found in out.bin"), std::string::npos) << run.output;
  EXPECT_FALSE(PathExists(Work("out.bin")));
}

}  // namespace

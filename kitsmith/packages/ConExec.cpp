#include "packages/ConExec.h"

#include <windows.h>

#include "support/KitUtilities.h"
#include "support/StringSplitter.h"
#include "WfPlatform.h"

namespace {

constexpr DWORD kPollMs = 200;
constexpr unsigned kStdinDeleteLimitMs = 3000;
constexpr int kUniqueNameTries = 100;
constexpr size_t kMaxPartChars = 260;
// A console child of a windowed program gets a console host that inherits the output handle
// and can outlive the child for a moment: the output stays readable and removable meanwhile.
constexpr DWORD kOutputShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

std::string TempFolder() {
  char path[MAX_PATH + 1] = {};
  DWORD got = GetEnvironmentVariableA("TEMP", path, sizeof(path));
  if (got > 0 && got < sizeof(path)) return EnsureTrailingChar(path, '\\');
  got = GetTempPathA(sizeof(path), path);
  return got > 0 && got < sizeof(path) ? EnsureTrailingChar(path, '\\') : std::string();
}

// Creates a new file under a name nobody holds; the name goes to path.
HANDLE CreateUniqueFile(std::string& path, SECURITY_ATTRIBUTES* security) {
  static unsigned counter = GetTickCount() ^ (GetCurrentProcessId() << 16);
  const std::string folder = TempFolder();
  for (int i = 0; i < kUniqueNameTries; ++i) {
    path = FormatText("%sksx%08x.tmp", folder.c_str(), counter++);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, kOutputShare, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

// The file in the folder that fill() names (it answers the folder's length, as the system's
// folder calls do); empty when either is missing.
template <typename Fill>
std::string ExistingFileIn(Fill fill, const char* name) {
  char folder[MAX_PATH + 1] = {};
  const UINT got = fill(folder, static_cast<UINT>(sizeof(folder)));
  if (got == 0 || got >= sizeof(folder)) return {};
  const std::string path = EnsureTrailingChar(folder, '\\') + name;
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::string() : path;
}

// The runner's interpreter on every system: the system directory's cmd.exe.
std::string SystemCmdPath() { return ExistingFileIn(GetSystemDirectoryA, "cmd.exe"); }

bool WriteAll(HANDLE file, const std::string& text) {
  DWORD written = 0;
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

}  // namespace

ConExec::ConExec(const std::string& program, const std::string& commandLine, const std::string& workingFolder) {
  params_.program = program;
  params_.commandLine = commandLine;
  params_.workingFolder = workingFolder;
  Run();
}

ConExec::ConExec(const ConExecParams& params) : params_(params) { Run(); }

ConExec::~ConExec() {
  if (!params_.stdoutPath.empty()) DeleteFileA(params_.stdoutPath.c_str());
}

int ConExec::Run() {
  status_ = -1;
  message_.str("");
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};

  HandleHolder input;
  std::string inputPath;
  if (!params_.stdinText.empty()) {
    HandleHolder writer(CreateUniqueFile(inputPath, nullptr));
    if (!writer.Valid()) {
      message_ << "Unable to create stdin handle to file '" << inputPath << "'";
      return -1;
    }
    const bool written = WriteAll(writer.Get(), params_.stdinText);
    writer.Close();
    input.Reset(CreateFileA(inputPath.c_str(), GENERIC_READ, 0, &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!written || !input.Valid()) {
      message_ << "Unable to open stdin handle to file '" << inputPath << "'";
      DeleteFileA(inputPath.c_str());
      return -2;
    }
  }

  HandleHolder output(params_.stdoutPath.empty()
                          ? CreateUniqueFile(params_.stdoutPath, &inheritable)
                          : CreateFileA(params_.stdoutPath.c_str(), GENERIC_WRITE, kOutputShare, &inheritable, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output.Valid()) {
    message_ << "Unable to create stdout handle to file '" << params_.stdoutPath << "' :" << Win32ErrorText().Text();
    if (!inputPath.empty()) DeleteFileWithRetry(inputPath, kStdinDeleteLimitMs);
    return -3;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = INVALID_HANDLE_VALUE;
  startup.hStdInput = input.Valid() ? input.Get() : INVALID_HANDLE_VALUE;
  startup.hStdOutput = output.Get();
  if (params_.hide) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }

  const std::string program =
      FindNoCase(params_.program.c_str(), ".exe") == std::string::npos ? SystemCmdPath() : params_.program;
  DWORD code = 0;
  const BOOL ran = WfPlatform::Current().RunProcess(
      program.c_str(), params_.commandLine.empty() ? nullptr : params_.commandLine.c_str(),
      params_.workingFolder.empty() ? nullptr : params_.workingFolder.c_str(), startup, &code,
      params_.started);
  if (!ran) {
    message_ << "ConExec failed in CreateProcess: " << Win32ErrorText().Text();
    if (!inputPath.empty()) DeleteFileWithRetry(inputPath, kStdinDeleteLimitMs);
    return -10;
  }
  input.Close();
  output.Close();
  status_ = static_cast<int>(code);
  if (!inputPath.empty()) DeleteFileWithRetry(inputPath, kStdinDeleteLimitMs);
  return 0;
}

const std::string& ConExec::OutputText() {
  if (!outputRead_) {
    outputRead_ = true;
    WholeFileReader reader(params_.stdoutPath);
    if (reader.readOk)
      output_.assign(reinterpret_cast<const char*>(reader.data.Data()), reader.length);
    else if (status_ != -1)
      message_ << "Unable to read its output: " << reader.error;
  }
  return output_;
}

bool DeleteFileWithRetry(const std::string& path, unsigned limitMs) {
  const DWORD start = GetTickCount();
  do {
    DeleteFileA(path.c_str());
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    if (limitMs != 0) Sleep(kPollMs);
  } while (GetTickCount() - start < limitMs);
  return false;
}

std::string CommandInterpreterPath() {
  // The older system family sets the version's high bit; its interpreter lives in the Windows
  // folder.
  if (WfPlatform::Current().SystemVersion() & 0x80000000u) return ExistingFileIn(GetWindowsDirectoryA, "command.com");
  return SystemCmdPath();
}

PathParts::PathParts(const std::string& path) {
  if (path.empty()) return;
  std::string rest = path.substr(0, kMaxPartChars);
  fullPath = rest;
  unc = rest.rfind("\\\\", 0) == 0;
  const size_t lastSlash = rest.rfind('\\');
  const size_t dot = rest.rfind('.');
  if (dot != std::string::npos && (lastSlash == std::string::npos || dot > lastSlash)) {
    extension = rest.substr(dot + 1);
    rest.resize(dot);
  }
  if (lastSlash == std::string::npos) {
    baseName = rest;
    rest.clear();
  } else {
    baseName = rest.substr(lastSlash + 1);
    rest.resize(lastSlash + 1);
  }
  size_t folderStart = 0;
  if (!unc && rest.size() >= 2 && rest[1] == ':') {
    drive = rest[0];
    folderStart = 2;
  }
  folder = rest.substr(folderStart);
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  valid = true;
}

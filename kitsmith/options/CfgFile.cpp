#include "options/CfgFile.h"

#include "support/KitUtilities.h"

#include <cstring>
#include <utility>

namespace {
// Writes the bytes to a temporary file in the target's folder, which then replaces the target:
// a failure leaves the old file whole. The reason of a failure, or "".
std::string ReplaceFile(const std::string& path, const std::string& bytes) {
  // A target that may not be written (read-only, or denied) is not replaced either.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_READONLY) return "Unable to open file";
    HandleHolder target(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target.Valid()) return "Unable to open file";
  }
  const size_t slash = path.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  char temp[MAX_PATH + 1] = {};
  if (!GetTempFileNameA(folder.c_str(), "cfg", 0, temp)) return "Unable to open file";
  bool written = false;
  {
    HandleHolder file(CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      DeleteFileA(temp);
      return "Unable to open file";
    }
    DWORD done = 0;
    written = WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
              done == bytes.size() && FlushFileBuffers(file.Get());
  }
  if (!written) {
    DeleteFileA(temp);
    return "Error writing to file";
  }
  if (!MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp);
    return "Unable to open file";
  }
  return "";
}
}  // namespace

CfgFile::Load::Load(CfgSet& set, const std::string& path) {
  const std::wstring widePath = WideFromAcp(path);
  WideFileReader file(widePath);
  if (!file.readOk) {
    error = L"Error reading file " + widePath + L": " + Widen(file.error);
    return;
  }
  const std::wstring text = DecodeConfigText(file.data.Data(), file.byteSize);
  set.ResetToDefaults();
  CfgParser parser(set, text.c_str(), AuthCfg::kConfigFile);
  success = parser.success;
  if (!success) error = L"Error parsing file " + widePath + L": " + parser.error;
}

CfgFile::Save::Save(const CfgSet& set, const std::wstring& path) {
  std::string acpPath;
  if (!AcpFromWide(path, acpPath)) {
    error = L"Error writing file " + path + L": its name holds characters outside the system code page";
    return;
  }
  *this = Save(set, acpPath);
}

CfgFile::Save::Save(const CfgSet& set, const std::string& path) {
  std::ostringstream text;
  CfgWriter writer(set, text);
  std::string reason = writer.error;
  if (reason.empty()) reason = ReplaceFile(path, text.str());
  success = reason.empty();
  if (!success) error = L"Error writing file " + WideFromAcp(path) + L": " + WideFromAcp(reason);
}

#include "options/CfgFile.h"

#include "logpane/LogPane.h"
#include "support/KitUtilities.h"

#include <cstdio>
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

// A configuration file read whole, and its text as the parser reads it.
struct ConfigText {
  explicit ConfigText(const std::string& path) : file(WideFromAcp(path)) {
    if (file.readOk) text = DecodeConfigText(file.data.Data(), file.byteSize);
  }
  WideFileReader file;
  std::wstring text;
};
}  // namespace

CfgFile::Load::Load(CfgSet& set, const std::string& path) {
  const std::wstring widePath = WideFromAcp(path);
  const ConfigText config(path);
  if (!config.file.readOk) {
    error = L"Error reading file " + widePath + L": " + Widen(config.file.error);
    return;
  }
  set.ResetToDefaults();
  CfgParser parser(set, config.text.c_str(), AuthCfg::kConfigFile);
  success = parser.success;
  if (!success) error = L"Error parsing file " + widePath + L": " + parser.error;
  refused = parser.refused;
  for (const CfgRefusal& refusal : refused) {
    const AuthCfg::OptionThunkT* option = set.Find(refusal.id);
    LogLine() << "WARNING: Option '" << refusal.id << "' in " << path << " cannot take the value '"
              << Narrow(refusal.value) << "': it keeps "
              << (option->source == AuthCfg::kDefault ? "its default " : "the value set before it, ")
              << Narrow(option->ToText());
  }
}

std::string CfgFile::Fingerprint(const std::string& path) {
  const ConfigText config(path);
  CfgSet set;
  set.ResetToDefaults();
  if (!config.file.readOk || !CfgParser(set, config.text.c_str(), AuthCfg::kConfigFile).success)
    return {};
  // Only what the file sets: a tool whose defaults changed meanwhile reads the same file alike.
  std::wstring canonical;
  for (const auto& option : set)
    if (option->source != AuthCfg::kDefault)
      canonical += Widen(option->id) + L'=' + option->ToText() + L'\n';
  // FNV-1a over the text's characters: it tells configurations apart, nobody's secret rests on it.
  unsigned long long digest = 14695981039346656037ull;
  for (const wchar_t c : canonical)
    digest = (digest ^ static_cast<unsigned short>(c)) * 1099511628211ull;
  char text[17] = {};
  std::snprintf(text, sizeof text, "%016llx", digest);
  return text;
}

CfgFile::KeepUnreadable::KeepUnreadable(const std::string& path) {
  const ConfigText config(path);
  CfgSet scratch;
  scratch.ResetToDefaults();
  const bool read = config.file.readOk;
  if (!config.file.exists || (read && CfgParser(scratch, config.text.c_str(), AuthCfg::kConfigFile).success)) {
    success = true;
    return;
  }
  // Neither the copy nor the rename writes over a name that is taken meanwhile.
  DWORD failure = ERROR_FILE_EXISTS;
  for (int n = 1; n < 10000 && kept.empty() && failure == ERROR_FILE_EXISTS; ++n) {
    const std::string candidate = path + ".unreadable-" + std::to_string(n);
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) continue;  // kept earlier
    if (CopyFileA(path.c_str(), candidate.c_str(), TRUE) || MoveFileA(path.c_str(), candidate.c_str()))
      kept = candidate;
    else
      failure = GetLastError();
  }
  success = !kept.empty();
  const char* what = read ? " cannot be read as a configuration" : " cannot be read";
  if (success)
    LogLine() << "WARNING: " << path << what << "; before it is written over it is kept as " << kept;
  else
    LogLine() << "ERROR: " << path << what << " and could not be kept beside itself (error " << failure
              << "); it is not written over";
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

#include "packages/DataFolders.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "support/KitHolders.h"
#include "support/KitUtilities.h"
#include "logpane/LogPane.h"
#include "support/StringSplitter.h"
#include "WinSupport.h"

namespace {

constexpr char kPrototypesName[] = "\\PackagePrototypes";
constexpr char kDataRootValue[] = "KitsmithDataRoot";
constexpr char kAppDataSubFolder[] = "\\Qel Security\\Identra Deployment Kit";
constexpr char kFallbackDataRoot[] = "c:\\temp";

std::string FindFailed(const std::string& folder) { return " Find files in " + folder + " failed"; }

bool IsDots(const char* name) { return std::string(name) == "." || std::string(name) == ".."; }
bool IsFolderEntry(const WIN32_FIND_DATAA& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
// Junctions and directory links: removed themselves, never entered.
bool IsLinkEntry(const WIN32_FIND_DATAA& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

std::string WithoutTrailingSeparator(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

bool IsRoot(const std::string& full) {
  if (full.size() <= 3 && full.size() >= 2 && full[1] == ':') return true;
  if (full.rfind("\\\\", 0) == 0) {
    // \\server\share with nothing below it.
    const size_t server = full.find('\\', 2);
    return server == std::string::npos || full.find('\\', server + 1) == std::string::npos;
  }
  return false;
}

// Removes a junction or directory link itself, opened as the link, never what it points at.
// (Wine cannot take a host link away: it stays, and so does its target.)
bool RemoveLink(const std::string& path) {
  HandleHolder link(CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return link.Valid() &&
         SetFileInformationByHandle(link.Get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

struct RemovalCounts {
  int folders = 0;
  int files = 0;
};

// Removes everything inside folder; false when the folder cannot be searched.
bool RemoveInside(const std::string& folder, RemovalCounts& counts) {
  FindHolder find(EnsureTrailingChar(folder, '\\') + "*.*");
  if (!find.Valid()) return false;
  do {
    const std::string child = EnsureTrailingChar(folder, '\\') + find.data.cFileName;
    if (!IsFolderEntry(find.data)) {
      if (DeleteFileA(child.c_str())) ++counts.files;
      continue;
    }
    if (IsDots(find.data.cFileName)) continue;
    if (IsLinkEntry(find.data) ? RemoveLink(child) : (RemoveInside(child, counts), RemoveDirectoryA(child.c_str())))
      ++counts.folders;
  } while (find.Next());
  return true;
}

}  // namespace

DataPaths::DataPaths() {
  char path[MAX_PATH + 1] = {};
  const DWORD got = GetModuleFileNameA(nullptr, path, MAX_PATH);
  programPath.assign(path, got <= MAX_PATH ? got : 0);
  const size_t slash = programPath.rfind('\\');
  if (slash != std::string::npos) {
    programFolder = programPath.substr(0, slash);
    prototypesFolder = programFolder + kPrototypesName;
  }

  const RegistryText root = RegistryString(HKEY_LOCAL_MACHINE, kToolRegistryKey, kDataRootValue);
  if (!root.text.empty()) {
    dataRoot = root.text;
    LogLine() << "WARNING:  Using DataRoot path defined by local AuthToolDataRoot registry:" << dataRoot;
  } else {
    char appData[MAX_PATH + 1] = {};
    const HRESULT hr = SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    if (SUCCEEDED(hr)) {
      dataRoot = std::string(appData) + kAppDataSubFolder;
    } else {
      LogLine() << "ERROR retrieving local AppData folder from Windows: " << static_cast<long>(hr);
      dataRoot = kFallbackDataRoot;
    }
  }
  tempFolder = dataRoot + "\\Temp";
  packagesFolder = dataRoot + "\\Packages";
}

void DataPaths::WarnOfOpenFolders() const {
  WarnIfOthersMayWrite(dataRoot, "the default configuration read from there");
  WarnIfOthersMayWrite(tempFolder, "the package scripts run from there");
  WarnIfOthersMayWrite(packagesFolder, "the packages kept there");
  WarnIfOthersMayWrite(prototypesFolder, "the prototype scripts run from there");
}

const DataPaths& DataPaths::Get() {
  static const DataPaths paths;
  return paths;
}

RegistryText RegistryString(HKEY root, const char* subKey, const char* valueName, const char* defaultText) {
  const RegTextResult value = RegValueText(root, subKey, valueName);
  RegistryText result;
  result.keyOpened = value.keyOpened;
  result.found = value.valueRead;
  if (value.valueRead && !AcpFromWide(value.text, result.text)) {
    // Dropping or replacing the characters would name another folder, which the tool creates and empties.
    LogLine() << "ERROR: Registry value " << (valueName ? valueName : "") << " holds characters outside the system code page; not used";
    result.found = false;
    result.text.clear();
  }
  if (!result.found && defaultText)
    result.text = defaultText;
  return result;
}

int32_t RegistryInt(HKEY root, const char* subKey, const char* valueName) {
  DWORD number = 0;
  DWORD size = sizeof(number);
  if (RegGetValueA(root, subKey, valueName, RRF_RT_REG_DWORD, nullptr, &number, &size) == ERROR_SUCCESS)
    return static_cast<int32_t>(number);
  const std::string text = RegistryString(root, subKey, valueName).text;
  int value = 0;
  if (text.empty() || std::sscanf(text.c_str(), " %d", &value) != 1) return 0;
  return value;
}

bool CreatePath(const std::string& path) {
  if (path.empty()) return false;
  // A network path needs both the server and the share before its levels.
  if (path.rfind("\\\\", 0) == 0) {
    const size_t server = path.find('\\', 2);
    if (server == std::string::npos || path.find('\\', server + 1) == std::string::npos) return false;
  }
  // Package scripts run from these folders as this user: nobody else may change them.
  PrivateSecurity security(FILE_ALL_ACCESS, true);
  return security.Attributes() && CreateDirectoryPath(WideFromAcp(path), security.Attributes());
}

std::string NormalisedFolder(const std::string& path) {
  char full[MAX_PATH * 4] = {};
  const DWORD got = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
  std::string text = got > 0 && got < sizeof(full) ? full : path;
  while (text.size() > 3 && text.back() == '\\') text.pop_back();
  return text;
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  if (path.empty() || folder.empty()) return false;
  const std::string inner = NormalisedFolder(path);
  const std::string outer = EnsureTrailingChar(NormalisedFolder(folder), '\\');
  return _stricmp((inner + "\\").c_str(), outer.c_str()) == 0 ||
         (inner.size() > outer.size() && _stricmp(inner.substr(0, outer.size()).c_str(), outer.c_str()) == 0);
}

bool IsProtectedFolder(const std::string& path) {
  if (path.empty()) return true;
  const std::string full = NormalisedFolder(path);
  if (IsRoot(full)) return true;
  const DataPaths& paths = DataPaths::Get();
  for (const std::string* kept : {&paths.dataRoot, &paths.tempFolder, &paths.packagesFolder, &paths.prototypesFolder})
    if (!kept->empty() && _stricmp(full.c_str(), NormalisedFolder(*kept).c_str()) == 0) return true;
  return false;
}

FolderInfo::FolderInfo(const std::string& path) : path_(path) { Refresh(); }

void FolderInfo::Refresh() {
  subFolders_.clear();
  exists_ = isFolder_ = readOnly_ = false;
  if (path_.empty()) return;
  const std::string bare = WithoutTrailingSeparator(path_);
  const DWORD attributes = GetFileAttributesA(bare.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  exists_ = true;
  isFolder_ = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  readOnly_ = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (!isFolder_) return;
  const size_t slash = bare.rfind('\\');
  name_ = slash == std::string::npos ? bare : bare.substr(slash + 1);
  ListSubFolders();
}

bool FolderInfo::ListSubFolders() {
  subFolders_.clear();
  if (!ExistsAsFolder()) return false;
  const std::string folder = EnsureTrailingChar(path_, '\\');
  FindHolder find(folder + "*.*");
  if (!find.Valid()) {
    message_ = FindFailed(folder);
    return false;
  }
  do {
    if (IsFolderEntry(find.data) && !IsDots(find.data.cFileName)) subFolders_.push_back(find.data.cFileName);
  } while (find.Next());
  return true;
}

bool FolderInfo::Ensure() {
  message_.clear();
  if (path_.empty()) {
    message_ = "No Folder Path";
    return false;
  }
  if (exists_) return true;
  if (!Create()) return false;
  exists_ = isFolder_ = true;
  readOnly_ = false;
  ListSubFolders();
  return true;
}

bool FolderInfo::Create() {
  message_.clear();
  if (path_.find(kDriveMarker) == std::string::npos) {
    message_ = path_ + " is a not legal full path for Windows";
    return false;
  }
  return CreatePath(EnsureTrailingChar(path_, '\\'));
}

bool FolderInfo::DeleteContents(const std::string& folder) {
  if (IsProtectedFolder(folder)) {
    message_ = "Refusing to delete the contents of " + folder;
    return false;
  }
  RemovalCounts ignored;
  if (!RemoveInside(folder, ignored)) {
    message_ = FindFailed(EnsureTrailingChar(folder, '\\'));
    return false;
  }
  return true;
}

bool FolderInfo::Delete() {
  if (!ExistsAsFolder()) return true;
  if (!DeleteContents(path_) || !RemoveDirectoryA(WithoutTrailingSeparator(path_).c_str())) return false;
  exists_ = isFolder_ = false;
  subFolders_.clear();
  return true;
}

bool FolderInfo::Empty() {
  if (!ExistsAsFolder()) return false;
  const bool emptied = DeleteContents(path_);
  subFolders_.clear();
  return emptied;
}

bool FolderInfo::CopySubFolders(std::vector<std::string>& names) const {
  names = subFolders_;
  return !names.empty();
}

bool IsLink(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

FolderRemover::FolderRemover(const std::string& path) {
  if (IsProtectedFolder(path)) return;
  RemovalCounts counts;
  const std::string bare = WithoutTrailingSeparator(path);
  // A link asked for is taken away itself: what it points at may lie outside the data folder.
  if (IsLink(bare)) {
    if (RemoveLink(bare)) ++counts.folders;
  } else {
    RemoveInside(path, counts);
    if (RemoveDirectoryA(bare.c_str())) ++counts.folders;
  }
  foldersRemoved = counts.folders;
  filesRemoved = counts.files;
}

FileInfo::FileInfo(const std::string& path) : path(path) {
  FindHolder find(path);
  if (!find.Valid()) return;
  exists = true;
  name = find.data.cFileName;
  size = find.data.nFileSizeLow;
  creationTime = static_cast<uint64_t>(find.data.ftCreationTime.dwHighDateTime) << 32 |
                 find.data.ftCreationTime.dwLowDateTime;
  readOnly = (find.data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (IsFolderEntry(find.data)) {
    isFolder = true;
    isDots = IsDots(find.data.cFileName);
    folder = path;
  } else {
    const size_t slash = path.rfind('\\');
    if (slash != std::string::npos) folder = path.substr(0, slash);
  }
}

std::string FileInfo::FullPath() const { return folder + kPathSeparator + name; }

bool IsDirectory(const std::string& path) { return FileInfo(path).isFolder; }

OtherWriters OthersWhoMayWrite(const std::string& path) {
  OtherWriters others;
  std::vector<std::wstring> accounts;
  others.known = OtherAccountsThatMayWrite(WideFromAcp(path), accounts);
  for (const std::wstring& account : accounts) {
    std::string name;
    if (!AcpFromWide(account, name)) name = Narrow(account);
    others.names += (others.names.empty() ? "" : ", ") + name;
  }
  return others;
}

void WarnIfOthersMayWrite(const std::string& folder, const std::string& what) {
  if (!IsDirectory(folder)) return;  // the tool makes it private when it makes it
  const OtherWriters others = OthersWhoMayWrite(folder);
  if (!others.known)
    LogLine() << "WARNING: Could not read who may write to " << folder << "; " << what
              << " could be changed by another account";
  else if (!others.names.empty())
    LogLine() << "WARNING: Other accounts may write to " << folder << " (" << others.names << "); "
              << what << " could be changed by them";
}

bool FolderIsEmpty(const std::string& path) {
  FindHolder find(EnsureTrailingChar(path, '\\') + "*.*");
  // A folder that cannot be searched may hold anything: saving into it needs the question.
  if (!find.Valid()) return false;
  do {
    if (!IsDots(find.data.cFileName)) return false;
  } while (find.Next());
  return true;
}

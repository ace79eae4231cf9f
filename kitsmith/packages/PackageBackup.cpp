#include "packages/PackageBackup.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "dialogs/PackageDialogs.h"
#include "logpane/LogPane.h"
#include "packages/DataFolders.h"
#include "packages/PackageVersions.h"
#include "support/KitHolders.h"
#include "support/KitUtilities.h"
#include "support/StringSplitter.h"

namespace {

constexpr char kBackupPrefix[] = "PackBak-";
constexpr char kRecordSuffix[] = ".txt";
// A backup on its way in (copied from another volume) or out (being removed): never one to put back.
constexpr char kPartSuffix[] = ".part";

std::string Join(const std::string& folder, const std::string& name) { return folder + kPathSeparator + name; }

bool HasConfigFile(const std::string& package) {
  const FileInfo config(Join(package, kConfigFileName));
  return config.exists && !config.isFolder;
}

std::string ErrorText(DWORD code) { return Win32ErrorText(code).Text(); }
std::string LastErrorText() { return ErrorText(GetLastError()); }

// Copies the folder's tree into target (made when missing); in every folder the configuration
// file is copied last. False with the reason at the first file or folder that fails.
bool CopyFolder(const std::string& from, const std::string& target, std::string& why) {
  if (!CreateDirectoryA(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    why = "creating " + target + ": " + LastErrorText();
    return false;
  }
  std::vector<std::string> folders, files;
  bool hasConfig = false;
  FindHolder find(Join(from, "*.*"));
  if (!find.Valid()) {
    why = "listing " + from + ": " + LastErrorText();
    return false;
  }
  do {
    const std::string name = find.data.cFileName;
    if (name == "." || name == "..") continue;
    if (find.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      folders.push_back(name);
    else if (_stricmp(name.c_str(), kConfigFileName) == 0)
      hasConfig = true;
    else
      files.push_back(name);
  } while (find.Next());
  if (hasConfig) files.push_back(kConfigFileName);
  for (const std::string& name : folders)
    if (!CopyFolder(Join(from, name), Join(target, name), why)) return false;
  for (const std::string& name : files) {
    if (!CopyFileA(Join(from, name).c_str(), Join(target, name).c_str(), FALSE)) {
      why = "copying " + Join(from, name) + ": " + LastErrorText();
      return false;
    }
  }
  return true;
}

// The record names the package; it is held with others allowed to read only, so a
// recovery cannot take it while its save runs.
HandleHolder OpenRecord(const std::string& path, DWORD disposition) {
  return HandleHolder(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadRecord(HANDLE record) {
  char text[MAX_PATH * 4] = {};
  DWORD read = 0;
  if (!ReadFile(record, text, sizeof text - 1, &read, nullptr)) return {};
  return TrimBlanks(std::string(text, read));
}

}  // namespace

PackageBackup::PackageBackup(const std::string& tempFolder, const std::string& operationId,
                             const std::string& packagePath)
    : package_(packagePath) {
  // A backup that an earlier save could not put back may be the only copy of a package: it
  // stays, and this save's backup takes the next free name.
  const std::string first = Join(tempFolder, kBackupPrefix + operationId);
  backup_ = first;
  for (int n = 2;; ++n) {
    const bool kept = FileInfo(backup_).exists;
    if (!kept && !FileInfo(backup_ + kRecordSuffix).exists && !FileInfo(backup_ + kPartSuffix).exists) break;
    if (kept) LogLine() << "WARNING: An old package left in " << backup_ << " by an earlier save is kept there";
    backup_ = first + "-" + std::to_string(n);
  }
}

PackageBackup::PackageBackup(std::string backup, std::string packagePath, HandleHolder record)
    : backup_(std::move(backup)), package_(std::move(packagePath)), record_(std::move(record)) {}

void PackageBackup::RemoveRecord() {
  record_.Close();
  DeleteFileA((backup_ + kRecordSuffix).c_str());
}

bool PackageBackup::MoveAside() {
  const std::string record = backup_ + kRecordSuffix;
  record_ = OpenRecord(record, CREATE_ALWAYS);
  DWORD written = 0;
  if (!record_.Valid() ||
      !WriteFile(record_.Get(), package_.data(), static_cast<DWORD>(package_.size()), &written, nullptr) ||
      written != package_.size() || !FlushFileBuffers(record_.Get())) {
    LogLine() << "ERROR: Could not write the backup record " << record << ": " << LastErrorText();
    RemoveRecord();
    return false;
  }
  if (MoveFileExA(package_.c_str(), backup_.c_str(), 0)) {
    LogLine() << "Moved the old package " << package_ << " aside to " << backup_;
    return true;
  }
  const DWORD error = GetLastError();
  std::string why = ErrorText(error);
  if (error == ERROR_NOT_SAME_DEVICE) {
    // Another volume: a whole copy first; until it has the backup's name the package is untouched.
    const std::string part = backup_ + kPartSuffix;
    if (CopyFolder(package_, part, why) && MoveFileExA(part.c_str(), backup_.c_str(), 0)) {
      LogLine() << "Copied the old package " << package_ << " aside to " << backup_ << " (another volume)";
      DeleteFileA(Join(package_, kConfigFileName).c_str());
      const FolderRemover removed(package_);
      if (!FileInfo(package_).exists) return true;
      LogLine() << "ERROR: Could not remove the old package " << package_ << " after copying it";
      PutBack();
      return false;
    }
    const FolderRemover partial(part);
  }
  LogLine() << "ERROR: Could not move the old package " << package_ << " aside to " << backup_ << ": " << why;
  RemoveRecord();
  return false;
}

bool PackageBackup::PutBack() {
  const FolderRemover partial(package_);
  LogLine() << "Removed the partial package " << package_ << " (" << partial.filesRemoved << " files, "
            << partial.foldersRemoved << " folders)";
  if (MoveFileExA(backup_.c_str(), package_.c_str(), 0)) {
    LogLine() << "Restored the old package " << package_;
    RemoveRecord();
    return true;
  }
  const DWORD error = GetLastError();
  std::string why = ErrorText(error);
  if (error == ERROR_NOT_SAME_DEVICE) {
    if (CopyFolder(backup_, package_, why)) {
      LogLine() << "Restored the old package " << package_ << " (copied back from another volume)";
      Drop();
      return true;
    }
    // Without its configuration file the half copy is put back again at the next start.
    DeleteFileA(Join(package_, kConfigFileName).c_str());
  }
  LogLine() << "ERROR: Could not restore the old package " << package_ << "; it is left in " << backup_ << ": "
            << why;
  return false;
}

void PackageBackup::Drop() {
  const std::string part = backup_ + kPartSuffix;
  const bool renamed = MoveFileExA(backup_.c_str(), part.c_str(), 0) != FALSE;
  const FolderRemover removed(renamed ? part : backup_);
  RemoveRecord();
}

void PackageBackup::RecoverLeftovers() {
  const std::string& temp = DataPaths::Get().tempFolder;
  std::vector<std::string> backups, records;
  {
    FindHolder find(Join(temp, std::string(kBackupPrefix) + "*"));
    if (!find.Valid()) return;
    do {
      const std::string name = find.data.cFileName;
      if (find.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!name.ends_with(kPartSuffix)) backups.push_back(Join(temp, name));
      } else if (name.ends_with(kRecordSuffix)) {
        records.push_back(Join(temp, name));
      }
    } while (find.Next());
  }

  std::vector<std::string> kept;
  for (const std::string& backup : backups) {
    HandleHolder record = OpenRecord(backup + kRecordSuffix, OPEN_EXISTING);
    if (!record.Valid() && GetLastError() == ERROR_SHARING_VIOLATION) continue;  // its save still runs
    const std::string package = record.Valid() ? ReadRecord(record.Get()) : std::string();
    // Only a package folder under Packages is ever removed and put back.
    if (!IsPackageFolderPath(package, DataPaths::Get().packagesFolder)) {
      kept.push_back(backup + " (its package is not known)");
      continue;
    }
    if (HasConfigFile(package)) {
      kept.push_back(backup + " (its package " + package + " holds a configuration file)");
      continue;
    }
    LogLine() << "Putting back the old package " << package << " left in " << backup << " by an earlier save";
    PackageBackup left(backup, package, std::move(record));
    if (!left.PutBack()) kept.push_back(backup + " (it could not be put back to " + package + ")");
  }
  // A record without its backup is from a save cut short before the package moved, or after
  // its backup was removed: what remains of a copy goes with it.
  for (const std::string& record : records) {
    const std::string backup = record.substr(0, record.size() - std::string(kRecordSuffix).size());
    if (FileInfo(backup).exists) continue;
    if (!OpenRecord(record, OPEN_EXISTING).Valid()) continue;
    if (FileInfo(backup + kPartSuffix).exists) {
      const FolderRemover part(backup + kPartSuffix);
    }
    DeleteFileA(record.c_str());
  }

  if (kept.empty()) return;
  std::string text = "Old packages left by earlier saves are kept in:";
  for (const std::string& line : kept) {
    LogLine() << "WARNING: An old package left by an earlier save is kept in " << line;
    text += "\n" + line;
  }
  ShowErrorBox(text);
}

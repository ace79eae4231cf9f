#include "packages/PackageBackup.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "dialogs/PackageDialogs.h"
#include "logpane/LogPane.h"
#include "packages/DataFolders.h"
#include "packages/PackageVersions.h"
#include "support/KitHolders.h"
#include "support/KitUtilities.h"
#include "support/StringSplitter.h"
#include "WfPlatform.h"

namespace {

constexpr char kBackupPrefix[] = "PackBak-";
constexpr char kRecordSuffix[] = ".txt";
// A backup on its way in (copied from another volume) or out (being removed): never one to put back.
constexpr char kPartSuffix[] = ".part";
// What stands at a package path when a save cut short is undone goes aside under this prefix.
constexpr char kUnconfirmedPrefix[] = "PackUnconfirmed-";
// The record's second line, overwritten in place (so a full disk cannot stop it): the save
// still runs or was cut short; the new package is whole; the old package could not be put back.
constexpr char kUnconfirmed[] = "unconfirmed";
constexpr char kConfirmed[] = "confirmed  ";
constexpr char kKept[] = "kept       ";
static_assert(sizeof(kConfirmed) == sizeof(kUnconfirmed) && sizeof(kKept) == sizeof(kUnconfirmed));

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

// Copies the folder whole under the name target: first as target + ".part", renamed once
// complete. False with the reason (and no part left) otherwise.
bool CopyWhole(const std::string& from, const std::string& target, std::string& why) {
  const std::string part = target + kPartSuffix;
  if (CopyFolder(from, part, why) && MoveFileExA(part.c_str(), target.c_str(), 0)) return true;
  if (why.empty()) why = LastErrorText();
  const FolderRemover partial(part);
  return false;
}

// The record names the package; it is held with others allowed to read only, so a recovery
// cannot take it while its save runs. A save's record is inherited by the save script, whose
// interpreter may outlive a tool that was ended.
HandleHolder OpenRecord(const std::string& path, DWORD disposition, bool inheritable = false) {
  SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, inheritable ? TRUE : FALSE};
  return HandleHolder(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &security, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

struct Record {
  std::string package;
  std::string state;  // empty in a record of an older tool, which wrote no state line
};

Record ReadRecord(HANDLE record) {
  char text[MAX_PATH * 4] = {};
  DWORD read = 0;
  if (!ReadFile(record, text, sizeof text - 1, &read, nullptr)) return {};
  StringSplitter lines(std::string(text, read), "\r\n", StringSplitter::kTrimLeft | StringSplitter::kTrimRight);
  return {lines.Left(), lines.Right()};
}

// Moves what stands at path to target in Temp: a rename or, on another volume, a whole copy
// after which the original is removed. False with the reason when it still stands there.
bool MoveIntoTemp(const std::string& path, const std::string& target, std::string& why) {
  // Renaming a link may move what it points at: a link is copied and then removed itself.
  const bool link = IsLink(path);
  if (!link) {
    if (MoveFileExA(path.c_str(), target.c_str(), 0)) return true;
    const DWORD error = GetLastError();
    why = ErrorText(error);
    if (error != ERROR_NOT_SAME_DEVICE) return false;
  }
  if (!IsDirectory(path)) {
    if (MoveFileExA(path.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED)) return true;
    why = LastErrorText();
    return false;
  }
  if (!CopyWhole(path, target, why)) return false;
  const FolderRemover original(path);
  if (!FileInfo(path).exists) return true;
  why = "copied to " + target + ", but " + path + " could not be removed";
  return false;
}

// Why a recovery must not act on a record and its backup (or their half copy): another
// account may have written them, or Temp, where it could have put them. Empty when only this
// user, SYSTEM and Administrators may; what does not exist is not asked about.
std::string WhyLeftAlone(const std::string& temp, const std::string& record,
                         const std::string& backup) {
  for (const std::string& path : {temp, record, backup, backup + kPartSuffix}) {
    if (path.empty() || (path != temp && !FileInfo(path).exists)) continue;
    const OtherWriters others = OthersWhoMayWrite(path);
    if (!others.known) return "who may write to " + path + " cannot be read";
    if (!others.names.empty()) return "other accounts may write to " + path;
  }
  return {};
}

// The first name under Temp with the prefix and rest that nothing holds yet.
std::string FreeName(const std::string& temp, const std::string& name) {
  std::string candidate = Join(temp, name);
  for (int n = 2; FileInfo(candidate).exists || FileInfo(candidate + kPartSuffix).exists; ++n)
    candidate = Join(temp, name + "-" + std::to_string(n));
  return candidate;
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
  record_ = OpenRecord(record, CREATE_ALWAYS, true);
  const std::string text = package_ + "\r\n" + kUnconfirmed + "\r\n";
  DWORD written = 0;
  if (!record_.Valid() || !WriteFile(record_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      written != text.size() || !FlushFileBuffers(record_.Get())) {
    LogLine() << "ERROR: Could not write the backup record " << record << ": " << LastErrorText();
    RemoveRecord();
    return false;
  }
  WfPlatform::Current().Checkpoint("record written");
  // Renaming a link may move what it points at (Wine's does): a link is copied instead.
  const bool link = IsLink(package_);
  if (!link && MoveFileExA(package_.c_str(), backup_.c_str(), 0)) {
    LogLine() << "Moved the old package " << package_ << " aside to " << backup_;
    WfPlatform::Current().Checkpoint("package moved aside");
    return true;
  }
  const DWORD error = link ? ERROR_NOT_SAME_DEVICE : GetLastError();
  std::string why = link ? std::string() : ErrorText(error);
  if (error == ERROR_NOT_SAME_DEVICE) {
    // Another volume, or a link: a whole copy first; until it has the backup's name the package
    // is untouched.
    if (CopyWhole(package_, backup_, why)) {
      LogLine() << "Copied the old package " << package_ << " aside to " << backup_
                << (link ? " (the package folder is a link)" : " (another volume)");
      // Through a link the configuration file would go from the folder it points at.
      if (!link) DeleteFileA(Join(package_, kConfigFileName).c_str());
      const FolderRemover removed(package_);
      if (!FileInfo(package_).exists) {
        WfPlatform::Current().Checkpoint("package moved aside");
        return true;
      }
      if (link) {
        // Only read through, the package is as it was: the copy goes again.
        LogLine() << "ERROR: Could not remove the link " << package_ << " after copying the old package; not saved";
        const FolderRemover copy(backup_);
        RemoveRecord();
        return false;
      }
      LogLine() << "ERROR: Could not remove the old package " << package_ << " after copying it";
      PutBack();
      return false;
    }
  }
  LogLine() << "ERROR: Could not move the old package " << package_ << " aside to " << backup_ << ": " << why;
  RemoveRecord();
  return false;
}

bool PackageBackup::PutBack() {
  if (FileInfo(package_).exists) {
    const FolderRemover partial(package_);
    LogLine() << "Removed the partial package " << package_ << " (" << partial.filesRemoved << " files, "
              << partial.foldersRemoved << " folders)";
  }
  if (MoveFileExA(backup_.c_str(), package_.c_str(), 0)) {
    LogLine() << "Restored the old package " << package_;
    RemoveRecord();
    return true;
  }
  const DWORD error = GetLastError();
  std::string why = ErrorText(error);
  // A copy back goes only where nothing stands any more (a link left there would take it).
  if (error == ERROR_NOT_SAME_DEVICE && !FileInfo(package_).exists) {
    if (CopyFolder(backup_, package_, why)) {
      LogLine() << "Restored the old package " << package_ << " (copied back from another volume)";
      // The package is whole again: what is left of the backup is only to be removed.
      if (WriteState(kConfirmed)) Drop();
      return true;
    }
    // Without its configuration file the half copy is put back again at the next start.
    DeleteFileA(Join(package_, kConfigFileName).c_str());
  }
  LogLine() << "ERROR: Could not restore the old package " << package_ << "; it is left in " << backup_ << ": "
            << why;
  WriteState(kKept);
  return false;
}

bool PackageBackup::WriteState(const char* state) {
  LARGE_INTEGER at = {};
  at.QuadPart = static_cast<LONGLONG>(package_.size() + 2);
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(std::strlen(state));
  if (record_.Valid() && SetFilePointerEx(record_.Get(), at, nullptr, FILE_BEGIN) &&
      WriteFile(record_.Get(), state, size, &written, nullptr) && written == size && FlushFileBuffers(record_.Get()))
    return true;
  LogLine() << "ERROR: Could not write the backup record " << backup_ << kRecordSuffix << ": " << LastErrorText();
  return false;
}

bool PackageBackup::Confirm() {
  if (!WriteState(kConfirmed)) return false;
  WfPlatform::Current().Checkpoint("save confirmed");
  return true;
}

bool PackageBackup::Drop() {
  const std::string part = backup_ + kPartSuffix;
  // Renamed when it can be (a folder some process works in cannot), so that it is never taken
  // for a whole one; removed where it is otherwise.
  const bool renamed = MoveFileExA(backup_.c_str(), part.c_str(), 0) != FALSE;
  WfPlatform::Current().Checkpoint("backup removal begun");
  {
    const FolderRemover removed(renamed ? part : backup_);
  }
  // Whatever is left of it keeps the record, which a later start reads to finish the removal.
  for (const std::string& left : {backup_, part}) {
    if (!FileInfo(left).exists) continue;
    LogLine() << "ERROR: Could not remove the old package's backup " << left << "; a later start removes it";
    record_.Close();
    return false;
  }
  WfPlatform::Current().Checkpoint("backup removed");
  RemoveRecord();
  LogLine() << "Removed the old package's backup " << backup_;
  return true;
}

void PackageBackup::RecoverLeftovers() {
  const std::string& temp = DataPaths::Get().tempFolder;
  std::vector<std::string> backups, records, parts;
  // Half copies are also left by a recovery cut short while it copied a package aside.
  for (const std::string& pattern :
       {std::string(kBackupPrefix) + "*", kUnconfirmedPrefix + std::string("*") + kPartSuffix}) {
    FindHolder find(Join(temp, pattern));
    if (!find.Valid()) continue;
    do {
      const std::string name = find.data.cFileName;
      if (find.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        (name.ends_with(kPartSuffix) ? parts : backups).push_back(Join(temp, name));
      else if (name.ends_with(kRecordSuffix))
        records.push_back(Join(temp, name));
    } while (find.Next());
  }
  const auto has = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };

  std::vector<std::string> kept, undone;
  for (const std::string& path : records) {
    const std::string backup = path.substr(0, path.size() - std::string(kRecordSuffix).size());
    // Another account could have planted it: nothing it names is moved or removed.
    const std::string distrust = WhyLeftAlone(temp, path, backup);
    if (!distrust.empty()) {
      kept.push_back(backup + " (left alone: " + distrust + ")");
      continue;
    }
    HandleHolder handle = OpenRecord(path, OPEN_EXISTING);
    if (!handle.Valid()) {
      // Its save, or the script of a save whose tool has ended, still runs.
      if (GetLastError() == ERROR_SHARING_VIOLATION)
        LogLine() << "The save that keeps an old package in " << backup << " still runs: left alone";
      else if (has(backups, backup))
        kept.push_back(backup + " (its record cannot be read)");
      continue;
    }
    const Record record = ReadRecord(handle.Get());
    const bool confirmed = record.state == TrimBlanks(kConfirmed);
    const bool left = FileInfo(backup).exists;
    if (confirmed || !left) {
      // The new package was whole, or the old one never moved (or only a copy of it was
      // begun): the backup, or what remains of it, is only to be removed.
      for (const std::string& rest : {backup, backup + kPartSuffix}) {
        if (FileInfo(rest).exists) const FolderRemover removed(rest);
      }
      if (FileInfo(backup).exists || FileInfo(backup + kPartSuffix).exists) {
        LogLine() << "WARNING: Could not remove the old package's backup " << backup
                  << " left by an earlier save; a later start tries again";
        continue;
      }
      handle.Close();
      DeleteFileA(path.c_str());
      if (confirmed) LogLine() << "Removed the old package's backup " << backup << " left by an earlier save";
      continue;
    }
    // Only a package folder under Packages is ever moved aside and put back.
    if (!IsPackageFolderPath(record.package, DataPaths::Get().packagesFolder)) {
      kept.push_back(backup + " (its package is not known)");
      continue;
    }
    // Only a save known to have been cut short takes back a package folder that holds a
    // configuration; an old package that could not be put back, a record of an older tool
    // (no state) or of a state never written goes back only where none stands.
    if (record.state != kUnconfirmed && HasConfigFile(record.package)) {
      kept.push_back(backup + " (its package " + record.package + " holds a configuration file)");
      continue;
    }
    LogLine() << "Putting back the old package " << record.package << " left in " << backup << " by an earlier save";
    std::string aside;
    if (FileInfo(record.package).exists) {
      // What the save left was never confirmed; it is kept, never deleted.
      const std::string rest = backup.substr(Join(temp, kBackupPrefix).size());
      aside = FreeName(temp, kUnconfirmedPrefix + rest);
      std::string why;
      if (!MoveIntoTemp(record.package, aside, why)) {
        LogLine() << "ERROR: Could not move the unconfirmed package folder " << record.package << " aside to " << aside
                  << ": " << why;
        kept.push_back(backup + " (it could not be put back to " + record.package + ")");
        continue;
      }
      LogLine() << "Moved the unconfirmed package folder " << record.package << " aside to " << aside;
    }
    PackageBackup restore(backup, record.package, std::move(handle));
    if (!restore.PutBack()) {
      kept.push_back(backup + " (it could not be put back to " + record.package + ")");
      continue;
    }
    undone.push_back(record.package + (aside.empty() ? std::string() : " (what the save left is kept in " + aside + ")"));
  }
  for (const std::string& backup : backups)
    if (!has(records, backup + kRecordSuffix)) kept.push_back(backup + " (its package is not known)");
  // A half copy or a backup half removed, whose record is gone: never one to put back.
  for (const std::string& part : parts) {
    const std::string backup = part.substr(0, part.size() - std::string(kPartSuffix).size());
    if (has(records, backup + kRecordSuffix)) continue;
    const std::string distrust = WhyLeftAlone(temp, "", part);
    if (!distrust.empty()) {
      LogLine() << "WARNING: " << part << " left alone: " << distrust;
      continue;
    }
    const FolderRemover removed(part);
    LogLine() << "Removed " << part << ", left by an earlier save";
  }

  if (kept.empty() && undone.empty()) return;
  std::string text;
  if (!undone.empty()) {
    text = "Saves cut short before they were confirmed; the old package is back in:";
    for (const std::string& line : undone) text += "\n" + line;
  }
  if (!kept.empty()) {
    if (!text.empty()) text += "\n\n";
    text += "Old packages left by earlier saves are kept in:";
  }
  for (const std::string& line : kept) {
    LogLine() << "WARNING: An old package left by an earlier save is kept in " << line;
    text += "\n" + line;
  }
  ShowErrorBox(text);
}

std::string PackageBackup::EarlierSaveOf(const std::string& packagePath) {
  const std::string& temp = DataPaths::Get().tempFolder;
  FindHolder find(Join(temp, std::string(kBackupPrefix) + "*" + kRecordSuffix));
  if (!find.Valid()) return {};
  do {
    if (find.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string path = Join(temp, find.data.cFileName);
    Record record;
    {
      // Read beside the save that may hold it.
      const HandleHolder reader(CreateFileA(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!reader.Valid()) continue;
      record = ReadRecord(reader.Get());
    }
    if (record.package.empty() || _stricmp(NormalisedFolder(record.package).c_str(),
                                           NormalisedFolder(packagePath).c_str()) != 0)
      continue;
    const HandleHolder probe = OpenRecord(path, OPEN_EXISTING);
    if (!probe.Valid() && GetLastError() == ERROR_SHARING_VIOLATION)
      return "An earlier save of the package " + packagePath + " still runs: its script holds " +
             path + ". The package can be edited and saved again once that save has ended.";
    // Only what a recovery acts on could undo a save made now.
    const std::string backup = path.substr(0, path.size() - std::string(kRecordSuffix).size());
    if (record.state == kUnconfirmed && FileInfo(backup).exists &&
        WhyLeftAlone(temp, path, backup).empty())
      return "An earlier save of the package " + packagePath +
             " was cut short and is not undone yet (" + path +
             "). The next operation or start of the tool puts its old package back; the package "
             "can be edited and saved again after that.";
  } while (find.Next());
  return {};
}

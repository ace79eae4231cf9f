#include "packages/PackageBackup.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "dialogs/PackageDialogs.h"
#include "logpane/LogPane.h"
#include "options/CfgFile.h"
#include "packages/DataFolders.h"
#include "packages/PackageVersions.h"
#include "support/KitHolders.h"
#include "support/KitUtilities.h"
#include "support/StringSplitter.h"  // TrimBlanks
#include "WfPlatform.h"

namespace {

constexpr char kBackupPrefix[] = "PackBak-";
constexpr char kRecordSuffix[] = ".txt";
// A backup on its way in (copied from another volume) or out (being removed): never one to put back.
constexpr char kPartSuffix[] = ".part";
// What stands at a package path when a save cut short is undone goes aside under this prefix.
constexpr char kUnconfirmedPrefix[] = "PackUnconfirmed-";
// The record's states: the save still runs or was cut short; the new package is whole; the
// package was saved again after it.
constexpr char kUnconfirmed[] = "unconfirmed";
constexpr char kConfirmed[] = "confirmed";
constexpr char kStale[] = "stale";
constexpr char kSavedAgain[] = "kept: the package was saved again after it";
// An old package without a configuration, in the record's fixed-width line.
const std::string kNoConfig(16, '-');
constexpr char kWhatWorksIn[] =
    " (a console or an Explorer window in it, or a program using its files)";

std::string Join(const std::string& folder, const std::string& name) { return folder + kPathSeparator + name; }
std::string WithoutSuffix(const std::string& path, const char* suffix) {
  return path.substr(0, path.size() - std::string(suffix).size());
}

// The system's message, without the full stop and line end it comes with, to stand inside a
// sentence.
std::string ErrorText(DWORD code) {
  std::string text = TrimBlanks(Win32ErrorText(code).Text());
  if (text.ends_with('.')) text.pop_back();
  return text;
}
std::string LastErrorText() { return ErrorText(GetLastError()); }

bool SameProcess(const ProcessMark& a, const ProcessMark& b) {
  return a.id == b.id && a.started == b.started;
}

// True while the process the mark names runs. A process this account started can always be
// looked at: one that cannot is another.
bool StillRuns(const ProcessMark& mark) {
  if (mark.id == 0) return false;
  const HandleHolder process(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, mark.id));
  return process.Valid() && SameProcess(MarkOf(process.Get()), mark) &&
         WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// The record's text: every line but the package's of a fixed width, so that it is rewritten in
// place, and a full disk cannot stop it.
std::string RecordText(const BackupRecord& record) {
  char state[16] = {}, times[128] = {};
  std::snprintf(state, sizeof state, "%-11s", record.state.c_str());
  std::snprintf(times, sizeof times, "saved %20llu\r\ntool %10lu %20llu\r\nscript %10lu %20llu\r\n",
                record.savedAt, record.tool.id, record.tool.started, record.script.id,
                record.script.started);
  return record.package + "\r\n" + state + "\r\nold " +
         (record.oldConfig.empty() ? kNoConfig : record.oldConfig) + "\r\nnew " + record.newConfig +
         "\r\n" + times;
}

ProcessMark ParseMark(const std::string& line, const char* name) {
  ProcessMark mark;
  unsigned long id = 0;
  unsigned long long started = 0;
  if (std::sscanf(line.c_str(), (std::string(name) + " %lu %llu").c_str(), &id, &started) == 2)
    mark = {static_cast<DWORD>(id), started};
  return mark;
}

// The record's text, read from its start through the handle; false with the reason.
bool ReadRecordText(HANDLE file, std::string& text, std::string& why) {
  char buffer[MAX_PATH * 4] = {};
  DWORD read = 0;
  const LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
      !ReadFile(file, buffer, sizeof buffer - 1, &read, nullptr)) {
    why = LastErrorText();
    return false;
  }
  text.assign(buffer, read);
  return true;
}

// The record at the path as it is now, read while others may go on writing it.
bool ReadRecordText(const std::string& path, std::string& text, std::string& why) {
  const HandleHolder file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Valid()) return ReadRecordText(file.Get(), text, why);
  why = LastErrorText();
  return false;
}

BackupRecord ParseRecord(const std::string& all) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < all.size();) {
    const size_t end = std::min(all.find('\n', start), all.size());
    lines.push_back(all.substr(start, end - start));
    if (lines.back().ends_with('\r')) lines.back().pop_back();
    start = end + 1;
  }
  BackupRecord record;
  if (!lines.empty()) record.package = TrimBlanks(lines[0]);
  if (lines.size() > 1) record.state = TrimBlanks(lines[1]);
  if (lines.size() > 6 && lines[2].rfind("old ", 0) == 0 && lines[3].rfind("new ", 0) == 0) {
    record.fingerprints = true;
    record.oldConfig = lines[2].substr(4) == kNoConfig ? std::string() : lines[2].substr(4);
    record.newConfig = lines[3].substr(4);
    std::sscanf(lines[4].c_str(), "saved %llu", &record.savedAt);
    record.tool = ParseMark(lines[5], "tool");
    record.script = ParseMark(lines[6], "script");
  }
  return record;
}

// The record is held while its save runs, others allowed to read it; no child inherits it.
HandleHolder OpenRecord(const std::string& path, DWORD disposition) {
  return HandleHolder(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
}

bool WriteAt0(HANDLE file, const std::string& text) {
  LARGE_INTEGER start = {};
  DWORD written = 0;
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) &&
         WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size() && SetEndOfFile(file) && FlushFileBuffers(file);
}

void DeleteRecord(const std::string& path) {
  if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    LogLine() << "ERROR: Could not remove the backup record " << path << ": " << LastErrorText();
}

// Removes the record through the handle that holds it, so that no other tool takes it between.
// A record that stays is still held, to be written again.
void DeleteRecord(HandleHolder& record, const std::string& path) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(record.Get(), FileDispositionInfo, &disposition,
                                 sizeof(disposition)))
    record.Close();
  else
    LogLine() << "ERROR: Could not remove the backup record " << path << ": " << LastErrorText();
}

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
// user, SYSTEM, Administrators and TrustedInstaller may; what does not exist is not asked about.
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

bool NotThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_NO_MORE_FILES;
}

// The records in Temp, the latest save first. unlisted, when given, says why Temp could not be
// listed to its end.
std::vector<std::string> RecordsIn(const std::string& temp, std::string* unlisted = nullptr) {
  std::vector<std::pair<ULONGLONG, std::string>> records;
  FindHolder find(Join(temp, std::string(kBackupPrefix) + "*" + kRecordSuffix));
  bool more = find.Valid();
  while (more) {
    if (!(find.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      const std::string path = Join(temp, find.data.cFileName);
      std::string text, unread;
      ReadRecordText(path, text, unread);
      records.emplace_back(ParseRecord(text).savedAt, path);
    }
    more = find.Next();
  }
  if (unlisted && !NotThere(GetLastError())) *unlisted = LastErrorText();
  std::sort(records.begin(), records.end(), std::greater<>());
  std::vector<std::string> paths;
  for (const auto& record : records) paths.push_back(record.second);
  return paths;
}

bool SamePackage(const std::string& a, const std::string& b) {
  return !a.empty() && _stricmp(NormalisedFolder(a).c_str(), NormalisedFolder(b).c_str()) == 0;
}

// What a recovery does with one record, from what the record, its backup and its package hold
// now. The recovery and the refusal of a save both ask this, and only this.
enum class Fate { kLeaveAlone, kRuns, kRemove, kPutBack, kKeep };

struct Leftover {
  std::string record;
  std::string backup;
  bool read = false;
  std::string raw;  // the record as it was judged
  BackupRecord text;
  Fate fate = Fate::kKeep;
  std::string why;  // what is left alone or kept, and why; what runs
};

// What of a save still runs: its script's interpreter, or another tool that saves; empty when
// neither does.
std::string WhatRuns(const BackupRecord& text) {
  if (StillRuns(text.script))
    return "its script (process " + std::to_string(text.script.id) + ") has not ended";
  if (!SameProcess(text.tool, MarkOf(GetCurrentProcess())) && StillRuns(text.tool))
    return "the Kitsmith that saves it (process " + std::to_string(text.tool.id) +
           ") has not ended";
  return {};
}

Leftover Judge(const std::string& temp, const std::string& record) {
  Leftover left;
  left.record = record;
  left.backup = WithoutSuffix(record, kRecordSuffix);
  const auto decide = [&left](Fate fate, std::string why = {}) {
    left.fate = fate;
    left.why = std::move(why);
    return left;
  };
  std::string error;
  left.read = ReadRecordText(record, left.raw, error);
  if (left.read) left.text = ParseRecord(left.raw);
  const BackupRecord& text = left.text;
  // A script that may still write into the package holds it up, whoever could write the record.
  const std::string running =
      left.read && text.state != kConfirmed ? WhatRuns(text) : std::string();
  if (!running.empty()) return decide(Fate::kRuns, running);
  // Another account could have planted it: nothing it names is moved or removed.
  const std::string distrust = WhyLeftAlone(temp, record, left.backup);
  if (!distrust.empty()) return decide(Fate::kLeaveAlone, "left alone: " + distrust);
  if (!left.read) return decide(Fate::kKeep, "its record cannot be read: " + error);
  // The new package was whole: the backup is only to be removed.
  if (text.state == kConfirmed) return decide(Fate::kRemove);
  // The old package never moved, or only a copy of it was begun.
  if (!FileInfo(left.backup).exists) return decide(Fate::kRemove);
  // Only a package folder under Packages is ever moved aside and put back.
  if (!IsPackageFolderPath(text.package, DataPaths::Get().packagesFolder))
    return decide(Fate::kKeep, "its package is not known");
  if (text.state == kStale) return decide(Fate::kKeep, kSavedAgain);
  if (text.fingerprints &&
      CfgFile::Fingerprint(Join(left.backup, kConfigFileName)) != text.oldConfig)
    return decide(Fate::kKeep, "it is not the old package its record names");
  // Back only over what this save was writing, or where no configuration stands; a record of
  // an older tool, without fingerprints, cannot tell the former.
  const std::string config = Join(text.package, kConfigFileName);
  const std::string standing = CfgFile::Fingerprint(config);
  const bool noConfig =
      GetFileAttributesA(config.c_str()) == INVALID_FILE_ATTRIBUTES && NotThere(GetLastError());
  if (noConfig || (text.fingerprints && !standing.empty() && standing == text.newConfig))
    return decide(Fate::kPutBack);
  if (!text.fingerprints)
    return decide(Fate::kKeep, "its package " + text.package + " holds a configuration file");
  if (standing.empty()) return decide(Fate::kKeep, "kept: " + config + " cannot be read");
  return decide(Fate::kKeep, "kept: its package holds another configuration than that save wrote");
}

// What stands in the way of putting an old package back or of a save, and the way out.
struct Failure {
  std::string what;
  std::string wayOut;
};

// An earlier save's record of a package, held while it is made stale.
struct HeldRecord {
  std::string path;
  HandleHolder file;
  BackupRecord text;
};

bool Unsettled(const BackupRecord& text, const std::string& package) {
  return SamePackage(text.package, package) && text.state != kConfirmed && text.state != kStale;
}

// An earlier save's record that keeps a save from going on (what: why), and the way out.
Failure EarlierRecordInTheWay(const std::string& path, const std::string& what) {
  return {"the record " + path + " of an earlier save " + what,
          "Close what holds " + path + " open, or remove it"};
}

// The way out of a refusal while an earlier save still runs.
std::string StillRunsWayOut(const std::string& record) {
  return "Wait for it to end, or end that process (or, if it saves nothing, remove " + record + ")";
}

// The records of earlier saves of the package that are neither confirmed nor stale, each held
// for writing and read again through that handle; only a plain file of its own, not a link to
// another. False with what stands in the way when Temp cannot be listed, or one of them (or
// one that may be of it) cannot be read or changed, or its save runs. A record that another
// account may write is never acted on, so it stands in no save's way.
bool HoldEarlierSaves(const std::string& own, const std::string& package,
                      std::vector<HeldRecord>& held, Failure& failure) {
  const std::string& temp = DataPaths::Get().tempFolder;
  std::string unlisted;
  const std::vector<std::string> records = RecordsIn(temp, &unlisted);
  if (!unlisted.empty()) {
    failure = {"the records of earlier saves in " + temp + " cannot be listed (" + unlisted + ")",
               "Let this account list " + temp};
    return false;
  }
  for (const std::string& path : records) {
    if (_stricmp(path.c_str(), own.c_str()) == 0) continue;
    const auto othersMayWrite = [&path] {
      const OtherWriters others = OthersWhoMayWrite(path);
      return !others.known || !others.names.empty();
    };
    std::string raw, error;
    if (!ReadRecordText(path, raw, error)) {
      if (!FileInfo(path).exists || othersMayWrite()) continue;
      failure = EarlierRecordInTheWay(path, "cannot be read (" + error + ")");
      return false;
    }
    const BackupRecord text = ParseRecord(raw);
    if (!Unsettled(text, package)) continue;
    const std::string running = WhatRuns(text);
    if (!running.empty()) {
      failure = {"an earlier save of it still runs: " + running, StillRunsWayOut(path)};
      return false;
    }
    HeldRecord record{
        path,
        HandleHolder(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)),
        {}};
    BY_HANDLE_FILE_INFORMATION about = {};
    if (!record.file.Valid() || !GetFileInformationByHandle(record.file.Get(), &about) ||
        !ReadRecordText(record.file.Get(), raw, error)) {
      if (error.empty()) error = LastErrorText();
      if (othersMayWrite()) continue;
      failure = EarlierRecordInTheWay(path, "of it cannot be changed (" + error + ")");
      return false;
    }
    if ((about.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        about.nNumberOfLinks != 1) {
      if (othersMayWrite()) continue;
      failure = {"the record " + path + " of an earlier save of it is not a file of its own",
                 "Remove it"};
      return false;
    }
    record.text = ParseRecord(raw);
    if (!Unsettled(record.text, package)) continue;
    held.push_back(std::move(record));
  }
  return true;
}

// Removes what is left of a backup whose package stays, then its record; logged when some of
// it remains.
void RemoveLeftover(const Leftover& left) {
  for (const std::string& rest : {left.backup, left.backup + kPartSuffix})
    if (FileInfo(rest).exists) const FolderRemover removed(rest);
  if (FileInfo(left.backup).exists || FileInfo(left.backup + kPartSuffix).exists) {
    LogLine() << "WARNING: Could not remove the old package's backup " << left.backup
              << " left by an earlier save; a later start tries again";
    return;
  }
  DeleteRecord(left.record);
  if (left.text.state == kConfirmed)
    LogLine() << "Removed the old package's backup " << left.backup << " left by an earlier save";
}

enum class PutBackOutcome { kDone, kSettledElsewhere, kFailed };

// Puts the backup back at its package, what stands there going aside into Temp (aside says
// where). kFailed with what failed.
PutBackOutcome PutBackLeftover(const std::string& temp, const Leftover& left, std::string& aside,
                               Failure& failure) {
  const std::string& package = left.text.package;
  // Taken first: a record that cannot be removed afterwards would put the package back again,
  // and while it is held no other tool acts on it.
  HandleHolder record = OpenRecord(left.record, OPEN_EXISTING);
  const DWORD error = GetLastError();
  // Another tool put it back meanwhile.
  if (!record.Valid() && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
    return PutBackOutcome::kSettledElsewhere;
  std::string now, unread;
  if (record.Valid() && ReadRecordText(record.Get(), now, unread) && now != left.raw) {
    // Another tool changed it meanwhile (a later save made it stale, say).
    LogLine() << "The record " << left.record << " changed while it was judged: left to the next "
              << "start or operation";
    return PutBackOutcome::kSettledElsewhere;
  }
  LogLine() << "Putting back the old package " << package << " left in " << left.backup
            << " by an earlier save";
  if (record.Valid() && !unread.empty()) {
    failure = {"its record " + left.record + " cannot be read again (" + unread + ")",
               "Close what holds " + left.record + " open"};
    LogLine() << "ERROR: Could not put back the old package " << package << ": " << failure.what;
    return PutBackOutcome::kFailed;
  }
  if (!record.Valid()) {
    failure = {"its record " + left.record + " cannot be changed (" + ErrorText(error) + ")",
               "Close what holds " + left.record + " open, or make it writable"};
    LogLine() << "ERROR: Could not put back the old package " << package << ": " << failure.what;
    return PutBackOutcome::kFailed;
  }
  if (FileInfo(package).exists) {
    // What the save left was never confirmed; it is kept, never deleted.
    aside =
        FreeName(temp, kUnconfirmedPrefix + left.backup.substr(Join(temp, kBackupPrefix).size()));
    std::string why;
    if (!MoveIntoTemp(package, aside, why)) {
      failure = {package + " could not be moved aside to " + aside + " (" + why + ")",
                 "Close what works in " + package + kWhatWorksIn};
      LogLine() << "ERROR: Could not move the unconfirmed package folder " << package
                << " aside to " << aside << ": " << why;
      return PutBackOutcome::kFailed;
    }
    LogLine() << "Moved the unconfirmed package folder " << package << " aside to " << aside;
  }
  PackageBackup restore(left.backup, left.text, std::move(record));
  std::string why;
  if (restore.PutBack(&why)) return PutBackOutcome::kDone;
  failure = {left.backup + " could not be moved to " + package + " (" + why + ")" +
                 (aside.empty() ? std::string() : "; what stood there is kept in " + aside),
             "Close what works in " + left.backup + kWhatWorksIn};
  return PutBackOutcome::kFailed;
}

// What a recovery tells once: old packages put back, backups kept.
class RecoveryReport {
 public:
  void Undone(const std::string& package, const std::string& aside) {
    undone_.push_back(package + (aside.empty() ? std::string()
                                               : " (what the save left is kept in " + aside + ")"));
  }
  void Kept(const std::string& backup, const std::string& why) {
    kept_.push_back(backup + " (" + why + ")");
  }
  void Show() const {
    if (kept_.empty() && undone_.empty()) return;
    std::string text;
    if (!undone_.empty()) {
      text = "Saves cut short before they were confirmed; the old package is back in:";
      for (const std::string& line : undone_) text += "\n" + line;
    }
    if (!kept_.empty()) {
      if (!text.empty()) text += "\n\n";
      text += "Old packages left by earlier saves are kept in:";
    }
    for (const std::string& line : kept_) {
      LogLine() << "WARNING: An old package left by an earlier save is kept in " << line;
      text += "\n" + line;
    }
    ShowErrorBox(text);
  }

 private:
  std::vector<std::string> undone_, kept_;
};

// Acts on one judged record; false with what failed when its old package could not be put back.
bool Settle(const std::string& temp, const Leftover& left, RecoveryReport& report,
            Failure& failure) {
  switch (left.fate) {
    case Fate::kRuns:
      LogLine() << "The save that keeps an old package in " << left.backup
                << " still runs: left alone; " << left.why;
      return true;
    case Fate::kRemove:
      RemoveLeftover(left);
      return true;
    case Fate::kLeaveAlone:
    case Fate::kKeep:
      // A record of a save that moved no package aside keeps no old package.
      if (FileInfo(left.backup).exists || FileInfo(left.backup + kPartSuffix).exists)
        report.Kept(left.backup, left.why);
      else
        LogLine() << "WARNING: The record of an earlier save " << left.record << " is kept ("
                  << left.why << ")";
      return true;
    case Fate::kPutBack: {
      std::string aside;
      const PutBackOutcome outcome = PutBackLeftover(temp, left, aside, failure);
      if (outcome == PutBackOutcome::kDone) report.Undone(left.text.package, aside);
      return outcome != PutBackOutcome::kFailed;
    }
  }
  return true;
}

}  // namespace

ProcessMark MarkOf(HANDLE process) {
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return {};
  return {GetProcessId(process),
          static_cast<ULONGLONG>(created.dwHighDateTime) << 32 | created.dwLowDateTime};
}

PackageBackup::PackageBackup(const std::string& tempFolder, const std::string& operationId,
                             const std::string& packagePath, const std::string& newConfig) {
  record_.package = packagePath;
  record_.newConfig = newConfig;
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

PackageBackup::PackageBackup(std::string backup, BackupRecord record, HandleHolder handle)
    : backup_(std::move(backup)), record_(std::move(record)), handle_(std::move(handle)) {}

PackageBackup::~PackageBackup() {
  if (!handle_.Valid() || !SameProcess(record_.tool, MarkOf(GetCurrentProcess()))) return;
  record_.tool = {};
  WriteRecord();
}

bool PackageBackup::WriteRecord() {
  if (handle_.Valid() && WriteAt0(handle_.Get(), RecordText(record_))) return true;
  LogLine() << "ERROR: Could not write the backup record " << backup_ << kRecordSuffix << ": "
            << LastErrorText();
  return false;
}

void PackageBackup::RemoveRecord() {
  if (handle_.Valid()) DeleteRecord(handle_, backup_ + kRecordSuffix);
}

bool PackageBackup::Begin() {
  const std::string& package = record_.package;
  record_.state = kUnconfirmed;
  record_.oldConfig = CfgFile::Fingerprint(Join(package, kConfigFileName));
  record_.tool = MarkOf(GetCurrentProcess());
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  record_.savedAt = static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
  // Made new: never written through a link someone put at its name.
  handle_ = OpenRecord(backup_ + kRecordSuffix, CREATE_NEW);
  if (!WriteRecord()) {
    RemoveRecord();
    return false;
  }
  // Every earlier save of the package is stale before this one touches it: whatever becomes of
  // this save, no earlier one's old package goes back over what it leaves.
  std::vector<HeldRecord> earlier;
  Failure failure;
  bool marked = HoldEarlierSaves(backup_ + kRecordSuffix, package, earlier, failure);
  for (size_t i = 0; marked && i < earlier.size(); ++i) {
    HeldRecord& held = earlier[i];
    held.text.state = kStale;
    marked = WriteAt0(held.file.Get(), RecordText(held.text));
    if (!marked)
      failure =
          EarlierRecordInTheWay(held.path, "of it cannot be changed (" + LastErrorText() + ")");
  }
  if (!marked) {
    LogLine() << "ERROR: The package " << package << " is not saved: " << failure.what << ". "
              << failure.wayOut << "; then save the package again.";
    RemoveRecord();
    return false;
  }
  WfPlatform::Current().Checkpoint("record written");
  return true;
}

bool PackageBackup::MoveAside() {
  const std::string& package = record_.package;
  // Renaming a link may move what it points at (Wine's does): a link is copied instead.
  const bool link = IsLink(package);
  if (!link && MoveFileExA(package.c_str(), backup_.c_str(), 0)) {
    LogLine() << "Moved the old package " << package << " aside to " << backup_;
    WfPlatform::Current().Checkpoint("package moved aside");
    return true;
  }
  const DWORD error = link ? ERROR_NOT_SAME_DEVICE : GetLastError();
  std::string why = link ? std::string() : ErrorText(error);
  if (error == ERROR_NOT_SAME_DEVICE) {
    // Another volume, or a link: a whole copy first; until it has the backup's name the package
    // is untouched.
    if (CopyWhole(package, backup_, why)) {
      LogLine() << "Copied the old package " << package << " aside to " << backup_
                << (link ? " (the package folder is a link)" : " (another volume)");
      // Through a link the configuration file would go from the folder it points at.
      if (!link) DeleteFileA(Join(package, kConfigFileName).c_str());
      const FolderRemover removed(package);
      if (!FileInfo(package).exists) {
        WfPlatform::Current().Checkpoint("package moved aside");
        return true;
      }
      if (link) {
        // Only read through, the package is as it was: the copy goes again.
        LogLine() << "ERROR: Could not remove the link " << package
                  << " after copying the old package; not saved";
        const FolderRemover copy(backup_);
        RemoveRecord();
        return false;
      }
      LogLine() << "ERROR: Could not remove the old package " << package << " after copying it";
      PutBack();
      return false;
    }
  }
  LogLine() << "ERROR: Could not move the old package " << package << " aside to " << backup_
            << ": " << why;
  RemoveRecord();
  return false;
}

bool PackageBackup::ScriptStarted(HANDLE process) {
  record_.script = MarkOf(process);
  return WriteRecord();
}

void PackageBackup::Discard() { RemoveRecord(); }

bool PackageBackup::PutBack(std::string* why) {
  const std::string& package = record_.package;
  if (FileInfo(package).exists) {
    const FolderRemover partial(package);
    LogLine() << "Removed the partial package " << package << " (" << partial.filesRemoved
              << " files, " << partial.foldersRemoved << " folders)";
  }
  if (MoveFileExA(backup_.c_str(), package.c_str(), 0)) {
    LogLine() << "Restored the old package " << package;
    RemoveRecord();
    return true;
  }
  const DWORD error = GetLastError();
  std::string reason = ErrorText(error);
  // A copy back goes only where nothing stands any more (a link left there would take it).
  if (error == ERROR_NOT_SAME_DEVICE && !FileInfo(package).exists) {
    if (CopyFolder(backup_, package, reason)) {
      LogLine() << "Restored the old package " << package << " (copied back from another volume)";
      // The package is whole again: what is left of the backup is only to be removed.
      record_.state = kConfirmed;
      if (WriteRecord()) Drop();
      return true;
    }
    // Without its configuration file the half copy is put back again later.
    DeleteFileA(Join(package, kConfigFileName).c_str());
  }
  LogLine() << "ERROR: Could not restore the old package " << package << "; it is left in "
            << backup_ << ": " << reason;
  if (why) *why = reason;
  return false;
}

bool PackageBackup::Confirm() {
  record_.state = kConfirmed;
  if (!WriteRecord()) return false;
  WfPlatform::Current().Checkpoint("save confirmed");
  return true;
}

bool PackageBackup::Drop() {
  const std::string part = backup_ + kPartSuffix;
  // A save that moved nothing aside (a new package) only has its record to remove.
  if (!FileInfo(backup_).exists && !FileInfo(part).exists) {
    RemoveRecord();
    return true;
  }
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
    LogLine() << "ERROR: Could not remove the old package's backup " << left
              << "; a later start removes it";
    return false;
  }
  WfPlatform::Current().Checkpoint("backup removed");
  RemoveRecord();
  LogLine() << "Removed the old package's backup " << backup_;
  return true;
}

void PackageBackup::RecoverLeftovers() {
  const std::string& temp = DataPaths::Get().tempFolder;
  std::vector<std::string> backups, parts;
  // Half copies are also left by a recovery cut short while it copied a package aside.
  for (const std::string& pattern :
       {std::string(kBackupPrefix) + "*", kUnconfirmedPrefix + std::string("*") + kPartSuffix}) {
    FindHolder find(Join(temp, pattern));
    if (!find.Valid()) continue;
    do {
      const std::string name = find.data.cFileName;
      if (find.data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        (name.ends_with(kPartSuffix) ? parts : backups).push_back(Join(temp, name));
    } while (find.Next());
  }
  const std::vector<std::string> records = RecordsIn(temp);
  const auto recorded = [&records](const std::string& backup) {
    return std::find(records.begin(), records.end(), backup + kRecordSuffix) != records.end();
  };

  RecoveryReport report;
  for (const std::string& path : records) {
    Failure failure;
    const Leftover left = Judge(temp, path);
    if (!Settle(temp, left, report, failure))
      report.Kept(left.backup,
                  "it could not be put back to " + left.text.package + ": " + failure.what);
  }
  for (const std::string& backup : backups)
    if (!recorded(backup)) report.Kept(backup, "its package is not known");
  // A half copy or a backup half removed, whose record is gone: never one to put back.
  for (const std::string& part : parts) {
    if (recorded(WithoutSuffix(part, kPartSuffix))) continue;
    const std::string distrust = WhyLeftAlone(temp, "", part);
    if (!distrust.empty()) {
      LogLine() << "WARNING: " << part << " left alone: " << distrust;
      continue;
    }
    const FolderRemover removed(part);
    LogLine() << "Removed " << part << ", left by an earlier save";
  }
  report.Show();
}

std::string PackageBackup::SettleEarlierSavesOf(const std::string& packagePath) {
  const std::string& temp = DataPaths::Get().tempFolder;
  RecoveryReport report;
  std::string refusal;
  for (const std::string& path : RecordsIn(temp)) {
    const Leftover left = Judge(temp, path);
    if (!left.read || !SamePackage(left.text.package, packagePath)) continue;
    if (left.fate == Fate::kRuns) {
      refusal = "An earlier save of the package " + packagePath + " still runs: " + left.why +
                ". " + StillRunsWayOut(left.record) + "; then edit or save the package again.";
      break;
    }
    if (left.fate != Fate::kPutBack) continue;
    Failure failure;
    if (!Settle(temp, left, report, failure)) {
      refusal = "An earlier save of the package " + packagePath +
                " was cut short, and its old package in " + left.backup +
                " could not be put back: " + failure.what + ". " + failure.wayOut + ", or remove " +
                left.record + " to give up putting it back (the old package stays in " +
                left.backup + "); then edit or save the package again.";
      break;
    }
  }
  report.Show();
  return refusal;
}

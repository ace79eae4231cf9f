// Where a package save keeps the old package until the new one is known to be whole: a folder
// "PackBak-<operation id>" in Temp and, beside it, a record. The record names the package,
// says whether the save was confirmed (or is stale: a later save of the package began), holds
// the fingerprints of the old package's configuration and of the one the save writes, and the
// processes that work on the save (the tool and the interpreter of its script, each by id and
// start time). So a later start, or a later save, tells from the record and from what the
// backup and the package hold now whether the save still runs, whether the backup is the old
// package the record names, and whether the package is the one this save was writing; who may
// write them decides only whether anything is done with them at all.
#pragma once

#include <windows.h>

#include <string>

#include "WinHolders.h"

// A process as no other can stand in for it: its id and when it started.
struct ProcessMark {
  DWORD id = 0;
  ULONGLONG started = 0;
};
// The mark of a process held open; empty when its times cannot be read.
ProcessMark MarkOf(HANDLE process);

struct BackupRecord {
  std::string package;
  std::string state;          // empty in a record of an older tool, which wrote no state line
  bool fingerprints = false;  // false in a record of an older tool
  std::string oldConfig;      // fingerprint of the old package's configuration; empty: it had none
  std::string newConfig;      // fingerprint of the configuration the save writes
  ULONGLONG savedAt = 0;      // when the save began (system time); 0 in a record of an older tool
  ProcessMark tool;           // cleared once the save has ended
  ProcessMark script;
};

class PackageBackup {
 public:
  // The first free backup name for this operation's save of the package; backups kept from
  // earlier saves are named in the log and skipped. newConfig: the fingerprint of the
  // configuration the save writes.
  PackageBackup(const std::string& tempFolder, const std::string& operationId,
                const std::string& packagePath, const std::string& newConfig);
  // The backup an earlier save left, with its record held: to be put back.
  PackageBackup(std::string backup, BackupRecord record, HandleHolder handle);
  // A record that outlives its save no longer names this tool as working on it.
  ~PackageBackup();
  PackageBackup(const PackageBackup&) = delete;
  PackageBackup& operator=(const PackageBackup&) = delete;

  // Writes the record of this save (also of one that moves no package aside, a new package's):
  // the package, unconfirmed, the fingerprints, when, and this tool; then makes every earlier
  // record of the package that is not confirmed stale, so that its old package never goes
  // back. False (logged, with the way out) when a record cannot be written, or an earlier one
  // cannot be read or made stale: nothing is saved then.
  bool Begin();
  // Moves the package folder to the backup: a rename or, when Temp lies on another volume, a
  // copy that takes the backup's name only once whole, after which the package is removed, its
  // configuration file first. False (logged) leaves the package as it was, no backup and no
  // record.
  bool MoveAside();
  // Records the interpreter of the save script before it runs. False (logged) when the record
  // cannot say so: the script must not run then.
  bool ScriptStarted(HANDLE process);
  // Removes whatever stands at the package path and puts the backup there; across volumes the
  // configuration file comes last, so a copy cut short is a package without one. False
  // (logged, why set when asked for) keeps the backup and its record for a later start or save.
  bool PutBack(std::string* why = nullptr);
  // Records that the new package is whole: from here on it stays, whatever cuts the removal
  // of the backup short. False (logged) when the record could not say so.
  bool Confirm();
  // Removes the confirmed backup, then its record; a backup that cannot be wholly removed
  // keeps its record for a later start to finish (logged either way). True when it is gone.
  bool Drop();
  // Removes the record of a save that moved no package aside.
  void Discard();

  // At start and before each operation: what earlier saves left, the latest save first. A save
  // that still runs is left alone; a confirmed save's backup is removed; an unconfirmed save's
  // old package is put back only over the package that save was writing, or where no
  // configuration file stands, what stands there being moved aside into Temp, never deleted; any
  // other backup is kept. A record, backup or half copy that an account other than this user,
  // SYSTEM, Administrators and TrustedInstaller may have written (in Temp, or itself) is left
  // alone. What is put back, moved aside or kept is named in the log and once in a message.
  static void RecoverLeftovers();
  // Before the package is edited or saved: puts back what earlier saves of it left, as the
  // recovery would. Empty when nothing stands in the way; otherwise why, as a message that
  // names what to do: an earlier save of the package still runs, or its old package could not
  // be put back (and what failed).
  static std::string SettleEarlierSavesOf(const std::string& packagePath);

 private:
  bool WriteRecord();
  void RemoveRecord();

  std::string backup_;
  BackupRecord record_;
  HandleHolder handle_;
};

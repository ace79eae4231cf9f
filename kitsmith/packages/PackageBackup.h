// Where a package save keeps the old package until the new one is known to be whole: a folder
// "PackBak-<operation id>" in Temp and, beside it, a record that names the package and says
// whether the save was confirmed. The record is written before the package moves and stays
// open while the save runs, its script inheriting it, so that a later start can tell a backup
// left by a crash from one that a running save (or its script) still needs. It goes only once
// nothing of the backup is left.
#pragma once

#include <string>

#include "WinHolders.h"

class PackageBackup {
 public:
  // The first free backup name for this operation's save of the package; backups kept from
  // earlier saves are named in the log and skipped.
  PackageBackup(const std::string& tempFolder, const std::string& operationId, const std::string& packagePath);
  ~PackageBackup() = default;
  PackageBackup(const PackageBackup&) = delete;
  PackageBackup& operator=(const PackageBackup&) = delete;

  const std::string& Path() const { return backup_; }

  // Records the package, then moves its folder to the backup: a rename or, when Temp lies on
  // another volume, a copy that takes the backup's name only once whole, after which the
  // package is removed, its configuration file first. False (logged) leaves the package as it
  // was and no backup.
  bool MoveAside();
  // Removes whatever stands at the package path and puts the backup there; across volumes the
  // configuration file comes last, so a copy cut short is a package without one. False
  // (logged) keeps the backup and its record, which then says so.
  bool PutBack();
  // Records that the new package is whole: from here on it stays, whatever cuts the removal
  // of the backup short. False (logged) when the record could not say so.
  bool Confirm();
  // Removes the confirmed backup, then its record; a backup that cannot be wholly removed
  // keeps its record for a later start to finish (logged either way). True when it is gone.
  bool Drop();

  // At start and before each operation: what earlier saves left that no running save (nor
  // its script) holds. An unconfirmed save's old package is put back, whatever stands at its
  // package path being moved aside into Temp, never deleted; a confirmed save's backup is
  // removed. A record, backup or half copy that an account other than this user, SYSTEM and
  // Administrators may have written (in Temp, or itself) is left alone. What is put back,
  // moved aside or kept is named in the log and once in a message.
  static void RecoverLeftovers();
  // Why the package may not be saved now, as a message: an earlier save of it still runs (its
  // script would go on writing into it), or one was cut short and its recovery would undo a
  // save made now. Empty when nothing stands in the way.
  static std::string EarlierSaveOf(const std::string& packagePath);

 private:
  PackageBackup(std::string backup, std::string packagePath, HandleHolder record);
  void RemoveRecord();
  bool WriteState(const char* state);

  std::string backup_;
  std::string package_;
  HandleHolder record_;
};

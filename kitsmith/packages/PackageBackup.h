// Where a package save keeps the old package until the new one is known to be whole: a folder
// "PackBak-<operation id>" in Temp and, beside it, a record that names the package. The record
// is written before the package moves and stays open while the save runs, so that a later
// start can tell a backup left by a crash from one that a running save still needs.
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
  // (logged) keeps the backup and its record.
  bool PutBack();
  // Removes the backup and then its record.
  void Drop();

  // At start and before each operation: backups of earlier saves that no running save holds.
  // One whose package folder is missing or has no configuration file is put back; any other
  // is named in the log and in a message, and kept.
  static void RecoverLeftovers();

 private:
  PackageBackup(std::string backup, std::string packagePath, HandleHolder record);
  void RemoveRecord();

  std::string backup_;
  std::string package_;
  HandleHolder record_;
};

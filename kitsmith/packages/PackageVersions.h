// Version folders: their package-version.cmd files and their listing in version order.
#pragma once

#include <string>
#include <vector>

inline constexpr char kPackageVersionFileName[] = "package-version.cmd";

// -1, 0 or 1: dotted names compared part by part as numbers, then by part count.
int CompareVersionNames(const std::string& a, const std::string& b);

// The whole file in text mode (CR LF read as LF); empty when missing or unreadable.
std::string TextFileReader(const std::string& path);
// What follows the first occurrence of key up to the line end, trimmed; empty without the key.
std::string SetValue(const std::string& text, const std::string& key);

// One version folder's package-version.cmd, read at construction.
class PackageVersionInfo {
 public:
  PackageVersionInfo() = default;
  PackageVersionInfo(const std::string& root, const std::string& name);

  std::string folderName;
  // Values of the six keys, in the order of kVersionKeys.
  std::vector<std::string> versions;
  bool read = false;
  std::string error;

 private:
  void ReadPackageVersionFile(const std::string& root);
};

// The sub-folders of root whose version file has text, in ascending version order.
class PrototypeVersionList {
 public:
  explicit PrototypeVersionList(const std::string& root);

  size_t Count() const { return entries_.size(); }
  // A copy of the entry, or an empty one out of range.
  PackageVersionInfo Entry(size_t index) const;
  bool Listed() const { return listed_; }
  const std::string& Error() const { return error_; }

 private:
  std::string root_;
  bool listed_ = false;
  std::string error_;
  std::vector<PackageVersionInfo> entries_;
};

// Why the name cannot be a folder directly under Packages, or "": empty after trimming, "." or
// "..", one of \ / : * ? " < > | % or a control character, a trailing dot or blank, or a
// device name (CON, CONIN$, CONOUT$, PRN, AUX, NUL, CLOCK$, COM0-COM9, LPT0-LPT9 and COM or LPT
// with a superscript 1, 2 or 3, any case, also with an extension).
std::string PackageNameProblem(const std::string& name);
bool IsValidPackageName(const std::string& name);
// A path that names a package folder of its own directly under the Packages folder.
bool IsPackageFolderPath(const std::string& path, const std::string& packagesFolder);

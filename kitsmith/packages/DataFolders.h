// Where the tool keeps its data, the registry values that steer it, and the folder and file
// objects the workflows, the script runner and the package dialogs use. 8-bit paths.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kPathSeparator[] = "\\";
inline constexpr char kDriveMarker[] = ":\\";
inline constexpr char kAssemblyPrefix[] = "PackAsm-";
inline constexpr char kConfigFileName[] = "Idagent.cfg";
inline constexpr char kDefaultConfigFileName[] = "Idagent-default.cfg";
inline constexpr char kLineFeed[] = "\n";
inline constexpr char kLineEndLf[] = "\n";  // line ends of the server-list text
inline constexpr char kLineEndCrLf[] = "\r\n";
inline constexpr const char* kVersionKeys[] = {"set packprover=", "set wintoolver=", "set axwinver=",
                                               "set winaxuver=",  "set axosxver=",  "set osxaxuver="};
// The registry key of the tool's switches, under HKEY_LOCAL_MACHINE.
inline constexpr char kToolRegistryKey[] = "SOFTWARE\\IdentraHack";

// The program's folders and the data tree, formed once.
class DataPaths {
 public:
  // The instance, built on the first call.
  static const DataPaths& Get();
  // Reads the registry and the shell's application-data folder; creates nothing.
  DataPaths();

  // Logs a warning for each existing folder of the data tree, and the prototypes folder, that
  // lets other accounts change what lies in it: the tool runs scripts and takes configurations
  // from there with this user's rights.
  void WarnOfOpenFolders() const;

  std::string programPath;
  std::string programFolder;
  std::string prototypesFolder;
  std::string dataRoot;
  std::string tempFolder;
  std::string packagesFolder;
};

struct RegistryText {
  bool keyOpened = false;
  bool found = false;
  std::string text;
};
// A string value (a multi-string joined by line feeds); the default when the value is missing.
RegistryText RegistryString(HKEY root, const char* subKey, const char* valueName, const char* defaultText = nullptr);
// A DWORD as its number; a string value by its leading decimal number; otherwise 0.
int32_t RegistryInt(HKEY root, const char* subKey, const char* valueName);

// Creates the folders of the path level by level, each open to this user, SYSTEM and
// Administrators alone and passing that on to what is made inside; the text after the last
// backslash is not created, so a folder path ends with a backslash. Existing folders keep
// their access lists.
bool CreatePath(const std::string& path);

// The full path without a trailing backslash (a root keeps it), for comparing folders.
std::string NormalisedFolder(const std::string& path);
// True when path is folder itself or lies below it (full paths, case-free).
bool IsInsideFolder(const std::string& path, const std::string& folder);

// True for the folders no recursive delete may take: an empty path, a drive or share root,
// the data root and its Temp and Packages folders, the prototypes folder.
bool IsProtectedFolder(const std::string& path);

class FolderInfo {
 public:
  explicit FolderInfo(const std::string& path);

  void Refresh();
  // True when the path exists (folder or not) or could be created.
  bool Ensure();
  // Creates the folder; only a full path with a drive is accepted.
  bool Create();
  bool ListSubFolders();
  // Removes the folder with its contents (true when there is none).
  bool Delete();
  // Removes the folder's contents.
  bool Empty();
  bool DeleteContents(const std::string& folder);
  // False when there are no sub-folders.
  bool CopySubFolders(std::vector<std::string>& names) const;

  bool ExistsAsFolder() const { return exists_ && isFolder_; }
  bool IsFolder() const { return isFolder_; }
  bool ReadOnly() const { return readOnly_; }
  const std::string& Path() const { return path_; }
  const std::string& Name() const { return name_; }
  const std::string& Message() const { return message_; }
  const std::vector<std::string>& SubFolders() const { return subFolders_; }

 private:
  bool exists_ = false;
  bool isFolder_ = false;
  bool readOnly_ = false;
  std::string path_;
  std::string name_;
  std::vector<std::string> subFolders_;
  std::string message_;
};

// Whether the path is a junction or directory link (a reparse point), not a folder of its own.
bool IsLink(const std::string& path);

// Removes a folder tree at construction. Links to folders are removed, never entered;
// read-only files stay (and so do the folders above them).
class FolderRemover {
 public:
  explicit FolderRemover(const std::string& path);

  int foldersRemoved = 0;
  int filesRemoved = 0;
};

// One path as found on disk.
class FileInfo {
 public:
  explicit FileInfo(const std::string& path);
  // folder + "\" + name.
  std::string FullPath() const;

  bool exists = false;
  uint32_t size = 0;  // low 32 bits
  std::string folder;
  std::string name;
  bool isFolder = false;
  bool isDots = false;
  bool readOnly = false;
  uint64_t creationTime = 0;
  std::string path;
};

bool IsDirectory(const std::string& path);

// The accounts other than this user, SYSTEM, Administrators and TrustedInstaller that may
// change a file or folder (or add to it), joined by ", "; known is false when its security
// cannot be read.
struct OtherWriters {
  bool known = false;
  std::string names;
};
OtherWriters OthersWhoMayWrite(const std::string& path);
// Logs "WARNING: Other accounts may write to <folder> (<accounts>); <what> could be changed by
// them" for an existing folder that lets them (or whose security cannot be read). The
// operation still runs: the folder may be meant to be shared.
void WarnIfOthersMayWrite(const std::string& folder, const std::string& what);

// True when the folder holds no entry at all; false when it cannot be searched.
bool FolderIsEmpty(const std::string& path);

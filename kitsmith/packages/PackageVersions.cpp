#include "packages/PackageVersions.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <limits>

#include "packages/DataFolders.h"
#include "support/KitUtilities.h"
#include "support/StringSplitter.h"

namespace {

// Windows opens a device for these names, whatever the folder and with any extension (the
// blanks before the extension are ignored too). COM and LPT take a digit, or a superscript 1,
// 2 or 3, which only the wide form of the name tells in every code page.
bool IsDeviceName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  base.erase(base.find_last_not_of(' ') + 1);
  for (const char* device : {"CON", "CONIN$", "CONOUT$", "PRN", "AUX", "NUL", "CLOCK$"})
    if (_stricmp(base.c_str(), device) == 0) return true;
  const std::wstring wide = WideFromAcp(base);
  return wide.size() == 4 &&
         (_wcsnicmp(wide.c_str(), L"COM", 3) == 0 || _wcsnicmp(wide.c_str(), L"LPT", 3) == 0) &&
         std::wcschr(L"0123456789\u00b9\u00b2\u00b3", wide[3]);
}

// The leading decimal number of a part (after blanks and a sign), saturated; 0 without digits.
long long PartNumber(const std::string& part) {
  size_t i = 0;
  while (i < part.size() && std::isspace(static_cast<unsigned char>(part[i]))) ++i;
  bool negative = false;
  if (i < part.size() && (part[i] == '+' || part[i] == '-')) negative = part[i++] == '-';
  constexpr long long kLimit = std::numeric_limits<int>::max();
  long long value = 0;
  for (; i < part.size() && std::isdigit(static_cast<unsigned char>(part[i])); ++i)
    value = std::min(kLimit, value * 10 + (part[i] - '0'));
  return negative ? -value : value;
}

std::vector<std::string> Parts(const std::string& name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t dot; (dot = name.find('.', start)) != std::string::npos; start = dot + 1)
    parts.push_back(name.substr(start, dot - start));
  parts.push_back(name.substr(start));
  return parts;
}

int Sign(long long value) { return (value > 0) - (value < 0); }

}  // namespace

int CompareVersionNames(const std::string& a, const std::string& b) {
  const std::vector<std::string> partsA = Parts(a), partsB = Parts(b);
  for (size_t i = 0; i < partsA.size() && i < partsB.size(); ++i)
    if (const long long difference = PartNumber(partsA[i]) - PartNumber(partsB[i])) return Sign(difference);
  return Sign(static_cast<long long>(partsA.size()) - static_cast<long long>(partsB.size()));
}

std::string TextFileReader(const std::string& path) {
  const WholeFileReader reader(path);
  if (!reader.readOk) return {};
  const std::string bytes(reinterpret_cast<const char*>(reader.data.Data()), reader.length);
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i)
    if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += bytes[i];
  return text;
}

std::string SetValue(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return {};
  const size_t start = at + key.size();
  const size_t end = text.find('\n', start);
  return TrimBlanks(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

PackageVersionInfo::PackageVersionInfo(const std::string& root, const std::string& name) : folderName(name) {
  ReadPackageVersionFile(root);
}

void PackageVersionInfo::ReadPackageVersionFile(const std::string& root) {
  if (root.empty() || folderName.empty()) {
    error = "PackagesRoot or PackageName is emprty";
    return;
  }
  const std::string path = root + kPathSeparator + folderName + kPathSeparator + kPackageVersionFileName;
  if (!FileInfo(path).exists) {
    error = "The file " + path + " does not exist";
    return;
  }
  const std::string text = TextFileReader(path);
  if (text.empty()) {
    error = "The file " + path + " is empty";
    return;
  }
  for (const char* key : kVersionKeys) versions.push_back(SetValue(text, key));
  read = true;
}

PrototypeVersionList::PrototypeVersionList(const std::string& root) : root_(root) {
  if (root_.empty()) {
    error_ = "The value of PackagesRoot is empty";
    return;
  }
  FolderInfo folder(root_);
  if (!folder.ExistsAsFolder()) {
    error_ = "The folder " + root_ + " does not exist.";
    return;
  }
  if (!folder.ListSubFolders()) {
    error_ = "Can not get sub folderd for " + root_;
    return;
  }
  std::vector<std::string> names;
  for (const std::string& name : folder.SubFolders()) {
    if (name == ".svn") continue;
    auto at = names.begin();
    while (at != names.end() && CompareVersionNames(name, *at) >= 0) ++at;
    names.insert(at, name);
  }
  for (const std::string& name : names) {
    PackageVersionInfo info(root_, name);
    if (info.read) entries_.push_back(std::move(info));
  }
  listed_ = true;
}

PackageVersionInfo PrototypeVersionList::Entry(size_t index) const {
  return listed_ && index < entries_.size() ? entries_[index] : PackageVersionInfo();
}

std::string PackageNameProblem(const std::string& name) {
  if (TrimBlanks(name).empty()) return "it holds nothing but blanks";
  if (name == "." || name == "..") return "\".\" and \"..\" name no folder of their own";
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || std::strchr("\\/:*?\"<>|%", c))
      return "it may not hold any of \\ / : * ? \" < > | % or a control character";
  if (name.back() == '.' || name.back() == ' ') return "it may not end in a dot or a blank";
  if (IsDeviceName(name))
    return "CON, CONIN$, CONOUT$, PRN, AUX, NUL, CLOCK$, COM0 to COM9 and LPT0 to LPT9 (also "
           "with a superscript 1, 2 or 3) name devices, also with an extension";
  return "";
}

bool IsValidPackageName(const std::string& name) { return PackageNameProblem(name).empty(); }

bool IsPackageFolderPath(const std::string& path, const std::string& packagesFolder) {
  const size_t slash = path.rfind('\\');
  return slash != std::string::npos && IsValidPackageName(path.substr(slash + 1)) &&
         _stricmp(NormalisedFolder(path.substr(0, slash)).c_str(), NormalisedFolder(packagesFolder).c_str()) == 0;
}

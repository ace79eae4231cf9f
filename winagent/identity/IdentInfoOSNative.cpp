#include "identity/IdentInfoOSNative.h"

#include "support/Logging.h"

namespace {

constexpr ULONG kNameBuffer = 256;

class RealNames : public SecurityNameApi {
 public:
  bool UserNameEx(EXTENDED_NAME_FORMAT format, std::wstring& name) override {
    wchar_t buffer[kNameBuffer] = {};
    ULONG size = kNameBuffer;
    if (!GetUserNameExW(format, buffer, &size)) return false;
    name.assign(buffer, wcsnlen(buffer, kNameBuffer));
    return true;
  }

  bool TranslateAccount(const std::wstring& account, EXTENDED_NAME_FORMAT from, EXTENDED_NAME_FORMAT to,
                     std::wstring& name) override {
    wchar_t buffer[kNameBuffer] = {};
    ULONG size = kNameBuffer;
    if (!TranslateNameW(account.c_str(), from, to, buffer, &size)) return false;
    name.assign(buffer, wcsnlen(buffer, kNameBuffer));
    return true;
  }

  bool ComputerNetBiosName(std::wstring& name) override {
    wchar_t buffer[kNameBuffer] = {};
    DWORD size = kNameBuffer;
    if (!GetComputerNameExW(ComputerNameNetBIOS, buffer, &size)) return false;
    name.assign(buffer, wcsnlen(buffer, kNameBuffer));
    return true;
  }
};

}  // namespace

SecurityNameApi& RealSecurityNameApi() {
  static RealNames names;
  return names;
}

std::wstring CanonicalGroup(const std::wstring& canonical) {
  const size_t first = canonical.find(L'/');
  if (first == std::wstring::npos) return {};
  const size_t second = canonical.find(L'/', first + 1);
  return canonical.substr(first + 1, second == std::wstring::npos ? std::wstring::npos : second - first - 1);
}

IdentInfoOSNative::IdentInfoOSNative(bool directoryConnected, SecurityNameApi* api) : IdentInfoSource(OSNATIVE) {
  SecurityNameApi& names = api ? *api : RealSecurityNameApi();
  std::wstring text;
  if (names.UserNameEx(NameSamCompatible, text) && !text.empty()) {
    const size_t slash = text.find(L'\\');
    SetField(record_.DomainName, text.substr(0, slash));
    if (slash != std::wstring::npos && slash + 1 < text.size()) SetField(record_.UserName, text.substr(slash + 1));
  }
  if (names.UserNameEx(NameDisplay, text) && !text.empty()) SetField(record_.DisplayName, text);
  if (!directoryConnected && names.UserNameEx(NameFullyQualifiedDN, text) && !text.empty()) {
    SetField(record_.UserDistinguishedName, text);
    if (names.UserNameEx(NameCanonical, text)) {
      const std::wstring group = CanonicalGroup(text);
      if (!group.empty()) SetField(record_.GroupName, group);
    }
  }
  if (names.ComputerNetBiosName(text) && !text.empty()) SetField(record_.ComputerName, text);
  if (Count() > 0) TsIdentInfo(3) << L"Retrieved native Windows OS identity information.";
}

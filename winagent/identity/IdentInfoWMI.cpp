#include "identity/IdentInfoWMI.h"

#include <ole2.h>
#include <wbemidl.h>

#include <cwctype>

#include "identity/IdentInfoCom.h"
#include "support/Logging.h"

namespace {

// One object of the enumeration may take this long; a service that does not answer ends it.
constexpr LONG kNextObjectTimeoutMs = 5000;

constexpr CLSID kClsidWbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

class RealWmi : public WmiApi {
 public:
  HRESULT QueryComputerSystems(std::vector<ComputerSystem>& objects) override {
    ComPtr<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator, locator.Out());
    if (FAILED(hr)) return hr;
    ComPtr<IWbemServices> services;
    Bstr ns(L"ROOT\\CIMV2");
    hr = locator->ConnectServer(ns.b, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Address());
    if (FAILED(hr)) return hr;
    hr = CoSetProxyBlanket(services.p, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumWbemClassObject> enumerator;
    Bstr language(L"WQL");
    Bstr query(L"SELECT * FROM Win32_ComputerSystem");
    hr = services->ExecQuery(language.b, query.b, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                             enumerator.Address());
    if (FAILED(hr)) return hr;
    for (;;) {
      ComPtr<IWbemClassObject> object;
      ULONG returned = 0;
      if (enumerator.p->Next(kNextObjectTimeoutMs, 1, &object.p, &returned) != WBEM_S_NO_ERROR || returned == 0) break;
      ComputerSystem system;
      Variant name, user;
      if (SUCCEEDED(object.p->Get(L"Name", 0, &name.v, nullptr, nullptr)) && name.IsString())
        system.name = name.Text();
      if (SUCCEEDED(object.p->Get(L"UserName", 0, &user.v, nullptr, nullptr)) && user.IsString())
        system.userName = user.Text();
      objects.push_back(std::move(system));
    }
    return S_OK;
  }
};

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != L'\0'; ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return i == a.size() && b[i] == L'\0';
}

// Accounts that are not a person at the keyboard.
bool IsSystemAccount(const std::wstring& user) {
  static const wchar_t* const kSystemNames[] = {L"SYSTEM", L"LOCAL SYSTEM", L"LOCAL SERVICE", L"NETWORK SERVICE"};
  for (const wchar_t* name : kSystemNames)
    if (EqualsNoCase(user, name)) return true;
  return !user.empty() && user.back() == L'$';
}

}  // namespace

WmiApi& RealWmiApi() {
  static RealWmi wmi;
  return wmi;
}

IdentInfoWMI::IdentInfoWMI(bool skipTranslations, WmiApi* wmi, SecurityNameApi* names) : IdentInfoSource(WMI) {
  std::vector<WmiApi::ComputerSystem> objects;
  if (FAILED((wmi ? *wmi : RealWmiApi()).QueryComputerSystems(objects))) return;
  SecurityNameApi& translator = names ? *names : RealSecurityNameApi();
  for (const WmiApi::ComputerSystem& object : objects) {
    if (object.name && !object.name->empty()) SetField(record_.ComputerName, *object.name);
    if (!object.userName || object.userName->empty()) continue;
    const std::wstring& account = *object.userName;
    const size_t slash = account.find(L'\\');
    const std::wstring user = slash == std::wstring::npos ? account : account.substr(slash + 1);
    if (slash != std::wstring::npos) SetField(record_.DomainName, account.substr(0, slash));
    SetField(record_.UserName, user);
    if (user.empty() || IsSystemAccount(user)) {
      ClearField(record_.UserName);
      continue;
    }
    if (skipTranslations) continue;
    std::wstring text;
    if (translator.TranslateAccount(account, NameSamCompatible, NameFullyQualifiedDN, text) && !text.empty())
      SetField(record_.UserDistinguishedName, text);
    if (translator.TranslateAccount(account, NameSamCompatible, NameDisplay, text) && !text.empty())
      SetField(record_.DisplayName, text);
    if (translator.TranslateAccount(account, NameSamCompatible, NameCanonical, text)) {
      const std::wstring group = CanonicalGroup(text);
      if (!group.empty()) SetField(record_.GroupName, group);
    }
  }
  if (Count() > 0) TsIdentInfo(3) << L"Retrieved WMI identity information.";
}

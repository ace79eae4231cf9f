#include "identity/IdentInfoAD.h"

#include <ole2.h>
// ole2.h first: the directory headers need the automation types.
#include <activeds.h>

#include "identity/IdentInfoCom.h"
#include "support/Logging.h"

namespace {

// ADSystemInfo and its IADsADSystemInfo interface.
constexpr CLSID kClsidADSystemInfo = {0x50B6327F, 0xAFD1, 0x11D2, {0x9C, 0xB9, 0x00, 0x00, 0xF8, 0x7A, 0x36, 0x9E}};
constexpr IID kIidADSystemInfo = {0x5BB11929, 0xAFD1, 0x11D2, {0x9C, 0xB9, 0x00, 0x00, 0xF8, 0x7A, 0x36, 0x9E}};

class RealDirectory : public DirectoryApi {
 public:
  HRESULT BindRootDse() override {
    ComPtr<IADs> root;
    return ADsGetObject(L"LDAP://rootDSE", IID_IADs, root.Out());
  }

  HRESULT ReadSystemInfo(SystemNames& names) override {
    ComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(kClsidADSystemInfo, nullptr, CLSCTX_SERVER, IID_IUnknown, unknown.Out());
    if (FAILED(hr)) return hr;
    hr = OleRun(unknown.p);
    if (FAILED(hr)) return hr;
    ComPtr<IADsADSystemInfo> info;
    hr = unknown.p->QueryInterface(kIidADSystemInfo, info.Out());
    if (FAILED(hr)) return hr;
    Bstr user, computer;
    if (SUCCEEDED(info.p->get_UserName(&user.b))) {
      names.hasUser = true;
      names.user = user.Text();
    }
    if (SUCCEEDED(info.p->get_ComputerName(&computer.b))) {
      names.hasComputer = true;
      names.computer = computer.Text();
    }
    return S_OK;
  }
};

}  // namespace

DirectoryApi& RealDirectoryApi() {
  static RealDirectory directory;
  return directory;
}

IdentInfoAD::IdentInfoAD(DirectoryApi* api) : IdentInfoSource(AD) {
  DirectoryApi& directory = api ? *api : RealDirectoryApi();
  DirectoryApi::SystemNames names;
  if (FAILED(directory.ReadSystemInfo(names))) return;
  if (names.hasUser && !names.user.empty()) SetField(record_.UserDistinguishedName, names.user);
  if (names.hasComputer && !names.computer.empty()) SetField(record_.ComputerDistinguishedName, names.computer);
  if (Count() > 0) TsIdentInfo(3) << L"Retrieved Active Directory identity information.";
}

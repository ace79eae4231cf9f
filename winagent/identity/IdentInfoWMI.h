// Identity from WMI's Win32_ComputerSystem objects (source WMI).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "identity/IdentInfoOSNative.h"
#include "identity/IdentInfoSource.h"

// WMI, behind an interface so tests can give other objects.
class WmiApi {
 public:
  struct ComputerSystem {
    std::optional<std::wstring> name;      // "Name"
    std::optional<std::wstring> userName;  // "UserName", only when it is a string
  };

  virtual ~WmiApi() = default;
  // "SELECT * FROM Win32_ComputerSystem" on "ROOT\CIMV2", in the order returned.
  virtual HRESULT QueryComputerSystems(std::vector<ComputerSystem>& objects) = 0;
};

// The real COM calls (the calling thread must have COM initialised).
WmiApi& RealWmiApi();

class IdentInfoWMI : public IdentInfoSource {
 public:
  // skipTranslations: the SAM-compatible name is not translated into the
  // distinguished, display and canonical names (no directory to ask).
  explicit IdentInfoWMI(bool skipTranslations, WmiApi* wmi = nullptr, SecurityNameApi* names = nullptr);
};

// Identity from the Active Directory system information (source AD).
#pragma once

#include <string>

#include "identity/IdentInfoSource.h"

// ADSI, behind an interface so tests can give the answers of a domain.
class DirectoryApi {
 public:
  struct SystemNames {
    bool hasUser = false;
    std::wstring user;  // the user's distinguished name
    bool hasComputer = false;
    std::wstring computer;  // the computer's distinguished name
  };

  virtual ~DirectoryApi() = default;
  // Binds "LDAP://rootDSE": S_OK when the directory answers.
  virtual HRESULT BindRootDse() = 0;
  // Reads the user and computer names of the ADSystemInfo object; each may fail alone.
  virtual HRESULT ReadSystemInfo(SystemNames& names) = 0;
};

// The real COM calls (the calling thread must have COM initialised).
DirectoryApi& RealDirectoryApi();

class IdentInfoAD : public IdentInfoSource {
 public:
  explicit IdentInfoAD(DirectoryApi* api = nullptr);
};

// Identity from the operating system's own user-name calls (source OSNATIVE).
#pragma once

#include <string>

#include "identity/IdentInfoSource.h"
#define SECURITY_WIN32
#include <security.h>

// The secur32 user-name calls, behind an interface so tests can answer for a domain
// that does not exist here. Also used by the WMI source for its name translations.
class SecurityNameApi {
 public:
  virtual ~SecurityNameApi() = default;
  // GetUserNameExW of the calling thread's user in the given format.
  virtual bool UserNameEx(EXTENDED_NAME_FORMAT format, std::wstring& name) = 0;
  // TranslateNameW of an account name from one format into another.
  virtual bool TranslateAccount(const std::wstring& account, EXTENDED_NAME_FORMAT from, EXTENDED_NAME_FORMAT to,
                             std::wstring& name) = 0;
  // The computer's NetBIOS name.
  virtual bool ComputerNetBiosName(std::wstring& name) = 0;
};

// The real calls, each through a buffer of 256 characters.
SecurityNameApi& RealSecurityNameApi();

// The second "/"-separated part of a canonical name ("acme.com/Staff/jdoe" gives
// "Staff"); empty when there is none.
std::wstring CanonicalGroup(const std::wstring& canonical);

class IdentInfoOSNative : public IdentInfoSource {
 public:
  // The distinguished name and group are asked for only while the directory is
  // not connected (otherwise the directory sources supply them).
  explicit IdentInfoOSNative(bool directoryConnected, SecurityNameApi* api = nullptr);
};

// Where the identity sources get their answers; a null member means the real platform call.
#pragma once

#include <string>

class DirectoryApi;
class WmiApi;
class SecurityNameApi;

struct IdentityPlatform {
  DirectoryApi* directory = nullptr;
  WmiApi* wmi = nullptr;
  SecurityNameApi* names = nullptr;
  // Folder the Novell client libraries are loaded from; null or empty: by name through the
  // system's search order.
  const std::wstring* novellLibraryFolder = nullptr;

  const std::wstring& NovellLibraryFolder() const {
    static const std::wstring byName;
    return novellLibraryFolder ? *novellLibraryFolder : byName;
  }
};

// Where the identity sources get their answers; a null member means the real platform call.
#pragma once

class DirectoryApi;
class WmiApi;
class SecurityNameApi;

struct IdentityPlatform {
  DirectoryApi* directory = nullptr;
  WmiApi* wmi = nullptr;
  SecurityNameApi* names = nullptr;
};

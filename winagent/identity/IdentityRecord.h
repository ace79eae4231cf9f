// The identity of the logged-on user as the agent reports it.
#pragma once

#include <cstdint>
#include <string>

enum ID_SOURCE : int32_t {
  BLANK = 0,
  DEFAULT = 1,
  CFG = 10,
  TEMPLATE = 15,
  OSNATIVE = 20,
  NOVELL = 25,
  WMI = 30,
  AD = 40,
  CODE = 50,
};

enum EnvTypeT : int32_t { ET_Windows = 0, ET_Novell = 1 };

struct IdentityField {
  int32_t source = BLANK;
  std::wstring value;
};

struct IdentityRecord {
  IdentityField UserName;
  IdentityField DisplayName;
  IdentityField GroupName;
  IdentityField DomainName;
  IdentityField UserDistinguishedName;
  IdentityField ComputerName;
  IdentityField ComputerDistinguishedName;
  IdentityField UserDNTemplate;
  IdentityField ComputerDNTemplate;
  int32_t EnvType = ET_Windows;
  bool filled = false;
};

// A field that some source filled with text.
inline bool HasValue(const IdentityField& field) { return field.source != BLANK && !field.value.empty(); }
// The identity names a user.
inline bool HasUserName(const IdentityRecord& record) { return HasValue(record.UserName); }

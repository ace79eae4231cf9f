// libFuzzer target over the configuration reader, which also reads text that an
// appliance pushes in its status reply.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "support/Logging.h"
#include "config/TavoAuthConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read beyond the text is caught.
  std::unique_ptr<char[]> text(new char[size ? size : 1]);
  if (size) std::memcpy(text.get(), data, size);
  // Messages would dominate the run time; an LD entry may still turn them on for the rest
  // of its input.
  LogHub<LogContext>::Get().SetDefaultLevel(0);
  auto record = std::make_unique<CTavoAuthConfig>();
  if (size) ParseParams::Exec(*record, "STAT packet", text.get(), size);
  ApplyDistinguishedNameTemplates(*record);
  record->LocalUser.SetUserName(record->RA);
  record->LocalUser.GetUserIdentityHash();
  for (const char* rest = record->RA; rest;) V7kAddrT::ParseCreate(rest, record->RP, &rest);
  return 0;
}

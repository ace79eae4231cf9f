// libFuzzer target over the configuration reader, which also reads text that an
// appliance pushes in its status reply.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "TavoAuthConfig.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reader's error lines would otherwise dominate the run time.
  const int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) dup2(devnull, 2);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read beyond the text is caught.
  std::unique_ptr<char[]> text(new char[size ? size : 1]);
  if (size) std::memcpy(text.get(), data, size);
  auto record = std::make_unique<CTavoAuthConfig>();
  if (size) ParseParams::Exec(*record, "STAT packet", text.get(), size);
  ApplyDistinguishedNameTemplates(*record);
  record->LocalUser.SetUserName(record->RA);
  record->LocalUser.GetUserIdentityHash();
  for (const char* rest = record->RA; rest;) V7kAddrT::ParseCreate(rest, record->RP, &rest);
  return 0;
}

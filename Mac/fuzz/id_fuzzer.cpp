// libFuzzer target over the readers of id's output: the domain and group of a directory
// user, else the group of a local one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "identity/UserIdent.h"
#include "support/Logging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static const LogSource log("id_fuzzer");
  UserIdent ident(log);
  if (!ident.parseNtDomainGroup(text.c_str())) ident.parseUnixGroup(text.c_str());
  return 0;
}

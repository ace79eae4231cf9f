#include "support/Version.h"

const char* GetVersionID() { return "2.0.30.133"; }

XCFString GetAppVersionSignature() {
  XCFString banner;
  banner.CreateFormat(
      "Qel Security Identra for Apple v%s\n"
      "Per-user logon agent for web filter appliances\n",
      GetVersionID());
  return banner;
}

// Our stand-in for the two CoreServices name calls the agent makes. Each returns a new
// string that the caller releases.
#pragma once

#include "platform/CFBase.h"

// The login name of the real user id (the short name either way); "" when it has none.
CFStringRef CSCopyUserName(Boolean useShortName);
// The host name.
CFStringRef CSCopyMachineName();

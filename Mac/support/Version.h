#pragma once

#include "support/XCFString.h"

const char* GetVersionID();
// The version banner, two lines.
XCFString GetAppVersionSignature();

// Owners of the tool's system objects (the kernel-handle holder is the agent's).
#pragma once

#include "support/Utilities.h"  // HandleHolder

#include <windows.h>

// Owns one open registry key.
class RegKeyHolder {
 public:
  RegKeyHolder() = default;
  ~RegKeyHolder() { Close(); }
  RegKeyHolder(const RegKeyHolder&) = delete;
  RegKeyHolder& operator=(const RegKeyHolder&) = delete;

  HKEY Get() const { return key_; }
  // For the open and create calls to fill; closes what was held first.
  HKEY* Out() {
    Close();
    return &key_;
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// Base of the identity sources: each queries in its constructor and leaves what it
// found in its record; the caller looks at Count() and copies the record.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

#include "identity/IdentityRecord.h"

// Sources hold texts of at most this many characters (their buffers of 256).
constexpr size_t kIdentTextMax = 255;

class IdentInfoSource {
 public:
  explicit IdentInfoSource(int32_t source) : source_(source), tick_(GetTickCount()) {}
  virtual ~IdentInfoSource() = default;

  const IdentityRecord& Record() const { return record_; }
  // Number of fields set; above 0 means the source returned data.
  int Count() const { return count_; }
  DWORD ConstructionTick() const { return tick_; }

 protected:
  // Stores {source, text cut to kIdentTextMax}, counts it and marks the record filled.
  void SetField(IdentityField& field, const std::wstring& text);
  // Back to {BLANK, ""}; the count stays.
  static void ClearField(IdentityField& field) { field = IdentityField{}; }

  IdentityRecord record_;

 private:
  int32_t source_;
  int count_ = 0;
  DWORD tick_;
};

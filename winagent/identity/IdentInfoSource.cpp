#include "identity/IdentInfoSource.h"

void IdentInfoSource::SetField(IdentityField& field, const std::wstring& text) {
  field.source = source_;
  field.value = text.substr(0, kIdentTextMax);
  ++count_;
  record_.filled = true;
}

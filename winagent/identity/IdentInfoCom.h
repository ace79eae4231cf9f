// Small owners of COM objects and strings for the directory and WMI sources.
#pragma once

#include <string>

#include <ole2.h>

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p) p->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* operator->() const { return p; }
  T** Address() { return &p; }
  void** Out() { return reinterpret_cast<void**>(&p); }

  T* p = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : b(SysAllocString(text)) {}
  ~Bstr() { SysFreeString(b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  // The whole counted string (bounded by its own length, not by a terminator).
  std::wstring Text() const { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

  BSTR b = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&v); }
  ~Variant() { VariantClear(&v); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  bool IsString() const { return v.vt == VT_BSTR && v.bstrVal != nullptr; }
  std::wstring Text() const { return std::wstring(v.bstrVal, SysStringLen(v.bstrVal)); }

  VARIANT v;
};

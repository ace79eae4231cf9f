// Owner of one string object, with the agent's 8-bit text helpers.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/CFBase.h"

class XCFString {
 public:
  XCFString() = default;
  // Takes over one reference to the string.
  explicit XCFString(CFStringRef string) : _string(string) {}
  // A copy of the text (null: a null string).
  explicit XCFString(const char* text) { Create(text); }
  XCFString(const XCFString& other) { Copy(*this, other); }
  XCFString& operator=(const XCFString& other) {
    Copy(*this, other);
    return *this;
  }
  ~XCFString() { CFRelease(_string); }

  // Formats into at most 8191 characters (longer results are cut); a missing or empty
  // format gives the empty string, never null.
  XCFString& CreateFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  XCFString& CreateFormatV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  // The text; with an end inside it, only the part before the end (text is not changed).
  XCFString& Create(const char* text, const char* end = nullptr);

  static void Copy(XCFString& destination, const XCFString& source);
  friend XCFString operator+(const XCFString& a, const XCFString& b);

  CFStringRef get() const { return _string; }
  bool IsNull() const { return _string == nullptr; }
  // The 8-bit text; "" for a null string.
  const char* c_str() const { return _string ? CFStringGetCStringPtr(_string, kCFStringEncodingMacRoman) : ""; }
  size_t length() const { return static_cast<size_t>(CFStringGetLength(_string)); }
  bool empty() const { return length() == 0; }

  static const XCFString NullString;

 private:
  void Reset(CFStringRef string) {
    CFRelease(_string);
    _string = string;
  }

  CFStringRef _string = nullptr;
};

// First position in text where pattern matches regardless of case; null when either is
// missing or empty, or on no match.
class stristr {
 public:
  stristr(const char* text, const char* pattern);
  operator const char*() const { return _result; }
  const char* result() const { return _result; }

 private:
  const char* _result = nullptr;
};

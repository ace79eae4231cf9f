#include "support/XCFString.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

const XCFString XCFString::NullString;

XCFString& XCFString::CreateFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CreateFormatV(format, args);
  va_end(args);
  return *this;
}

XCFString& XCFString::CreateFormatV(const char* format, va_list args) {
  char text[8192] = "";
  if (format && *format) vsnprintf(text, sizeof text, format, args);
  Reset(CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingMacRoman));
  return *this;
}

XCFString& XCFString::Create(const char* text, const char* end) {
  if (!text) {
    Reset(nullptr);
    return *this;
  }
  size_t length = std::strlen(text);
  if (end && end >= text && end < text + length) length = static_cast<size_t>(end - text);
  Reset(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text),
                                static_cast<CFIndex>(length), kCFStringEncodingMacRoman, false));
  return *this;
}

void XCFString::Copy(XCFString& destination, const XCFString& source) {
  if (&destination == &source) return;
  destination.Reset(source._string ? CFStringCreateCopy(kCFAllocatorDefault, source._string) : nullptr);
}

XCFString operator+(const XCFString& a, const XCFString& b) {
  std::string joined(a.c_str(), a.length());
  joined.append(b.c_str(), b.length());
  return XCFString(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(joined.data()),
                                           static_cast<CFIndex>(joined.size()), kCFStringEncodingMacRoman, false));
}

stristr::stristr(const char* text, const char* pattern) {
  if (!text || !pattern || !*text || !*pattern) return;
  const size_t length = std::strlen(pattern);
  const int first = std::toupper(static_cast<unsigned char>(*pattern));
  for (const char* p = text; *p; ++p) {
    if (std::toupper(static_cast<unsigned char>(*p)) == first && strncasecmp(p, pattern, length) == 0) {
      _result = p;
      return;
    }
  }
}

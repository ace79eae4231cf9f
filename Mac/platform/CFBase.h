// Our stand-in for the CoreFoundation types the agent uses: counted objects, strings and
// data. Calls keep the framework's names and meanings so that the agent's code reads as it
// would on a Mac. Strings hold 8-bit text; Mac Roman conversion is the identity on bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

typedef unsigned char Boolean;
typedef uint8_t UInt8;
typedef long CFIndex;
typedef unsigned long CFOptionFlags;
typedef uint32_t CFStringEncoding;
typedef const void* CFAllocatorRef;

constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
constexpr CFStringEncoding kCFStringEncodingMacRoman = 0;

// Every object carries its own reference count; the last CFRelease destroys it.
struct __CFObject {
  __CFObject() = default;
  __CFObject(const __CFObject&) = delete;
  __CFObject& operator=(const __CFObject&) = delete;
  virtual ~__CFObject() = default;
  std::atomic<int32_t> retainCount{1};
};
typedef const __CFObject* CFTypeRef;

CFTypeRef CFRetain(CFTypeRef object);
void CFRelease(CFTypeRef object);
CFIndex CFGetRetainCount(CFTypeRef object);

struct __CFString : __CFObject {
  std::string bytes;
};
typedef const __CFString* CFStringRef;

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateCopy(CFAllocatorRef allocator, CFStringRef string);
CFIndex CFStringGetLength(CFStringRef string);
// Copies the text with its terminator; false when it does not fit.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding);
// Our strings always have an 8-bit form, so this never answers null for a string.
const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding encoding);

struct __CFData : __CFObject {
  std::vector<UInt8> bytes;
};
typedef const __CFData* CFDataRef;

CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);
CFIndex CFDataGetLength(CFDataRef data);
const UInt8* CFDataGetBytePtr(CFDataRef data);

// Arrays hold one reference to each element.
struct __CFArray : __CFObject {
  ~__CFArray() override;
  std::vector<CFTypeRef> items;
};
typedef const __CFArray* CFArrayRef;

CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const CFTypeRef* values, CFIndex count);
CFIndex CFArrayGetCount(CFArrayRef array);
CFTypeRef CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index);

#include "platform/CFBase.h"

#include <cstring>

CFTypeRef CFRetain(CFTypeRef object) {
  if (object) const_cast<__CFObject*>(object)->retainCount.fetch_add(1);
  return object;
}

void CFRelease(CFTypeRef object) {
  if (!object) return;
  if (const_cast<__CFObject*>(object)->retainCount.fetch_sub(1) == 1) delete object;
}

CFIndex CFGetRetainCount(CFTypeRef object) { return object ? object->retainCount.load() : 0; }

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding) {
  if (!text) return nullptr;
  auto* s = new __CFString;
  s->bytes = text;
  return s;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex length, CFStringEncoding,
                                    Boolean) {
  if (length < 0 || (!bytes && length > 0)) return nullptr;
  auto* s = new __CFString;
  s->bytes.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
  return s;
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef string) {
  if (!string) return nullptr;
  auto* s = new __CFString;
  s->bytes = string->bytes;
  return s;
}

CFIndex CFStringGetLength(CFStringRef string) { return string ? static_cast<CFIndex>(string->bytes.size()) : 0; }

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding) {
  if (!string || !buffer || size <= 0) return false;
  if (static_cast<size_t>(size) <= string->bytes.size()) return false;
  std::memcpy(buffer, string->bytes.c_str(), string->bytes.size() + 1);
  return true;
}

const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding) {
  return string ? string->bytes.c_str() : nullptr;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
  if (length < 0 || (!bytes && length > 0)) return nullptr;
  auto* d = new __CFData;
  if (length > 0) d->bytes.assign(bytes, bytes + length);
  return d;
}

CFIndex CFDataGetLength(CFDataRef data) { return data ? static_cast<CFIndex>(data->bytes.size()) : 0; }

const UInt8* CFDataGetBytePtr(CFDataRef data) { return data ? data->bytes.data() : nullptr; }

__CFArray::~__CFArray() {
  for (CFTypeRef item : items) CFRelease(item);
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const CFTypeRef* values, CFIndex count) {
  if (count < 0 || (!values && count > 0)) return nullptr;
  auto* a = new __CFArray;
  for (CFIndex i = 0; i < count; ++i) a->items.push_back(CFRetain(values[i]));
  return a;
}

CFIndex CFArrayGetCount(CFArrayRef array) { return array ? static_cast<CFIndex>(array->items.size()) : 0; }

CFTypeRef CFArrayGetValueAtIndex(CFArrayRef array, CFIndex index) {
  if (!array || index < 0 || static_cast<size_t>(index) >= array->items.size()) return nullptr;
  return array->items[static_cast<size_t>(index)];
}

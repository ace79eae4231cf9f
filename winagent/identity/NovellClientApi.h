// Entry points of the Novell client libraries as the agent calls them (also
// implemented by the test stand-ins). Every call answers 0 on success. With the
// context flag 0x2 clear, names pass as zero-terminated UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int32_t NWStatus;
typedef uint32_t NWContextHandle;

struct NWLocaleInfo {
  int32_t country;
  int32_t codePage;
  char reserved[56];
};

// Context keys.
constexpr int32_t kNWContextFlags = 1;
constexpr int32_t kNWContextInfoFlags = 12;

// Size in characters of every name buffer the agent hands to the client.
constexpr size_t kNWNameBuffer = 1024;
// Size in bytes of the buffer of NWDSReadObjectDSIInfo.
constexpr size_t kNWDsiInfoBuffer = 2048;

// CALWIN32.DLL
typedef NWStatus (*NWCallsInitFn)(void* reserved1, void* reserved2);
typedef NWStatus (*NWCallsTermFn)(void* reserved);
// LOCWIN32.DLL; NWLlocaleconv answers its argument, or null on failure.
typedef NWLocaleInfo* (*NWLlocaleconvFn)(NWLocaleInfo* info);
typedef NWStatus (*NWInitUnicodeTablesFn)(int32_t country, int32_t codePage);
typedef NWStatus (*NWFreeUnicodeTablesFn)(void);
// NETWIN32.DLL
typedef NWStatus (*NWDSCreateContextHandleFn)(NWContextHandle* context);
typedef NWStatus (*NWDSFreeContextFn)(NWContextHandle context);
typedef NWStatus (*NWDSGetContextFn)(NWContextHandle context, int32_t key, void* value);
typedef NWStatus (*NWDSSetContextFn)(NWContextHandle context, int32_t key, const void* value);
typedef NWStatus (*NWDSWhoAmIFn)(NWContextHandle context, wchar_t* objectName);
typedef NWStatus (*NWDSReadObjectDSIInfoFn)(NWContextHandle context, const wchar_t* object, size_t infoLength,
                                            void* info);
typedef NWStatus (*NWDSGetDSIInfoFn)(NWContextHandle context, void* info, size_t infoLength, uint32_t infoFlag,
                                     void* data);
}

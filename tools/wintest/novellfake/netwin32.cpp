#include "NovellFake.h"

namespace {

// One context is enough for the agent's one binding per query.
constexpr NWContextHandle kFakeContext = 0x5150;
uint32_t g_flags = 0;
uint32_t g_infoFlags = 0;

const char kDsiMarker[] = "FAKE-DSI";

bool Known(NWContextHandle context) { return context == kFakeContext; }

}  // namespace

NOVELLFAKE_EXPORT NWStatus NWDSCreateContextHandle(NWContextHandle* context) {
  if (FakeFails(L"NWDSCreateContextHandle") || context == nullptr) return kFakeFailure;
  // A fresh context translates strings (0x2) until the caller says otherwise.
  g_flags = 0x1 | 0x2;
  g_infoFlags = 0;
  *context = kFakeContext;
  FakeAdjust(L"NOVELLFAKE_LIVE_CONTEXTS", 1);
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWDSFreeContext(NWContextHandle context) {
  if (!Known(context)) return kFakeFailure;
  FakeAdjust(L"NOVELLFAKE_LIVE_CONTEXTS", -1);
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWDSGetContext(NWContextHandle context, int32_t key, void* value) {
  if (FakeFails(L"NWDSGetContext") || !Known(context) || value == nullptr) return kFakeFailure;
  if (key == kNWContextFlags) *static_cast<uint32_t*>(value) = g_flags;
  else if (key == kNWContextInfoFlags) *static_cast<uint32_t*>(value) = g_infoFlags;
  else return kFakeFailure;
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWDSSetContext(NWContextHandle context, int32_t key, const void* value) {
  if (FakeFails(L"NWDSSetContext") || !Known(context) || value == nullptr) return kFakeFailure;
  if (key == kNWContextFlags) g_flags = *static_cast<const uint32_t*>(value);
  else if (key == kNWContextInfoFlags) g_infoFlags = *static_cast<const uint32_t*>(value);
  else return kFakeFailure;
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWDSWhoAmI(NWContextHandle context, wchar_t* objectName) {
  if (FakeFails(L"NWDSWhoAmI") || !Known(context) || objectName == nullptr) return kFakeFailure;
  // Names pass as UTF-16 only with 0x2 clear; the agent asks with 0x4 set and info flags 0x2A001.
  if ((g_flags & 0x2) != 0 || (g_flags & 0x4) == 0 || g_infoFlags != 0x2A001) return kFakeFailure;
  std::wstring name;
  if (!FakeEnv(L"NOVELLFAKE_WHOAMI", name)) return kFakeFailure;
  FakeCopyName(name, objectName);
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWDSReadObjectDSIInfo(NWContextHandle context, const wchar_t* object, size_t infoLength,
                                                 void* info) {
  if (FakeFails(L"NWDSReadObjectDSIInfo") || !Known(context) || object == nullptr || info == nullptr)
    return kFakeFailure;
  if ((g_flags & 0x10) == 0 || (g_flags & 0x4) != 0 || infoLength != kNWDsiInfoBuffer) return kFakeFailure;
  // Only the logged-on object itself, named as NWDSWhoAmI gave it, is known.
  std::wstring name;
  if (!FakeEnv(L"NOVELLFAKE_WHOAMI", name) || name != object) return kFakeFailure;
  memcpy(info, kDsiMarker, sizeof(kDsiMarker));
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWDSGetDSIInfo(NWContextHandle context, void* info, size_t infoLength, uint32_t infoFlag,
                                          void* data) {
  if (FakeFails(L"NWDSGetDSIInfo") || !Known(context) || info == nullptr || data == nullptr) return kFakeFailure;
  if (infoLength != kNWDsiInfoBuffer || memcmp(info, kDsiMarker, sizeof(kDsiMarker)) != 0) return kFakeFailure;
  const wchar_t* variable = infoFlag == 0x2000    ? L"NOVELLFAKE_DN"
                            : infoFlag == 0x8000  ? L"NOVELLFAKE_PARENT"
                            : infoFlag == 0x20000 ? L"NOVELLFAKE_GROUP"
                                                  : nullptr;
  std::wstring text;
  if (variable == nullptr || !FakeEnv(variable, text)) return kFakeFailure;
  FakeCopyName(text, static_cast<wchar_t*>(data));
  return 0;
}

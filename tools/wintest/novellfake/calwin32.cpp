#include "NovellFake.h"

NOVELLFAKE_EXPORT NWStatus NWCallsInit(void*, void*) {
  if (FakeFails(L"NWCallsInit")) return kFakeFailure;
  FakeAdjust(L"NOVELLFAKE_LIVE_CALLS", 1);
  return 0;
}

NOVELLFAKE_EXPORT NWStatus NWCallsTerm(void*) {
  FakeAdjust(L"NOVELLFAKE_LIVE_CALLS", -1);
  return 0;
}
